#include "unicode_text.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace quillmere::files {
namespace {

constexpr char32_t kInvalid = 0xFFFFFFFF;

// The character at `at` and its length in bytes; kInvalid (length 1) where the bytes are not
// a well-formed character.
std::pair<char32_t, std::size_t> decodeAt(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80)
        return {lead, 1};
    std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || at + length > text.size())
        return {kInvalid, 1};
    char32_t code = lead & (0x7F >> length);
    for (std::size_t next = 1; next < length; ++next) {
        const auto byte = static_cast<unsigned char>(text[at + next]);
        if ((byte & 0xC0) != 0x80)
            return {kInvalid, 1};
        code = (code << 6) | (byte & 0x3F);
    }
    constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return {kInvalid, 1};
    return {code, length};
}

void encode(char32_t code, std::string& into) {
    if (code < 0x80) {
        into += static_cast<char>(code);
    } else if (code < 0x800) {
        into += static_cast<char>(0xC0 | (code >> 6));
        into += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        into += static_cast<char>(0xE0 | (code >> 12));
        into += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        into += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        into += static_cast<char>(0xF0 | (code >> 18));
        into += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        into += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        into += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Upper and lower case letters that lie a fixed distance apart. Folders that ignore case fold
// far beyond Latin-1 (exFAT's table covers every cased letter of the first 65,536), and a pair
// missing here would let one file pass for two: these are the scripts' cased ranges.
struct CasePair {
    char32_t firstUpper;
    char32_t lastUpper;
    char32_t distance;
};
constexpr CasePair kCasePairs[] = {
    {U'A', U'Z', 0x20},       {0xC0, 0xD6, 0x20},     {0xD8, 0xDE, 0x20},
    {0x386, 0x386, 0x26},     {0x388, 0x38A, 0x25},   {0x38C, 0x38C, 0x40},
    {0x38E, 0x38F, 0x3F},     {0x391, 0x3A1, 0x20},   {0x3A3, 0x3AB, 0x20},
    {0x410, 0x42F, 0x20},     {0x400, 0x40F, 0x50},   {0x531, 0x556, 0x30},
    {0x10A0, 0x10C5, 0x1C60}, {0x2160, 0x216F, 0x10}, {0x24B6, 0x24CF, 0x1A},
    {0x2C00, 0x2C2E, 0x30},   {0xFF21, 0xFF3A, 0x20}, {0x1C4, 0x1C4, 2},
    {0x1C7, 0x1C7, 2},        {0x1CA, 0x1CA, 2},      {0x1F1, 0x1F1, 2},
};

// Ranges where each upper case letter is followed by its lower case one.
struct AlternatingCase {
    char32_t first; // an upper case letter
    char32_t last;
};
constexpr AlternatingCase kAlternating[] = {
    {0x100, 0x12F},   {0x132, 0x137},   {0x139, 0x148},   {0x14A, 0x177},   {0x179, 0x17E},
    {0x1CD, 0x1DC},   {0x1DE, 0x1EF},   {0x1F8, 0x21F},   {0x222, 0x233},   {0x246, 0x24F},
    {0x3D8, 0x3EF},   {0x460, 0x481},   {0x48A, 0x4BF},   {0x4C1, 0x4CE},   {0x4D0, 0x52F},
    {0x1E00, 0x1E95}, {0x1EA0, 0x1EFF}, {0x2C80, 0x2CE3}, {0xA640, 0xA66D}, {0xA680, 0xA69B},
    {0xA722, 0xA72F}, {0xA732, 0xA76F}, {0xA77E, 0xA787}, {0xA790, 0xA793}, {0xA796, 0xA7A9},
};

// Letters with no case partner of their own that fold with another's: title case
// digraphs and the final sigma; and Ÿ, whose lower case letter comes before it.
constexpr std::pair<char32_t, char32_t> kFoldOnly[] = {
    {0x1C5, 0x1C6}, {0x1C8, 0x1C9}, {0x1CB, 0x1CC}, {0x1F2, 0x1F3}, {0x3C2, 0x3C3}, {0x178, 0xFF}};

char32_t lowerOf(char32_t code) {
    for (const auto& pair : kCasePairs)
        if (code >= pair.firstUpper && code <= pair.lastUpper)
            return code + pair.distance;
    for (const auto& range : kAlternating)
        if (code >= range.first && code <= range.last && (code - range.first) % 2 == 0)
            return code + 1;
    for (const auto& [from, to] : kFoldOnly)
        if (code == from)
            return to;
    return code;
}

char32_t upperOf(char32_t code) {
    for (const auto& pair : kCasePairs)
        if (code >= pair.firstUpper + pair.distance && code <= pair.lastUpper + pair.distance)
            return code - pair.distance;
    for (const auto& range : kAlternating)
        if (code > range.first && code <= range.last && (code - range.first) % 2 == 1)
            return code - 1;
    return code == 0xFF ? 0x178 : code;
}

std::vector<char32_t> decoded(std::string_view text) {
    std::vector<char32_t> codes;
    for (std::size_t at = 0; at < text.size();) {
        const auto [code, length] = decodeAt(text, at);
        codes.push_back(code == kInvalid ? 0xDC00 + static_cast<unsigned char>(text[at]) : code);
        at += length;
    }
    return codes;
}

std::string encoded(const std::vector<char32_t>& codes) {
    std::string text;
    for (const char32_t code : codes)
        if (code >= 0xDC80 && code <= 0xDCFF) // a byte that was not a character, as it was
            text += static_cast<char>(code - 0xDC00);
        else
            encode(code, text);
    return text;
}

} // namespace

bool isUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const auto [code, length] = decodeAt(text, at);
        if (code == kInvalid)
            return false;
        at += length;
    }
    return true;
}

