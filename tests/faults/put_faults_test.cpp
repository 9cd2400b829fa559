// Puts a tile set back into its map with the real quillmere-tiles while its writes, flush or
// rename fail: each time the run fails, says so, and leaves the map exactly as it was.

#include "named_rows.h"
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
    bool afterTheRename = false; // the new map is in place; its folder could not be flushed
    QUILLMERE_PRINTS_ROW_NAME(PutFault)
};

class PutFaults : public ::testing::TestWithParam<PutFault> {};

TEST_P(PutFaults, AFailedReplacementSaysWhereTheMapStands) {
    TempFolder folder;
    Bytes map = patternBytes(60000, 1);
    map[0] = 'B';
    map[1] = 'M';
    Bytes tileSet(map.begin(), map.begin() + kTileSetLength);
    tileSet[100] ^= 0xFF; // an edited pixel
    writeFile(folder / "Map.LVL", map);
    writeFile(folder / "Tiles.BMP", tileSet);
    std::vector<std::string> environment = GetParam().faults;
    environment.push_back("LD_PRELOAD=" QUILLMERE_INJECTOR);
    environment.push_back(testing::asanOptionsWith("verify_asan_link_order=0"));

    const auto run = testing::runProcess({QUILLMERE_TILES_EXE, "--put", "Tiles.BMP", "Map.LVL"},
                                         folder.path().string(), environment);

    EXPECT_EQ(run.exitStatus, 1);
    if (GetParam().afterTheRename) {
        EXPECT_NE(run.err.find("Tiles.BMP -> Map.LVL: The new map is in place in \"Map.LVL\", but "
                               "it may not survive a power loss: the folder \""),
                  std::string::npos)
            << run.err;
        EXPECT_NE(run.err.find(GetParam().says), std::string::npos) << run.err;
        std::copy(tileSet.begin(), tileSet.end(), map.begin());
        EXPECT_EQ(readFile(folder / "Map.LVL"), map);
        return;
    }
    EXPECT_EQ(run.err, "quillmere-tiles: Tiles.BMP -> Map.LVL: Could not write the map file "
                       "\"Map.LVL\" " +
                           GetParam().says + " The map file is as it was.\n");
    EXPECT_EQ(readFile(folder / "Map.LVL"), map);
    EXPECT_EQ(folder.names(), (std::set<std::string>{"Map.LVL", "Tiles.BMP"}));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, PutFaults,
    ::testing::Values(PutFault{"disk_full",
                               {"QUILLMERE_FAULT_CALL=write", "QUILLMERE_FAULT_ERRNO=ENOSPC"},
                               "while writing: No space left on device."},
                      PutFault{"failing_flush",
                               {"QUILLMERE_FAULT_CALL=fdatasync"},
                               "while flushing it to disk: Input/output error."},
                      PutFault{"failing_folder_flush",
                               {"QUILLMERE_FAULT_CALL=fsync"},
                               "could not be flushed to disk: Input/output error.",
                               true},
                      PutFault{"failing_rename",
                               {"QUILLMERE_FAULT_CALL=rename", "QUILLMERE_FAULT_ERRNO=EACCES"},
                               "while replacing the old file: Permission denied."}),
    testing::rowName<PutFault>);

} // namespace
} // namespace quillmere
