// Kills and interrupts quillmere-tiles at random moments and runs two of them at once against
// one output: every output must afterwards be a whole old tile set or a whole new one, an
// interrupted run leaves no temporary file, and a killed one's are gone after the next run.

#include "named_rows.h"
#include "run_process.h"
#include "tile_set.h"

#include <algorithm>
#include <array>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <random>
#include <sys/syscall.h>

namespace quillmere {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing::Bytes;
using testing::ChildProcess;
using testing::patternBytes;
using testing::readFile;
using testing::TempFolder;
using testing::writeFile;

constexpr int kMaps = 20;
constexpr int kKillRounds = 100;

Bytes tileSetOf(const Bytes& map) {
    return Bytes(map.begin(), map.begin() + static_cast<std::ptrdiff_t>(kTileSetLength));
}

std::string mapName(int index) {
    return "map" + std::to_string(index) + ".LVL";
}
std::string outputName(int index) {
    return "map" + std::to_string(index) + ".BMP";
}

int temporaryFilesIn(const fs::path& folder) {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        count += name.starts_with('.') && name.ends_with(".part");
    }
    return count;
}

TEST(CrashConsistency, AKilledBatchLeavesEveryOutputOldOrNew) {
    TempFolder folder;
    std::vector<Bytes> tileSets[2];
    for (int set = 0; set < 2; ++set) {
        const std::string maps = set == 0 ? "a" : "b";
        fs::create_directory(folder / maps);
        for (int i = 0; i < kMaps; ++i) {
            const Bytes map = patternBytes(60000, static_cast<unsigned>(set * 1000 + i));
            writeFile(folder / (maps + "/" + mapName(i)), map);
            tileSets[set].push_back(tileSetOf(map));
        }
    }
    fs::create_directory(folder / "out");
    for (int i = 0; i < kMaps; ++i)
        writeFile(folder / ("out/" + outputName(i)), tileSets[1][i]);

    auto batch = [&](int set) {
        std::vector<std::string> command{QUILLMERE_TILES_EXE, "-d", "out"};
        for (int i = 0; i < kMaps; ++i)
            command.push_back((set == 0 ? "a/" : "b/") + mapName(i));
        return command;
    };

    // One whole run, to know how long a kill may wait to land mid-batch.
    const auto started = Clock::now();
    ASSERT_EQ(ChildProcess(batch(0), folder.path().string()).wait().exitStatus, 0);
    const auto whole =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started);

    std::mt19937 random(20261207);
    std::uniform_int_distribution<long> delay(0, whole.count() * 11 / 10);
    int rounds = 0, mixed = 0, strays = 0;
    for (; rounds < kKillRounds; ++rounds) {
        ChildProcess child(batch(rounds % 2), folder.path().string());
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        child.kill();

        for (int i = 0; i < kMaps; ++i) {
            const Bytes now = readFile(folder / ("out/" + outputName(i)));
            if (now != tileSets[0][i] && now != tileSets[1][i]) {
                ++mixed;
                ADD_FAILURE() << "round " << rounds << ": " << outputName(i) << " holds "
                              << now.size() << " bytes that are neither tile set";
            }
        }
        strays = std::max(strays, temporaryFilesIn(folder / "out"));
    }
    // The next run into the folder removes what the killed ones left, and nothing else: not a
    // file of another name, nor a temporary whose writer still lives (and holds its lock).
    writeFile(folder / "out/.keep.part", {});
    const std::string live =
        folder / ("out/.map0.bmp.quillmere-" + std::to_string(::geteuid()) + "-0.part");
    writeFile(live, {});
    const int liveFd = ::open(live.c_str(), O_RDWR | O_CLOEXEC);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    ASSERT_EQ(::fcntl(liveFd, F_OFD_SETLK, &lock), 0);
    ASSERT_EQ(ChildProcess(batch(0), folder.path().string()).wait().exitStatus, 0);
    ::close(liveFd);
    const int after = temporaryFilesIn(folder / "out") - 2;
    std::cout << "[ crashes  ] " << rounds << " kill rounds over " << kMaps << " maps (a whole run "
              << whole.count() / 1000.0 << " ms): " << mixed << " mixed or short outputs, at most "
              << strays << " temporary files left by kills, " << after << " after the next run\n";
    EXPECT_EQ(mixed, 0);
    EXPECT_EQ(after, 0);
    EXPECT_TRUE(fs::exists(folder / "out/.keep.part")) << "a file not of our making was removed";
    EXPECT_TRUE(fs::exists(live)) << "a live writer's temporary file was removed";
}

