// Drives the real quillmere-tiles through one table of hostile paths, injected faults and other
// people's files. Each row checks the exit status, that the message names the path and the
// reason, that the map is untouched, what the output holds afterwards, and that no temporary
// file is left behind. Rows that give files to other users or change system settings need root.

#include "run_process.h"
#include "tile_set.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <iostream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>

namespace quillmere {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::patternBytes;
using testing::readFile;
using testing::TempFolder;
using testing::writeFile;

enum class Output {
    OldBytes,   // the old output, byte for byte
    NewTileSet, // exactly the map's 49,713-byte tile set
    Absent,     // no file at all
    SameNode,   // a device or pipe that is still what it was
};

// Accounts that need not exist: a child switches to them to run as an ordinary user.
constexpr uid_t kUser = 61234;
constexpr gid_t kUserGroup = 61234;
constexpr gid_t kSharedGroup = 61235; // the user is a member
constexpr gid_t kOtherGroup = 61236;  // the user is not
constexpr uid_t kOtherUser = 61237;
const std::vector<std::string> kAsUser{"--reuid=61234", "--regid=61234", "--groups=61235"};

struct Scene {
    const TempFolder& folder;
    std::string map = "Map.LVL";
    std::string output = "Tiles.BMP";
    std::string checkedOutput = "Tiles.BMP"; // where the output's bytes end up
    bool doubleDash = true;
    std::vector<std::string> arguments = {}; // the command line, where not "[--] map output"
    std::vector<std::string> runAs = {};     // setpriv's options, to run as an ordinary user
    std::vector<std::function<void()>> undo = {};

