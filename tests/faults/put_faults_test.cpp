// Puts a tile set back into its map with the real quillmere-tiles while its writes, flush or
// rename fail: each time the run fails, says so, and leaves the map exactly as it was.

#include "run_process.h"
#include "tile_set.h"

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using testing::Bytes;
using testing::patternBytes;
using testing::readFile;
using testing::TempFolder;
using testing::writeFile;

struct PutFault {
    const char* name;
    std::vector<std::string> faults; // settings for the preloaded fault injector
    std::string says;
};

TEST(PutFaults, AFailedReplacementLeavesTheMapAsItWas) {
    const std::vector<PutFault> cases = {
        {"disk full",
         {"QUILLMERE_FAULT_CALL=write", "QUILLMERE_FAULT_ERRNO=ENOSPC"},
         "while writing: No space left on device."},
        {"failing flush",
         {"QUILLMERE_FAULT_CALL=fdatasync"},
         "while flushing it to disk: Input/output error."},
        {"failing rename",
         {"QUILLMERE_FAULT_CALL=rename", "QUILLMERE_FAULT_ERRNO=EACCES"},
         "while replacing the old file: Permission denied."},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        TempFolder folder;
        Bytes map = patternBytes(60000, 1);
        map[0] = 'B';
        map[1] = 'M';
        Bytes tileSet(map.begin(), map.begin() + kTileSetLength);
        tileSet[100] ^= 0xFF; // an edited pixel
        writeFile(folder / "Map.LVL", map);
        writeFile(folder / "Tiles.BMP", tileSet);
        std::vector<std::string> environment = row.faults;
        environment.push_back("LD_PRELOAD=" QUILLMERE_INJECTOR);
        environment.push_back(testing::asanOptionsWith("verify_asan_link_order=0"));

        const auto run = testing::runProcess({QUILLMERE_TILES_EXE, "--put", "Tiles.BMP", "Map.LVL"},
                                             folder.path().string(), environment);

        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_EQ(run.err, "quillmere-tiles: Tiles.BMP -> Map.LVL: Could not write the map file "
                           "\"Map.LVL\" " +
                               row.says + " The map file is as it was.\n");
        EXPECT_EQ(readFile(folder / "Map.LVL"), map);
        EXPECT_EQ(folder.names(), (std::set<std::string>{"Map.LVL", "Tiles.BMP"}));
    }
}

} // namespace
} // namespace quillmere
