// Records the system calls of one conversion and checks their order: the tile set is written
// to a temporary file, flushed to disk, named, renamed over the output, and then the folder is
// flushed, so that the rename itself is on disk before the run says it is done. The temporary
// stays open (and locked) until after the rename. An interrupt while the named temporary is in
// flight removes it.

#include "named_rows.h"
#include "run_process.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>

namespace quillmere {
namespace {

using testing::patternBytes;
using testing::readFile;
using testing::TempFolder;
using testing::writeFile;

TEST(WriteOrder, TheFileIsFlushedBeforeTheRenameAndTheFolderAfterIt) {
    TempFolder folder;
    writeFile(folder / "Map.LVL", patternBytes(60000, 1));
    writeFile(folder / "Tiles.BMP", patternBytes(100, 2));
    const std::string log = folder / "calls.log";

    const auto run = testing::runProcess(
        {QUILLMERE_STRACE, "-f", "-qq", "-o", log, "-e",
         "trace=open,openat,write,fsync,fdatasync,close,linkat,rename,renameat,renameat2",
         QUILLMERE_TILES_EXE, "Map.LVL", "Tiles.BMP"},
        // LeakSanitizer cannot run under a tracer.
        folder.path().string(), {testing::asanOptionsWith("detect_leaks=0")});
    if (run.exitStatus != 0 && run.err.starts_with("strace:"))
        GTEST_SKIP() << "strace cannot trace here: " << run.err;
    ASSERT_EQ(run.exitStatus, 0) << run.err;

    const auto bytes = readFile(log);
    std::istringstream calls(std::string(bytes.begin(), bytes.end()));
    // The temporary file is either created under its own name, or unnamed (O_TMPFILE) and
    // linked to a name once it is flushed.
    const std::regex created(R"re(open(at)?\(.*"(.*)", [^)]*(O_CREAT|O_TMPFILE)[^)]*\) = (\d+))re");
    // Linked from its descriptor, or through /proc where the process may not do that.
    const std::regex named(
        R"re(linkat\((?:AT_FDCWD, "/proc/self/fd/)?(\d+)"?, (?:"", )?\d+, "(.*\.part)")re");
    const std::regex renamed(R"re(renameat2?\((\d+), "(.*)", \d+, "Tiles.BMP")re");
    std::string temporary, fd, renamedIn, line;
    long written = 0;
    bool flushed = false, folderFlushed = false;
    while (std::getline(calls, line)) {
        // strace -f puts the process id first.
        line = std::regex_replace(line, std::regex(R"(^\d+\s+)"), "");
        std::smatch match;
        if (fd.empty() && std::regex_search(line, match, created)) {
            fd = match[4];
            if (match[3] == "O_CREAT")
                temporary = match[2];
        } else if (!fd.empty() && std::regex_search(line, match, named) && match[1] == fd) {
            EXPECT_TRUE(flushed) << "named before the flush: " << line;
            temporary = match[2];
        } else if (!fd.empty() && line.starts_with("write(" + fd + ",")) {
            EXPECT_FALSE(flushed) << "written after the flush: " << line;
            written += std::stol(line.substr(line.rfind('=') + 1));
        } else if (!fd.empty() && (line.starts_with("fdatasync(" + fd + ")") ||
                                   line.starts_with("fsync(" + fd + ")"))) {
            EXPECT_TRUE(line.ends_with("= 0")) << line;
            flushed = true;
        } else if (renamedIn.empty() && line.starts_with("close(" + fd + ")")) {
            ADD_FAILURE() << "closed, and so unlocked, before the rename: " << line;
        } else if (!temporary.empty() && std::regex_search(line, match, renamed) &&
                   match[2] == temporary) {
            EXPECT_TRUE(flushed) << "renamed before the flush: " << line;
            renamedIn = match[1];
        } else if (!renamedIn.empty() && line.starts_with("fsync(" + renamedIn + ")")) {
            EXPECT_TRUE(line.ends_with("= 0")) << line;
            folderFlushed = true;
        }
    }
    EXPECT_FALSE(temporary.empty()) << "no temporary file was created";
    EXPECT_EQ(written, 49713);
    EXPECT_FALSE(renamedIn.empty()) << "the temporary file was not renamed over the output";
    EXPECT_TRUE(folderFlushed) << "the folder was not flushed after the rename";
}

struct InFlightRow {
    const char* name;
    std::vector<std::string> arguments;
    std::string changed; // the file the run replaces
    int signal;
    QUILLMERE_PRINTS_ROW_NAME(InFlightRow)
};

class WriteOrderInterrupted : public ::testing::TestWithParam<InFlightRow> {};

bool temporaryIn(const std::filesystem::path& folder) {
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().ends_with(".part"))
            return true;
    return false;
}

// The naming of the temporary is held back by the tracer, so that the signal comes while it
// is in flight: a single run has no thread to remove it, its signal handler does.
TEST_P(WriteOrderInterrupted, TheOneTemporaryInFlightIsRemoved) {
    const InFlightRow& row = GetParam();
    TempFolder folder;
    auto map = patternBytes(60000, 1);
    map[0] = 'B'; // a tile set that --put takes back
    map[1] = 'M';
    writeFile(folder / "Map.LVL", map);
    writeFile(folder / "Tiles.BMP", {map.begin(), map.begin() + 49713}); // fits the map
    const auto before = readFile(folder / row.changed);
    std::vector<std::string> command{QUILLMERE_STRACE,
                                     "-f",
                                     "-qq",
                                     "-o",
                                     folder / "calls.log",
                                     "-e",
                                     "trace=linkat,openat",
                                     "-e",
                                     "inject=linkat,openat:delay_exit=300000",
                                     QUILLMERE_TILES_EXE};
    command.insert(command.end(), row.arguments.begin(), row.arguments.end());
    testing::ChildProcess tracer(command, folder.path().string(),
                                 {testing::asanOptionsWith("detect_leaks=0")});
    const auto giveUpAt = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!temporaryIn(folder.path()) && std::chrono::steady_clock::now() < giveUpAt)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::ifstream children("/proc/" + std::to_string(tracer.pid()) + "/task/" +
                           std::to_string(tracer.pid()) + "/children");
    pid_t traced = 0;
    if (!(children >> traced) || !temporaryIn(folder.path())) {
        const auto run = tracer.wait();
        if (run.err.starts_with("strace:"))
            GTEST_SKIP() << "strace cannot trace here: " << run.err;
        FAIL() << "no temporary was ever in flight: " << run.err;
    }
    ::kill(traced, row.signal);
    const auto run = tracer.wait();

    EXPECT_EQ(run.exitStatus, 128 + row.signal) << run.err;
    EXPECT_FALSE(temporaryIn(folder.path())) << "the temporary in flight was left";
    EXPECT_EQ(readFile(folder / row.changed), before);
    EXPECT_EQ(run.err.find("interrupted by"), run.err.rfind("interrupted by")) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Interrupts, WriteOrderInterrupted,
    ::testing::Values(
        InFlightRow{"conversion_SIGINT", {"Map.LVL", "Tiles.BMP"}, "Tiles.BMP", SIGINT},
        InFlightRow{"conversion_SIGHUP", {"Map.LVL", "Tiles.BMP"}, "Tiles.BMP", SIGHUP},
        InFlightRow{"put_SIGTERM", {"--put", "Tiles.BMP", "Map.LVL"}, "Map.LVL", SIGTERM}),
    testing::rowName<InFlightRow>);

} // namespace
} // namespace quillmere
