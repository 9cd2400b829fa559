// quillmere-tile-converter.exe: the window, and nothing else.
#include "convert_window.h"
#include "open_map.h"
#include "text_encoding.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    // Explorer's "Open with" passes the map as the one argument.
    const auto start = quillmere::win32::startingMap(::GetCommandLineW());
    if (!start.complaint.empty()) {
        ::MessageBoxW(nullptr, start.complaint.c_str(),
                      quillmere::win32::widen(quillmere::kWindowCaption).c_str(),
                      MB_OK | MB_ICONERROR);
        return 2;
    }
    quillmere::win32::Convert window(instance);
    if (window.window() == nullptr) {
        const std::wstring prompt =
            L"QuillMere Tile Converter could not open its window: " + window.failure() + L".";
        ::MessageBoxW(nullptr, prompt.c_str(),
                      quillmere::win32::widen(quillmere::kWindowCaption).c_str(),
                      MB_OK | MB_ICONERROR);
        return 1;
    }
    if (start.path)
        quillmere::win32::openMap(window, *start.path);
    ::ShowWindow(window.window(), showCommand);
    return quillmere::win32::runMessageLoop(window);
}
