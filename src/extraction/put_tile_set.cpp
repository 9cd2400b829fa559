#include "put_tile_set.h"

#include "file_layer.h"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <vector>

namespace quillmere {
namespace {

constexpr std::array<std::byte, 2> kBitmapSignature{std::byte{'B'}, std::byte{'M'}};
constexpr std::size_t kHeaderSizeOffset = 14;
// The oldest bitmap header is 12 bytes and spells its fields smaller; every later one has
// the fields of the 40-byte header where it has them.
constexpr std::uint32_t kCoreHeaderSize = 12;
// A map's length shows only where it ends: it is read in pieces of this size.
constexpr std::size_t kReadChunk = 64 * 1024;

struct LayoutField {
    std::string_view name;
    std::size_t offset;
    std::size_t width; // in bytes
    bool isSigned = false;
};

constexpr std::array<LayoutField, 3> kFileHeaderFields{{
    {"file size", 2, 4},
    {"pixel data offset", 10, 4},
    {"header size", kHeaderSizeOffset, 4},
}};
constexpr std::array<LayoutField, 5> kInfoHeaderFields{{
    {"width", 18, 4, true},
    {"height", 22, 4, true},
    {"planes", 26, 2},
    {"bits per pixel", 28, 2},
    {"compression", 30, 4},
}};
constexpr std::array<LayoutField, 4> kCoreHeaderFields{{
    {"width", 18, 2},
    {"height", 20, 2},
    {"planes", 22, 2},
    {"bits per pixel", 24, 2},
}};

// Bitmaps store their numbers least significant byte first.
std::int64_t valueOf(std::span<const std::byte> bytes, const LayoutField& field) {
    std::uint64_t value = 0;
    for (std::size_t at = field.width; at-- > 0;)
        value = (value << 8) | std::to_integer<std::uint64_t>(bytes[field.offset + at]);
    const std::uint64_t signBit = std::uint64_t{1} << (field.width * 8 - 1);
    if (field.isSigned && (value & signBit) != 0)
        return static_cast<std::int64_t>(value) - static_cast<std::int64_t>(signBit << 1);
    return static_cast<std::int64_t>(value);
}

bool startsAsBitmap(std::span<const std::byte> bytes) {
    return bytes.size() >= kBitmapSignature.size() &&
           std::equal(kBitmapSignature.begin(), kBitmapSignature.end(), bytes.begin());
}

template <std::size_t N>
std::optional<PutResult> firstDifference(std::span<const std::byte> tileSet,
                                         std::span<const std::byte> map,
                                         const std::array<LayoutField, N>& fields) {
    for (const auto& field : fields) {
        const auto ours = valueOf(tileSet, field);
        const auto theirs = valueOf(map, field);
        if (ours != theirs)
            return PutResult::layoutDiffers(field.name, ours, theirs);
    }
    return std::nullopt;
}

// Pixels and palette may differ, being the edit; the fields that say how they are laid out
// may not.
std::optional<PutResult> layoutDifference(std::span<const std::byte> tileSet,
                                          std::span<const std::byte> map) {
    if (auto difference = firstDifference(tileSet, map, kFileHeaderFields))
        return difference;
    const bool core = valueOf(map, kFileHeaderFields[2]) == kCoreHeaderSize;
    return core ? firstDifference(tileSet, map, kCoreHeaderFields)
                : firstDifference(tileSet, map, kInfoHeaderFields);
}

// The whole of a file, but no more than `limit` bytes, with its state from before the read.
struct WholeFile {
    std::vector<std::byte> bytes;
    files::FileState state;
};

files::Expected<WholeFile> readWhole(const std::string& path, std::size_t limit) {
    // Checked before opening: opening a device can have effects of its own.
    const auto info = files::inspect(path);
    if (!info)
        return info.error();
    if (info->kind != files::FileKind::Regular)
        return files::FileError{{}, files::notAFile(info->kind)};
    auto file = files::ReadOnlyFile::open(path, *info);
    if (!file)
        return file.error();
    auto state = file->state();
    if (!state)
        return state.error();
    WholeFile whole{{}, *state};
    for (;;) {
        const std::size_t had = whole.bytes.size();
        const std::size_t wanted = std::min(kReadChunk, limit - had);
        if (wanted == 0)
            break;
        whole.bytes.resize(had + wanted);
        const auto read = file->readAt(had, std::span(whole.bytes).subspan(had));
        if (!read)
            return read.error();
        whole.bytes.resize(had + *read);
        if (*read < wanted)
            break; // the end of the file
    }
    return whole;
}

PutResult failedReading(PutFile file, const files::FileError& error) {
    return PutResult::failed(file, false, error.step, error.reason);
}

} // namespace

std::variant<PreparedPut, PutResult> preparePut(const std::string& tileSetPath,
                                                const std::string& mapPath) {
    if (tileSetPath.empty())
        return PutResult::failed(PutFile::TileSet, false, {}, "no path was given");
    if (mapPath.empty())
        return PutResult::failed(PutFile::Map, false, {}, "no path was given");

    // One byte more than a tile set tells a longer file from one of the right length.
    const auto tileSet = readWhole(tileSetPath, kTileSetLength + 1);
    if (!tileSet)
        return failedReading(PutFile::TileSet, tileSet.error());
    auto map = readWhole(mapPath, std::numeric_limits<std::size_t>::max());
    if (!map)
        return failedReading(PutFile::Map, map.error());
    if (tileSet->state.identity == map->state.identity || files::sameFile(tileSetPath, mapPath))
        return PutResult::refused(PutRefusal::SameFile, PutFile::TileSet);

    if (tileSet->bytes.size() != kTileSetLength)
        return PutResult::refused(PutRefusal::TileSetLength, PutFile::TileSet, tileSet->state.size);
    if (!startsAsBitmap(tileSet->bytes))
        return PutResult::refused(PutRefusal::TileSetNotBitmap, PutFile::TileSet);
    if (map->bytes.size() < kTileSetLength)
        return PutResult::refused(PutRefusal::MapTooShort, PutFile::Map, map->bytes.size());
    if (!startsAsBitmap(map->bytes))
        return PutResult::refused(PutRefusal::MapNotBitmap, PutFile::Map);
    if (auto difference = layoutDifference(tileSet->bytes, map->bytes))
        return *difference;

    std::copy_n(tileSet->bytes.begin(), kTileSetLength, map->bytes.begin());
    return PreparedPut{mapPath, std::move(map->bytes), map->state};
}

PutResult replaceMap(const PreparedPut& prepared) {
    files::WriteOptions options;
    // Whatever changed the map since it was read would be lost by the rename: leave it be.
    options.unchangedSince = prepared.asRead;
    const auto written = files::writeAtomically(prepared.mapPath, {prepared.bytes}, options);
    if (!written) {
        PutResult result =
            PutResult::failed(PutFile::Map, true, written.error().step, written.error().reason);
        result.mapReplaced = written.error().afterReplacing;
        return result;
    }
    if (!written->replaced)
        return PutResult::mapChanged();
    return PutResult::complete(written->otherNames);
}

PutResult PutTileSet(const std::string& TileSetPath, const std::string& MapPath) {
    auto prepared = preparePut(TileSetPath, MapPath);
    if (auto* result = std::get_if<PutResult>(&prepared))
        return std::move(*result);
    return replaceMap(std::get<PreparedPut>(prepared));
}

} // namespace quillmere
