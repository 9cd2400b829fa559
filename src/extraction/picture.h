#pragma once

// A BMP or PNG picture, as an image editor saves one, decoded into pixels.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace quillmere {

// What a picture may take, so that a damaged or hostile file cannot take the memory: far more
// than any tile set needs (49,713 bytes hold at most 397,704 pixels).
inline constexpr std::size_t kMaxPictureBytes = 16 * 1024 * 1024;
inline constexpr std::uint64_t kMaxPicturePixels = 4 * 1024 * 1024;

struct Colour {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    std::uint8_t alpha = 255;
    bool operator==(const Colour&) const = default;
    bool sameLook(const Colour& other) const {
        return red == other.red && green == other.green && blue == other.blue;
    }
};

enum class PictureFormat { Bmp, Png };

struct PictureHeader {
    PictureFormat format = PictureFormat::Bmp;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

struct Picture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<Colour> pixels; // row by row from the top, each from the left
    // An indexed picture's palette as stored, and each pixel's entry in it; for other pictures
    // both are empty.
    std::vector<Colour> palette;
    std::vector<std::uint8_t> indices;
    bool indexed() const { return !palette.empty(); }
};

// Why a file cannot be read as a picture: a clause to follow "cannot be read: ", such as "its
// PNG chunk "IDAT" fails its CRC check".
struct PictureProblem {
    std::string reason;
};

// The format and size a picture's header gives, checked against the caps and the file's length
// where the format allows; its pixels are not decoded.
std::variant<PictureHeader, PictureProblem> readPictureHeader(std::span<const std::byte> file);

std::variant<Picture, PictureProblem> decodePicture(std::span<const std::byte> file);

} // namespace quillmere
