#include "command_line.h"
#include "conversions.h"
#include "interrupts.h"
#include "quillmere/version.h"
#include "report_buffer.h"
#include "standard_streams.h"

#include <csignal>
#include <cstring>
#include <optional>
#include <span>
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
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

#ifdef _WIN32
// The arguments as UTF-8, from the wide command line, so that any name survives.
std::vector<std::string> argumentsOf() {
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
}
#endif

// Exit status when every conversion went well but a report could not be written.
constexpr int kReportLost = 3;

// `watch` is made here for a run that converts, and kept by the caller until its last report
// is out: an interrupt still ends a run whose final write waits on a full pipe.
int run(std::span<char*> arguments, quillmere::cli::ReportBuffer& out,
        quillmere::cli::ReportBuffer& err, std::optional<quillmere::cli::InterruptWatch>& watch) {
    using namespace quillmere::cli;
    const auto parsed = parseCommandLine(arguments);
    if (const auto* error = std::get_if<UsageError>(&parsed)) {
        const std::string program(kProgramName);
        err << program + ": " + error->message + "\nTry '" + program +
                   " --help' for more information.\n";
        return 2;
    }
    const auto& invocation = std::get<Invocation>(parsed);
    switch (invocation.action) {
    case Action::ShowHelp:
        out << helpText();
        return 0;
    case Action::ShowVersion:
        out << kProgramName << ' ' << quillmere::kVersion << '\n';
        return 0;
    case Action::ConvertOne:
    case Action::ConvertMany:
    case Action::PutTileSet:
        break;
    }
    // Only a batch shows how far it got.
    const bool showProgress = invocation.action == Action::ConvertMany && isatty(2) != 0;
    watch.emplace(showProgress, out);
    return runConversions(invocation, out, err, showProgress);
}

} // namespace

int main(int argc, char** argv) {
    quillmere::files::holdClosedStandardStreams();
#ifdef _WIN32
    quillmere::cli::prepareConsole();
#endif
#ifndef _WIN32
    // A reader that went away must not cut a batch short: the failed write is reported instead.
    std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef __GLIBC__
    // A batch's threads allocate little, and glibc would give each a heap of its own: about
    // 15 KiB a thread that one shared heap does without.
    ::mallopt(M_ARENA_MAX, 1);
#endif
    using quillmere::cli::ReportBuffer;
    ReportBuffer out(1);
    ReportBuffer err(2, true);
    std::optional<quillmere::cli::InterruptWatch> watch;

#ifdef _WIN32
    (void)argc;
    (void)argv;
    std::vector<std::string> utf8 = argumentsOf();
    std::vector<char*> arguments;
    for (auto& argument : utf8)
        arguments.push_back(argument.data());
    const int status = run(arguments, out, err, watch);
#else
    // Taken where they lie: a batch of many maps makes no copy of its list.
    const int status =
        run(std::span(argv + 1, static_cast<std::size_t>(argc - 1)), out, err, watch);
#endif
    out.flush();
    if (out.failure() != 0)
        err << std::string(quillmere::cli::kProgramName) +
                   ": could not write its report to standard output: " +
                   std::string(std::strerror(out.failure())) + ".\n";
    const bool reportLost = out.failure() != 0 || err.failure() != 0;
    return status == 0 && reportLost ? kReportLost : status;
}
