#include "command_line.h"
#include "conversions.h"
#include "interrupts.h"
#include "quillmere/version.h"

#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#define isatty _isatty
#else
#include <unistd.h>
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
    ::SetConsoleOutputCP(CP_UTF8);
    return arguments;
}
#endif

} // namespace

int main(int argc, char** argv) {
    using namespace quillmere::cli;
#ifdef _WIN32
    (void)argc;
    (void)argv;
    std::vector<std::string> utf8 = argumentsOf();
    std::vector<char*> arguments;
    for (auto& argument : utf8)
        arguments.push_back(argument.data());
    const auto parsed = parseCommandLine(arguments);
#else
    // Taken where they lie: a batch of many maps makes no copy of its list.
    const auto parsed = parseCommandLine(std::span(argv + 1, static_cast<std::size_t>(argc - 1)));
#endif
    TextOut out(stdout), err(stderr);
    if (const auto* error = std::get_if<UsageError>(&parsed)) {
        err << "quillmere-tiles: " + error->message +
                   "\nTry 'quillmere-tiles --help' for more information.\n";
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
        break;
    }
    const bool showProgress = isatty(2) != 0;
    int status = 0;
    {
        const InterruptWatch watch(showProgress);
        status = runConversions(invocation, out, err, showProgress);
    }
    return out.flushedWhole() ? status : 1;
}
