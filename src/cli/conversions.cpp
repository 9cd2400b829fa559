#include "conversions.h"

#include "put_tile_set.h"
#include "result_wording.h"
#include "tile_set.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#ifdef _WIN32
#include "windows_console.h"
#endif

namespace quillmere::cli {
namespace {

constexpr std::string_view kProgram = "quillmere-tiles";
#ifdef _WIN32
std::string_view clearLine() {
    return clearLineText();
}
#else
std::string_view clearLine() {
    return "\r\033[K";
}
#endif
// Each conversion waits mostly on its flush to disk; a few at once overlap those waits.
constexpr std::size_t kConversionsAtOnce = 8;

void report(const TileSetResult& result, const std::string& map, const std::string& output,
            std::ostream& out, std::ostream& err) {
    // Names go to a terminal: their control characters are shown, never acted on.
    const std::string prompt = describeResult(result, visibleName(map), visibleName(output));
    const std::string title = completionTitle(visibleName(map), visibleName(output));
    if (result.outcome != TileSetOutcome::Failed && !deservesWarning(result))
        out << title << ": " << prompt << '\n';
    else
        err << kProgram << ": " << title << ": " << prompt << '\n';
}

// Converts the maps of a batch a few at a time, while the caller reports them in their order.
// Outputs are told apart by what they are, not by their names, which a file system may fold
// ("É" and "é"): just before each rename, in the maps' order, a map whose output's name now
// leads to a file an earlier map wrote fails, unless it is that same map given again. What it
// keeps grows by a byte for each map and an entry for each output written.
class Batch {
public:
    Batch(const std::vector<std::string>& maps, std::string folder)
        : maps_(maps), folder_(std::move(folder)), done_(maps.size(), false), slots_(kWindow) {
        const std::size_t workers = std::min(kConversionsAtOnce, maps.size());
        for (std::size_t worker = 0; worker < workers; ++worker)
            workers_.emplace_back([this] { work(); });
    }

    ~Batch() {
        for (auto& worker : workers_)
            worker.join();
    }

    std::string output(std::size_t index) const { return outputPathFor(folder_, maps_[index]); }

    // Waits for the map's result and hands it over; maps must be taken in their order.
    TileSetResult take(std::size_t index) {
        std::unique_lock lock(mutex_);
        auto& slot = slots_[index % kWindow];
        changed_.wait(lock, [&] { return slot.has_value(); });
        TileSetResult result = std::move(*slot);
        slot.reset();
        ++taken_;
        lock.unlock();
        changed_.notify_all();
        return result;
    }

    // Puts every folder the batch renamed into on disk; once all maps were taken.
    std::vector<std::string> flushFolders() {
        std::lock_guard lock(mutex_);
        std::vector<std::string> failures;
        for (auto& [identity, folder] : folders_)
            if (const auto flushed = folder.flush(); !flushed)
                failures.push_back(flushed.error().step + ": " + flushed.error().reason);
        return failures;
    }

private:
    // How far the conversions may run ahead of the reports.
    static constexpr std::size_t kWindow = 64;
    using Key = std::pair<std::uint64_t, std::uint64_t>;

    static Key keyOf(files::FileIdentity identity) { return {identity.volume, identity.index}; }

    // The output and the map of a conversion that goes on to its rename.
    using Claim = std::pair<Key, Key>;