// SIGINT, SIGTERM and SIGHUP at random moments: the run stops with its usual status, every
// output is whole, and no temporary file is left, without waiting for a next run to sweep.
TEST(CrashConsistency, AnInterruptedBatchLeavesNoTemporaryFile) {
    TempFolder folder;
    fs::create_directory(folder / "out");
    std::vector<std::string> command{QUILLMERE_TILES_EXE, "-d", "out"};
    std::vector<Bytes> tileSets;
    for (int i = 0; i < kMaps; ++i) {
        const Bytes map = patternBytes(60000, static_cast<unsigned>(i));
        writeFile(folder / mapName(i), map);
        command.push_back(mapName(i));
        tileSets.push_back(tileSetOf(map));
    }
    const auto started = Clock::now();
    ASSERT_EQ(ChildProcess(command, folder.path().string()).wait().exitStatus, 0);
    const auto whole =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started);

    constexpr int kRounds = 60;
    std::mt19937 random(20261208);
    std::uniform_int_distribution<long> delay(0, whole.count());
    int stopped = 0, strays = 0, reported = 0;
    for (int round = 0; round < kRounds; ++round) {
        const int signal = std::array{SIGINT, SIGTERM, SIGHUP}[round % 3];
        ChildProcess child(command, folder.path().string());
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        child.sendSignal(signal);
        const auto run = child.wait();
        // Before the program is ready for it, the signal ends it as it ends any program.
        EXPECT_TRUE(run.exitStatus == 0 || run.exitStatus == 128 + signal || run.exitStatus == -1)
            << "round " << round << ": status " << run.exitStatus << ": " << run.err;
        if (run.exitStatus == 128 + signal) {
            ++stopped;
            EXPECT_NE(run.err.find("interrupted by"), std::string::npos) << run.err;
            // The reports of maps already finished are not lost, nor cut in two.
            EXPECT_TRUE(run.out.empty() || run.out.ends_with('\n')) << run.out;
            reported += static_cast<int>(std::count(run.out.begin(), run.out.end(), '\n'));
        }
        strays += temporaryFilesIn(folder / "out");
        for (int i = 0; i < kMaps; ++i)
            EXPECT_EQ(readFile(folder / ("out/" + outputName(i))), tileSets[i])
                << "round " << round;
    }
    std::cout << "[ signals  ] " << kRounds << " rounds of SIGINT, SIGTERM or SIGHUP: " << stopped
              << " stopped the run cleanly, " << strays << " temporary files left, " << reported
              << " reports made before them\n";
    EXPECT_GT(stopped, 0);
    EXPECT_GT(reported, 0);
    EXPECT_EQ(strays, 0);
}

struct FullPipeRow {
    const char* name;
    std::vector<std::string> arguments; // `kBatch` stands for the maps of a batch
    int signal;
    QUILLMERE_PRINTS_ROW_NAME(FullPipeRow)
};

const std::string kBatch = "<maps>";

class CrashConsistencyFullPipe : public ::testing::TestWithParam<FullPipeRow> {};

// Whether one of the process's threads waits in a write, as it does on a full pipe (a batch
// writes its reports from the thread that finished a map).
bool waitsInAWrite(pid_t process) {
    const fs::path tasks = "/proc/" + std::to_string(process) + "/task";
    std::error_code error;
    for (const auto& task : fs::directory_iterator(tasks, error)) {
        std::ifstream call(task.path() / "syscall");
        std::string number;
        if (call >> number && number == std::to_string(SYS_write))
            return true;
    }
    return false;
}