    ~Scene() {
        for (auto& step : undo)
            step();
    }
};

// Prepares a row's files; returns why the row cannot run here, or nothing.
using Setup = std::function<std::string(Scene&)>;
// Checks what the row's own subject is, beyond what every row checks.
using Check = std::function<void(const Scene&, const testing::ProcessResult&)>;

struct Scenario {
    const char* name;
    Setup setup;
    std::vector<std::string> faults = {}; // settings for the preloaded fault injector
    int exitStatus;
    std::vector<std::string> saysAll = {}; // texts the report must hold
    Output output;
    bool needsRoot = false;
    Check alsoCheck = {};
};

void PrintTo(const Scenario& row, std::ostream* out) {
    *out << row.name;
}

std::string none(Scene&) {
    return {};
}

std::string makeNode(const std::string& path, mode_t kind) {
    if (::mknod(path.c_str(), kind | 0600, kind == S_IFCHR ? makedev(1, 3) : 0) != 0)
        return "cannot make a " + std::string(kind == S_IFCHR ? "device" : "pipe") +
               " node here: " + std::strerror(errno);
    return {};
}

std::vector<std::string> inject(std::vector<std::string> settings) {
    settings.push_back("LD_PRELOAD=" QUILLMERE_INJECTOR);
    // A sanitized build wants its runtime first; the injector only wraps libc calls.
    settings.push_back(testing::asanOptionsWith("verify_asan_link_order=0"));
    return settings;
}

void own(const std::string& path, uid_t user, gid_t group, mode_t mode) {
    ASSERT_EQ(::lchown(path.c_str(), user, group), 0) << path;
    ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

// The output is the user's own, with `mode`, and the user converts.
std::string asUserWith(Scene& s, mode_t mode) {
    own(s.folder.path(), kUser, kUserGroup, 0755);
    own(s.folder / "Tiles.BMP", kUser, kUserGroup, mode);
    s.runAs = kAsUser;
    return {};
}

void expectOwner(const std::string& path, uid_t user, gid_t group, mode_t mode) {
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0) << path;
    EXPECT_EQ(status.st_uid, user);
    EXPECT_EQ(status.st_gid, group);
    EXPECT_EQ(status.st_mode & 07777, mode) << std::oct << (status.st_mode & 07777);
}

std::string attributeOf(const std::string& path, const char* name) {
    std::string value(4096, '\0');
    const ssize_t length = ::getxattr(path.c_str(), name, value.data(), value.size());
    value.resize(length < 0 ? 0 : static_cast<std::size_t>(length));
    return value;
}

std::string setAttribute(const std::string& path, const char* name, const std::string& value) {
    if (::setxattr(path.c_str(), name, value.data(), value.size(), 0) != 0)
        return std::string("cannot set ") + name + " here: " + std::strerror(errno);
    return {};
}

// An access control list as the system keeps it: owner rw, a named user rw, group r, a mask of
// r (which holds the named user to r), others nothing.
std::string aclWithMask() {
    struct Entry {
        std::uint16_t tag, permissions;
        std::uint32_t id;
    };
    constexpr std::uint32_t kVersion = 2, kNoId = ~0u;
    const Entry entries[] = {{0x01, 6, kNoId},
                             {0x02, 6, kOtherUser},
                             {0x04, 4, kNoId},
                             {0x10, 4, kNoId},
                             {0x20, 0, kNoId}};
    std::string bytes(reinterpret_cast<const char*>(&kVersion), sizeof kVersion);
    for (const auto& entry : entries) {
        bytes.append(reinterpret_cast<const char*>(&entry.tag), sizeof entry.tag);
        bytes.append(reinterpret_cast<const char*>(&entry.permissions), sizeof entry.permissions);
        bytes.append(reinterpret_cast<const char*>(&entry.id), sizeof entry.id);
    }
    return bytes;
}

constexpr const char* kAccessList = "system.posix_acl_access";
// Version 2 file capabilities: effective, with cap_net_bind_service permitted.
const std::string kNetBindCapability("\x01\0\0\x02\0\x04\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 20);

std::string readSetting(const std::string& path) {
    std::ifstream file(path);
    std::string value;
    file >> value;
    return value;
}

// Sets a system setting for as long as the scene lasts.
std::string setSetting(Scene& s, const std::string& path, const std::string& value) {
    const std::string old = readSetting(path);
    if (old.empty() || !(std::ofstream(path) << value << '\n'))
        return "cannot change " + path + " here";
    s.undo.push_back([path, old] { std::ofstream(path) << old << '\n'; });
    return {};
}

const std::string kLong(300, 'x');
const Bytes kMap = patternBytes(60000, 1);
const Bytes kOldOutput = patternBytes(500, 2);

Bytes tileSetOf(const Bytes& map) {
    Bytes tileSet(kTileSetLength, 0);
    std::copy_n(map.begin(), std::min(map.size(), kTileSetLength), tileSet.begin());
    return tileSet;
}

std::vector<Scenario> scenarios() {
    const std::string noFile = "No such file or directory";
    return {
        {"map missing",
         [](Scene& s) {
             s.map = "Missing.LVL";
             return std::string();
         },
         {},
         1,
         {"\"Missing.LVL\"", noFile},
         Output::OldBytes},
        {"map is a folder",
         [](Scene& s) {
             s.map = "maps";
             fs::create_directory(s.folder / "maps");
             return std::string();
         },
         {},
         1,
         {"\"maps\"", "it is a folder"},
         Output::OldBytes},
        {"map is a named pipe",
         [](Scene& s) {
             s.map = "pipe";
             return makeNode(s.folder / "pipe", S_IFIFO);
         },
         {},
         1,
         {"\"pipe\"", "named pipe"},
         Output::OldBytes},
        {"map is a device",
         [](Scene& s) {
             s.map = "device";
             return makeNode(s.folder / "device", S_IFCHR);
         },
         {},
         1,
         {"\"device\"", "it is a device"},
         Output::OldBytes},
        {"map unreadable",
         [](Scene& s) {
             ::chmod((s.folder / "Map.LVL").c_str(), 0);
             return std::string();
         },
         inject({"QUILLMERE_FAULT_CALL=open", "QUILLMERE_FAULT_PATH=Map.LVL",
                 "QUILLMERE_FAULT_ERRNO=EACCES"}),
         1,
         {"\"Map.LVL\"", "Permission denied"},
         Output::OldBytes},
        {"map read error",
         none,
         inject({"QUILLMERE_FAULT_CALL=pread"}),
         1,
         {"\"Map.LVL\" while reading", "Input/output error"},
         Output::OldBytes},
        {"output folder missing",
         [](Scene& s) {
             s.output = s.checkedOutput = "gone/Tiles.BMP";
             return std::string();
         },
         {},
         1,
         {"\"gone/Tiles.BMP\"", noFile},
         Output::Absent},
        {"output is a folder",
         [](Scene& s) {
             s.output = s.checkedOutput = "out";
             fs::create_directory(s.folder / "out");
             return std::string();
         },
         {},
         1,
         {"\"out\"", "it is a folder"},
         Output::SameNode},
        {"output is a device",
         [](Scene& s) {
             s.output = s.checkedOutput = "device";
             return makeNode(s.folder / "device", S_IFCHR);
         },
         {},
         1,
         {"\"device\"", "it is a device"},
         Output::SameNode},
        {"output is a named pipe",
         [](Scene& s) {
             s.output = s.checkedOutput = "pipe";
             return makeNode(s.folder / "pipe", S_IFIFO);
         },
         {},
         1,
         {"\"pipe\"", "named pipe"},
         Output::SameNode},
        {"output folder not writable",
         [](Scene& s) {
             fs::create_directory(s.folder / "locked");
             s.output = s.checkedOutput = "locked/Tiles.BMP";
             ::chmod((s.folder / "locked").c_str(), 0555);
             return std::string();
         },
         inject({"QUILLMERE_FAULT_CALL=open", "QUILLMERE_FAULT_PATH=locked",
                 "QUILLMERE_FAULT_ERRNO=EACCES"}),
         1,
         {"\"locked/Tiles.BMP\"", "Permission denied"},
         Output::Absent},
        {"output is a read-only file",
         [](Scene& s) {
             ::chmod((s.folder / "Tiles.BMP").c_str(), 0444);
             return std::string();
         },
         inject({"QUILLMERE_FAULT_CALL=open", "QUILLMERE_FAULT_PATH=Tiles.BMP",
                 "QUILLMERE_FAULT_ERRNO=EACCES"}),
         1,
         {"\"Tiles.BMP\"", "Permission denied"},
         Output::OldBytes},
        {"output removed by someone else just before it is opened",
         none,
         inject({"QUILLMERE_FAULT_CALL=open", "QUILLMERE_FAULT_PATH=Tiles.BMP",
                 "QUILLMERE_FAULT_REMOVES=1"}),
         0,
         {},
         Output::NewTileSet},
        {"same file by path",
         [](Scene& s) {
             s.output = "Map.LVL";
             return std::string();
         },
         {},
         1,
         {"\"Map.LVL\"", "map file itself"},
         Output::OldBytes},
        {"same file by symbolic link",
         [](Scene& s) {
             s.output = "link.BMP";
             fs::create_symlink("Map.LVL", s.folder / "link.BMP");
             return std::string();
         },
         {},
         1,
         {"\"link.BMP\"", "map file itself"},
         Output::OldBytes},
        {"same file by hard link",
         [](Scene& s) {
             s.output = "hard.BMP";
             fs::create_hard_link(s.folder / "Map.LVL", s.folder / "hard.BMP");
             return std::string();
         },
         {},
         1,
         {"\"hard.BMP\"", "map file itself"},
         Output::OldBytes},
        {"output is a symbolic link",
         [](Scene& s) {
             s.output = "link.BMP";
             fs::create_symlink("Tiles.BMP", s.folder / "link.BMP");
             return std::string();
         },
         {},
         0,
         {},
         Output::NewTileSet},
        {"output is a dangling symbolic link",
         [](Scene& s) {
             s.output = "link.BMP";
             s.checkedOutput = "New.BMP";
             fs::create_symlink("New.BMP", s.folder / "link.BMP");
             return std::string();
         },
         {},
         1,
         {"\"link.BMP\"", "it is a symbolic link to a file that does not exist"},
         Output::Absent},
        {"empty map path",
         [](Scene& s) {
             s.map.clear();
             return std::string();
         },
         {},
         1,
         {"the map path is empty"},
         Output::OldBytes},
        {"empty output path",
         [](Scene& s) {
             s.output.clear();
             return std::string();
         },
         {},
         1,
         {"the output path is empty"},
         Output::OldBytes},
        {"surrounding blanks",
         [](Scene& s) {
             fs::rename(s.folder / "Map.LVL", s.folder / " Map.LVL ");
             fs::create_hard_link(s.folder / " Map.LVL ", s.folder / "Map.LVL");
             s.map = " Map.LVL ";
             s.output = s.checkedOutput = " Tiles.BMP ";
             return std::string();
         },
         {},
         0,
         {},
         Output::NewTileSet},
        {"names that begin with a dash",
         [](Scene& s) {
             fs::create_hard_link(s.folder / "Map.LVL", s.folder / "-map.LVL");
             s.map = "-map.LVL";
             s.output = s.checkedOutput = "-tiles.BMP";
             return std::string();
         },
         {},
         0,
         {},
         Output::NewTileSet},
        {"a dash name without a double dash",
         [](Scene& s) {
             s.map = "-map.LVL";
             s.doubleDash = false;
             return std::string();
         },
         {},
         2,
         {"unknown option '-map.LVL'"},
         Output::OldBytes},
        {"names that are not UTF-8",
         [](Scene& s) {
             s.map = "\xff\xfe map.LVL";
             fs::create_hard_link(s.folder / "Map.LVL", s.folder / s.map);
             s.output = s.checkedOutput = "\xc3\x28.BMP";
             return std::string();
         },
         {},
         0,
         {},
         Output::NewTileSet},
        {"map name longer than the system allows",
         [](Scene& s) {
             s.map = kLong;
             return std::string();
         },
         {},
         1,
         {"File name too long"},
         Output::OldBytes},
        {"output path longer than the system allows",
         [](Scene& s) {
             for (int i = 0; i < 2100; ++i)
                 s.output += "/.";
             s.output = "." + s.output + "/Tiles.BMP";
             return std::string();
         },
         {},
         1,
         {"File name too long"},
         Output::OldBytes},
        {"short map",
         [](Scene& s) {
             fs::resize_file(s.folder / "Map.LVL", 1234);
             return std::string();
         },
         {},
         0,
         {"held only 1,234"},
         Output::NewTileSet},
        {"disk full midway",
         none,
         inject({"QUILLMERE_FAULT_CALL=write", "QUILLMERE_FAULT_AFTER_BYTES=20000",
                 "QUILLMERE_FAULT_ERRNO=ENOSPC"}),
         1,
         {"\"Tiles.BMP\" while writing", "No space left on device"},
         Output::OldBytes},
        {"quota exceeded",
         none,
         inject({"QUILLMERE_FAULT_CALL=write", "QUILLMERE_FAULT_ERRNO=EDQUOT"}),
         1,
         {"\"Tiles.BMP\" while writing", "Disk quota exceeded"},
         Output::OldBytes},
        {"short writes", none, inject({"QUILLMERE_SHORT_WRITES=1000"}), 0, {}, Output::NewTileSet},
        {"failing flush",
         none,
         inject({"QUILLMERE_FAULT_CALL=fdatasync"}),
         1,
         {"\"Tiles.BMP\" while flushing it to disk", "Input/output error"},
         Output::OldBytes},
        {"failing rename",
         none,
         inject({"QUILLMERE_FAULT_CALL=rename", "QUILLMERE_FAULT_ERRNO=EACCES"}),
         1,
         {"\"Tiles.BMP\" while replacing the old file", "Permission denied"},
         Output::OldBytes},
        {"output appears before the rename",
         [](Scene& s) {
             fs::rename(s.folder / "Tiles.BMP", s.folder / "Other.BMP");
             return std::string();
         },
         inject({"QUILLMERE_APPEAR_FROM=Other.BMP"}),
         1,
         {"\"Tiles.BMP\" while putting it in place", "appeared meanwhile"},
         Output::OldBytes},
        {"failing folder flush",
         none,
         inject({"QUILLMERE_FAULT_CALL=fsync"}),
         1,
         {"The new tile set is in place in \"Tiles.BMP\"", "power loss", "could not be flushed",
          "Input/output error"},
         Output::NewTileSet},
        {"root keeps a user's setuid file theirs",
         [](Scene& s) {
             own(s.folder / "Tiles.BMP", kUser, kUserGroup, 04755);
             return std::string();
         },
         {},
         0,
         {},
         Output::NewTileSet,
         true,
         [](const Scene& s, const auto&) {
             expectOwner(s.folder / "Tiles.BMP", kUser, kUserGroup, 04755);
         }},
        {"root keeps owner and group",
         [](Scene& s) {
             own(s.folder / "Tiles.BMP", kUser, kSharedGroup, 0640);
             return std::string();
         },
         {},
         0,
         {},
         Output::NewTileSet,
         true,
         [](const Scene& s, const auto&) {
             expectOwner(s.folder / "Tiles.BMP", kUser, kSharedGroup, 0640);
         }},
        {"a user keeps the group they share",
         [](Scene& s) {
             own(s.folder.path(), kUser, kUserGroup, 0755);
             own(s.folder / "Tiles.BMP", kUser, kSharedGroup, 0664);
             s.runAs = kAsUser;
             return std::string();
         },
         {},
         0,
         {},
         Output::NewTileSet,
         true,
         [](const Scene& s, const auto&) {
             expectOwner(s.folder / "Tiles.BMP", kUser, kSharedGroup, 0664);
         }},
        {"setgid goes only with its group",
         [](Scene& s) {
             own(s.folder.path(), kUser, kUserGroup, 0755);
             own(s.folder / "Tiles.BMP", kUser, kOtherGroup, 02775);
             s.runAs = kAsUser;
             return std::string();
         },
         {},
         0,
         {},
         Output::NewTileSet,
         true,
         [](const Scene& s, const auto&) {
             expectOwner(s.folder / "Tiles.BMP", kUser, kUserGroup, 0775);
         }},
        {"setuid goes only with its owner",
         [](Scene& s) {
             own(s.folder.path(), kUser, kUserGroup, 0755);
             own(s.folder / "Tiles.BMP", kOtherUser, kSharedGroup, 04666);
             s.runAs = kAsUser;
             return std::string();
         },
         {},
         0,
         {},
         Output::NewTileSet,
         true,
         [](const Scene& s, const auto&) {
             expectOwner(s.folder / "Tiles.BMP", kUser, kSharedGroup, 0666);
         }},
        {"an access control list with a mask",
         [](Scene& s) { return setAttribute(s.folder / "Tiles.BMP", kAccessList, aclWithMask()); },
         {},
         0,
         {},
         Output::NewTileSet,
         false,
         [](const Scene& s, const auto&) {
             EXPECT_EQ(attributeOf(s.folder / "Tiles.BMP", kAccessList), aclWithMask());
             expectOwner(s.folder / "Tiles.BMP", ::geteuid(), ::getegid(), 0640);
         }},
        {"a folder's default list, which the old file did not take",
         [](Scene& s) {
             ::chmod((s.folder / "Tiles.BMP").c_str(), 0604);
             return setAttribute(s.folder.path(), "system.posix_acl_default", aclWithMask());
         },
         {},
         0,
         {},
         Output::NewTileSet,
         false,
         [](const Scene& s, const auto&) {
             EXPECT_EQ(attributeOf(s.folder / "Tiles.BMP", kAccessList), "");
             expectOwner(s.folder / "Tiles.BMP", ::geteuid(), ::getegid(), 0604);
         }},
        {"a mode wider than a new file's",
         [](Scene& s) {
             ::chmod((s.folder / "Tiles.BMP").c_str(), 0666);
             return std::string();
         },
         {},
         0,
         {},
         Output::NewTileSet,
         false,
         [](const Scene& s, const auto&) {
             expectOwner(s.folder / "Tiles.BMP", ::geteuid(), ::getegid(), 0666);
         }},
        {"an access control list that cannot be kept",
         [](Scene& s) { return setAttribute(s.folder / "Tiles.BMP", kAccessList, aclWithMask()); },
         inject({"QUILLMERE_FAULT_CALL=fsetxattr"}),
         1,
         {"\"Tiles.BMP\" while giving it the old file's access control list", "Input/output error"},
         Output::OldBytes,
         false,
         [](const Scene& s, const auto&) {
             EXPECT_EQ(attributeOf(s.folder / "Tiles.BMP", kAccessList), aclWithMask());
         }},
        {.name = "listing the attributes of a file with an access control list fails",
         .setup =
             [](Scene& s) {
                 return setAttribute(s.folder / "Tiles.BMP", kAccessList, aclWithMask());
             },
         .faults = inject({"QUILLMERE_FAULT_CALL=flistxattr"}),
         .exitStatus = 1,
         .saysAll = {"\"Tiles.BMP\" while listing the old file's attributes", "Input/output error"},
         .output = Output::OldBytes,
         .alsoCheck =
             [](const Scene& s, const auto&) {
                 EXPECT_EQ(attributeOf(s.folder / "Tiles.BMP", kAccessList), aclWithMask());
             }},
        {.name = "a user's setuid file loses setuid, as a write clears it",
         .setup = [](Scene& s) { return asUserWith(s, 04755); },
         .exitStatus = 0,
         .output = Output::NewTileSet,
         .needsRoot = true,
         .alsoCheck =
             [](const Scene& s, const auto&) {
                 expectOwner(s.folder / "Tiles.BMP", kUser, kUserGroup, 0755);
             }},
        {.name = "a user's setgid program loses setgid, as a write clears it",
         .setup = [](Scene& s) { return asUserWith(s, 02775); },
         .exitStatus = 0,
         .output = Output::NewTileSet,
         .needsRoot = true,
         .alsoCheck =
             [](const Scene& s, const auto&) {
                 expectOwner(s.folder / "Tiles.BMP", kUser, kUserGroup, 0775);
             }},
        {.name = "a user's setgid file that no one runs keeps it, as a write does",
         .setup = [](Scene& s) { return asUserWith(s, 02664); },
         .exitStatus = 0,
         .output = Output::NewTileSet,
         .needsRoot = true,
         .alsoCheck =
             [](const Scene& s, const auto&) {
                 expectOwner(s.folder / "Tiles.BMP", kUser, kUserGroup, 02664);
             }},
        {.name = "file capabilities are dropped, as a write drops them",
         .setup =
             [](Scene& s) {
                 return setAttribute(s.folder / "Tiles.BMP", "security.capability",
                                     kNetBindCapability);
             },
         .exitStatus = 0,
         .output = Output::NewTileSet,
         .needsRoot = true,
         .alsoCheck =
             [](const Scene& s, const auto&) {
                 EXPECT_EQ(attributeOf(s.folder / "Tiles.BMP", "security.capability"), "");
             }},
        {"an extended attribute",
         [](Scene& s) { return setAttribute(s.folder / "Tiles.BMP", "user.origin", "castle"); },
         {},
         0,
         {},
         Output::NewTileSet,
         false,
         [](const Scene& s, const auto&) {
             EXPECT_EQ(attributeOf(s.folder / "Tiles.BMP", "user.origin"), "castle");
         }},
        {"a link the system will not follow",
         [](Scene& s) {
             fs::create_directory(s.folder / "sticky");
             ::chmod((s.folder / "sticky").c_str(), 01777);
             fs::create_symlink("../Tiles.BMP", s.folder / "sticky/link.BMP");
             own(s.folder / "sticky/link.BMP", kUser, kUserGroup, 0777);
             s.output = "sticky/link.BMP";
             return setSetting(s, "/proc/sys/fs/protected_symlinks", "1");
         },
         {},
         1,
         {"\"sticky/link.BMP\"", "does not let this process follow its symbolic link"},
         Output::OldBytes,
         true},
        {"a folder that does not allow new files",
         [](Scene& s) {
             fs::create_directory(s.folder / "locked");
             ::chmod((s.folder / "locked").c_str(), 0555);
             s.output = s.checkedOutput = "locked/Tiles.BMP";
             s.runAs = kAsUser;
             return std::string();
         },
         {},
         1,
         {"\"locked/Tiles.BMP\"", "the folder \"locked\" does not allow new files"},
         Output::Absent,
         true},
        {"a user's read-only output",
         [](Scene& s) {
             own(s.folder.path(), kUser, kUserGroup, 0755);
             own(s.folder / "Tiles.BMP", kUser, kUserGroup, 0444);
             s.runAs = kAsUser;
             return std::string();
         },
         {},
         1,
         {"\"Tiles.BMP\"", "Permission denied"},
         Output::OldBytes,
         true},
        // A file system that folds "É" and "é" into one name is simulated by a link: two
        // names, one file.
        {"two outputs that one name reaches",
         [](Scene& s) {
             for (const char* folder : {"m1", "m2", "out"})
                 fs::create_directory(s.folder / folder);
             fs::create_hard_link(s.folder / "Map.LVL", s.folder / "m1/\u00e9.LVL");
             writeFile(s.folder / "m2/\u00c9.LVL", patternBytes(60000, 3));
             writeFile(s.folder / "out/\u00e9.BMP", kOldOutput);
             fs::create_symlink("\u00e9.BMP", s.folder / "out/\u00c9.BMP");
             s.arguments = {"-d", "out", "m1/\u00e9.LVL", "m2/\u00c9.LVL"};
             s.checkedOutput = "out/\u00e9.BMP";
             return std::string();
         },
         {},
         1,
         {"m2/\u00c9.LVL -> out/\u00c9.BMP", "an earlier map in this run wrote it already"},
         Output::NewTileSet},
        {"the same map twice",
         [](Scene& s) {
             fs::create_directory(s.folder / "out");
             s.arguments = {"-d", "out", "Map.LVL", "./Map.LVL"};
             s.checkedOutput = "out/Map.BMP";
             return std::string();
         },
         {},
         0,
         {},
         Output::NewTileSet,
         false,
         [](const Scene&, const testing::ProcessResult& run) {
             EXPECT_EQ(run.out, "Map.LVL -> out/Map.BMP: Operation Complete.\n"
                                "./Map.LVL -> out/Map.BMP: Operation Complete.\n");
         }},
        {"an output with another name",
         [](Scene& s) {
             fs::create_hard_link(s.folder / "Tiles.BMP", s.folder / "Other.BMP");
             return std::string();
         },
         {},
         0,
         {"\"Tiles.BMP\" had 1 other name (a hard link), which still holds the old tile set"},
         Output::NewTileSet,
         false,
         [](const Scene& s, const auto&) {
             EXPECT_EQ(readFile(s.folder / "Other.BMP"), kOldOutput);
         }},
    };
}

bool anyTemporaryFile(const fs::path& folder) {
    for (const auto& entry :
         fs::recursive_directory_iterator(folder, fs::directory_options::skip_permission_denied)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with('.') && name.ends_with(".part"))
            return true;
    }
    return false;
}

struct NodeState {
    fs::file_type type;
    dev_t device;
};

NodeState nodeAt(const std::string& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return {fs::symlink_status(path).type(), status.st_rdev};
}

class FaultMatrix : public ::testing::TestWithParam<Scenario> {};

TEST_P(FaultMatrix, NothingIsLostWhateverGoesWrong) {
    const Scenario& row = GetParam();
    if (row.needsRoot && ::geteuid() != 0)
        GTEST_SKIP() << "needs root: it gives files to other users or changes system settings";
    TempFolder folder;
    writeFile(folder / "Map.LVL", kMap);
    writeFile(folder / "Tiles.BMP", kOldOutput);
    Scene scene{folder};
    if (const std::string why = row.setup(scene); !why.empty())
        GTEST_SKIP() << why;
    struct stat mapBefore {};
    ::stat((folder / "Map.LVL").c_str(), &mapBefore);
    const NodeState nodeBefore = nodeAt(folder / scene.checkedOutput);

    std::vector<std::string> command;
    if (!scene.runAs.empty()) {
        command.push_back(QUILLMERE_SETPRIV);
        command.insert(command.end(), scene.runAs.begin(), scene.runAs.end());
    }
    command.push_back(QUILLMERE_TILES_EXE);
    if (!scene.arguments.empty()) {
        command.insert(command.end(), scene.arguments.begin(), scene.arguments.end());
    } else {
        if (scene.doubleDash)
            command.push_back("--");
        command.push_back(scene.map);
        command.push_back(scene.output);
    }
    const auto run =
        testing::runProcess(command, folder.path().string(), row.faults, std::chrono::seconds(10));

    ASSERT_FALSE(run.timedOut) << "it must never block";
    EXPECT_EQ(run.exitStatus, row.exitStatus) << run.err;
    for (const auto& text : row.saysAll)
        EXPECT_NE(run.err.find(text), std::string::npos)
            << "missing \"" << text << "\" in " << run.err;
    if (row.exitStatus == 0 && row.saysAll.empty()) {
        EXPECT_NE(run.out.find("Operation Complete."), std::string::npos) << run.err;
    }

    ::chmod((folder / "Map.LVL").c_str(), 0644);
    struct stat mapAfter {};
    ::stat((folder / "Map.LVL").c_str(), &mapAfter);
    EXPECT_EQ(readFile(folder / "Map.LVL"), row.name == std::string("short map")
                                                ? Bytes(kMap.begin(), kMap.begin() + 1234)
                                                : kMap);
    EXPECT_EQ(mapAfter.st_mtim.tv_sec, mapBefore.st_mtim.tv_sec);
    EXPECT_EQ(mapAfter.st_mtim.tv_nsec, mapBefore.st_mtim.tv_nsec);

    const std::string output = folder / scene.checkedOutput;
    switch (row.output) {
    case Output::OldBytes:
        EXPECT_EQ(readFile(folder / "Tiles.BMP"), kOldOutput);
        break;
    case Output::NewTileSet:
        EXPECT_EQ(readFile(output), tileSetOf(readFile(folder / "Map.LVL")));
        break;
    case Output::Absent:
        EXPECT_FALSE(fs::exists(fs::symlink_status(output)));
        break;
    case Output::SameNode: {
        const NodeState after = nodeAt(output);
        EXPECT_EQ(after.type, nodeBefore.type);
        EXPECT_EQ(after.device, nodeBefore.device);
        break;
    }
    }
    if (fs::path(scene.output).filename() == "link.BMP") {
        EXPECT_TRUE(fs::is_symlink(folder / scene.output));
    }
    if (row.alsoCheck)
        row.alsoCheck(scene, run);
    EXPECT_FALSE(anyTemporaryFile(folder.path())) << "a temporary file was left behind";
}

std::string rowName(const ::testing::TestParamInfo<Scenario>& info) {
    std::string name = info.param.name;
    for (auto& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrix, ::testing::ValuesIn(scenarios()), rowName);

// A user who may write into a sticky folder swaps a harmless file and a link to a file outside
// it, as fast as they can, while root converts into that name: the outside file is never
// written, whichever the system finds.
TEST(LinkSwapRace, RootNeverWritesWhereAUsersLinkLeads) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root: the race is between root and an ordinary user";
    TempFolder folder;
    Scene scene{folder};
    if (const std::string why = setSetting(scene, "/proc/sys/fs/protected_symlinks", "1");
        !why.empty())
        GTEST_SKIP() << why;
    writeFile(folder / "Map.LVL", kMap);
    writeFile(folder / "Outside.BMP", kOldOutput);
    fs::create_directory(folder / "sticky");
    ::chmod((folder / "sticky").c_str(), 01777);
    const std::string sticky = folder / "sticky";

    const pid_t test = ::getpid();
    const pid_t swapper = ::fork();
    ASSERT_GE(swapper, 0);
    if (swapper == 0) {
        // Ends with the test, however the test ends (a change of user clears this, so after).
        if (::setgroups(0, nullptr) != 0 || ::setgid(kUserGroup) != 0 || ::setuid(kUser) != 0 ||
            ::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != test)
            ::_exit(1);
        // Each exchange of the two names is one system call, so the name flips as fast as it can.
        const std::string spare = sticky + "/spare", target = sticky + "/Tiles.BMP";
        for (;;) {
            if (::renameat2(AT_FDCWD, spare.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) ==
                0)
                continue;
            // Root's new file stands at the name until the test removes it: start again.
            ::unlink(spare.c_str());
            ::symlink("../Outside.BMP", spare.c_str());
            ::close(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644));
        }
    }
    const struct Stop {
        pid_t child;
        ~Stop() {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
    } stopSwapping{swapper};
    constexpr int kConversions = 200;
    int written = 0, refused = 0;
    for (int round = 0; round < kConversions; ++round) {
        const auto run = testing::runProcess({QUILLMERE_TILES_EXE, "Map.LVL", "sticky/Tiles.BMP"},
                                             folder.path().string(), {}, std::chrono::seconds(10));
        ++(run.exitStatus == 0 ? written : refused);
        ASSERT_EQ(readFile(folder / "Outside.BMP"), kOldOutput) << "round " << round;
        // Root's new file would stop the user's renames in the sticky folder.
        if (run.exitStatus == 0)
            ::unlink((folder / "sticky/Tiles.BMP").c_str());
    }
    EXPECT_FALSE(anyTemporaryFile(folder.path())) << "a temporary file was left behind";
    std::cout << "[ race     ] " << kConversions
              << " conversions against a swapping user: " << written << " wrote the decoy's name, "
              << refused << " refused the link, none wrote outside the folder\n";
}

} // namespace
} // namespace quillmere
