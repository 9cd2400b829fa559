#include "tail_copy.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quillmere::files {
namespace {

// Bounded so that an interrupt or a full disk is noticed between pieces, and the fallback's
// buffer stays small.
constexpr std::size_t kPiece = 1 << 20;

// The portable way, for file systems that copy nothing in the kernel.
int copyThroughBuffer(int from, int to, off_t begin, off_t end) {
    std::vector<char> buffer(kPiece);
    while (begin < end) {
        const auto wanted = static_cast<std::size_t>(std::min<off_t>(end - begin, kPiece));
        const ssize_t got = ::pread(from, buffer.data(), wanted, begin);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (got == 0)
            return EIO; // the file shrank under us: what was promised is not there
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::pwrite(to, buffer.data() + done,
                                         static_cast<std::size_t>(got - done), begin + done);
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            done += put;
        }
        begin += got;
    }
    return 0;
}

int copyRange(int from, int to, off_t begin, off_t end) {
    while (begin < end) {
        off_t in = begin;
        off_t out = begin;
        const auto wanted = static_cast<std::size_t>(std::min<off_t>(end - begin, 64 * kPiece));
        const ssize_t copied = ::copy_file_range(from, &in, to, &out, wanted, 0);
        if (copied > 0) {
            begin += copied;
            continue;
        }
        if (copied == 0)
            return EIO;
        if (errno == EINTR)
            continue;
        // Not across these file systems, or not by this kernel: copy it ourselves.
        if (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)
            return copyThroughBuffer(from, to, begin, end);
        return errno;
    }
    return 0;
}

// Shares the blocks from `begin` (a multiple of the block size) to the end, where the file
// system can: btrfs, xfs with reflink, bcachefs.
bool shareBlocks(int from, int to, off_t begin) {
    file_clone_range range{};
    range.src_fd = from;
    range.src_offset = static_cast<std::uint64_t>(begin);
    range.src_length = 0; // to the end of the source
    range.dest_offset = static_cast<std::uint64_t>(begin);
    return ::ioctl(to, FICLONERANGE, &range) == 0;
}

} // namespace

int copyTail(std::intptr_t fromHandle, std::intptr_t toHandle, std::uint64_t offset) {
    const int from = static_cast<int>(fromHandle);
    const int to = static_cast<int>(toHandle);
    struct stat status {};
    if (::fstat(from, &status) != 0)
        return errno;
    const off_t end = status.st_size;
    const auto start = static_cast<off_t>(offset);
    // The whole length first: a hole at the end then stays a hole.
    if (::ftruncate(to, std::max(end, start)) != 0)
        return errno;
    if (start >= end)
        return 0;

    const off_t block = status.st_blksize > 0 ? status.st_blksize : 4096;
    const off_t aligned = std::min(end, (start + block - 1) / block * block);
    if (const int error = copyRange(from, to, start, aligned))
        return error;
    if (aligned == end || shareBlocks(from, to, aligned))
        return 0;

    // Only the stretches that hold data; what lies between stays a hole.
    for (off_t at = aligned; at < end;) {
        const off_t data = ::lseek(from, at, SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO)
                return 0;                        // nothing but a hole to the end
            return copyRange(from, to, at, end); // no hole finding here: copy it all
        }
        off_t hole = ::lseek(from, data, SEEK_HOLE);
        if (hole < 0 || hole > end)
            hole = end;
        if (const int error = copyRange(from, to, data, hole))
            return error;
        at = hole;
    }
    return 0;
}

} // namespace quillmere::files
