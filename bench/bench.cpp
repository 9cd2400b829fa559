// Measures quillmere-tiles, RipBMP and the window against the least a safe conversion must do
// (least-safe-copy), against what a person could use instead, and against a Qt window with one
// label, and prints one markdown table: medians with their 10th and 90th percentiles, and the
// ratio of the runs of each round, its median with its 10th and 90th percentiles.
//
// quillmere-bench --tiles EXE [--window EXE --minimal-window EXE] [--xvfb-display :N] [--quick]
//                 [--only one|batches|start-up]... [--batch MAPS:ROUNDS]...

#include "conversions.h"
#include "least_sequence.h"
#include "tile_set.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
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

// As many conversions as quillmere-tiles keeps in flight into the folder "out", chosen from its
// disk as quillmere-tiles chooses: the least program's equal.
int oursInFlight() {
    fs::create_directories("out");
    const auto folder = quillmere::files::OutputFolder::openFor("out/any.BMP");
    return static_cast<int>(quillmere::cli::conversionsAtOnce(folder ? &*folder : nullptr));
}

// The least program's thread counts, of which its best is the yardstick for a batch.
constexpr int kLeastThreads[] = {8, 16, 32, 64};
constexpr std::size_t kLeastCounts = std::size(kLeastThreads);
std::string leastCounts() {
    std::string text;
    for (const int threads : kLeastThreads)
        text += (text.empty() ? "" : "/") + std::to_string(threads);
    return text;
}
#ifdef QUILLMERE_LEAST_URING
constexpr bool kWithRing = true;
#else
constexpr bool kWithRing = false;
#endif
constexpr int kRingDepth = 32;
// Maps beyond these many are hard links to them: the disk holds what the page cache holds.
constexpr int kDistinctMaps = 2000;
constexpr double kMebibyte = 1024; // in KiB

struct Sample {
    double milliseconds = 0;
    long peakKilobytes = 0;
    std::string out; // what the program printed
};

struct BatchPlan {
    int maps;
    int rounds;
};

struct Options {
    std::string tiles, window, minimalWindow, xvfbDisplay;
    int processRuns = 41;
    int inProcessRuns = 201;
    int startupRuns = 21;
    int memoryRuns = 5;
    int fullFolderRuns = 11;
    std::vector<BatchPlan> batches{{100, 15}, {2000, 9}, {20000, 3}};
    std::vector<int> memoryOnly{100000}; // batches measured for their peak memory alone
    std::vector<std::string> parts;      // all when empty
    bool runs(const std::string& part) const {
        return parts.empty() || std::find(parts.begin(), parts.end(), part) != parts.end();
    }
};

[[noreturn]] void fail(const std::string& why) {
    std::cerr << "quillmere-bench: " << why << '\n';
    std::exit(1);
}

void progress(const std::string& what) {
    std::cerr << "quillmere-bench: " << what << '\n';
}

enum class Measure { Time, Memory };

