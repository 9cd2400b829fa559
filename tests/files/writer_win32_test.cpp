// The Windows writer through the Windows API itself: what it keeps of an old output, long
// paths, links, a held output and the leftovers of killed runs. Runs under Wine as well.

#include "file_layer.h"
#include "temp_folder.h"
#include "tile_set.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <memory>
#include <sddl.h>
#include <windows.h>

namespace quillmere {
namespace {

using testing::Bytes;
using testing::patternBytes;
using testing::readFile;
using testing::TempFolder;
using testing::writeFile;

std::wstring wide(const std::string& text) {
    std::wstring result(text.size(), L'\0');
    result.resize(static_cast<std::size_t>(
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                              static_cast<int>(result.size()))));
    return result;
}

// Test folders are absolute: the "\\?\" form reaches past 260 characters without help.
std::wstring longForm(const std::string& path) {
    return L"\\\\?\\" + wide(path);
}

Bytes readLong(const std::string& path) {
    const HANDLE file = ::CreateFileW(longForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    Bytes bytes(kTileSetLength + 1);
    DWORD got = 0;
    if (file == INVALID_HANDLE_VALUE)
        return {};
    ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    ::CloseHandle(file);
    bytes.resize(got);
    return bytes;
}

void writeLong(const std::string& path, const Bytes& bytes) {
    const HANDLE file =
        ::CreateFileW(longForm(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

Bytes tileSetOf(const Bytes& map) {
    return Bytes(map.begin(), map.begin() + static_cast<std::ptrdiff_t>(kTileSetLength));
}

// The access list as SDDL text, or what went wrong.
std::string daclOf(const std::string& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    if (::GetNamedSecurityInfoW(wide(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return "(unreadable)";
    char* text = nullptr;
    ::ConvertSecurityDescriptorToStringSecurityDescriptorA(
        descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr);
    std::string result = text ? text : "(none)";
    ::LocalFree(text);
    ::LocalFree(descriptor);
    return result;
}

// Full control for the system and this process's user, nothing for anyone else.
std::string ownerOnlyDacl() {
    HANDLE token = nullptr;
    ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token);
    std::vector<std::byte> buffer(256);
    DWORD length = 0;
    ::GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()),
                          &length);
    ::CloseHandle(token);
    char* user = nullptr;
    ::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &user);
    const std::string dacl = std::string("D:P(A;;FA;;;SY)(A;;FA;;;") + user + ")";
    ::LocalFree(user);
    return dacl;
}

bool setDacl(const std::string& path, const std::string& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                &descriptor, nullptr))
        return false;
    const bool set =
        ::SetFileSecurityW(wide(path).c_str(),
                           DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                           descriptor) != 0;
    ::LocalFree(descriptor);
    return set;
}

TEST(WindowsWriter, ConvertsPathsPastTwoHundredSixtyCharacters) {
    for (const bool replacing : {false, true}) {
        SCOPED_TRACE(replacing ? "replacing an output" : "a new output");
        TempFolder folder;
        std::string deep = folder.path().string();
        while (deep.size() < 300) {
            deep += "\\" + std::string(40, 'd');
            ASSERT_TRUE(::CreateDirectoryW(longForm(deep).c_str(), nullptr));
        }
        const std::string map = deep + "\\Map.LVL";
        const std::string output = deep + "\\" + std::string(60, 't') + ".BMP";
        ASSERT_GT(output.size(), 360u);
        const Bytes mapBytes = patternBytes(60000, 1);
        writeLong(map, mapBytes);
        if (replacing)
            writeLong(output, patternBytes(100, 2));

        const TileSetResult result = RipBMP(map, output);

        EXPECT_EQ(result.outcome, TileSetOutcome::Complete) << result.failedStep << result.reason;
        EXPECT_EQ(readLong(output), tileSetOf(mapBytes));
    }
}

TEST(WindowsWriter, KeepsTheOldOutputsAccessListAndAttributes) {
    TempFolder folder;
    writeFile(folder / "Map.LVL", patternBytes(60000, 1));
    writeFile(folder / "Fresh.BMP", {});
    writeFile(folder / "Tiles.BMP", patternBytes(10, 2));
    ASSERT_TRUE(setDacl(folder / "Tiles.BMP", ownerOnlyDacl()));
    const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    ASSERT_TRUE(::SetFileAttributesW(wide(folder / "Tiles.BMP").c_str(), kept));
    const std::string before = daclOf(folder / "Tiles.BMP");
    ASSERT_NE(before, daclOf(folder / "Fresh.BMP")) << "the folder gives new files that list";

    ASSERT_EQ(RipBMP(folder / "Map.LVL", folder / "Tiles.BMP").outcome, TileSetOutcome::Complete);

    EXPECT_EQ(daclOf(folder / "Tiles.BMP"), before);
    EXPECT_EQ(::GetFileAttributesW(wide(folder / "Tiles.BMP").c_str()) & kept, kept);
    EXPECT_EQ(readFile(folder / "Tiles.BMP"), tileSetOf(readFile(folder / "Map.LVL")));
}

bool isLink(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

TEST(WindowsWriter, RefusesALinkToNothingAndWritesThroughALinkToAFile) {
    struct Row {
        const char* name;
        bool targetExists;
    };
    for (const Row row : {Row{"link to nothing", false}, Row{"link to a file", true}}) {
        SCOPED_TRACE(row.name);
        TempFolder folder;
        writeFile(folder / "Map.LVL", patternBytes(60000, 1));
        if (row.targetExists)
            writeFile(folder / "Target.BMP", patternBytes(10, 2));
        ::CreateSymbolicLinkW(wide(folder / "Tiles.BMP").c_str(), L"Target.BMP",
                              SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
        if (!isLink(folder / "Tiles.BMP"))
            GTEST_SKIP() << "no symbolic link could be made here (Wine 8 reports success "
                            "without making one; Windows needs developer mode or an "
                            "administrator)";

        const TileSetResult result = RipBMP(folder / "Map.LVL", folder / "Tiles.BMP");

        EXPECT_TRUE(isLink(folder / "Tiles.BMP"));
        if (row.targetExists) {
            EXPECT_EQ(result.outcome, TileSetOutcome::Complete);
            EXPECT_EQ(readFile(folder / "Target.BMP"), tileSetOf(readFile(folder / "Map.LVL")));
        } else {
            EXPECT_EQ(result.reason, "it is a symbolic link to a file that does not exist");
            EXPECT_EQ(::GetFileAttributesW(wide(folder / "Target.BMP").c_str()),
                      INVALID_FILE_ATTRIBUTES);
        }
    }
}

struct HandleCloser {
    void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using HeldFile = std::unique_ptr<void, HandleCloser>;

HeldFile holdOpen(const std::string& path, DWORD creation) {
    return HeldFile(::CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                  nullptr, creation, 0, nullptr));
}

TEST(WindowsWriter, AnOutputHeldOpenByAnotherProgramStaysAsItWas) {
    TempFolder folder;
    writeFile(folder / "Map.LVL", patternBytes(60000, 1));
    const Bytes old = patternBytes(10, 2);
    writeFile(folder / "Tiles.BMP", old);
    const HeldFile viewer = holdOpen(folder / "Tiles.BMP", OPEN_EXISTING);

    const TileSetResult result = RipBMP(folder / "Map.LVL", folder / "Tiles.BMP");

    EXPECT_EQ(result.outcome, TileSetOutcome::Failed);
    EXPECT_EQ(result.failedStep, "while replacing the old file");
    EXPECT_EQ(readFile(folder / "Tiles.BMP"), old);
    EXPECT_EQ(folder.names(), (std::set<std::string>{"Map.LVL", "Tiles.BMP"}));
}

TEST(WindowsWriter, RemovesOnlyTemporariesThatNoRunWritesAnyMore) {
    struct Row {
        const char* name;
        bool heldByALiveRun;
        bool removed;
    };
    // Only this output's own few names are looked at; the folder is never read.
    const Row rows[] = {
        {".tiles.bmp.quillmere-0.part", false, true},
        {".tiles.bmp.quillmere-3.part", false, true},
        {".tiles.bmp.quillmere-1.part", true, false},
        {".other.bmp.quillmere-0.part", false, false},
        {".Tiles.BMP.ab12cd34.part", false, false},
        {".tiles.bmp.quillmere-99.part", false, false},
        {".settings", false, false},
    };
    TempFolder folder;
    writeFile(folder / "Map.LVL", patternBytes(60000, 1));
    std::vector<HeldFile> liveRuns;
    for (const Row& row : rows) {
        writeFile(folder / row.name, {});
        if (row.heldByALiveRun)
            liveRuns.push_back(holdOpen(folder / row.name, OPEN_EXISTING));
    }

    ASSERT_EQ(RipBMP(folder / "Map.LVL", folder / "Tiles.BMP").outcome, TileSetOutcome::Complete);

    const auto names = folder.names();
    for (const Row& row : rows)
        EXPECT_EQ(names.count(row.name), row.removed ? 0u : 1u) << row.name;
}

TEST(WindowsWriter, ShowsWhatStandsAndCountsTheOtherNames) {
    for (const bool keep : {true, false}) {
        SCOPED_TRACE(keep ? "kept" : "replaced");
        TempFolder folder;
        const Bytes old = patternBytes(10, 2);
        writeFile(folder / "Tiles.BMP", old);
        ASSERT_TRUE(::CreateHardLinkW(wide(folder / "Other.BMP").c_str(),
                                      wide(folder / "Tiles.BMP").c_str(), nullptr));
        const auto before = files::inspect(folder / "Tiles.BMP");
        ASSERT_TRUE(before);
        const Bytes bytes = patternBytes(kTileSetLength, 3);
        files::WriteOptions options;
        options.flushFolder = false;
        auto replacement = files::Replacement::prepare(folder / "Tiles.BMP",
                                                       {std::as_bytes(std::span(bytes))}, options);
        ASSERT_TRUE(replacement) << replacement.error().step << replacement.error().reason;
        const auto current = replacement->current();
        ASSERT_TRUE(current);
        EXPECT_EQ(current->identity, before->identity);
        EXPECT_EQ(current->size, old.size());
        EXPECT_NE(replacement->incoming(), before->identity);
        std::optional<files::Replacement> pending(std::move(*replacement));

        if (keep) {
            pending.reset(); // dropped before its commit
        } else {
            auto written = pending->commit();
            ASSERT_TRUE(written) << written.error().step << written.error().reason;
            EXPECT_EQ(written->identity, files::inspect(folder / "Tiles.BMP")->identity);
            EXPECT_EQ(written->otherNames, 1u);
            ASSERT_TRUE(written->folder);
            EXPECT_TRUE(written->folder->flush());
        }
        EXPECT_EQ(readFile(folder / "Tiles.BMP"), keep ? old : bytes);
        EXPECT_EQ(readFile(folder / "Other.BMP"), old);
        EXPECT_EQ(folder.names(), (std::set<std::string>{"Other.BMP", "Tiles.BMP"}));
    }
}

} // namespace
} // namespace quillmere
