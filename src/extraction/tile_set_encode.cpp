#include "tile_set_encode.h"

#include "bmp_layout.h"
#include "picture.h"
#include "tile_set.h"

#include <algorithm>
#include <array>
#include <set>
#include <string_view>
#include <unordered_map>

namespace quillmere {
namespace {

struct LayoutField {
    std::size_t offset;
    std::size_t width; // in bytes
};

// The fields that say how a tile set's bytes are laid out; its pixels and palette may differ.
constexpr std::array<LayoutField, 3> kFileHeaderFields{{{2, 4}, {10, 4}, {14, 4}}};
constexpr std::array<LayoutField, 5> kInfoHeaderFields{
    {{18, 4}, {22, 4}, {26, 2}, {28, 2}, {30, 4}}};
constexpr std::array<LayoutField, 4> kCoreHeaderFields{{{18, 2}, {20, 2}, {22, 2}, {24, 2}}};
constexpr std::uint32_t kCoreHeaderSize = 12;

std::uint32_t fieldValue(std::span<const std::byte> bytes, const LayoutField& field) {
    std::uint32_t value = 0;
    for (std::size_t at = field.width; at-- > 0;)
        value = (value << 8) | std::to_integer<std::uint32_t>(bytes[field.offset + at]);
    return value;
}

template <std::size_t N>
bool sameFields(std::span<const std::byte> a, std::span<const std::byte> b,
                const std::array<LayoutField, N>& fields) {
    return std::all_of(fields.begin(), fields.end(), [&](const LayoutField& field) {
        return fieldValue(a, field) == fieldValue(b, field);
    });
}

// A picture of the tile set's length, laid out as it is: a tile set copied out and edited in
// place, taken as it is so that an unedited one puts back exactly.
bool laidOutAsTheTileSet(std::span<const std::byte> tileSet, std::span<const std::byte> picture) {
    if (picture.size() != kTileSetLength || picture[0] != std::byte{'B'} ||
        picture[1] != std::byte{'M'} || !sameFields(tileSet, picture, kFileHeaderFields))
        return false;
    return fieldValue(tileSet, kFileHeaderFields[2]) == kCoreHeaderSize
               ? sameFields(tileSet, picture, kCoreHeaderFields)
               : sameFields(tileSet, picture, kInfoHeaderFields);
}

TileSetProblem refusal(TileSetRefusal kind, std::string reason = {}) {
    TileSetProblem problem;
    problem.kind = kind;
    problem.reason = std::move(reason);
    return problem;
}

TileSetProblem at(TileSetProblem problem, std::size_t pixel, std::uint32_t width) {
    problem.x = static_cast<std::uint32_t>(pixel % width);
    problem.y = static_cast<std::uint32_t>(pixel / width);
    return problem;
}

std::uint32_t rgbKey(const Colour& colour) {
    return (std::uint32_t{colour.red} << 16) | (std::uint32_t{colour.green} << 8) | colour.blue;
}

std::variant<std::vector<std::byte>, TileSetProblem>
encodeIndexed(std::span<const std::byte> tileSet, const BmpLayout& layout, const Picture& picture) {
    std::vector<std::byte> result(tileSet.begin(), tileSet.end());
    std::vector<Colour> palette(layout.paletteEntries);
    std::unordered_map<std::uint32_t, std::uint32_t> entryOf;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        palette[i] = paletteColour(tileSet, layout, i);
        entryOf.emplace(rgbKey(palette[i]), static_cast<std::uint32_t>(i)); // the first stays
    }
    std::set<std::uint32_t> missing;
    std::size_t firstMissing = 0;
    for (std::uint32_t y = 0; y < layout.height; ++y) {
        for (std::uint32_t x = 0; x < layout.width; ++x) {
            const std::size_t pixel = std::size_t{y} * layout.width + x;
            const Colour& colour = picture.pixels[pixel];
            const std::uint32_t old = pixelValue(tileSet, layout, x, y);
            if (old < palette.size() && palette[old].sameLook(colour))
                continue; // unchanged: its index stays, even where the palette repeats a colour
            const auto entry = entryOf.find(rgbKey(colour));
            if (entry != entryOf.end()) {
                setPixelValue(result, layout, x, y, entry->second);
            } else {
                if (missing.empty())
                    firstMissing = pixel;
                missing.insert(rgbKey(colour));
            }
        }
    }
    if (missing.empty())
        return result;

