// A run removes only the leftovers it can prove are its own: a killed run's temporary for this
// output, made by this user, that nobody holds. Each row puts one file beside the output,
// converts, and checks whether the file is still there.

#include "named_rows.h"
#include "run_process.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

namespace quillmere {
namespace {

namespace fs = std::filesystem;
using testing::patternBytes;
using testing::TempFolder;
using testing::writeFile;

enum class Hold { Nothing, Flock, RecordLock, OpenOnly, SecondName };

struct Leftover {
    const char* name;
    std::string file; // "{uid}" stands for this process's user id
    Hold hold = Hold::Nothing;
    bool anotherUsers = false; // owned by another user, in a sticky folder
    bool removed = false;
    // A batch of two maps, Tiles.LVL first, into a folder that holds `crowd` other files: a
    // batch reads a folder of few names once rather than looking up each output's.
    bool batch = false;
    int crowd = 0;
    QUILLMERE_PRINTS_ROW_NAME(Leftover)
};

constexpr uid_t kOtherUser = 61234;

std::string withUid(std::string file) {
    const auto at = file.find("{uid}");
    if (at != std::string::npos)
        file.replace(at, 5, std::to_string(::geteuid()));
    return file;
}

class Leftovers : public ::testing::TestWithParam<Leftover> {};

TEST_P(Leftovers, OnlyOurOwnAbandonedTemporariesAreRemoved) {
    const Leftover& row = GetParam();
    if (row.anotherUsers && ::geteuid() != 0)
        GTEST_SKIP() << "needs root: it gives a file to another user";
    TempFolder folder;
    writeFile(folder / "Map.LVL", patternBytes(60000, 1));
    fs::create_directory(folder / "out");
    const std::string left = folder / ("out/" + withUid(row.file));
    writeFile(left, patternBytes(100, 2));
    int held = -1;
    if (row.hold != Hold::Nothing && row.hold != Hold::SecondName)
        held = ::open(left.c_str(), O_RDWR | O_CLOEXEC);
    if (row.hold == Hold::Flock) {
        ASSERT_EQ(::flock(held, LOCK_EX), 0);
    }
    if (row.hold == Hold::RecordLock) {
        struct flock part {};
        part.l_type = F_WRLCK;
        part.l_start = 10;
        part.l_len = 1;
        ASSERT_EQ(::fcntl(held, F_SETLK, &part), 0);
    }
    if (row.hold == Hold::SecondName)
        fs::create_hard_link(left, folder / "second name");
    if (row.anotherUsers) {
        ASSERT_EQ(::chmod((folder / "out").c_str(), 01777), 0);
        ASSERT_EQ(::chown(left.c_str(), kOtherUser, kOtherUser), 0);
    }

    for (int other = 0; other < row.crowd; ++other)
        writeFile(folder / ("out/crowd " + std::to_string(other)), patternBytes(1, 4));
    writeFile(folder / "Tiles.LVL", patternBytes(60000, 5));
    const auto run = testing::runProcess(
        row.batch
            ? std::vector<std::string>{QUILLMERE_TILES_EXE, "-d", "out", "Tiles.LVL", "Map.LVL"}
            : std::vector<std::string>{QUILLMERE_TILES_EXE, "Map.LVL", "out/Tiles.BMP"},
        folder.path().string());
    if (held >= 0)
        ::close(held);

    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(fs::exists(left), !row.removed);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Leftovers,
    ::testing::Values(
        Leftover{.name = "our_abandoned_temporary",
                 .file = ".tiles.bmp.quillmere-{uid}-0.part",
                 .removed = true},
        Leftover{.name = "our_abandoned_temporary_in_a_later_slot",
                 .file = ".tiles.bmp.quillmere-{uid}-7.part",
                 .removed = true},
        Leftover{.name = "a_users_own_file_of_a_like_name", .file = ".Tiles.BMP.ab12cd34.part"},
        Leftover{.name = "another_outputs_temporary", .file = ".other.bmp.quillmere-{uid}-0.part"},
        Leftover{.name = "held_with_flock_by_another_program",
                 .file = ".tiles.bmp.quillmere-{uid}-0.part",
                 .hold = Hold::Flock},
        Leftover{.name = "held_with_a_record_lock",
                 .file = ".tiles.bmp.quillmere-{uid}-0.part",
                 .hold = Hold::RecordLock},
        Leftover{.name = "open_in_another_program",
                 .file = ".tiles.bmp.quillmere-{uid}-0.part",
                 .hold = Hold::OpenOnly},
        Leftover{.name = "with_a_second_name",
                 .file = ".tiles.bmp.quillmere-{uid}-0.part",
                 .hold = Hold::SecondName},
        Leftover{.name = "another_users_file_in_a_sticky_folder",
                 .file = ".tiles.bmp.quillmere-{uid}-0.part",
                 .anotherUsers = true},
        Leftover{.name = "found_by_a_batch_in_its_folders_names",
                 .file = ".tiles.bmp.quillmere-{uid}-3.part",
                 .removed = true,
                 .batch = true},
        Leftover{.name = "found_by_a_batch_in_the_first_slot",
                 .file = ".tiles.bmp.quillmere-{uid}-0.part",
                 .removed = true,
                 .batch = true},
        Leftover{.name = "held_with_flock_in_a_batchs_folder",
                 .file = ".tiles.bmp.quillmere-{uid}-3.part",
                 .hold = Hold::Flock,
                 .batch = true},
        Leftover{.name = "looked_up_by_a_batch_in_a_crowded_folder",
                 .file = ".tiles.bmp.quillmere-{uid}-5.part",
                 .removed = true,
                 .batch = true,
                 .crowd = 20}),
    testing::rowName<Leftover>);

// Names another user planted in a shared folder stay, and the run says why it cannot go on.
TEST(Leftovers, EveryNameTakenByAnotherUserFailsWithTheReason) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root: it gives files to another user";
    TempFolder folder;
    writeFile(folder / "Map.LVL", patternBytes(60000, 1));
    fs::create_directory(folder / "out");
    ASSERT_EQ(::chmod((folder / "out").c_str(), 01777), 0);
    for (int slot = 0; slot < 8; ++slot) {
        const std::string planted =
            folder /
            ("out/" + withUid(".tiles.bmp.quillmere-{uid}-" + std::to_string(slot) + ".part"));
        writeFile(planted, patternBytes(10, 3));
        ASSERT_EQ(::chown(planted.c_str(), kOtherUser, kOtherUser), 0);
    }

    const auto run = testing::runProcess({QUILLMERE_TILES_EXE, "Map.LVL", "out/Tiles.BMP"},
                                         folder.path().string());

    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_NE(run.err.find("all 8 names for its temporary file are taken"), std::string::npos)
        << run.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(folder / "out"), {}), 8);
}

} // namespace
} // namespace quillmere
