// The least safe conversion as a program: one map, or many on threads of one process, each
// through least::convert, and the output folder flushed once at the end. The arguments are
// used where they lie, so that its memory is the floor for the same argument list.
//
// least-safe-copy [-s] MAP OUTPUT
// least-safe-copy [-s] [-j THREADS] -d DIR MAP...  (DIR/NAME.BMP, THREADS at once, 8 unless given)
// least-safe-copy -u DEPTH -d DIR MAP...           (the same through io_uring, DEPTH maps at once)
//
// Each old output is held open across its rename, as quillmere-tiles holds it; -s leaves it
// unheld, the straw man whose renames release the old blocks under the folder's lock.

#include "least_sequence.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>
#ifdef LEAST_WITH_URING
#include <liburing.h>
#endif

namespace {

constexpr int kDefaultThreads = 8;
constexpr std::size_t kMaxFileName = 255;

std::atomic<bool> anyFailed{false};
least::OldOutput oldOutput = least::OldOutput::Held;

void complain(const char* step, const char* path) {
    std::fprintf(stderr, "least-safe-copy: %s: %s: %s\n", path, step, std::strerror(errno));
    anyFailed = true;
}

int openFolder(const char* path) {
    const int folder = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        complain("open", path);
        std::exit(1);
    }
    return folder;
}

void convert(const char* map, int folder, const char* output) {
    if (const char* failed = least::convert(map, folder, output, oldOutput))
        complain(failed, map);
}

int finish(int folder) {
    if (::fsync(folder) != 0)
        complain("fsync", "the output folder");
    ::close(folder);
    return anyFailed ? 1 : 0;
}

int one(const char* map, const char* output) {
    const char* slash = std::strrchr(output, '/');
    char folder[4096] = ".";
    if (slash == output)
        std::strcpy(folder, "/");
    else if (slash != nullptr)
        std::snprintf(folder, sizeof folder, "%.*s", static_cast<int>(slash - output), output);
    const int opened = openFolder(folder);
    convert(map, opened, slash == nullptr ? output : slash + 1);
    return finish(opened);
}

// NAME.BMP, NAME being the map's file name without its last extension.
void outputName(const char* map, char (&into)[kMaxFileName + 1]) {
    const char* slash = std::strrchr(map, '/');
    const std::string_view file = slash == nullptr ? map : slash + 1;
    const auto dot = file.rfind('.');
    const std::size_t stem = dot == std::string_view::npos || dot == 0 ? file.size() : dot;
    std::snprintf(into, sizeof into, "%.*s.BMP", static_cast<int>(stem), file.data());
}

int many(int threads, const char* folderPath, char** maps, int count) {
    const int folder = openFolder(folderPath);
    std::atomic<int> next{0};
    auto work = [&] {
        char output[kMaxFileName + 1];
        for (int index = next++; index < count; index = next++) {
            outputName(maps[index], output);
            convert(maps[index], folder, output);
        }
    };
    std::vector<std::thread> workers;
    for (int worker = 0; worker < threads && worker < count; ++worker)
        workers.emplace_back(work);
    for (auto& worker : workers)
        worker.join();
    return finish(folder);
}

} // namespace

#ifdef LEAST_WITH_URING
// The same sequence on one thread, as linked io_uring requests: write, fdatasync, linkat and
// renameat of `depth` maps at once. Reading the map and making the unnamed file stay plain
// calls: the map is in the page cache, and neither waits on the disk.
class Ring {
public:
    Ring(int depth, int folder, char** maps, int count)
        : slots_(static_cast<std::size_t>(depth)), folder_(folder), maps_(maps), count_(count) {
        if (const int error =
                io_uring_queue_init(static_cast<unsigned>(depth) * kSteps, &ring_, 0)) {
            errno = -error;
            complain("io_uring_queue_init", "the ring");
            std::exit(1);
        }
    }
    ~Ring() { io_uring_queue_exit(&ring_); }

