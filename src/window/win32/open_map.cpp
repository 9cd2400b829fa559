#include "open_map.h"

#include "convert_window.h"

#include <shellapi.h>

namespace quillmere::win32 {

StartingMap startingMap(std::wstring_view commandLine) {
    const std::wstring line(commandLine);
    int count = 0;
    LPWSTR* arguments = ::CommandLineToArgvW(line.c_str(), &count);
    StartingMap start;
    // The first argument is the program itself.
    if (arguments != nullptr && count == 2)
        start.path = arguments[1];
    else if (arguments != nullptr && count > 2)
        start.complaint = L"Too many paths: open one map, or none.";
    ::LocalFree(arguments);
    return start;
}

void openMap(Convert& window, std::wstring_view mapPath) {
    window.chooseMap(mapPath);
}

} // namespace quillmere::win32
