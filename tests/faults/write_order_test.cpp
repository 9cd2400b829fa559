// Records the system calls of one conversion and checks their order: the tile set is written
// to a temporary file, flushed to disk, named, renamed over the output, and then the folder is
// flushed, so that the rename itself is on disk before the run says it is done. The temporary
// stays open (and locked) until after the rename.

#include "run_process.h"

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
    const std::regex named(R"re(linkat\(.*"/proc/self/fd/(\d+)", .*"(.*\.part)")re");
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

} // namespace
} // namespace quillmere