// Standard output and error go to one full pipe that is never read, as under a stalled `| tee`
// or a paused terminal: the run waits in its report's write when the signal comes, and still
// ends within a second, with the signal's status and no temporary file.
TEST_P(CrashConsistencyFullPipe, AnInterruptEndsTheRunWithinASecond) {
    const FullPipeRow& row = GetParam();
    if (!std::ifstream("/proc/self/syscall"))
        GTEST_SKIP() << "/proc does not show what a process waits in";
    TempFolder folder;
    fs::create_directory(folder / "out");
    Bytes map = patternBytes(60000, 1);
    map[0] = 'B'; // a tile set that --put takes back
    map[1] = 'M';
    writeFile(folder / "Map.LVL", map);
    writeFile(folder / "Short.LVL", patternBytes(1000, 2));
    writeFile(folder / "Tiles.BMP", tileSetOf(map));
    std::vector<std::string> command{QUILLMERE_TILES_EXE};
    for (const auto& argument : row.arguments)
        for (int i = 0; i < (argument == kBatch ? 150 : 0); ++i) {
            writeFile(folder / mapName(i), patternBytes(50000, static_cast<unsigned>(i)));
            command.push_back(mapName(i));
        }
    std::copy_if(row.arguments.begin(), row.arguments.end(), std::back_inserter(command),
                 [](const std::string& argument) { return argument != kBatch; });

    ChildProcess child(command, folder.path().string(), {}, testing::StandardOutput::FullPipe);
    const auto giveUpAt = Clock::now() + std::chrono::seconds(20);
    while (!waitsInAWrite(child.pid()) && Clock::now() < giveUpAt)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(waitsInAWrite(child.pid())) << "the run never waited on the full pipe";
    child.sendSignal(row.signal);
    const auto run = child.wait(std::chrono::seconds(1));

    EXPECT_FALSE(run.timedOut) << "still running a second after the signal";
    EXPECT_EQ(run.exitStatus, 128 + row.signal);
    EXPECT_EQ(temporaryFilesIn(folder.path()) + temporaryFilesIn(folder / "out"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Interrupts, CrashConsistencyFullPipe,
    ::testing::Values(FullPipeRow{"one_conversion_SIGINT", {"Map.LVL", "Tiles.BMP"}, SIGINT},
                      FullPipeRow{"one_conversion_SIGTERM", {"Map.LVL", "Tiles.BMP"}, SIGTERM},
                      FullPipeRow{"one_conversion_SIGHUP", {"Map.LVL", "Tiles.BMP"}, SIGHUP},
                      FullPipeRow{"a_warning_on_standard_error", {"Short.LVL", "New.BMP"}, SIGINT},
                      FullPipeRow{"a_batch_SIGINT", {"-d", "out", kBatch}, SIGINT},
                      FullPipeRow{"a_batch_SIGTERM", {"-d", "out", kBatch}, SIGTERM},
                      FullPipeRow{"a_batch_SIGHUP", {"-d", "out", kBatch}, SIGHUP},
                      FullPipeRow{"put", {"--put", "Tiles.BMP", "Map.LVL"}, SIGTERM}),
    testing::rowName<FullPipeRow>);

TEST(CrashConsistency, TwoWritersLeaveOneWholeTileSet) {
    TempFolder folder;
    const Bytes first = patternBytes(60000, 1), second = patternBytes(60000, 2);
    writeFile(folder / "first.LVL", first);
    writeFile(folder / "second.LVL", second);
    constexpr int kRounds = 100;
    int whole[2] = {0, 0};
    for (int round = 0; round < kRounds; ++round) {
        ChildProcess one({QUILLMERE_TILES_EXE, "first.LVL", "Tiles.BMP"}, folder.path().string());
        ChildProcess two({QUILLMERE_TILES_EXE, "second.LVL", "Tiles.BMP"}, folder.path().string());
        const auto a = one.wait(), b = two.wait();
        // Into no output (the first round), the later rename leaves the earlier one's file.
        auto leftTheOther = [&](const testing::ProcessResult& run) {
            return round == 0 && run.err.find("appeared meanwhile") != std::string::npos;
        };
        ASSERT_TRUE(a.exitStatus == 0 || (leftTheOther(a) && b.exitStatus == 0))
            << "round " << round << ": " << a.err;
        ASSERT_TRUE(b.exitStatus == 0 || (leftTheOther(b) && a.exitStatus == 0))
            << "round " << round << ": " << b.err;
        const Bytes now = readFile(folder / "Tiles.BMP");
        ASSERT_TRUE(now == tileSetOf(first) || now == tileSetOf(second)) << "round " << round;
        ++whole[now == tileSetOf(first) ? 0 : 1];
        ASSERT_EQ(temporaryFilesIn(folder.path()), 0);
    }
    std::cout << "[ writers  ] " << kRounds
              << " rounds of two writers: the first map's tile set won " << whole[0]
              << " times, the second's " << whole[1] << ", never a mixture\n";
}

} // namespace
} // namespace quillmere
