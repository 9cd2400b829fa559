#include "result_wording.h"

#include "picture.h"

namespace quillmere {
namespace {

// "Could not read the map file "Map.LVL" while reading: Access denied.": a conversion's and a
// put's failures are told alike.
std::string couldNotPrompt(std::string_view whatFailed, std::string_view path,
                           std::string_view step, std::string_view reason) {
    std::string prompt = "Could not ";
    prompt += whatFailed;
    prompt += " \"";
    prompt += path;
    prompt += '"';
    if (!step.empty()) {
        prompt += ' ';
        prompt += step;
    }
    prompt += ": ";
    prompt += reason;
    prompt += '.';
    return prompt;
}

// A failure after the rename: the new file is there, and what could not be done follows.
std::string inPlacePrompt(std::string_view what, std::string_view path, const std::string& step,
                          const std::string& reason) {
    std::string prompt = "The new ";
    prompt += what;
    prompt += " is in place in \"";
    prompt += path;
    prompt += "\", but it may not survive a power loss: " + step + ": " + reason + '.';
    return prompt;
}

std::string failurePrompt(const TileSetResult& result, std::string_view path) {
    const bool map = result.failedFile == FileRole::Map;
    if (result.outputReplaced)
        return inPlacePrompt("tile set", path, result.failedStep, result.reason);
    if (path.empty())
        return map ? "No map file was given: the map path is empty."
                   : "No tile set file was given: the output path is empty.";
    return couldNotPrompt(map ? "read the map file" : "write the tile set", path, result.failedStep,
                          result.reason);
}

std::string shortMapPrompt(std::size_t mapBytes) {
    std::string prompt(kCompletePrompt);
    if (mapBytes == 0)
        return prompt + " The map file is empty, so all " + groupedDigits(kTileSetLength) +
               " bytes of the tile set are zeros.";
    const std::size_t missing = kTileSetLength - mapBytes;
    return prompt + " The map file held only " + groupedDigits(mapBytes) + " of the tile set's " +
           groupedDigits(kTileSetLength) + " bytes; the last " + groupedDigits(missing) +
           (missing == 1 ? " byte is zero." : " bytes are zeros.");
}

std::string quoted(std::string_view path) {
    std::string text(1, '"');
    text += path;
    text += '"';
    return text;
}

std::string bytesCount(std::uint64_t count) {
    return groupedDigits(count) + (count == 1 ? " byte" : " bytes");
}

std::string coloursCount(std::uint64_t count) {
    return groupedDigits(count) + (count == 1 ? " colour" : " colours");
}

std::string pictureMisfitPrompt(const TileSetProblem& problem, const std::string& picture,
                                const std::string& map) {
    // Appended piece by piece: GCC 12 takes "(" + std::to_string(...) for an overlapping copy.
    std::string pixel(1, '(');
    pixel += std::to_string(problem.x);
    pixel += ", ";
    pixel += std::to_string(problem.y);
    pixel += ')';
    switch (problem.kind) {
    case TileSetRefusal::Unreadable:
        return "The picture " + picture + " cannot be read: " + problem.reason +
               ". Save it again as a BMP or PNG picture.";
    case TileSetRefusal::OtherSize: {
        const std::string size =
            std::to_string(problem.mapWidth) + " x " + std::to_string(problem.mapHeight);
        return "The picture " + picture + " is " + std::to_string(problem.width) + " x " +
               std::to_string(problem.height) + " pixels, but the tile set in the map file " + map +
               " is " + size + ". Save it at " + size + " pixels.";
    }
    case TileSetRefusal::NotOpaque:
        return "The picture " + picture + " is not fully opaque, first at pixel " + pixel +
               ", and the tile set has no transparency. Save it without an alpha channel, "
               "every pixel opaque.";
    case TileSetRefusal::ColoursMissing: {
        const std::string entries = groupedDigits(problem.paletteEntries);
        return "The picture " + picture + " uses " + coloursCount(problem.missingColours) +
               " that the tile set's palette lacks, first at pixel " + pixel + ". Use only the " +
               "tile set's " + entries + " colours, or save it as an indexed picture with " +
               entries + " palette entries.";
    }
    case TileSetRefusal::MapLayout:
        return "The tile set in the map file " + map +
               " cannot take new pixels: " + problem.reason +
               ". Only a tile set laid out exactly as the map's, as copied " +
               "out of it, can be put back.";
    }
    return {};
}

std::string putRefusalPrompt(const PutResult& result, const std::string& tileSet,
                             const std::string& map) {
    const std::string whole = groupedDigits(kTileSetLength);
    switch (result.refusal) {
    case PutRefusal::SameFile:
        return "The tile set " + tileSet + " and the map file " + map + " are the same file.";
    case PutRefusal::PictureTooLarge:
        return "The picture " + tileSet + " has more than " + bytesCount(kMaxPictureBytes) +
               ", far more than a tile set's picture needs.";
    case PutRefusal::MapTooShort:
        return "The map file " + map + " has only " + bytesCount(result.length) +
               ", fewer than the " + whole + " of the tile set it starts with.";
    case PutRefusal::MapNotBitmap:
        return "The map file " + map +
               " does not start with a tile set: its first bytes are not \"BM\", as a .bmp "
               "file's are.";
    case PutRefusal::Picture:
        return pictureMisfitPrompt(result.picture, tileSet, map);
    case PutRefusal::None:
        break;
    }
    return {};
}

std::string putFailurePrompt(const PutResult& result, std::string_view path) {
    const bool map = result.file == PutFile::Map;
    if (result.mapReplaced)
        return inPlacePrompt("map", path, result.failedStep, result.reason);
    if (path.empty())
        return map ? "No map file was given: the map path is empty."
                   : "No tile set file was given: the tile set path is empty.";
    std::string prompt = couldNotPrompt(result.replacing ? "write the map file"
                                        : map            ? "read the map file"
                                                         : "read the tile set",
                                        path, result.failedStep, result.reason);
    if (result.replacing)
        prompt += " The map file is as it was.";
    return prompt;
}

// A map that does not start as a .bmp file does may be another file, picked by mistake.
constexpr std::string_view kNotBitmapNote =
    " The map file does not start with a bitmap (its first bytes are not \"BM\"), so it may "
    "not be a map.";

bool notBitmap(const TileSetResult& result) {
    return result.outcome != TileSetOutcome::Failed && !result.mapStartsWithBitmap &&
           result.mapBytes > 0; // an empty map is said to be empty
}

// The other names of a replaced output still lead to the old file, as a rename leaves them.
std::string otherNamesNote(std::uint64_t otherNames, std::string_view outputPath,
                           std::string_view oldContent = "tile set") {
    std::string note = " The old \"";
    note += outputPath;
    note += "\" had ";
    if (otherNames == 1)
        note += "1 other name (a hard link), which still holds the old ";
    else
        note += groupedDigits(otherNames) + " other names (hard links), which still hold the old ";
    note += oldContent;
    note += '.';
    return note;
}

void appendEscape(std::string& shown, unsigned char control) {
    constexpr std::string_view kLetters = "abtnvfr"; // for the controls 7 to 13
    shown += '\\';
    if (control >= '\a' && control <= '\r') {
        shown += kLetters[static_cast<std::size_t>(control - '\a')];
        return;
    }
    for (const int shift : {6, 3, 0})
        shown += static_cast<char>('0' + ((control >> shift) & 7));
}

// How many bytes at the start of `text` are one control character, or 0 for none. Beside the
// C0 and C1 controls, the bidirectional ones (U+200E, U+200F, U+202A to U+202E, U+2066 to
// U+2069): they would show the rest of a line reversed, so a name could pose as another.
std::size_t controlLength(std::string_view text) {
    auto at = [&](std::size_t index) { return static_cast<unsigned char>(text[index]); };
    if (at(0) < 0x20 || at(0) == 0x7F)
        return 1;
    // U+0080 to U+009F are 0xC2 0x80 to 0xC2 0x9F in UTF-8.
    if (at(0) == 0xC2 && text.size() >= 2 && (at(1) & 0xE0) == 0x80)
        return 2;
    if (at(0) != 0xE2 || text.size() < 3)
        return 0;
    const bool bidi =
        (at(1) == 0x80 && (at(2) == 0x8E || at(2) == 0x8F || (at(2) >= 0xAA && at(2) <= 0xAE))) ||
        (at(1) == 0x81 && at(2) >= 0xA6 && at(2) <= 0xA9);
    return bidi ? 3 : 0;
}

} // namespace

std::string describePut(const PutResult& result, std::string_view tileSetPath,
                        std::string_view mapPath) {
    switch (result.outcome) {
    case PutOutcome::Complete:
        if (result.otherNames > 0)
            return std::string(kCompletePrompt) + otherNamesNote(result.otherNames, mapPath, "map");
        return std::string(kCompletePrompt);
    case PutOutcome::Refused:
        return putRefusalPrompt(result, quoted(tileSetPath), quoted(mapPath));
    case PutOutcome::MapChanged:
        return "The map file " + quoted(mapPath) +
               " changed while the tile set was being put into it, so it was left alone; run "
               "again to put the tile set into the map as it is now.";
    case PutOutcome::Failed:
        break;
    }
    return putFailurePrompt(result, result.file == PutFile::Map ? mapPath : tileSetPath);
}

std::string visibleName(std::string_view name) {
    std::string shown;
    shown.reserve(name.size());
    for (std::size_t at = 0; at < name.size(); ++at) {
        const std::size_t length = controlLength(name.substr(at));
        if (length == 0) {
            shown += name[at];
            continue;
        }
        for (const char byte : name.substr(at, length))
            appendEscape(shown, static_cast<unsigned char>(byte));
        at += length - 1;
    }
    return shown;
}

std::string completionTitle(std::string_view mapPath, std::string_view outputPath) {
    std::string title(mapPath);
    title += kTitleSeparator;
    title += outputPath;
    return title;
}

std::string describeResult(const TileSetResult& result, std::string_view mapPath,
                           std::string_view outputPath) {
    std::string prompt;
    switch (result.outcome) {
    case TileSetOutcome::Complete:
        prompt = kCompletePrompt;
        break;
    case TileSetOutcome::ShortMap:
        prompt = shortMapPrompt(result.mapBytes);
        break;
    case TileSetOutcome::Failed:
        return failurePrompt(result, result.failedFile == FileRole::Map ? mapPath : outputPath);
    }
    if (notBitmap(result))
        prompt += kNotBitmapNote;
    if (result.outputOtherNames > 0)
        prompt += otherNamesNote(result.outputOtherNames, outputPath);
    return prompt;
}

bool deservesWarning(const TileSetResult& result) {
    return result.outcome == TileSetOutcome::ShortMap || notBitmap(result) ||
           (result.outcome == TileSetOutcome::Complete && result.outputOtherNames > 0);
}

std::string groupedDigits(std::size_t number) {
    std::string digits = std::to_string(number);
    for (auto at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, 1, ',');
    return digits;
}

} // namespace quillmere
