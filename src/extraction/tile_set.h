#pragma once

#include "file_layer.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

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

    static TileSetResult complete() { return {}; }
    static TileSetResult shortMap(std::size_t mapBytes) {
        return {TileSetOutcome::ShortMap, mapBytes, FileRole::Map, {}, {}, 0, true};
    }
    static TileSetResult failed(FileRole file, std::string step, std::string reason) {
        return {TileSetOutcome::Failed, 0, file, std::move(step), std::move(reason), 0, true};
    }
};

// What a caller's check sees just before the output is replaced.
struct OutputCheck {
    files::FileIdentity map;
    std::size_t mapBytes = 0; // as TileSetResult::mapBytes
    files::ReplaceCheck output;
};

struct RipOptions {
    // Nothing: go on and replace the output. A result: end with it instead, the output left as
    // it is (a failure, or a success whose output an earlier conversion already wrote).
    std::function<std::optional<TileSetResult>(const OutputCheck&)> beforeReplace;
    // Set: the output's folder is not flushed by RipBMP but handed over, for the caller to
    // flush once for all its outputs there before it reports them done.
    std::function<void(files::OutputFolder)> deferFolderFlush;
    // true: the replaced output is closed by the thread's next files::releaseOldOutput().
    bool deferRelease = false;
};

// Copies the tile set at the start of the map file InPath into the file OutPath. The map is
// only read. The output becomes exactly the tile set, replaced whole, or stays as it was.
TileSetResult RipBMP(const std::string& InPath, const std::string& OutPath,
                     const RipOptions& options = {});

} // namespace quillmere