// Runs a program to its end, its output to a file, and measures the time from spawn to exit or,
// through a small launcher, its peak memory and the time with the launcher's start in it.
Sample run(const std::vector<std::string>& command, Measure measure = Measure::Time,
           const std::vector<std::string>& environment = {}, const std::string& stdoutPath = {},
           bool mayFail = false) {
    const std::string outPath = stdoutPath.empty() ? "stdout" : stdoutPath;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, "stderr", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    if (measure == Measure::Memory) {
        posix_spawn_file_actions_addopen(&actions, 3, "peak", O_WRONLY | O_CREAT | O_TRUNC, 0644);
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
    if (const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()))
        fail("cannot start " + command[0] + ": " + std::strerror(error));
    int status = 0;
    ::waitpid(pid, &status, 0);
    const auto ended = Clock::now();
    posix_spawn_file_actions_destroy(&actions);
    if (!mayFail && (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
        std::ifstream err("stderr");
        std::string complaint;
        std::getline(err, complaint);
        fail(command[0] + " failed: " + complaint);
    }
    Sample sample;
    sample.milliseconds = std::chrono::duration<double, std::milli>(ended - started).count();
    if (measure == Measure::Memory)
        std::ifstream("peak") >> sample.peakKilobytes;
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

using Contender = std::function<Sample(Measure)>;
using Samples = std::vector<Sample>;

// Runs every contender once per round, after a warm-up round, each round in an order turned by
// one, so that no contender always follows the same one. Every run starts from a flushed disk:
// a file system defers some work to whoever flushes next, and the runs would pay for each other.
std::vector<Samples> alternate(const std::vector<Contender>& contenders, int rounds,
                               Measure measure = Measure::Time, bool warmUp = true) {
    if (warmUp)
        for (const auto& contender : contenders)
            contender(measure);
    std::vector<Samples> samples(contenders.size());
    for (int round = 0; round < rounds; ++round)
        for (std::size_t turn = 0; turn < contenders.size(); ++turn) {
            const std::size_t i = (static_cast<std::size_t>(round) + turn) % contenders.size();
            ::sync(); // untimed
            samples[i].push_back(contenders[i](measure));
        }
    return samples;
}

struct Spread {
    double median, p10, p90;
};

double quantile(const std::vector<double>& sorted, double q) {
    const double at = q * static_cast<double>(sorted.size() - 1);
    const auto below = static_cast<std::size_t>(std::floor(at));
    const std::size_t above = std::min(below + 1, sorted.size() - 1);
    return sorted[below] + (sorted[above] - sorted[below]) * (at - static_cast<double>(below));
}

Spread spread(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return {quantile(values, 0.5), quantile(values, 0.1), quantile(values, 0.9)};
}

std::vector<double> times(const Samples& samples) {
    std::vector<double> values;
    for (const auto& sample : samples)
        values.push_back(sample.milliseconds);
    return values;
}

std::vector<double> memories(const Samples& samples) {
    std::vector<double> values;
    for (const auto& sample : samples)
        values.push_back(static_cast<double>(sample.peakKilobytes));
    return values;
}

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// Four significant digits or so, whatever the size.
std::string roughly(double value) {
    const double size = std::fabs(value);
    return fixed(value, size < 10 ? 3 : size < 100 ? 2 : size < 1000 ? 1 : 0);
}

std::string withSpread(const Spread& s, const std::string& unit) {
    return roughly(s.median) + unit + " [" + roughly(s.p10) + ", " + roughly(s.p90) + "]";
}

struct Row {
    std::string measure, ours, theirs, ratio, goal;
    std::optional<bool> met; // none where the row has no goal
};
std::vector<Row> rows;

// The ratio of the two runs of each round, its median and spread: the runs of one round share
// what else the machine is doing, so their ratio holds steadier than the medians' ratio does.
std::string ratioOf(const std::vector<double>& ours, const std::vector<double>& theirs,
                    double& median) {
    std::vector<double> paired;
    for (std::size_t i = 0; i < std::min(ours.size(), theirs.size()); ++i)
        paired.push_back(ours[i] / theirs[i]);
    const Spread s = spread(paired);
    median = s.median;
    return fixed(median, 2) + "x [" + fixed(s.p10, 2) + ", " + fixed(s.p90, 2) + "]";
}

void timeRow(const std::string& measure, const Samples& ours, const std::string& what,
             const Samples& theirs, std::optional<double> goalRatio, const std::string& goal) {
    double ratio = 0;
    const std::string text = ratioOf(times(ours), times(theirs), ratio);
    rows.push_back({measure, withSpread(spread(times(ours)), " ms"),
                    what + " " + withSpread(spread(times(theirs)), " ms"), text, goal,
                    goalRatio ? std::optional(ratio <= *goalRatio) : std::nullopt});
}

std::string mebibytes(double kilobytes) {
    return fixed(kilobytes / kMebibyte, 2) + " MiB";
}

void memoryRatioRow(const std::string& measure, const Samples& ours, const std::string& what,
                    const Samples& theirs, std::optional<double> goalRatio,
                    const std::string& goal) {
    double ratio = 0;
    const std::string text = ratioOf(memories(ours), memories(theirs), ratio);
    rows.push_back({measure, mebibytes(spread(memories(ours)).median),
                    what + " " + mebibytes(spread(memories(theirs)).median), text, goal,
                    goalRatio ? std::optional(ratio <= *goalRatio) : std::nullopt});
}

void memoryDifferenceRow(const std::string& measure, const Samples& ours, const std::string& what,
                         const Samples& theirs) {
    const double mine = spread(memories(ours)).median, least = spread(memories(theirs)).median;
    rows.push_back({measure, mebibytes(mine), what + " " + mebibytes(least),
                    (mine >= least ? "+" : "") + fixed(mine - least, 0) + " KiB", "within 1 MiB",
                    mine - least <= kMebibyte});
}

void writeMap(const fs::path& path, unsigned seed) {
    std::string bytes(60000, '\0');
    for (std::size_t at = 0; at < bytes.size(); ++at)
        bytes[at] = static_cast<char>((at * 131 + seed * 7919) % 251);
    bytes.replace(0, 2, "BM"); // as a map starts: no warning to write for it
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// "m/0" to "m/<count - 1>": short names, so that 100,000 of them fit in one command line.
std::vector<std::string> maps(int count) {
    static int made = 0;
    fs::create_directories("m");
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        paths.push_back("m/" + std::to_string(i));
        if (i < made)
            continue;
        if (i < kDistinctMaps)
            writeMap(paths.back(), static_cast<unsigned>(i));
        else
            fs::create_hard_link(paths[static_cast<std::size_t>(i % kDistinctMaps)], paths.back());
    }
    made = std::max(made, count);
    return paths;
}

std::vector<std::string> joined(std::vector<std::string> command,
                                const std::vector<std::string>& paths) {
    command.insert(command.end(), paths.begin(), paths.end());
    return command;
}

void oneConversion(const Options& options) {
    progress("one conversion as a process");
    writeMap("one.LVL", 1);
    fs::create_directories("one");
    const std::vector<Contender> contenders = {
        [&](Measure measure) {
            return run({options.tiles, "one.LVL", "one/ours.BMP"}, measure);
        },
        [&](Measure measure) {
            return run({QUILLMERE_LEAST_SAFE_COPY, "one.LVL", "one/least.BMP"}, measure);
        },
        [&](Measure measure) {
            return run({"head", "-c", "49713", "one.LVL"}, measure, {}, "one/head.BMP");
        },
        [&](Measure measure) {
            Sample copy = run({"dd", "if=one.LVL", "of=one/dd.tmp", "bs=49713", "count=1",
                               "conv=fsync", "status=none"},
                              measure);
            const Sample move = run({"mv", "one/dd.tmp", "one/dd.BMP"}, measure);
            copy.milliseconds += move.milliseconds;
            copy.peakKilobytes = std::max(copy.peakKilobytes, move.peakKilobytes);
            return copy;
        },
    };
    const auto samples = alternate(contenders, options.processRuns);
    const std::string measure = "One conversion, whole process, replacing";
    timeRow(measure, samples[0], "least-safe-copy", samples[1], 1.05, "<= 1.05x");
    timeRow(measure, samples[0], "`head -c` (no flush, no rename)", samples[2], std::nullopt, "-");
    timeRow(measure, samples[0], "`dd conv=fsync` + `mv` (no folder flush)", samples[3], 1.0,
            "faster");
    const auto memory = alternate({contenders[0], contenders[1], contenders[2]}, options.memoryRuns,
                                  Measure::Memory);
    memoryDifferenceRow("Peak memory of one conversion", memory[0], "least-safe-copy", memory[1]);
    memoryRatioRow("Peak memory of one conversion", memory[0], "`head -c`", memory[2], 1.2,
                   "<= 1.2x");
}

Sample timeCall(const std::function<void()>& call) {
    const auto started = Clock::now();
    call();
    return {std::chrono::duration<double, std::milli>(Clock::now() - started).count(), 0, {}};
}

void inProcess(const Options& options) {
    progress("one conversion in process");
    fs::create_directories("in");
    const int folder = ::open("in", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const auto samples = alternate(
        {[&](Measure) {
             return timeCall([&] {
                 if (quillmere::RipBMP("one.LVL", "in/ours.BMP").outcome !=
                     quillmere::TileSetOutcome::Complete)
                     fail("RipBMP failed");
             });
         },
         [&](Measure) {
             return timeCall([&] {
                 if (least::convert("one.LVL", folder, "least.BMP") != nullptr ||
                     ::fsync(folder) != 0)
                     fail(std::string("the least sequence failed: ") + std::strerror(errno));
             });
         }},
        options.inProcessRuns);
    ::close(folder);
    timeRow("RipBMP in process, replacing", samples[0], "the least sequence and a folder flush",
            samples[1], 1.10, "<= 1.10x");
}

std::string thousands(int count) {
    const std::string digits = std::to_string(count);
    std::string text;
    for (std::size_t at = 0; at < digits.size(); ++at) {
        if (at > 0 && (digits.size() - at) % 3 == 0)
            text += ',';
        text += digits[at];
    }
    return text;
}

enum class Old { Held, NotHeld };

std::vector<std::string> leastBatch(int threads, Old old = Old::Held) {
    std::vector<std::string> command{QUILLMERE_LEAST_SAFE_COPY};
    if (old == Old::NotHeld)
        command.emplace_back("-s");
    for (std::string word : {"-j", "", "-d", "out"})
        command.push_back(word.empty() ? std::to_string(threads) : word);
    return command;
}

// Which of `count` contenders from `first` on has the lowest median time.
std::size_t fastest(const std::vector<Samples>& samples, std::size_t first, std::size_t count) {
    std::size_t best = first;
    for (std::size_t i = first; i < first + count; ++i)
        if (spread(times(samples[i])).median < spread(times(samples[best])).median)
            best = i;
    return best;
}

// The batch against the least program at each of its thread counts, all replacing the same
// outputs; the batch of 2,000 also against the straw man that does not hold the old output
// (its renames release the old blocks under the folder's lock), small batches also against a
// shell loop, large ones also for their peak memory.
void batch(const Options& options, const BatchPlan& plan) {
    progress("batch of " + thousands(plan.maps) + " maps");
    fs::create_directories("out");
    const auto paths = maps(plan.maps);
    const auto ours = joined({options.tiles, "-d", "out"}, paths);
    std::vector<std::vector<std::string>> commands{ours};
    for (const int threads : kLeastThreads)
        commands.push_back(joined(leastBatch(threads), paths));
    const int inFlight = oursInFlight();
    const bool withStrawMan = plan.maps == 2000;
    if (withStrawMan)
        for (const int threads : kLeastThreads)
            commands.push_back(joined(leastBatch(threads, Old::NotHeld), paths));
    // Whether io_uring would pay: the same least sequence as linked requests, one thread.
    const bool withRing = kWithRing && plan.maps == 2000;
    if (withRing)
        commands.push_back(joined(
            {QUILLMERE_LEAST_SAFE_COPY, "-u", std::to_string(kRingDepth), "-d", "out"}, paths));
    const bool withLoop = plan.maps <= 100;
    if (withLoop)
        commands.push_back(
            joined({"sh", "-c",
                    "out=$1; shift; for m in \"$@\"; do n=${m##*/}; "
                    "dd if=\"$m\" of=\"$out/.tmp\" bs=49713 count=1 conv=fsync status=none && "
                    "mv \"$out/.tmp\" \"$out/${n%.*}.BMP\"; done",
                    "sh", "out"},
                   paths));
    // The launcher's start is lost in a run this long.
    const Measure measure = plan.maps >= 20000 ? Measure::Memory : Measure::Time;
    std::vector<Contender> contenders;
    for (const auto& command : commands)
        contenders.push_back([&command, measure](Measure) { return run(command, measure); });
    const auto samples = alternate(contenders, plan.rounds, measure);

    const std::size_t best = fastest(samples, 1, kLeastCounts);
    std::size_t equal = 0; // ours, where no count of the least program's is like it
    for (std::size_t i = 1; i <= kLeastCounts; ++i)
        if (kLeastThreads[i - 1] == inFlight)
            equal = i;
    const std::string name = "Batch of " + thousands(plan.maps) + " maps, replacing";
    const bool goal = plan.maps == 2000;
    if (equal > 0)
        timeRow(name, samples[0],
                "least-safe-copy, " + std::to_string(inFlight) + " threads like ours",
                samples[equal], std::nullopt, "-");
    timeRow(name, samples[0],
            "least-safe-copy at its best of " + leastCounts() + " (" +
                std::to_string(kLeastThreads[best - 1]) + " threads)",
            samples[best], goal ? std::optional(1.0) : std::nullopt, goal ? "<= 1.00x" : "-");
    std::size_t at = 1 + kLeastCounts;
    if (withStrawMan) {
        const std::size_t strawMan = fastest(samples, at, kLeastCounts);
        timeRow(name, samples[0],
                "straw man, old output not held, at its best of " + leastCounts() + " (" +
                    std::to_string(kLeastThreads[strawMan - at]) + " threads)",
                samples[strawMan], std::nullopt, "-");
        timeRow(name + ", the least program", samples[best], "the straw man at its best",
                samples[strawMan], std::nullopt, "-");
        at += kLeastCounts;
    }
    if (withRing)
        timeRow(name, samples[0],
                "least-safe-copy through io_uring, " + std::to_string(kRingDepth) + " in flight",
                samples[at], std::nullopt, "-");
    if (withLoop)
        timeRow(name, samples[0], "shell loop of `dd` + `mv` (two processes a map, one at a time)",
                samples.back(), 0.1, ">= 10x faster");
    if (measure == Measure::Memory && equal > 0)
        memoryDifferenceRow("Peak memory, batch of " + thousands(plan.maps) + " maps", samples[0],
                            "least-safe-copy, same arguments", samples[equal]);
}

void batchMemory(const Options& options, int count) {
    progress("peak memory of a batch of " + thousands(count) + " maps");
    fs::create_directories("out");
    const auto paths = maps(count);
    const auto ours = joined({options.tiles, "-d", "out"}, paths);
    const auto least = joined(leastBatch(oursInFlight()), paths);
    // One run each, without a warm-up: memory varies little from run to run, time does not.
    const auto samples = alternate({[&](Measure measure) { return run(ours, measure); },
                                    [&](Measure measure) { return run(least, measure); }},
                                   1, Measure::Memory, false);
    memoryDifferenceRow("Peak memory, batch of " + thousands(count) + " maps", samples[0],
                        "least-safe-copy, same arguments", samples[1]);
}

// One conversion into a folder of 100,000 files against one into an empty folder: a run that
// read its output's folder would pay for every file in it.
void oneIntoAFullFolder(const Options& options) {
    constexpr int kFiles = 100000;
    progress("one conversion into a folder of " + thousands(kFiles) + " files");
    writeMap("one.LVL", 1);
    fs::create_directories("crowded");
    fs::create_directories("empty");
    for (int i = 0; i < kFiles; ++i) {
        const int file =
            ::open(("crowded/" + std::to_string(i)).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (file < 0)
            fail(std::string("cannot fill the crowded folder: ") + std::strerror(errno));
        ::close(file);
    }
    const std::vector<Contender> contenders = {
        [&](Measure measure) {
            return run({options.tiles, "one.LVL", "crowded/ours.BMP"}, measure);
        },
        [&](Measure measure) {
            return run({options.tiles, "one.LVL", "empty/ours.BMP"}, measure);
        },
        // What the file system itself charges for the crowded folder.
        [&](Measure measure) {
            return run({QUILLMERE_LEAST_SAFE_COPY, "one.LVL", "crowded/least.BMP"}, measure);
        },
        [&](Measure measure) {
            return run({QUILLMERE_LEAST_SAFE_COPY, "one.LVL", "empty/least.BMP"}, measure);
        },
    };
    const auto samples = alternate(contenders, options.fullFolderRuns);
    const std::string measure = "One conversion into a folder of " + thousands(kFiles) + " files";
    timeRow(measure, samples[0], "ours into an empty folder", samples[1], 1.15, "<= 1.15x");
    timeRow("least-safe-copy into a folder of " + thousands(kFiles) + " files", samples[2],
            "least-safe-copy into an empty folder", samples[3], std::nullopt, "-");
}

void startup(const Options& options, const std::string& platform,
             const std::vector<std::string>& environment) {
    progress("start-up (" + platform + ")");
    std::vector<std::string> settings = environment;
    settings.push_back("QUILLMERE_REPORT_FIRST_FRAME=1");
    const std::vector<Contender> contenders = {
        [&](Measure measure) { return run({options.window}, measure, settings); },
        [&](Measure measure) {
            return run({options.minimalWindow, "--label"}, measure, settings);
        },
        [&](Measure measure) { return run({options.minimalWindow}, measure, settings); }};
    const auto samples = alternate(contenders, options.startupRuns);
    const auto memory = alternate(contenders, options.memoryRuns, Measure::Memory);
    const std::string where = " (" + platform + ")";
    timeRow("Start-up to first frame" + where, samples[0], "Qt window with one label", samples[1],
            1.10, "<= 1.10x");
    timeRow("Start-up to first frame" + where, samples[0], "empty Qt window (shows no text)",
            samples[2], std::nullopt, "-");
    memoryRatioRow("Peak memory at first frame" + where, memory[0], "Qt window with one label",
                   memory[1], 1.10, "<= 1.10x");
    memoryRatioRow("Peak memory at first frame" + where, memory[0],
                   "empty Qt window (shows no text)", memory[2], std::nullopt, "-");
}

std::string sharedLibraries(const std::string& program) {
    run({"ldd", program}, Measure::Time, {}, {}, true);
    std::ifstream complaint("stderr");
    if (std::string(std::istreambuf_iterator<char>(complaint), {}).find("not a dynamic") !=
        std::string::npos)
        return "none, it is linked statically";
    std::ifstream listing("stdout");
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
    std::cout << "| Measure | Ours: median [p10, p90] | Against: median [p10, p90] "
                 "| Ratio, round by round: median [p10, p90] | Goal | Met |\n"
              << "|---|---|---|---|---|---|\n";
    for (const auto& row : rows)
        std::cout << "| " << row.measure << " | " << row.ours << " | " << row.theirs << " | "
                  << row.ratio << " | " << row.goal << " | "
                  << (!row.met   ? "-"
                      : *row.met ? "yes"
                                 : "**no**")
                  << " |\n";
    const std::string libraries = sharedLibraries(options.tiles);
    std::cout << "\nShared libraries of quillmere-tiles: " << libraries << " ("
              << (libraries.find("Qt") == std::string::npos ? "no Qt" : "**Qt**") << ").\n"
              << "Rounds: " << options.processRuns << " a process, " << options.inProcessRuns
              << " in process, " << options.startupRuns << " a window, " << options.memoryRuns
              << " for memory alone; batches:";
    for (const auto& plan : options.batches)
        std::cout << ' ' << plan.rounds << " of " << thousands(plan.maps) << ',';
    std::cout << " each after a warm-up round, in an order turned by one each round.\n";
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    bool custom = false;
    for (int at = 1; at < argc; ++at) {
        const std::string argument = argv[at];
        auto value = [&] {
            if (at + 1 == argc)
                fail(argument + " needs a value");
            return fs::absolute(argv[++at]).string();
        };
        if (argument == "--tiles")
            options.tiles = value();
        else if (argument == "--window")
            options.window = value();
        else if (argument == "--minimal-window")
            options.minimalWindow = value();
        else if (argument == "--xvfb-display" && at + 1 < argc)
            options.xvfbDisplay = argv[++at];
        else if (argument == "--only" && at + 1 < argc)
            options.parts.emplace_back(argv[++at]);
        else if (argument == "--batch" && at + 1 < argc) {
            // Replaces the planned batches, the first one given the ones before.
            const std::string plan = argv[++at];
            if (!custom)
                options.batches.clear(), options.memoryOnly.clear();
            custom = true;
            options.batches.push_back(
                {std::stoi(plan), std::stoi(plan.substr(plan.find(':') + 1))});
        } else if (argument == "--quick") {
            options.processRuns = 11;
            options.inProcessRuns = 31;
            options.startupRuns = 11;
            options.memoryRuns = 3;
            options.fullFolderRuns = 5;
            if (!custom)
                options.batches = {{100, 5}, {2000, 3}, {20000, 1}}, options.memoryOnly = {};
        } else
            fail("unknown argument " + argument);
    }
    if (options.tiles.empty())
        fail("usage: quillmere-bench --tiles EXE [--window EXE --minimal-window EXE] "
             "[--xvfb-display :N] [--quick] [--only one|batches|start-up]... "
             "[--batch MAPS:ROUNDS]...");

    const char* temporary = std::getenv("TMPDIR");
    std::string folder = std::string(temporary != nullptr && *temporary ? temporary : "/tmp") +
                         "/quillmere-bench.XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr || ::chdir(folder.c_str()) != 0)
        fail("cannot make a scratch folder in " + folder);

    if (options.runs("one")) {
        oneConversion(options);
        inProcess(options);
    }
    for (const auto& plan : options.runs("batches") ? options.batches : std::vector<BatchPlan>{})
        batch(options, plan);
    for (const int count : options.runs("batches") ? options.memoryOnly : std::vector<int>{})
        batchMemory(options, count);
    if (options.runs("one"))
        oneIntoAFullFolder(options);
    if (options.runs("start-up") && !options.window.empty() && !options.minimalWindow.empty()) {
        startup(options, "offscreen", {"QT_QPA_PLATFORM=offscreen"});
        if (!options.xvfbDisplay.empty())
            startup(options, "Xvfb", {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + options.xvfbDisplay});
    }
    print(options);
    progress("removing the scratch folder");
    fs::remove_all(folder);
    return 0;
}
