#include "put_tile_set.h"

#include "file_layer.h"
#include "picture.h"
#include "tile_set_encode.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

namespace quillmere {
namespace {

constexpr std::array<std::byte, 2> kBitmapSignature{std::byte{'B'}, std::byte{'M'}};
// A map's length shows only where it ends: it is read in pieces of this size.
constexpr std::size_t kReadChunk = 64 * 1024;

bool startsAsBitmap(std::span<const std::byte> bytes) {
    return bytes.size() >= kBitmapSignature.size() &&
           std::equal(kBitmapSignature.begin(), kBitmapSignature.end(), bytes.begin());
}

// A file's first bytes, no more than `limit`, with the file still open and its state from
// before the read.
struct FileStart {
    files::ReadOnlyFile file;
    std::vector<std::byte> bytes;
    files::FileState state;
};

files::Expected<FileStart> readStart(const std::string& path, std::size_t limit) {
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
    FileStart start{std::move(*file), {}, *state};
    for (;;) {
        const std::size_t had = start.bytes.size();
        const std::size_t wanted = std::min(kReadChunk, limit - had);
        if (wanted == 0)
            break;
        start.bytes.resize(had + wanted);
        const auto read = start.file.readAt(had, std::span(start.bytes).subspan(had));
        if (!read)
            return read.error();
        start.bytes.resize(had + *read);
        if (*read < wanted)
            break; // the end of the file
    }
    return start;
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

    // Sizes come from reading, not from the file system, which gives some files (those of
    // /proc) as empty; one byte over the cap tells a picture that is too large.
    const auto picture = readStart(tileSetPath, kMaxPictureBytes + 1);
    if (!picture)
        return failedReading(PutFile::TileSet, picture.error());
    // Only the tile set is read: the rest of the map, however large, is copied by the file
    // layer straight from the open map when the new one is written.
    auto map = readStart(mapPath, kTileSetLength);
    if (!map)
        return failedReading(PutFile::Map, map.error());
    if (picture->state.identity == map->state.identity || files::sameFile(tileSetPath, mapPath))
        return PutResult::refused(PutRefusal::SameFile, PutFile::TileSet);

    if (picture->bytes.size() > kMaxPictureBytes)
        return PutResult::refused(PutRefusal::PictureTooLarge, PutFile::TileSet,
                                  picture->bytes.size());
    if (map->bytes.size() < kTileSetLength)
        return PutResult::refused(PutRefusal::MapTooShort, PutFile::Map, map->bytes.size());
    if (!startsAsBitmap(map->bytes))
        return PutResult::refused(PutRefusal::MapNotBitmap, PutFile::Map);
    auto tileSet = encodeTileSet(std::span(map->bytes).first(kTileSetLength), picture->bytes);
    if (auto* problem = std::get_if<TileSetProblem>(&tileSet))
        return PutResult::misfit(std::move(*problem));
    return PreparedPut{mapPath, std::move(std::get<std::vector<std::byte>>(tileSet)), map->state};
}

PutResult replaceMap(const PreparedPut& prepared) {
    const auto failed = [](const files::FileError& error) {
        PutResult result = PutResult::failed(PutFile::Map, true, error.step, error.reason);
        result.mapReplaced = error.afterReplacing;
        return result;
    };
    files::WriteOptions options;
    // Whatever changed the map since it was read would be lost by the rename: leave it be.
    options.unchangedSince = prepared.asRead;
    std::optional<files::Replacement> replacement;
    {
        // The new tile set, then the rest of the map as it was, copied from the map opened
        // again: it is held only while it is copied, since Windows renames nothing over a file
        // that is open, and it must still be the map that was read.
        const auto info = files::inspect(prepared.mapPath);
        if (!info || info->kind != files::FileKind::Regular)
            return PutResult::mapChanged();
        auto map = files::ReadOnlyFile::open(prepared.mapPath, *info);
        if (!map)
            return PutResult::failed(PutFile::Map, false, map.error().step, map.error().reason);
        if (const auto now = map->state(); !now || *now != prepared.asRead)
            return PutResult::mapChanged();
        auto made =
            files::Replacement::prepare(prepared.mapPath, {prepared.tileSet, &*map}, options);
        if (!made)
            return failed(made.error());
        replacement.emplace(std::move(*made));
    }
    const auto written = replacement->commit();
    if (!written)
        return failed(written.error());
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