    void run() {
        int inFlight = 0;
        for (auto& slot : slots_)
            inFlight += start(slot);
        io_uring_submit(&ring_);
        while (inFlight > 0) {
            io_uring_cqe* completion = nullptr;
            if (const int error = io_uring_wait_cqe(&ring_, &completion)) {
                errno = -error;
                complain("io_uring_wait_cqe", "the ring");
                std::exit(1);
            }
            Slot& slot = slots_[completion->user_data / kSteps];
            const int step = static_cast<int>(completion->user_data % kSteps);
            if (completion->res < 0 && !slot.failed) {
                errno = -completion->res;
                complain(kStepNames[step], maps_[slot.map]);
                slot.failed = true;
            }
            io_uring_cqe_seen(&ring_, completion);
            if (--slot.pending == 0) {
                ::close(slot.fd);
                if (slot.old >= 0)
                    ::close(slot.old);
                inFlight -= 1 - start(slot);
                io_uring_submit(&ring_);
            }
        }
    }

private:
    static constexpr unsigned kSteps = 4;
    static constexpr const char* kStepNames[kSteps] = {"write", "fdatasync", "linkat", "renameat"};

    struct Slot {
        char tileSet[least::kTileSetLength];
        char temporary[32];
        char output[kMaxFileName + 1];
        int fd = -1, old = -1, map = -1, pending = 0;
        bool failed = false;
    };

    // Queues the next map's requests in `slot`; false when no map is left.
    bool start(Slot& slot) {
        while (next_ < count_) {
            slot.map = next_++;
            slot.failed = false;
            if (const char* failed = least::read(maps_[slot.map], slot.tileSet)) {
                complain(failed, maps_[slot.map]);
                continue;
            }
            slot.fd = ::openat(folder_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
            if (slot.fd < 0) {
                complain("open an unnamed temporary file", maps_[slot.map]);
                continue;
            }
            std::snprintf(slot.temporary, sizeof slot.temporary, ".least.%d.part", slot.fd);
            outputName(maps_[slot.map], slot.output);
            slot.old = least::holdOldOutput(folder_, slot.output);
            const auto base = static_cast<std::uint64_t>(&slot - slots_.data()) * kSteps;
            io_uring_sqe* write = io_uring_get_sqe(&ring_);
            io_uring_prep_write(write, slot.fd, slot.tileSet, sizeof slot.tileSet, 0);
            io_uring_sqe* flush = io_uring_get_sqe(&ring_);
            io_uring_prep_fsync(flush, slot.fd, IORING_FSYNC_DATASYNC);
            io_uring_sqe* name = io_uring_get_sqe(&ring_);
            io_uring_prep_linkat(name, slot.fd, "", folder_, slot.temporary, AT_EMPTY_PATH);
            io_uring_sqe* rename = io_uring_get_sqe(&ring_);
            io_uring_prep_renameat(rename, folder_, slot.temporary, folder_, slot.output, 0);
            io_uring_sqe* steps[kSteps] = {write, flush, name, rename};
            for (unsigned step = 0; step < kSteps; ++step) {
                io_uring_sqe_set_data64(steps[step], base + step);
                if (step + 1 < kSteps)
                    steps[step]->flags |= IOSQE_IO_LINK;
            }
            slot.pending = kSteps;
            return true;
        }
        return false;
    }

    std::vector<Slot> slots_;
    io_uring ring_{};
    int folder_;
    char** maps_;
    int count_;
    int next_ = 0;
};
#endif

int main(int argc, char** argv) {
    int threads = kDefaultThreads;
    const char* folder = nullptr;
    [[maybe_unused]] int depth = 0; // used with io_uring only
    int at = 1;
    for (; at + 1 < argc; at += 2) {
        if (std::strcmp(argv[at], "-s") == 0) {
            oldOutput = least::OldOutput::NotHeld;
            --at; // takes no value
        } else if (std::strcmp(argv[at], "-j") == 0)
            threads = std::atoi(argv[at + 1]);
        else if (std::strcmp(argv[at], "-d") == 0)
            folder = argv[at + 1];
#ifdef LEAST_WITH_URING
        else if (std::strcmp(argv[at], "-u") == 0)
            depth = std::atoi(argv[at + 1]);
#endif
        else
            break;
    }
#ifdef LEAST_WITH_URING
    if (folder != nullptr && at < argc && depth > 0) {
        const int opened = openFolder(folder);
        Ring(depth, opened, argv + at, argc - at).run();
        return finish(opened);
    }
#endif
    if (folder != nullptr && at < argc && threads > 0)
        return many(threads, folder, argv + at, argc - at);
    if (folder == nullptr && argc - at == 2)
        return one(argv[at], argv[at + 1]);
    std::fputs("usage: least-safe-copy [-s] MAP OUTPUT\n"
               "       least-safe-copy [-s] [-j THREADS] -d DIR MAP...\n",
               stderr);
    return 2;
}
