#pragma once

#include "temp_folder.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace quillmere::testing {

struct ProcessResult {
    int exitStatus = -1; // -1 when it did not exit by itself
    bool timedOut = false;
    std::string out;
    std::string err;
};

// Where a child's standard output goes: a file, nowhere (closed), a pipe nobody reads, or, with
// standard error too, a pipe that is full and whose reader never reads (a stalled `| tee`).
enum class StandardOutput { File, Closed, ReaderGone, FullPipe };

// A program started in `folder` with no standard input, what it prints going to files.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& command, const std::string& folder,
                 const std::vector<std::string>& extraEnvironment = {},
                 StandardOutput output = StandardOutput::File) {
        writeFile(capture_ / "stdin", {});
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, (capture_ / "stdin").c_str(), O_RDONLY, 0);
        int pipeEnds[2] = {-1, -1};
        switch (output) {
        case StandardOutput::File:
            posix_spawn_file_actions_addopen(&actions, 1, (capture_ / "stdout").c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0600);
            break;
        case StandardOutput::Closed:
            posix_spawn_file_actions_addclose(&actions, 1);
            break;
        case StandardOutput::ReaderGone:
        case StandardOutput::FullPipe:
            if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
                throw std::runtime_error("could not make a pipe");
            if (output == StandardOutput::ReaderGone)
                ::close(pipeEnds[0]);
            else
                fillPipe(pipeEnds);
            posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
            break;
        }
        if (output == StandardOutput::FullPipe)
            posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
        else
            posix_spawn_file_actions_addopen(&actions, 2, (capture_ / "stderr").c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());

        std::vector<char*> argv;
        for (const auto& word : command)
            argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        // A variable given here replaces one of the same name in this process's environment.
        auto overridden = [&](std::string_view variable) {
            const std::string_view name = variable.substr(0, variable.find('=') + 1);
            for (const auto& extra : extraEnvironment)
                if (extra.starts_with(name))
                    return true;
            return false;
        };
        std::vector<char*> envp;
        for (char** variable = environ; *variable != nullptr; ++variable)
            if (!overridden(*variable))
                envp.push_back(*variable);
        for (const auto& variable : extraEnvironment)
            envp.push_back(const_cast<char*>(variable.c_str()));
        envp.push_back(nullptr);

        const int spawned =
            posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (pipeEnds[1] >= 0)
            ::close(pipeEnds[1]);
        if (spawned != 0)
            throw std::runtime_error("could not start " + command.at(0));
    }
    ~ChildProcess() {
        if (pid_ > 0)
            kill();
        if (stalledReader_ >= 0)
            ::close(stalledReader_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void kill() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }

    void sendSignal(int signal) { ::kill(pid_, signal); }
    pid_t pid() const { return pid_; }

    ProcessResult wait(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        ProcessResult result;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                result.timedOut = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        pid_ = 0;
        if (!result.timedOut && WIFEXITED(status))
            result.exitStatus = WEXITSTATUS(status);
        const auto out = readFile(capture_ / "stdout");
        const auto err = readFile(capture_ / "stderr");
        result.out.assign(out.begin(), out.end());
        result.err.assign(err.begin(), err.end());
        return result;
    }

private:
    void fillPipe(const int ends[2]) {
        stalledReader_ = ends[0];
        const char block[4096] = {};
        ::fcntl(ends[1], F_SETFL, O_NONBLOCK);
        while (::write(ends[1], block, sizeof block) > 0) {
        }
        ::fcntl(ends[1], F_SETFL, 0);
    }

    TempFolder capture_;
    pid_t pid_ = 0;
    int stalledReader_ = -1;
};

inline ProcessResult runProcess(const std::vector<std::string>& command, const std::string& folder,
                                const std::vector<std::string>& extraEnvironment = {},
                                std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    return ChildProcess(command, folder, extraEnvironment).wait(limit);
}

// ASAN_OPTIONS as this process has them, with `more` added.
inline std::string asanOptionsWith(const std::string& more) {
    const char* current = std::getenv("ASAN_OPTIONS");
    return "ASAN_OPTIONS=" +
           (current != nullptr && *current != '\0' ? std::string(current) + ":" : "") + more;
}

} // namespace quillmere::testing
