#include "command_line.h"
#include "conversions.h"
#include "interrupts.h"
#include "quillmere/version.h"

#include <iostream>
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
    ::SetConsoleOutputCP(CP_UTF8);
    return arguments;
#else
    return std::vector<std::string>(argv + 1, argv + argc);
#endif
}

} // namespace

int main(int argc, char** argv) {
    using namespace quillmere::cli;
    const std::vector<std::string> arguments = argumentsOf(argc, argv);
    const auto parsed = parseCommandLine(arguments);
    if (const auto* error = std::get_if<UsageError>(&parsed)) {
        std::cerr << "quillmere-tiles: " << error->message << '\n'
                  << "Try 'quillmere-tiles --help' for more information.\n";
        return 2;
    }
    const auto& invocation = std::get<Invocation>(parsed);
    switch (invocation.action) {
    case Action::ShowHelp:
        std::cout << helpText();
        return 0;
    case Action::ShowVersion:
        std::cout << "quillmere-tiles " << quillmere::kVersion << '\n';
        return 0;
    case Action::ConvertOne:
    case Action::ConvertMany:
    case Action::PutTileSet:
        break;
    }
    const bool showProgress = isatty(2) != 0;
    int status = 0;
    {
        const InterruptWatch watch(showProgress);
        status = runConversions(invocation, std::cout, std::cerr, showProgress);
    }
    std::cout.flush();
    return std::cout ? status : 1;
}
