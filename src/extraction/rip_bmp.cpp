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
                     const RipOptions& options) {
    if (InPath.empty())
        return TileSetResult::failed(FileRole::Map, {}, "no path was given");
    if (OutPath.empty())
        return TileSetResult::failed(FileRole::Output, {}, "no path was given");

    // Checked before opening: opening a device can have effects of its own.
    const auto mapInfo = files::inspect(InPath);
    if (!mapInfo)
        return failed(FileRole::Map, mapInfo.error());
    if (mapInfo->kind != files::FileKind::Regular)
        return TileSetResult::failed(FileRole::Map, {}, files::notAFile(mapInfo->kind));

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

    files::WriteOptions write;
    write.keepApartFrom = mapInfo->identity;
    write.keptApartReason = "it is the map file itself, which would be overwritten";
    write.flushFolder = !options.deferFolderFlush;
    write.deferRelease = options.deferRelease;
    std::optional<TileSetResult> endedBeforeReplacing;
    if (options.beforeReplace)
        write.beforeReplace = [&](const files::ReplaceCheck& output) {
            endedBeforeReplacing = options.beforeReplace({mapInfo->identity, mapBytes, output});
            return endedBeforeReplacing ? files::ReplaceDecision::Keep
                                        : files::ReplaceDecision::Replace;
        };
    auto written = files::writeAtomically(OutPath, tileSet, write);
    if (!written)
        return failed(FileRole::Output, written.error());
    const bool startsWithBitmap =
        mapBytes >= 2 && tileSet[0] == std::byte{'B'} && tileSet[1] == std::byte{'M'};
    if (endedBeforeReplacing) {
        endedBeforeReplacing->mapStartsWithBitmap = startsWithBitmap;
        return *endedBeforeReplacing;
    }
    if (written->folder)
        options.deferFolderFlush(std::move(*written->folder));

    TileSetResult result =
        mapBytes < kTileSetLength ? TileSetResult::shortMap(mapBytes) : TileSetResult::complete();
    result.outputOtherNames = written->otherNames;
    result.mapStartsWithBitmap = startsWithBitmap;
    return result;
}

} // namespace quillmere
