// The least safe conversion as a program: one map, or many on threads of one process, each
// through least::convert, and the output folder flushed once at the end. The arguments are
// used where they lie, so that its memory is the floor for the same argument list.
//
// least-safe-copy MAP OUTPUT
// least-safe-copy [-j THREADS] -d DIR MAP...    (DIR/NAME.BMP, THREADS at once, 8 unless given)

#include "least_sequence.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kDefaultThreads = 8;
constexpr std::size_t kMaxFileName = 255;

std::atomic<bool> anyFailed{false};

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
    if (const char* failed = least::convert(map, folder, output))
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

int main(int argc, char** argv) {
    int threads = kDefaultThreads;
    const char* folder = nullptr;
    int at = 1;
    for (; at + 1 < argc; at += 2) {
        if (std::strcmp(argv[at], "-j") == 0)
            threads = std::atoi(argv[at + 1]);
        else if (std::strcmp(argv[at], "-d") == 0)
            folder = argv[at + 1];
        else
            break;
    }
    if (folder != nullptr && at < argc && threads > 0)
        return many(threads, folder, argv + at, argc - at);
    if (folder == nullptr && argc - at == 2)
        return one(argv[at], argv[at + 1]);
    std::fputs("usage: least-safe-copy MAP OUTPUT\n"
               "       least-safe-copy [-j THREADS] -d DIR MAP...\n",
               stderr);
    return 2;
}
