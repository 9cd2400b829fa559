// Drives the real quillmere-tiles through one table of hostile paths and injected faults. Each
// row checks the exit status, that the message names the path and the reason, that the map is
// untouched, what the output holds afterwards, and that no temporary file is left behind.

#include "run_process.h"
#include "tile_set.h"

#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

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

struct Scene {
    const TempFolder& folder;
    std::string map = "Map.LVL";
    std::string output = "Tiles.BMP";
    std::string checkedOutput = "Tiles.BMP"; // where the output's bytes end up
    bool doubleDash = true;
};

// Prepares a row's files; returns why the row cannot run here, or nothing.
using Setup = std::function<std::string(Scene&)>;

struct Scenario {
    const char* name;
    Setup setup;
    std::vector<std::string> faults; // settings for the preloaded fault injector
    int exitStatus;
    std::vector<std::string> saysAll; // texts the report must hold
    Output output;
};

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

TEST(FaultMatrix, NothingIsLostWhateverGoesWrong) {
    int ran = 0;
    for (const auto& row : scenarios()) {
        SCOPED_TRACE(row.name);
        TempFolder folder;
        writeFile(folder / "Map.LVL", kMap);
        writeFile(folder / "Tiles.BMP", kOldOutput);
        Scene scene{folder};
        if (const std::string why = row.setup(scene); !why.empty()) {
            std::cout << "[ skipped  ] " << row.name << ": " << why << '\n';
            continue;
        }
        struct stat mapBefore {};
        ::stat((folder / "Map.LVL").c_str(), &mapBefore);
        const NodeState nodeBefore = nodeAt(folder / scene.checkedOutput);

        std::vector<std::string> command{QUILLMERE_TILES_EXE};
        if (scene.doubleDash)
            command.push_back("--");
        command.push_back(scene.map);
        command.push_back(scene.output);
        const auto run = testing::runProcess(command, folder.path().string(), row.faults,
                                             std::chrono::seconds(10));
        ++ran;

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
        if (scene.output == "link.BMP") {
            EXPECT_TRUE(fs::is_symlink(folder / "link.BMP"));
        }
        EXPECT_FALSE(anyTemporaryFile(folder.path())) << "a temporary file was left behind";
    }
    std::cout << "[ matrix   ] " << ran << " of " << scenarios().size() << " scenarios ran\n";
}

} // namespace
} // namespace quillmere
