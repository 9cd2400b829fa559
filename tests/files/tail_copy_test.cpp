// The rest of a map copied into a new file: every byte, no hole filled, blocks shared where the
// file system can share them. Runs in its own folder, or in the one QUILLMERE_TEST_FOLDER names
// (a loop-mounted btrfs, xfs or ext4, from on_loop_file_systems.sh).

#include "named_rows.h"
#include "tail_copy.h"
#include "temp_folder.h"

#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace quillmere {
namespace {

using testing::Bytes;
using testing::patternBytes;

constexpr std::uint64_t kOffset = 49713;
constexpr std::uint64_t kMiB = 1 << 20;

struct Extent {
    std::uint64_t offset;
    std::uint64_t length;
};

struct Row {
    const char* name;
    std::uint64_t size;
    std::vector<Extent> data; // the rest is a hole
    QUILLMERE_PRINTS_ROW_NAME(Row)
};

class TailCopy : public ::testing::TestWithParam<Row> {
protected:
    std::string folder() const {
        const char* given = std::getenv("QUILLMERE_TEST_FOLDER");
        return given != nullptr ? std::string(given) : own_.path().string();
    }
    testing::TempFolder own_;
};

struct Fd {
    explicit Fd(int value) : fd(value) {}
    ~Fd() { ::close(fd); }
    int fd;
};

std::uint64_t allocated(int fd) {
    struct stat status {};
    ::fstat(fd, &status);
    return static_cast<std::uint64_t>(status.st_blocks) * 512;
}

std::uint64_t freeBytes(int fd) {
    struct statvfs volume {};
    ::fsync(fd);
    ::syncfs(fd);
    ::fstatvfs(fd, &volume);
    return static_cast<std::uint64_t>(volume.f_bfree) * volume.f_frsize;
}

Bytes readAt(int fd, std::uint64_t offset, std::uint64_t length) {
    Bytes bytes(length);
    const auto got = ::pread(fd, bytes.data(), length, static_cast<off_t>(offset));
    bytes.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
    return bytes;
}

TEST_P(TailCopy, CopiesEveryByteAndKeepsHoles) {
    const Row& row = GetParam();
    const std::string from = folder() + "/" + row.name + ".LVL";
    const std::string to = folder() + "/" + row.name + ".new";
    Fd source(::open(from.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600));
    ASSERT_GE(source.fd, 0);
    ASSERT_EQ(::ftruncate(source.fd, static_cast<off_t>(row.size)), 0);
    unsigned seed = 1;
    for (const auto& extent : row.data) {
        const Bytes bytes = patternBytes(extent.length, seed++);
        ASSERT_EQ(
            ::pwrite(source.fd, bytes.data(), bytes.size(), static_cast<off_t>(extent.offset)),
            static_cast<ssize_t>(bytes.size()));
    }
    ASSERT_EQ(::fsync(source.fd), 0);
    Fd target(::open(to.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600));
    ASSERT_GE(target.fd, 0);
    const Bytes head = patternBytes(kOffset, 99); // the new tile set, written before the rest
    ASSERT_EQ(::pwrite(target.fd, head.data(), head.size(), 0), static_cast<ssize_t>(kOffset));
    const std::uint64_t freeBefore = freeBytes(target.fd);

    ASSERT_EQ(files::copyTail(source.fd, target.fd, kOffset), 0);

    struct stat copied {};
    ASSERT_EQ(::fstat(target.fd, &copied), 0);
    EXPECT_EQ(static_cast<std::uint64_t>(copied.st_size), row.size);
    EXPECT_EQ(readAt(target.fd, 0, kOffset), head);
    for (std::uint64_t at = kOffset; at < row.size; at += 16 * kMiB) {
        const std::uint64_t length = std::min<std::uint64_t>(16 * kMiB, row.size - at);
        ASSERT_EQ(readAt(target.fd, at, length), readAt(source.fd, at, length)) << "at " << at;
    }
    // Holes stay holes: no more is allocated than the map holds, give or take its edges.
    EXPECT_LE(allocated(target.fd), allocated(source.fd) + kMiB);
    // Where blocks can be shared, the copy takes next to no new space.
    if (std::getenv("QUILLMERE_EXPECT_SHARED_BLOCKS") != nullptr && row.size >= 16 * kMiB) {
        const std::uint64_t freeAfter = freeBytes(target.fd);
        EXPECT_LT(freeBefore - std::min(freeBefore, freeAfter), 4 * kMiB);
    }
    ::unlink(from.c_str());
    ::unlink(to.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Maps, TailCopy,
    ::testing::Values(
        Row{"nothing_after_the_tile_set", kOffset, {{0, kOffset}}},
        Row{"less_than_a_block_after_it", kOffset + 100, {{0, kOffset + 100}}},
        Row{"dense", 48 * kMiB, {{0, 48 * kMiB}}},
        Row{"sparse_with_level_data_in_the_middle", 256 * kMiB, {{0, 60000}, {100 * kMiB, 300000}}},
        Row{"ending_in_a_hole", 256 * kMiB, {{0, 60000}}},
        Row{"ending_in_data_after_a_hole", 64 * kMiB, {{0, 60000}, {64 * kMiB - 5000, 5000}}}),
    testing::rowName<Row>);

} // namespace
} // namespace quillmere
