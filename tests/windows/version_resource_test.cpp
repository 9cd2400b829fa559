// Reads this executable's own resources, compiled from the window's .rc file, back through the
// Windows API: the version record and the icon group must be what Explorer will show.

#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <windows.h>

namespace {

std::vector<BYTE> versionRecord() {
    wchar_t path[MAX_PATH];
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::vector<BYTE> record(::GetFileVersionInfoSizeW(path, nullptr));
    if (record.empty() ||
        !::GetFileVersionInfoW(path, 0, static_cast<DWORD>(record.size()), record.data()))
        record.clear();
    return record;
}

std::wstring stringValue(std::vector<BYTE>& record, const std::wstring& name) {
    wchar_t* value = nullptr;
    UINT length = 0;
    const std::wstring query = L"\\StringFileInfo\\040904B0\\" + name;
    if (!::VerQueryValueW(record.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
        return L"(missing)";
    return std::wstring(value, length > 0 ? length - 1 : 0);
}

TEST(VersionResource, CarriesVersionDescriptionAndLanguage) {
    auto record = versionRecord();
    ASSERT_FALSE(record.empty()) << "no version record";

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(record.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    const DWORD high = MAKELONG(QUILLMERE_VERSION_MINOR, QUILLMERE_VERSION_MAJOR);
    const DWORD low = MAKELONG(QUILLMERE_VERSION_TWEAK, QUILLMERE_VERSION_PATCH);
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);

    EXPECT_EQ(stringValue(record, L"FileVersion"), QUILLMERE_VERSION_RECORD);
    EXPECT_EQ(stringValue(record, L"ProductVersion"), QUILLMERE_VERSION_RECORD);
    EXPECT_EQ(stringValue(record, L"FileDescription"), L"Converts maps' tiles into .bmp form");

    WORD* translation = nullptr;
    ASSERT_TRUE(::VerQueryValueW(record.data(), L"\\VarFileInfo\\Translation",
                                 reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(translation[0], 0x0409); // US English
    EXPECT_EQ(translation[1], 0x04B0); // Unicode
}

#pragma pack(push, 2)
struct IconGroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitsPerPixel;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST(VersionResource, HasTheThreeClassicIconImages) {
    HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14));
    ASSERT_NE(found, nullptr) << "no icon group";
    const auto* group = static_cast<const BYTE*>(::LockResource(::LoadResource(nullptr, found)));
    const WORD count = *reinterpret_cast<const WORD*>(group + 4);
    ASSERT_EQ(count, 3);
    const auto* entries = reinterpret_cast<const IconGroupEntry*>(group + 6);
    const int expected[3][2] = {{32, 1}, {32, 4}, {16, 4}}; // side, bits per pixel
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(entries[i].width, expected[i][0]) << "image " << i;
        EXPECT_EQ(entries[i].height, expected[i][0]) << "image " << i;
        EXPECT_EQ(entries[i].bitsPerPixel, expected[i][1]) << "image " << i;
    }
}

} // namespace
