#include "command_line.h"
#include "conversions.h"
#include "quillmere/version.h"

#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

int main(int argc, char** argv) {
    using namespace quillmere::cli;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
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
        break;
    }
    const int status = runConversions(invocation, std::cout, std::cerr, isatty(2) != 0);
    std::cout.flush();
    return std::cout ? status : 1;
}
