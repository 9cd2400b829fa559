#include "command_line.h"
#include "conversions.h"
#include "interrupts.h"
#include "quillmere/version.h"
#include "standard_streams.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#ifdef _WIN32
#include "windows_console.h"

#include <io.h>
#include <windows.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

namespace {

// The arguments as UTF-8: on Windows from the wide command line, so that any name survives.
std::vector<std::string> argumentsOf(int argc, char** argv) {
#ifdef _WIN32
    (void)argc;
    (void)argv;
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int at = 1; at < count; ++at) {
        const int length =
            ::WideCharToMultiByte(CP_UTF8, 0, wide[at], -1, nullptr, 0, nullptr, nullptr);
        std::string text(static_cast<std::size_t>(length > 0 ? length - 1 : 0), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, wide[at], -1, text.data(), length, nullptr, nullptr);
        arguments.push_back(std::move(text));
    }
    ::LocalFree(wide);
    return arguments;
#else
    return std::vector<std::string>(argv + 1, argv + argc);
#endif
}

#ifdef _WIN32
// The console's code page and mode belong to the console, not to this run: they go back as
// they were, after the last line is out.
struct ConsoleForThisRun {
    ConsoleForThisRun() { quillmere::cli::prepareConsole(); }
    ~ConsoleForThisRun() { quillmere::cli::restoreConsole(); }
};
#endif

// Exit status when every conversion went well but a report could not be written.
constexpr int kReportLost = 3;

// Writes to standard output or error, remembering why its first write failed: a report that
// cannot be written (closed, a pipe whose reader is gone, a full disk) is then said, not lost.
class ReportBuffer : public std::streambuf {
public:
    explicit ReportBuffer(int descriptor) : descriptor_(descriptor) { reset(); }
    ReportBuffer(const ReportBuffer&) = delete;
    ReportBuffer& operator=(const ReportBuffer&) = delete;
    ~ReportBuffer() override { sync(); }

    // The system's error number for the first failed write, or 0.
    int failure() const { return failure_; }

protected:
    int_type overflow(int_type c) override {
        if (sync() != 0)
            return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }

    int sync() override {
        const char* next = pbase();
        while (next < pptr()) {
            const long written = writeSome(next, static_cast<std::size_t>(pptr() - next));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                if (failure_ == 0)
                    failure_ = written < 0 ? errno : EIO;
                break;
            }
            next += written;
        }
        const bool complete = next == pptr();
        reset();
        return complete ? 0 : -1;
    }

private:
    long writeSome(const char* data, std::size_t size) const {
#ifdef _WIN32
        return ::_write(descriptor_, data, static_cast<unsigned>(size));
#else
        return ::write(descriptor_, data, size);
#endif
    }
    void reset() {
        setp(buffer_, buffer_ + sizeof buffer_);
    }

    int descriptor_;
    int failure_ = 0;
    char buffer_[4096];
};

int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    using namespace quillmere::cli;
    const auto parsed = parseCommandLine(arguments);
    if (const auto* error = std::get_if<UsageError>(&parsed)) {
        err << "quillmere-tiles: " << error->message << '\n'
            << "Try 'quillmere-tiles --help' for more information.\n";
        return 2;
    }
    const auto& invocation = std::get<Invocation>(parsed);
    switch (invocation.action) {
    case Action::ShowHelp:
        out << helpText();
        return 0;
    case Action::ShowVersion:
        out << "quillmere-tiles " << quillmere::kVersion << '\n';
        return 0;
    case Action::ConvertOne:
    case Action::ConvertMany:
    case Action::PutTileSet:
        break;
    }
    const bool showProgress = isatty(2) != 0;
    const InterruptWatch watch(showProgress);
    return runConversions(invocation, out, err, showProgress);
}

} // namespace

int main(int argc, char** argv) {
    quillmere::holdClosedStandardStreams();
#ifdef _WIN32
    // Declared first, so that it is restored after the reports below are flushed.
    const ConsoleForThisRun console;
#endif
#ifndef _WIN32
    // A reader that went away must not cut a batch short: the failed write is reported instead.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    ReportBuffer outBuffer(1);
    ReportBuffer errBuffer(2);
    std::ostream out(&outBuffer);
    std::ostream err(&errBuffer);
    err << std::unitbuf;

    const int status = run(argumentsOf(argc, argv), out, err);
    out.flush();
    if (outBuffer.failure() != 0)
        err << "quillmere-tiles: could not write its report to standard output: "
            << std::strerror(outBuffer.failure()) << ".\n";
    const bool reportLost = outBuffer.failure() != 0 || errBuffer.failure() != 0;
    return status == 0 && reportLost ? kReportLost : status;
}
