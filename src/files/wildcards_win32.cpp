#include "wildcards.h"

#include <algorithm>
#include <windows.h>

namespace quillmere::files {
namespace {

std::wstring widen(std::string_view text) {
    const int length =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          length);
    return wide;
}

std::string narrow(std::wstring_view wide) {
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                             nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(std::max(length, 0)), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(),
                          length, nullptr, nullptr);
    return text;
}

bool listedBefore(const std::wstring& a, const std::wstring& b) {
    const auto size = [](const std::wstring& text) { return static_cast<int>(text.size()); };
    const int folded = ::CompareStringOrdinal(a.data(), size(a), b.data(), size(b), TRUE);
    return folded != CSTR_EQUAL ? folded == CSTR_LESS_THAN : a < b;
}

} // namespace

std::vector<std::string> expandWildcard(const std::string& path) {
    const std::wstring pattern = widen(path);
    if (!hasWildcard(path) || ::GetFileAttributesW(pattern.c_str()) != INVALID_FILE_ATTRIBUTES)
        return {path};

    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search =
        ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                           FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE)
        return {path};
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.emplace_back(found.cFileName);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    if (names.empty())
        return {path};

    std::sort(names.begin(), names.end(), listedBefore);
    const std::string folder = path.substr(0, path.find_last_of("/\\:") + 1); // npos + 1 is 0
    std::vector<std::string> paths;
    paths.reserve(names.size());
    for (const auto& name : names)
        paths.push_back(folder + narrow(name));
    return paths;
}

} // namespace quillmere::files
