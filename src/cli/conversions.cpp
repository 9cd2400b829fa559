#include "conversions.h"

#include "put_tile_set.h"
#include "result_wording.h"
#include "tile_set.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

namespace quillmere::cli {
namespace {

constexpr std::string_view kProgram = "quillmere-tiles";
constexpr std::string_view kClearLine = "\r\033[K";
// Each conversion waits mostly on its flush to disk; a few at once overlap those waits.
constexpr std::size_t kConversionsAtOnce = 8;

#ifdef _WIN32
// Windows file names ignore case, so "A.BMP" and "a.BMP" are one output there.
std::string outputKey(std::string path) {
    for (auto& c : path)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return path;
}
#else
std::string outputKey(std::string path) {
    return path;
}
#endif

void report(const TileSetResult& result, const std::string& map, const std::string& output,
            std::ostream& out, std::ostream& err) {
    const ResultMessage message = describeResult(result, map, output);
    if (message.style == MessageStyle::Information)
        out << completionTitle(map, output) << ": " << message.prompt << '\n';
    else
        err << kProgram << ": " << completionTitle(map, output) << ": " << message.prompt << '\n';
}

// Converts the maps of a batch a few at a time, while the caller reports them in their order.
// What it keeps does not grow with the number of maps beyond a byte and an index for each.
class Batch {
public:
    Batch(const std::vector<std::string>& maps, std::string folder)
        : maps_(maps), folder_(std::move(folder)), earlier_(maps.size(), kNone),
          state_(maps.size(), State::Pending), slots_(kWindow) {
        linkMapsWithTheSameOutput();
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

private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    // How far the conversions may run ahead of the reports.
    static constexpr std::size_t kWindow = 64;

    enum class State : std::uint8_t {
        Pending,
        Claimed,   // its output was written, by this map or an earlier one
        Unclaimed, // it failed, and its output is free for a later map
    };

    // Each map learns the nearest earlier map with the same output, which it must wait for:
    // the earliest map that succeeds is the one whose output stands.
    void linkMapsWithTheSameOutput() {
        std::unordered_multimap<std::size_t, std::size_t> latestWithHash;
        for (std::size_t index = 0; index < maps_.size(); ++index) {
            const std::string key = outputKey(output(index));
            const std::size_t hash = std::hash<std::string>{}(key);
            const auto [first, last] = latestWithHash.equal_range(hash);
            const auto same = std::find_if(first, last, [&](const auto& entry) {
                return outputKey(output(entry.second)) == key;
            });
            if (same == last) {
                latestWithHash.emplace(hash, index);
            } else {
                earlier_[index] = same->second;
                same->second = index;
            }
        }
    }

    void work() {
        for (std::size_t index = next_++; index < maps_.size(); index = next_++) {
            std::unique_lock lock(mutex_);
            const std::size_t earlier = earlier_[index];
            changed_.wait(lock, [&] {
                return index < taken_ + kWindow &&
                       (earlier == kNone || state_[earlier] != State::Pending);
            });
            const bool outputTaken = earlier != kNone && state_[earlier] == State::Claimed;
            lock.unlock();

            TileSetResult result =
                outputTaken ? TileSetResult::failed(FileRole::Output, {},
                                                    "an earlier map in this run wrote it already")
                            : RipBMP(maps_[index], output(index));

            lock.lock();
            state_[index] = outputTaken || result.outcome != TileSetOutcome::Failed
                                ? State::Claimed
                                : State::Unclaimed;
            slots_[index % kWindow] = std::move(result);
            lock.unlock();
            changed_.notify_all();
        }
    }

    const std::vector<std::string>& maps_;
    const std::string folder_;
    std::vector<std::size_t> earlier_;
    std::vector<State> state_;
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
            err << kClearLine << kProgram << ": " << index + 1 << " of " << maps.size() << ": "
                << maps[index] << std::flush;
        const TileSetResult result = batch.take(index);
        anyFailed = anyFailed || result.outcome == TileSetOutcome::Failed;
        if (showProgress)
            err << kClearLine << std::flush;
        report(result, maps[index], batch.output(index), out, err);
    }
    return anyFailed ? 1 : 0;
}

int putTileSet(const std::string& tileSet, const std::string& map, std::ostream& out,
               std::ostream& err) {
    const PutResult result = PutTileSet(tileSet, map);
    const std::string line =
        completionTitle(tileSet, map) + ": " + describePut(result, tileSet, map) + '\n';
    if (result.outcome == PutOutcome::Complete) {
        out << line;
        return 0;
    }
    err << kProgram << ": " << line;
    return 1;
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