    if (picture.indexed() && picture.palette.size() == layout.paletteEntries) {
        // A palette edit: the picture's palette and indices are the new tile set's.
        result.assign(tileSet.begin(), tileSet.end());
        for (std::size_t i = 0; i < picture.palette.size(); ++i)
            setPaletteColour(result, layout, i, picture.palette[i]);
        for (std::uint32_t y = 0; y < layout.height; ++y)
            for (std::uint32_t x = 0; x < layout.width; ++x)
                setPixelValue(result, layout, x, y,
                              picture.indices[std::size_t{y} * layout.width + x]);
        return result;
    }
    TileSetProblem problem =
        at(refusal(TileSetRefusal::ColoursMissing), firstMissing, layout.width);
    problem.missingColours = missing.size();
    problem.paletteEntries = layout.paletteEntries;
    return problem;
}

std::vector<std::byte> encodeColours(std::span<const std::byte> tileSet, const BmpLayout& layout,
                                     const Picture& picture) {
    std::vector<std::byte> result(tileSet.begin(), tileSet.end());
    for (std::uint32_t y = 0; y < layout.height; ++y) {
        for (std::uint32_t x = 0; x < layout.width; ++x) {
            const Colour& colour = picture.pixels[std::size_t{y} * layout.width + x];
            const std::uint32_t old = pixelValue(tileSet, layout, x, y);
            // An unchanged pixel keeps its bits, which 16 bits could not give back otherwise.
            if (!maskedColour(layout, old).sameLook(colour))
                setPixelValue(result, layout, x, y, maskedValue(layout, colour, old));
        }
    }
    return result;
}

} // namespace

std::variant<std::vector<std::byte>, TileSetProblem>
encodeTileSet(std::span<const std::byte> tileSet, std::span<const std::byte> picture) {
    if (laidOutAsTheTileSet(tileSet, picture))
        return std::vector<std::byte>(picture.begin(), picture.end());

    auto header = readPictureHeader(picture);
    if (auto* failed = std::get_if<PictureProblem>(&header))
        return refusal(TileSetRefusal::Unreadable, failed->reason);
    auto mapLayout = readBmpLayout(tileSet);
    if (auto* failed = std::get_if<PictureProblem>(&mapLayout))
        return refusal(TileSetRefusal::MapLayout, failed->reason);
    const BmpLayout& layout = std::get<BmpLayout>(mapLayout);
    if (layout.runLength())
        return refusal(TileSetRefusal::MapLayout,
                       "its pixels are RLE-compressed, and changed pixels would change their "
                       "length");

    const auto& size = std::get<PictureHeader>(header);
    if (size.width != layout.width || size.height != layout.height) {
        TileSetProblem problem = refusal(TileSetRefusal::OtherSize);
        problem.width = size.width;
        problem.height = size.height;
        problem.mapWidth = layout.width;
        problem.mapHeight = layout.height;
        return problem;
    }

    auto decoded = decodePicture(picture);
    if (auto* failed = std::get_if<PictureProblem>(&decoded))
        return refusal(TileSetRefusal::Unreadable, failed->reason);
    const Picture& pixels = std::get<Picture>(decoded);
    const auto seeThrough = std::find_if(pixels.pixels.begin(), pixels.pixels.end(),
                                         [](const Colour& colour) { return colour.alpha != 255; });
    if (seeThrough != pixels.pixels.end())
        return at(refusal(TileSetRefusal::NotOpaque),
                  static_cast<std::size_t>(seeThrough - pixels.pixels.begin()), layout.width);

    if (layout.indexed())
        return encodeIndexed(tileSet, layout, pixels);
    return encodeColours(tileSet, layout, pixels);
}

} // namespace quillmere