    std::optional<TileSetResult> checkOutput(std::size_t index, const OutputCheck& check,
                                             std::optional<Claim>& claim) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return firstNotDone_ == index; });
        if (const auto current = check.output.current()) {
            const auto earlier = written_.find(keyOf(current->identity));
            if (earlier != written_.end() && earlier->second == keyOf(check.map))
                return check.mapBytes < kTileSetLength ? TileSetResult::shortMap(check.mapBytes)
                                                       : TileSetResult::complete();
            if (earlier != written_.end())
                return TileSetResult::failed(FileRole::Output, {},
                                             "an earlier map in this run wrote it already");
        }
        claim = Claim{keyOf(check.output.incoming), keyOf(check.map)};
        return std::nullopt;
    }

    void keepFolder(files::OutputFolder folder) {
        std::lock_guard lock(mutex_);
        folders_.try_emplace(keyOf(folder.identity()), std::move(folder));
    }

    void work() {
        for (std::size_t index = next_++; index < maps_.size(); index = next_++) {
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return index < taken_ + kWindow; });
            }
            std::optional<Claim> claim;
            RipOptions options;
            options.beforeReplace = [&](const OutputCheck& check) {
                return checkOutput(index, check, claim);
            };
            options.deferFolderFlush = [&](files::OutputFolder folder) {
                keepFolder(std::move(folder));
            };
            TileSetResult result = RipBMP(maps_[index], output(index), options);

            std::unique_lock lock(mutex_);
            if (claim && result.outcome != TileSetOutcome::Failed)
                written_.insert(*claim);
            done_[index] = true;
            while (firstNotDone_ < done_.size() && done_[firstNotDone_])
                ++firstNotDone_;
            slots_[index % kWindow] = std::move(result);
            lock.unlock();
            changed_.notify_all();
        }
    }

    const std::vector<std::string>& maps_;
    const std::string folder_;
    std::vector<bool> done_;
    std::size_t firstNotDone_ = 0;
    std::map<Key, Key> written_; // each output written, and the map written into it
    std::map<Key, files::OutputFolder> folders_;
    std::vector<std::optional<TileSetResult>> slots_;
    std::size_t taken_ = 0;
    std::atomic<std::size_t> next_{0};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::thread> workers_;
};

int convertMany(const Invocation& invocation, std::ostream& out, std::ostream& err,
                bool showProgress) {
    const auto& maps = invocation.paths;
    Batch batch(maps, invocation.outputFolder);
    bool anyFailed = false;
    for (std::size_t index = 0; index < maps.size(); ++index) {
        if (showProgress)
            err << clearLine() << kProgram << ": " << index + 1 << " of " << maps.size() << ": "
                << visibleName(maps[index]) << std::flush;
        const TileSetResult result = batch.take(index);
        anyFailed = anyFailed || result.outcome == TileSetOutcome::Failed;
        if (showProgress)
            err << clearLine() << std::flush;
        report(result, maps[index], batch.output(index), out, err);
    }
    // Until its folder is on disk, a renamed output could still vanish in a power cut.
    for (const auto& failure : batch.flushFolders()) {
        err << kProgram << ": Could not write the tile sets " << failure << ".\n";
        anyFailed = true;
    }
    return anyFailed ? 1 : 0;
}

int putTileSet(const std::string& tileSet, const std::string& map, std::ostream& out,
               std::ostream& err) {
    const PutResult result = PutTileSet(tileSet, map);
    const std::string shownTileSet = visibleName(tileSet);
    const std::string shownMap = visibleName(map);
    const std::string line = completionTitle(shownTileSet, shownMap) + ": " +
                             describePut(result, shownTileSet, shownMap) + '\n';
    if (result.outcome == PutOutcome::Complete && result.otherNames == 0)
        out << line;
    else
        err << kProgram << ": " << line;
    return result.outcome == PutOutcome::Complete ? 0 : 1;
}

} // namespace

int runConversions(const Invocation& invocation, std::ostream& out, std::ostream& err,
                   bool showProgress) {
    if (invocation.action == Action::ConvertMany)
        return convertMany(invocation, out, err, showProgress);
    if (invocation.action == Action::PutTileSet)
        return putTileSet(invocation.paths.at(0), invocation.paths.at(1), out, err);
    const std::string& map = invocation.paths.at(0);
    const std::string& output = invocation.paths.at(1);
    const TileSetResult result = RipBMP(map, output);
    report(result, map, output, out, err);
    return result.outcome == TileSetOutcome::Failed ? 1 : 0;
}

} // namespace quillmere::cli
