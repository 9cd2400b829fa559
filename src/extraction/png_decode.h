#pragma once

// PNG pictures: their chunks checked here, their pixels decoded by stb_image.

#include "picture.h"

#include <cstdint>
#include <span>
#include <variant>
#include <vector>

namespace quillmere {

// What the chunks say, every chunk's CRC checked up to the last (IEND).
struct PngChunks {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool indexed = false;
    std::vector<Colour> palette; // an indexed picture's, with its entries' alpha
};

bool looksLikePng(std::span<const std::byte> file);
std::variant<PngChunks, PictureProblem> readPngChunks(std::span<const std::byte> file);
std::variant<Picture, PictureProblem> decodePng(std::span<const std::byte> file,
                                                const PngChunks& chunks);

} // namespace quillmere
