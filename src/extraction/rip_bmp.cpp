#include "file_layer.h"
#include "tile_set.h"

#include <algorithm>
#include <array>

namespace quillmere {
namespace {

TileSetResult failed(FileRole file, const files::FileError& error) {
    return TileSetResult::failed(file, error.step, error.reason);
}

} // namespace

TileSetResult RipBMP(const std::string& InPath, const std::string& OutPath,
                     [[maybe_unused]] const RipOptions& options) {
    if (InPath.empty())
        return TileSetResult::failed(FileRole::Map, {}, "no path was given");
    if (OutPath.empty())
        return TileSetResult::failed(FileRole::Output, {}, "no path was given");

    // Checked before opening: opening a device can have effects of its own.
    const auto mapInfo = files::inspect(InPath);
    if (!mapInfo)
        return failed(FileRole::Map, mapInfo.error());
    if (mapInfo->kind != files::FileKind::Regular)
        return TileSetResult::failed(FileRole::Map, {}, notAFile(mapInfo->kind));

    // Bytes the map does not have stay zero.
    std::array<std::byte, kTileSetLength> tileSet{};
    std::size_t mapBytes = 0;
    {
        auto map = files::ReadOnlyFile::open(InPath, *mapInfo);
        if (!map)
            return failed(FileRole::Map, map.error());
        for (const auto& block : kTileSetBlocks) {
            const auto read =
                map->readAt(block.offset, std::span(tileSet).subspan(block.offset, block.length));
            if (!read)
                return failed(FileRole::Map, read.error());
            if (*read > 0)
                mapBytes = std::max(mapBytes, block.offset + *read);
        }
    }

    const auto outputInfo = files::inspect(OutPath);
    if (!outputInfo && !outputInfo.error().notFound)
        return failed(FileRole::Output, outputInfo.error());
    if (outputInfo && outputInfo->kind != files::FileKind::Regular)
        return TileSetResult::failed(FileRole::Output, {}, notAFile(outputInfo->kind));
    if (outputInfo && outputInfo->identity == mapInfo->identity)
        return TileSetResult::failed(FileRole::Output, {},
                                     "it is the map file itself, which would be overwritten");

    if (const auto written = files::writeAtomically(OutPath, tileSet); !written)
        return failed(FileRole::Output, written.error());

    if (mapBytes < kTileSetLength)
        return TileSetResult::shortMap(mapBytes);
    return TileSetResult::complete();
}

} // namespace quillmere