std::string_view cutBetweenCharacters(std::string_view text, std::size_t limit) {
    if (text.size() <= limit)
        return text;
    std::size_t end = 0;
    for (std::size_t at = 0; at < limit;) {
        const std::size_t length = decodeAt(text, at).second;
        if (at + length > limit)
            break;
        at += length;
        end = at;
    }
    return text.substr(0, end);
}

namespace {

constexpr std::size_t kNameLimit = 255;

std::size_t lengthIn(std::string_view text, NameUnits units) {
    if (units == NameUnits::Utf8Bytes)
        return text.size();
    std::size_t length = 0;
    for (std::size_t at = 0; at < text.size();) {
        const auto [code, bytes] = decodeAt(text, at);
        length += code != kInvalid && code > 0xFFFF ? 2 : 1;
        at += bytes;
    }
    return length;
}

// The longest start of `text` of at most `limit` units that ends between two characters.
std::string_view cutIn(std::string_view text, std::size_t limit, NameUnits units) {
    std::size_t end = 0, used = 0;
    for (std::size_t at = 0; at < text.size();) {
        const auto [code, bytes] = decodeAt(text, at);
        used += units == NameUnits::Utf8Bytes ? bytes : code != kInvalid && code > 0xFFFF ? 2 : 1;
        if (used > limit)
            break;
        at += bytes;
        end = at;
    }
    return text.substr(0, end);
}

std::string hashOf(std::string_view text) {
    std::uint32_t hash = 2166136261u; // FNV-1a
    for (const char c : text)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    constexpr std::string_view kDigits = "0123456789abcdef";
    std::string hex(1, '~');
    for (int shift = 28; shift >= 0; shift -= 4)
        hex += kDigits[(hash >> shift) & 15];
    return hex;
}

} // namespace

std::string temporaryNameFor(std::string_view output, std::string_view owner, int slot,
                             NameUnits units) {
    std::string tail = ".quillmere-";
    if (!owner.empty())
        tail.append(owner).append(1, '-');
    tail += std::to_string(slot) + ".part";
    // One spelling only: where a folder ignores case, every spelling of the output's name leads
    // to the same temporary, and file systems that give each spelling its own inode number
    // would hide one run's open file from another looking at it under another spelling.
    const std::string folded = foldedCase(output);
    const std::size_t ascii = static_cast<std::size_t>(
        std::find_if(folded.begin(), folded.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; }) -
        folded.begin());
    const std::size_t room = kNameLimit - 1 - tail.size();
    std::string name(1, '.');
    if (ascii == folded.size() && lengthIn(folded, units) <= room)
        name += folded;
    else // its plain start, and a hash of the whole ("~" and 8 digits)
        name.append(cutIn(folded.substr(0, ascii), room - 9, units)).append(hashOf(folded));
    return name + tail;
}

bool isAscii(std::string_view name) {
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string foldedCase(std::string_view name) {
    // Most names are plain ASCII, where only A to Z fold: spared the decoding.
    if (isAscii(name)) {
        std::string folded(name);
        for (char& c : folded)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        return folded;
    }
    auto codes = decoded(name);
    for (auto& code : codes)
        code = lowerOf(code);
    return encoded(codes);
}

std::optional<std::string> thirdSpelling(std::string_view a, std::string_view b) {
    auto codes = decoded(a);
    for (auto& code : codes) {
        const char32_t other = lowerOf(code) != code ? lowerOf(code) : upperOf(code);
        if (other == code)
            continue;
        const char32_t was = std::exchange(code, other);
        std::string spelling = encoded(codes);
        if (spelling != b)
            return spelling;
        code = was;
    }
    return std::nullopt;
}

#ifdef _WIN32
std::wstring utf16Of(std::string_view utf8) {
    if (utf8.empty())
        return {};
    const int size = static_cast<int>(utf8.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

std::string utf8Of(std::wstring_view utf16) {
    if (utf16.empty())
        return {};
    const int size = static_cast<int>(utf16.size());
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, text.data(), length, nullptr, nullptr);
    return text;
}

#endif

} // namespace quillmere::files
