// Runs a command in a console of its own and writes what the console then shows, as UTF-8, to
// a file: what a person at that console would read, whatever bytes the command sent.
//   console_screen SCREEN-FILE COMMAND-LINE
#include <string>
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    ::FreeConsole();
    if (argc != 3 || !::AllocConsole())
        return 100;
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    auto open = [&](const wchar_t* name) {
        return ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inherited, OPEN_EXISTING, 0, nullptr);
    };
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = open(L"CONIN$");
    startup.hStdOutput = startup.hStdError = open(L"CONOUT$");
    PROCESS_INFORMATION process{};
    std::wstring command = argv[2];
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                          &startup, &process))
        return 101;
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    ::GetExitCodeProcess(process.hProcess, &status);

    CONSOLE_SCREEN_BUFFER_INFO screen{};
    ::GetConsoleScreenBufferInfo(startup.hStdOutput, &screen);
    std::wstring shown;
    for (SHORT row = 0; row <= screen.dwCursorPosition.Y; ++row) {
        std::wstring line(static_cast<std::size_t>(screen.dwSize.X), L' ');
        DWORD read = 0;
        ::ReadConsoleOutputCharacterW(startup.hStdOutput, line.data(), screen.dwSize.X,
                                      COORD{0, row}, &read);
        line.resize(read);
        line.resize(line.find_last_not_of(L' ') + 1); // npos + 1 is 0
        shown += line + L'\n';
    }
    std::string text(shown.size() * 3, '\0');
    text.resize(static_cast<std::size_t>(
        ::WideCharToMultiByte(CP_UTF8, 0, shown.data(), static_cast<int>(shown.size()), text.data(),
                              static_cast<int>(text.size()), nullptr, nullptr)));
    const HANDLE file =
        ::CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    if (!::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
        return 102;
    ::CloseHandle(file);
    return static_cast<int>(status);
}
