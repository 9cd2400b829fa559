#pragma once

#include "file_layer.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace quillmere {

// A map keeps its tile set, a whole .bmp file, in two blocks at its start. The second block
// begins one byte before the first ends, so together they cover 49,713 bytes, not 49,714.
inline constexpr std::size_t kFirstBlockOffset = 0;
inline constexpr std::size_t kFirstBlockLength = 32767;
inline constexpr std::size_t kSecondBlockOffset = 32766;
inline constexpr std::size_t kSecondBlockLength = 16947;
inline constexpr std::size_t kTileSetLength = kSecondBlockOffset + kSecondBlockLength;
static_assert(kTileSetLength == 49713);

struct TileSetBlock {
    std::size_t offset;
    std::size_t length;
};
inline constexpr std::array<TileSetBlock, 2> kTileSetBlocks{{
    {kFirstBlockOffset, kFirstBlockLength},
    {kSecondBlockOffset, kSecondBlockLength},
}};

enum class TileSetOutcome {
    Complete, // the output now holds the map's whole tile set
    ShortMap, // the output was written, but the map ended before the tile set did
    Failed,   // nothing was written; any earlier output is as it was
};

enum class FileRole { Map, Output };

struct TileSetResult {
    TileSetOutcome outcome = TileSetOutcome::Complete;
    // How many of the tile set's bytes the map held; the rest of the output is zeros.
    std::size_t mapBytes = kTileSetLength;
    // For a failure: which file, the step that failed ("while writing"; empty when the file
    // could not be used at all) and the reason in plain words.
    FileRole failedFile = FileRole::Map;
    std::string failedStep;
    std::string reason;
    // For a success: how many other names (hard links) the replaced output had. They still
    // hold the old tile set.
    std::uint64_t outputOtherNames = 0;
    // For a success: whether the map starts as a bitmap does ("BM"). A map that does not may
    // be some other file, picked by mistake; it is copied all the same.
    bool mapStartsWithBitmap = true;
    // For a failure: the new tile set had taken the output's name when a later step failed.
    bool outputReplaced = false;

    static TileSetResult complete() { return {}; }
    static TileSetResult shortMap(std::size_t mapBytes) {
        return {TileSetOutcome::ShortMap, mapBytes, FileRole::Map, {}, {}, 0, true, false};
    }
    static TileSetResult failed(FileRole file, std::string step, std::string reason) {
        return {TileSetOutcome::Failed, 0, file, std::move(step),
                std::move(reason),      0, true, false};
    }
};

// A map's tile set as read, with what writing it needs to know of the map.
struct TileSetRead {
    // The bytes are left as they are: each read fills them, where the map ends with zeros, and
    // zeroing them first would cost each map another pass over 49 KiB.
    TileSetRead() {} // not "= default", with which a value-initialized one is zeroed
    std::string mapPath;
    files::FileState map; // as it was opened
    // Bytes the map does not have are zeros.
    std::array<std::byte, kTileSetLength> bytes;
    std::size_t mapBytes = 0; // as TileSetResult::mapBytes
};

// The first step: reads the tile set at the start of the map file InPath, which is only read.
std::variant<TileSetRead, TileSetResult> readTileSet(const std::string& InPath);

// What the write of `read` to the output asks of the file layer: the map is never the output.
files::WriteOptions tileSetWriteOptions(const TileSetRead& read);

// Why nothing may go to OutPath, or nothing. The output turning out to be the map itself, by any
// name the map's folder gives it, is refused by the write (tileSetWriteOptions).
std::optional<TileSetResult> refuseOutput(const std::string& OutPath);

// Whether the map starts as a bitmap does ("BM"): one that does not may be some other file.
bool startsWithBitmap(const TileSetRead& read);

// What a write of `read` came to.
TileSetResult tileSetResultOf(const TileSetRead& read,
                              const files::Expected<files::Written>& written);

// The second step: writes the tile set into the file OutPath, replaced whole, or left as it was.
TileSetResult writeTileSet(const TileSetRead& read, const std::string& OutPath);

// Copies the tile set at the start of the map file InPath into the file OutPath: both steps.
TileSetResult RipBMP(const std::string& InPath, const std::string& OutPath);

} // namespace quillmere
