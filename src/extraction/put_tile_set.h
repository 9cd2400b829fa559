#pragma once

#include "file_layer.h"
#include "tile_set.h"
#include "tile_set_encode.h"

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace quillmere {

enum class PutOutcome {
    Complete,   // the map starts with the tile set now; every byte after it is as it was
    Refused,    // the files do not fit together; nothing was written
    Failed,     // a file could not be read, or the map not replaced; the map is as it was
    MapChanged, // the map changed after it was read; it was left alone
};

enum class PutFile { TileSet, Map };

// Why two files were refused before anything was written.
enum class PutRefusal {
    None,
    SameFile,
    PictureTooLarge, // `length` is the picture's
    MapTooShort,     // `length` is the map's
    MapNotBitmap,    // the map's first bytes do not start with "BM"
    Picture,         // the picture does not fit the map's tile set: `picture` says why
};

struct PutResult {
    PutOutcome outcome = PutOutcome::Complete;
    PutRefusal refusal = PutRefusal::None;
    PutFile file = PutFile::Map; // the file a refusal or failure is about
    std::uint64_t length = 0;
    TileSetProblem picture;
    // For a failure: whether the map was being replaced (else a file was being read), the
    // step that failed ("while writing"; may be empty) and the reason in plain words.
    bool replacing = false;
    bool mapReplaced = false; // the new map had taken the map's name when a later step failed
    std::string failedStep;
    std::string reason;
    // For a complete put: the old map's other hard links, which still hold the old map.
    std::uint64_t otherNames = 0;

    static PutResult complete(std::uint64_t otherNames = 0) {
        PutResult result;
        result.otherNames = otherNames;
        return result;
    }
    static PutResult refused(PutRefusal refusal, PutFile file, std::uint64_t length = 0) {
        PutResult result = of(PutOutcome::Refused, file);
        result.refusal = refusal;
        result.length = length;
        return result;
    }
    static PutResult misfit(TileSetProblem problem) {
        PutResult result = refused(PutRefusal::Picture, PutFile::TileSet);
        result.picture = std::move(problem);
        return result;
    }
    static PutResult failed(PutFile file, bool replacing, std::string step, std::string reason) {
        PutResult result = of(PutOutcome::Failed, file);
        result.replacing = replacing;
        result.failedStep = std::move(step);
        result.reason = std::move(reason);
        return result;
    }
    static PutResult mapChanged() { return of(PutOutcome::MapChanged, PutFile::Map); }

private:
    static PutResult of(PutOutcome outcome, PutFile file) {
        PutResult result;
        result.outcome = outcome;
        result.file = file;
        return result;
    }
};

// A map with its new tile set, checked and ready to be written, and the map as it was read.
struct PreparedPut {
    std::string mapPath;
    std::vector<std::byte> tileSet; // the map's new first 49,713 bytes
    files::FileState asRead;
};

// Reads and checks both files; the map is not written.
std::variant<PreparedPut, PutResult> preparePut(const std::string& tileSetPath,
                                                const std::string& mapPath);

// Replaces the map with the prepared bytes, unless it changed since it was read.
PutResult replaceMap(const PreparedPut& prepared);

// Puts the picture TileSetPath, the map MapPath's tile set as an editor saved it (any BMP or PNG
// of its size), back into the map: its pixels are written into the layout of the tile set in the
// map's first 49,713 bytes, and every byte after them stays. The files are checked first and
// refused when they do not fit together. The map is replaced whole, or stays as it was.
PutResult PutTileSet(const std::string& TileSetPath, const std::string& MapPath);

} // namespace quillmere
