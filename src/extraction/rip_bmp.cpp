#include "file_layer.h"
#include "tile_set.h"

#include <algorithm>
#include <array>

namespace quillmere {
namespace {

TileSetResult failed(FileRole file, const files::FileError& error) {
    return TileSetResult::failed(file, error.step, error.reason);
}

constexpr const char* kOutputIsMap = "it is the map file itself, which would be overwritten";

} // namespace

bool startsWithBitmap(const TileSetRead& read) {
    return read.mapBytes >= 2 && read.bytes[0] == std::byte{'B'} && read.bytes[1] == std::byte{'M'};
}

std::variant<TileSetRead, TileSetResult> readTileSet(const std::string& InPath) {
    // Read straight into the value handed back, and every path returns that one object: a
    // tile set copied into a variant would take another 49 KiB of each converting thread's stack.
    std::variant<TileSetRead, TileSetResult> outcome;
    if (InPath.empty()) {
        outcome = TileSetResult::failed(FileRole::Map, {}, "no path was given");
        return outcome;
    }
    // Checked before opening: opening a device can have effects of its own.
    const auto mapInfo = files::inspect(InPath);
    if (!mapInfo)
        outcome = failed(FileRole::Map, mapInfo.error());
    else if (mapInfo->kind != files::FileKind::Regular)
        outcome = TileSetResult::failed(FileRole::Map, {}, files::notAFile(mapInfo->kind));
    if (!mapInfo || mapInfo->kind != files::FileKind::Regular)
        return outcome;

    auto& read = std::get<TileSetRead>(outcome);
    read.mapPath = InPath;
    auto map = files::ReadOnlyFile::open(InPath, *mapInfo);
    if (!map) {
        outcome = failed(FileRole::Map, map.error());
        return outcome;
    }
    read.map = map->opened();
    // The blocks lie end to end (the second starts inside the first): one read takes both.
    static_assert(kFirstBlockOffset == 0 && kSecondBlockOffset <= kFirstBlockLength);
    const auto got = map->readAt(0, std::span(read.bytes).first(kTileSetLength));
    if (!got) {
        outcome = failed(FileRole::Map, got.error());
        return outcome;
    }
    read.mapBytes = *got;
    std::fill(read.bytes.begin() + static_cast<std::ptrdiff_t>(*got), read.bytes.end(),
              std::byte{0});
    return outcome;
}

files::WriteOptions tileSetWriteOptions(const TileSetRead& read) {
    files::WriteOptions options;
    options.keepApartFrom = read.map;
    options.keepApartPath = read.mapPath;
    options.keptApartReason = kOutputIsMap;
    return options;
}

std::optional<TileSetResult> refuseOutput(const std::string& OutPath) {
    if (OutPath.empty())
        return TileSetResult::failed(FileRole::Output, {}, "no path was given");
    return std::nullopt;
}

TileSetResult tileSetResultOf(const TileSetRead& read,
                              const files::Expected<files::Written>& written) {
    if (!written) {
        TileSetResult result = failed(FileRole::Output, written.error());
        result.outputReplaced = written.error().afterReplacing;
        return result;
    }
    TileSetResult result = read.mapBytes < kTileSetLength ? TileSetResult::shortMap(read.mapBytes)
                                                          : TileSetResult::complete();
    result.outputOtherNames = written->otherNames;
    result.mapStartsWithBitmap = startsWithBitmap(read);
    return result;
}

TileSetResult writeTileSet(const TileSetRead& read, const std::string& OutPath) {
    if (auto refused = refuseOutput(OutPath))
        return *refused;
    return tileSetResultOf(
        read, files::writeAtomically(OutPath, {read.bytes}, tileSetWriteOptions(read)));
}

TileSetResult RipBMP(const std::string& InPath, const std::string& OutPath) {
    if (OutPath.empty() && !InPath.empty())
        return TileSetResult::failed(FileRole::Output, {}, "no path was given");
    auto read = readTileSet(InPath);
    if (auto* failure = std::get_if<TileSetResult>(&read))
        return *failure;
    return writeTileSet(std::get<TileSetRead>(read), OutPath);
}

} // namespace quillmere
