// PNG pictures: the chunks are walked and checked here, and stb_image decodes the pixels.

#include "png_decode.h"

#include "result_wording.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

// stb_image is third-party code: its own warnings are not ours to fix.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wsign-conversion"
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wdouble-promotion"
#pragma GCC diagnostic ignored "-Wcast-qual"
#pragma GCC diagnostic ignored "-Wuseless-cast"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wpedantic"
#endif
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_MAX_DIMENSIONS (1 << 16)
#include <stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace quillmere {
namespace {

constexpr std::array<unsigned char, 8> kSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::uint32_t kLongestChunk = 0x7FFFFFFF;
constexpr std::uint8_t kIndexedColourType = 3;

std::uint32_t be32(std::span<const std::byte> bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value = (value << 8) | std::to_integer<std::uint32_t>(bytes[at + i]);
    return value;
}

std::array<std::uint32_t, 256> crcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

std::uint32_t crcOf(std::span<const std::byte> bytes) {
    static const std::array<std::uint32_t, 256> table = crcTable();
    std::uint32_t c = 0xFFFFFFFFu;
    for (const std::byte byte : bytes)
        c = table[(c ^ std::to_integer<std::uint32_t>(byte)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

bool isChunkName(std::span<const std::byte> name) {
    for (const std::byte byte : name) {
        const auto letter = std::to_integer<unsigned char>(byte);
        if (!((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')))
            return false;
    }
    return true;
}

PictureProblem problem(std::string reason) {
    return PictureProblem{std::move(reason)};
}

// The bytes a PNG's pixel data inflates to, as its header gives them: a filter byte and the
// packed samples of each row, for each of the seven passes where it is interlaced.
std::uint64_t inflatedSize(std::span<const std::byte> header) {
    const std::uint64_t width = be32(header, 0);
    const std::uint64_t height = be32(header, 4);
    const auto depth = std::to_integer<std::uint64_t>(header[8]);
    constexpr std::array<std::uint64_t, 7> kChannels{1, 0, 3, 1, 2, 0, 4};
    const auto colourType = std::to_integer<std::size_t>(header[9]);
    const std::uint64_t bits = depth * (colourType < kChannels.size() ? kChannels[colourType] : 4);
    const auto rows = [bits](std::uint64_t across, std::uint64_t down) {
        return across == 0 ? 0 : down * (1 + (across * bits + 7) / 8);
    };
    if (std::to_integer<int>(header[12]) == 0)
        return rows(width, height);
    constexpr std::array<std::uint64_t, 7> kLeft{0, 4, 0, 2, 0, 1, 0}, kTop{0, 0, 4, 0, 2, 0, 1};
    constexpr std::array<std::uint64_t, 7> kAcross{8, 8, 4, 4, 2, 2, 1}, kDown{8, 8, 8, 4, 4, 2, 2};
    std::uint64_t total = 0;
    for (std::size_t pass = 0; pass < 7; ++pass) {
        const auto count = [](std::uint64_t size, std::uint64_t first, std::uint64_t step) {
            return size > first ? (size - first + step - 1) / step : 0;
        };
        total +=
            rows(count(width, kLeft[pass], kAcross[pass]), count(height, kTop[pass], kDown[pass]));
    }
    return total;
}

// stb_image grows its buffer for as much as the pixel data inflates to, so that a small file
// of zeros could take gigabytes: the data is inflated first into room for what the header
// needs (and a little more, which some writers leave), and a picture that holds more refused.
std::optional<PictureProblem> inflatesPastItsPixels(std::span<const std::byte> file,
                                                    const PngChunks& chunks) {
    constexpr std::uint64_t kSlack = 64 * 1024;
    std::vector<char> compressed;
    std::span<const std::byte> header;
    for (std::size_t at = kSignature.size(); file.size() - at >= 12;) {
        const std::uint32_t length = be32(file, at);
        const auto name = file.subspan(at + 4, 4);
        const auto data = file.subspan(at + 8, length);
        if (std::memcmp(name.data(), "IHDR", 4) == 0)
            header = data;
        else if (std::memcmp(name.data(), "IDAT", 4) == 0)
            compressed.insert(compressed.end(), reinterpret_cast<const char*>(data.data()),
                              reinterpret_cast<const char*>(data.data()) + data.size());
        else if (std::memcmp(name.data(), "IEND", 4) == 0)
            break;
        at += 12 + std::size_t{length};
    }
    const std::uint64_t room = inflatedSize(header) + kSlack;
    if (room > static_cast<std::uint64_t>(std::numeric_limits<int>::max()) ||
        compressed.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return problem("it is too large");
    std::vector<char> inflated(static_cast<std::size_t>(room));
    if (stbi_zlib_decode_buffer(inflated.data(), static_cast<int>(room), compressed.data(),
                                static_cast<int>(compressed.size())) < 0 &&
        std::strcmp(stbi_failure_reason(), "output buffer limit") == 0)
        return problem("its PNG pixel data inflates to more than its " +
                       std::to_string(chunks.width) + " x " + std::to_string(chunks.height) +
                       " pixels need");
    return std::nullopt;
}

} // namespace

bool looksLikePng(std::span<const std::byte> file) {
    return file.size() >= kSignature.size() &&
           std::memcmp(file.data(), kSignature.data(), kSignature.size()) == 0;
}

std::variant<PngChunks, PictureProblem> readPngChunks(std::span<const std::byte> file) {
    PngChunks chunks;
    bool sawHeader = false;
    for (std::size_t at = kSignature.size();;) {
        if (file.size() - at < 12)
            return problem("it is cut short: it ends before its last PNG chunk (IEND)");
        const std::uint32_t length = be32(file, at);
        const auto name = file.subspan(at + 4, 4);
        if (!isChunkName(name))
            return problem("its PNG chunk at byte " + groupedDigits(at) + " has no valid name");
        const std::string shown(reinterpret_cast<const char*>(name.data()), 4);
        if (length > kLongestChunk || length > file.size() - at - 12)
            return problem("it is cut short: its PNG chunk \"" + shown + "\" ends past its end");
        const auto data = file.subspan(at + 8, length);
        if (crcOf(file.subspan(at + 4, length + 4)) != be32(file, at + 8 + length))
            return problem("its PNG chunk \"" + shown +
                           "\" fails its CRC check: the file is "
                           "damaged");
        if (!sawHeader && shown != "IHDR")
            return problem("its first PNG chunk is \"" + shown + "\", not \"IHDR\"");
        if (shown == "IHDR") {
            if (sawHeader || length != 13)
                return problem("its PNG header chunk (IHDR) is not as a PNG's is");
            sawHeader = true;
            chunks.width = be32(data, 0);
            chunks.height = be32(data, 4);
            chunks.indexed = std::to_integer<std::uint8_t>(data[9]) == kIndexedColourType;
        } else if (shown == "PLTE" && chunks.indexed) {
            if (length % 3 != 0 || length == 0 || length > 3 * 256)
                return problem("its PNG palette chunk (PLTE) is not as a PNG's is");
            chunks.palette.resize(length / 3);
            for (std::size_t i = 0; i < chunks.palette.size(); ++i)
                chunks.palette[i] = Colour{std::to_integer<std::uint8_t>(data[3 * i]),
                                           std::to_integer<std::uint8_t>(data[3 * i + 1]),
                                           std::to_integer<std::uint8_t>(data[3 * i + 2]), 255};
        } else if (shown == "tRNS" && chunks.indexed) {
            for (std::size_t i = 0; i < length && i < chunks.palette.size(); ++i)
                chunks.palette[i].alpha = std::to_integer<std::uint8_t>(data[i]);
        } else if (shown == "IEND") {
            break;
        }
        at += 12 + std::size_t{length};
    }
    if (chunks.width == 0 || chunks.height == 0)
        return problem("its PNG header gives it no pixels");
    if (std::uint64_t{chunks.width} * chunks.height > kMaxPicturePixels)
        return problem("it has " + std::to_string(chunks.width) + " x " +
                       std::to_string(chunks.height) + " pixels, more than the " +
                       groupedDigits(kMaxPicturePixels) + " a picture may have");
    if (chunks.indexed && chunks.palette.empty())
        return problem("it is an indexed PNG without a palette");
    return chunks;
}

std::variant<Picture, PictureProblem> decodePng(std::span<const std::byte> file,
                                                const PngChunks& chunks) {
    if (file.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return problem("it is too large");
    if (auto refused = inflatesPastItsPixels(file, chunks))
        return *refused;
    int width = 0;
    int height = 0;
    int channels = 0;
    const std::unique_ptr<stbi_uc, decltype(&stbi_image_free)> rgba(
        stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(file.data()),
                              static_cast<int>(file.size()), &width, &height, &channels, 4),
        &stbi_image_free);
    if (!rgba)
        return problem(std::string("its PNG pixels cannot be decoded (") + stbi_failure_reason() +
                       ")");
    if (static_cast<std::uint32_t>(width) != chunks.width ||
        static_cast<std::uint32_t>(height) != chunks.height)
        return problem("its PNG pixels do not match its header");

    Picture picture;
    picture.width = chunks.width;
    picture.height = chunks.height;
    const std::size_t count = std::size_t{picture.width} * picture.height;
    picture.pixels.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const stbi_uc* pixel = rgba.get() + 4 * i;
        picture.pixels[i] = Colour{pixel[0], pixel[1], pixel[2], pixel[3]};
    }
    if (!chunks.indexed)
        return picture;
    // The decoder hands back colours; each pixel's entry is the first with its colour, which
    // for a palette that repeats a colour may be an earlier entry of the same colour.
    picture.palette = chunks.palette;
    picture.indices.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto entry =
            std::find(picture.palette.begin(), picture.palette.end(), picture.pixels[i]);
        if (entry == picture.palette.end()) {
            picture.palette.clear();
            picture.indices.clear();
            break;
        }
        picture.indices[i] = static_cast<std::uint8_t>(entry - picture.palette.begin());
    }
    return picture;
}

} // namespace quillmere
