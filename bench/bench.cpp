// Measures quillmere-tiles, RipBMP and the window against what a person could use instead and
// against the least the machine must do, and prints one markdown table of medians and ratios.
// Every pair is measured alternately (A B A B ...) in the same run.
//
// quillmere-bench --tiles EXE --window EXE --minimal-window EXE [--xvfb-display :N] [--quick]

#include "tile_set.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Sample {
    double milliseconds = 0;
    long peakKilobytes = 0;
    std::string out; // what the program printed
};

struct Options {
    std::string tiles, window, minimalWindow, xvfbDisplay;
    int processRuns = 21;
    int inProcessRuns = 201;
    int batchRuns = 15;
    int batchMaps = 1000;
};

fs::path work;

[[noreturn]] void fail(const std::string& why) {
    std::cerr << "quillmere-bench: " << why << '\n';
    std::exit(1);
}

enum class Measure { Time, Memory };

// Runs a program to its end, its output to a file, and measures the time from spawn to exit or,
// through a small launcher (whose own start would distort the time), its peak memory.
Sample run(const std::vector<std::string>& command, Measure measure = Measure::Time,
           const std::vector<std::string>& environment = {}, const std::string& stdoutPath = {},
           bool mayFail = false) {
    const std::string outPath = stdoutPath.empty() ? (work / "stdout").string() : stdoutPath;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, (work / "stderr").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    if (measure == Measure::Memory) {
        posix_spawn_file_actions_addopen(&actions, 3, (work / "peak").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        argv.push_back(const_cast<char*>(QUILLMERE_PEAK_MEMORY));
    }
    for (const auto& word : command)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    // A variable given here replaces one of the same name.
    auto overridden = [&](const std::string& variable) {
        const std::string name = variable.substr(0, variable.find('=') + 1);
        return std::any_of(environment.begin(), environment.end(),
                           [&](const std::string& given) { return given.starts_with(name); });
    };
    std::vector<char*> envp;
    for (char** variable = environ; *variable != nullptr; ++variable)
        if (!overridden(*variable))
            envp.push_back(*variable);
    for (const auto& variable : environment)
        envp.push_back(const_cast<char*>(variable.c_str()));
    envp.push_back(nullptr);

    pid_t pid = 0;
    const auto started = Clock::now();
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
        fail("cannot start " + command[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const auto ended = Clock::now();
    posix_spawn_file_actions_destroy(&actions);
    if (!mayFail && (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
        std::ifstream err(work / "stderr");
        fail(command[0] + " failed: " + std::string(std::istreambuf_iterator<char>(err), {}));
    }
    Sample sample;
    sample.milliseconds = std::chrono::duration<double, std::milli>(ended - started).count();
    if (measure == Measure::Memory)
        std::ifstream(work / "peak") >> sample.peakKilobytes;
    if (stdoutPath.empty()) {
        std::ifstream out(outPath);
        sample.out.assign(std::istreambuf_iterator<char>(out), {});
    }
    // A program that reports its own moment (the first frame) is measured up to that moment.
    if (sample.out.starts_with("first-frame ")) {
        const long long at = std::stoll(sample.out.substr(12));
        const long long from =
            std::chrono::duration_cast<std::chrono::nanoseconds>(started.time_since_epoch())
                .count();
        sample.milliseconds = static_cast<double>(at - from) / 1e6;
    }
    return sample;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

using Contender = std::function<Sample(Measure)>;

// Runs the contenders in turn, `rounds` times, after one warm-up round. Every run writes to the
// disk, and a file system defers some of that work to whoever flushes next: the runs would pay
// for each other.
std::vector<std::vector<Sample>> alternate(const std::vector<Contender>& contenders, int rounds,
                                           Measure measure = Measure::Time) {
    for (const auto& contender : contenders)
        contender(measure);
    std::vector<std::vector<Sample>> samples(contenders.size());
    for (int round = 0; round < rounds; ++round)
        for (std::size_t i = 0; i < contenders.size(); ++i) {
            // Untimed: each run starts with nothing of the one before still to be written.
            ::sync();
            samples[i].push_back(contenders[i](measure));
        }
    return samples;
}

double medianTime(const std::vector<Sample>& samples) {
    std::vector<double> values;
    for (const auto& sample : samples)
        values.push_back(sample.milliseconds);
    return median(values);
}

double medianMemory(const std::vector<Sample>& samples) {
    std::vector<double> values;
    for (const auto& sample : samples)
        values.push_back(static_cast<double>(sample.peakKilobytes));
    return median(values);
}

struct Row {
    std::string measure, ours, theirs, ratio, goal;
    bool met;
};
std::vector<Row> rows;

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

void timeRow(const std::string& measure, double ours, const std::string& what, double theirs,
             double goalRatio, const std::string& goal) {
    const double ratio = ours / theirs;
    rows.push_back({measure, fixed(ours, 3) + " ms", what + " " + fixed(theirs, 3) + " ms",
                    fixed(ratio, 2) + "x", goal, ratio <= goalRatio});
}

void memoryRow(const std::string& measure, double ours, const std::string& what, double theirs,
               double goalRatio, const std::string& goal) {
    const double ratio = ours / theirs;
    rows.push_back({measure, fixed(ours / 1024, 2) + " MiB",
                    what + " " + fixed(theirs / 1024, 2) + " MiB", fixed(ratio, 2) + "x", goal,
                    ratio <= goalRatio});
}

void writeMap(const fs::path& path, unsigned seed) {
    std::string bytes(60000, '\0');
    for (std::size_t at = 0; at < bytes.size(); ++at)
        bytes[at] = static_cast<char>((at * 131 + seed * 7919) % 251);
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void oneConversion(const Options& options) {
    const std::string map = (work / "one.LVL").string();
    writeMap(map, 1);
    const std::string ours = (work / "ours.BMP").string(), dd = (work / "dd.BMP").string(),
                      head = (work / "head.BMP").string();
    const std::string ddTemporary = (work / "dd.tmp").string();
    const std::vector<Contender> contenders = {
        [&](Measure measure) {
            return run({options.tiles, map, ours}, measure);
        },
        [&](Measure measure) {
            Sample copy = run({"dd", "if=" + map, "of=" + ddTemporary, "bs=49713", "count=1",
                               "conv=fsync", "status=none"},
                              measure);
            const Sample move = run({"mv", ddTemporary, dd}, measure);
            copy.milliseconds += move.milliseconds;
            copy.peakKilobytes = std::max(copy.peakKilobytes, move.peakKilobytes);
            return copy;
        },
        [&](Measure measure) {
            return run({"head", "-c", "49713", map}, measure, {}, head);
        },
    };
    const auto samples = alternate(contenders, options.processRuns);
    const double mine = medianTime(samples[0]);
    timeRow("One conversion, whole process", mine, "dd + mv", medianTime(samples[1]), 1.0,
            "faster than dd + mv");
    timeRow("One conversion, whole process", mine, "head -c", medianTime(samples[2]), 1.25,
            "<= 1.25x head");
    const auto memory = alternate(contenders, options.processRuns, Measure::Memory);
    memoryRow("Peak memory of one conversion", medianMemory(memory[0]), "head -c",
              medianMemory(memory[2]), 1.2, "<= 1.2x head");
}

// The least a safe replacement takes: read, write a temporary file, flush it, rename it.
void minimalSequence(const std::string& map, const std::string& output) {
    static char buffer[quillmere::kTileSetLength];
    const int in = ::open(map.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0 || ::pread(in, buffer, sizeof buffer, 0) != static_cast<ssize_t>(sizeof buffer))
        fail("minimal sequence: cannot read the map");
    ::close(in);
    const std::string temporary = output + ".tmp";
    const int out = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (out < 0 || ::write(out, buffer, sizeof buffer) != static_cast<ssize_t>(sizeof buffer) ||
        ::fdatasync(out) != 0 || ::close(out) != 0 ||
        ::rename(temporary.c_str(), output.c_str()) != 0)
        fail("minimal sequence: cannot write");
}

Sample timeCall(const std::function<void()>& call) {
    const auto started = Clock::now();
    call();
    return {std::chrono::duration<double, std::milli>(Clock::now() - started).count(), 0, {}};
}

void inProcess(const Options& options) {
    const std::string map = (work / "one.LVL").string();
    const std::string ours = (work / "in-ours.BMP").string(),
                      minimal = (work / "in-min.BMP").string();
    const auto samples = alternate(
        {[&](Measure) {
             return timeCall([&] {
                 if (quillmere::RipBMP(map, ours).outcome != quillmere::TileSetOutcome::Complete)
                     fail("RipBMP failed");
             });
         },
         [&](Measure) { return timeCall([&] { minimalSequence(map, minimal); }); }},
        options.inProcessRuns);
    timeRow("RipBMP in process", medianTime(samples[0]), "open/read/write/fdatasync/rename",
            medianTime(samples[1]), 1.1, "<= 1.1x the minimum");
}

void batch(const Options& options) {
    fs::create_directories(work / "maps");
    fs::create_directories(work / "out-ours");
    fs::create_directories(work / "out-dd");
    std::vector<std::string> maps;
    for (int i = 0; i < options.batchMaps; ++i) {
        // Built piece by piece: GCC 12 warns falsely (-Wrestrict) about "m" + std::string.
        std::string name(1, 'm');
        name += std::to_string(i);
        name += ".LVL";
        maps.push_back((work / "maps" / name).string());
        writeMap(maps.back(), static_cast<unsigned>(i));
    }
    std::vector<std::string> ours{options.tiles, "-d", (work / "out-ours").string()};
    ours.insert(ours.end(), maps.begin(), maps.end());
    std::vector<std::string> loop{
        "sh", "-c",
        "out=$1; shift; for m in \"$@\"; do n=${m##*/}; "
        "dd if=\"$m\" of=\"$out/.tmp\" bs=49713 count=1 conv=fsync status=none && "
        "mv \"$out/.tmp\" \"$out/${n%.*}.BMP\"; done",
        "sh", (work / "out-dd").string()};
    loop.insert(loop.end(), maps.begin(), maps.end());
    const auto samples = alternate({[&](Measure measure) { return run(ours, measure); },
                                    [&](Measure measure) { return run(loop, measure); }},
                                   options.batchRuns);
    timeRow("Batch of " + std::to_string(options.batchMaps) + " maps", medianTime(samples[0]),
            "shell loop of dd + mv", medianTime(samples[1]), 0.1, ">= 10x faster");

    const std::vector<std::string> single{options.tiles, "-d", (work / "out-ours").string(),
                                          maps.front()};
    const auto memory = alternate({[&](Measure measure) { return run(ours, measure); },
                                   [&](Measure measure) { return run(single, measure); }},
                                  options.batchRuns, Measure::Memory);
    const double many = medianMemory(memory[0]), one = medianMemory(memory[1]);
    rows.push_back({"Peak memory, batch of " + std::to_string(options.batchMaps) + " maps",
                    fixed(many / 1024, 2) + " MiB",
                    "batch of 1 map " + fixed(one / 1024, 2) + " MiB",
                    (many >= one ? "+" : "") + fixed(many - one, 0) + " KiB",
                    "within 1 MiB of one map", many - one <= 1024});
}

void startup(const Options& options, const std::string& platform,
             const std::vector<std::string>& environment) {
    std::vector<std::string> settings = environment;
    settings.push_back("QUILLMERE_REPORT_FIRST_FRAME=1");
    const std::vector<Contender> contenders = {
        [&](Measure measure) { return run({options.window}, measure, settings); },
        [&](Measure measure) { return run({options.minimalWindow}, measure, settings); },
        [&](Measure measure) {
            return run({options.minimalWindow, "--label"}, measure, settings);
        }};
    const auto samples = alternate(contenders, options.processRuns);
    const auto memory = alternate(contenders, options.processRuns, Measure::Memory);
    const std::string where = " (" + platform + ")";
    timeRow("Start-up to first frame" + where, medianTime(samples[0]), "empty Qt window",
            medianTime(samples[1]), 1.1, "<= 1.1x");
    timeRow("Start-up to first frame" + where, medianTime(samples[0]), "Qt window with one label",
            medianTime(samples[2]), 1.1, "<= 1.1x");
    memoryRow("Peak memory at first frame" + where, medianMemory(memory[0]), "empty Qt window",
              medianMemory(memory[1]), 1.1, "<= 1.1x");
    memoryRow("Peak memory at first frame" + where, medianMemory(memory[0]),
              "Qt window with one label", medianMemory(memory[2]), 1.1, "<= 1.1x");
}

std::string sharedLibraries(const std::string& program) {
    run({"ldd", program}, Measure::Time, {}, {}, true);
    std::ifstream complaint(work / "stderr");
    if (std::string(std::istreambuf_iterator<char>(complaint), {}).find("not a dynamic") !=
        std::string::npos)
        return "none, it is linked statically";
    std::ifstream listing(work / "stdout");
    std::string line, names;
    while (std::getline(listing, line)) {
        std::istringstream words(line);
        std::string name;
        words >> name;
        if (!name.empty())
            names += (names.empty() ? "" : ", ") + fs::path(name).filename().string();
    }
    return names;
}

void print(const Options& options) {
    std::cout << "| Measure | Ours | Against | Ratio | Goal | Met |\n"
              << "|---|---|---|---|---|---|\n";
    for (const auto& row : rows)
        std::cout << "| " << row.measure << " | " << row.ours << " | " << row.theirs << " | "
                  << row.ratio << " | " << row.goal << " | " << (row.met ? "yes" : "**no**")
                  << " |\n";
    const std::string libraries = sharedLibraries(options.tiles);
    std::cout << "\nShared libraries of quillmere-tiles: " << libraries << " ("
              << (libraries.find("Qt") == std::string::npos ? "no Qt" : "**Qt**") << ").\n"
              << "Medians of " << options.processRuns << " runs a process ("
              << options.inProcessRuns << " in process, " << options.batchRuns
              << " for the batches), each pair alternated.\n";
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    for (int at = 1; at < argc; ++at) {
        const std::string argument = argv[at];
        auto value = [&] {
            if (at + 1 == argc)
                fail(argument + " needs a value");
            return std::string(argv[++at]);
        };
        if (argument == "--tiles")
            options.tiles = value();
        else if (argument == "--window")
            options.window = value();
        else if (argument == "--minimal-window")
            options.minimalWindow = value();
        else if (argument == "--xvfb-display")
            options.xvfbDisplay = value();
        else if (argument == "--quick") {
            options.processRuns = 15;
            options.inProcessRuns = 31;
            options.batchRuns = 3;
            options.batchMaps = 200;
        } else
            fail("unknown argument " + argument);
    }
    if (options.tiles.empty())
        fail("usage: quillmere-bench --tiles EXE [--window EXE --minimal-window EXE] "
             "[--xvfb-display :N] [--quick]");

    char folder[] = "/tmp/quillmere-bench.XXXXXX";
    if (::mkdtemp(folder) == nullptr)
        fail("cannot make a scratch folder");
    work = folder;

    oneConversion(options);
    inProcess(options);
    batch(options);
    if (!options.window.empty() && !options.minimalWindow.empty()) {
        startup(options, "offscreen", {"QT_QPA_PLATFORM=offscreen"});
        if (!options.xvfbDisplay.empty())
            startup(options, "Xvfb", {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + options.xvfbDisplay});
    }
    print(options);
    fs::remove_all(work);
    return 0;
}
