#include "conversions.h"

#include "result_wording.h"
#include "tile_set.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

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
class Batch {
public:
    Batch(const std::vector<std::string>& maps, const std::string& folder)
        : maps_(maps), outputs_(maps.size()), results_(maps.size()) {
        // Maps that would write the same output form one queue, taken in order by one worker,
        // so that the earliest map that succeeds is the one whose output stands.
        std::map<std::string, std::size_t> queueOf;
        for (std::size_t index = 0; index < maps.size(); ++index) {
            outputs_[index] = outputPathFor(folder, maps[index]);
            const auto [at, added] =
                queueOf.try_emplace(outputKey(outputs_[index]), queues_.size());
            if (added)
                queues_.emplace_back();
            queues_[at->second].push_back(index);
        }
        const std::size_t workers = std::min(kConversionsAtOnce, queues_.size());
        for (std::size_t worker = 0; worker < workers; ++worker)
            workers_.emplace_back([this] { work(); });
    }

    ~Batch() {
        for (auto& worker : workers_)
            worker.join();
    }

    const std::string& output(std::size_t index) const { return outputs_[index]; }

    // Waits for the map's result and hands it over.
    TileSetResult take(std::size_t index) {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [&] { return results_[index].has_value(); });
        TileSetResult result = std::move(*results_[index]);
        results_[index].reset();
        return result;
    }

private:
    void work() {
        for (std::size_t queue = next_++; queue < queues_.size(); queue = next_++) {
            bool written = false;
            for (const std::size_t index : queues_[queue]) {
                TileSetResult result =
                    written ? TileSetResult::failed(FileRole::Output, {},
                                                    "an earlier map in this run wrote it already")
                            : RipBMP(maps_[index], outputs_[index]);
                written = written || result.outcome != TileSetOutcome::Failed;
                {
                    std::lock_guard lock(mutex_);
                    results_[index] = std::move(result);
                }
                ready_.notify_all();
            }
        }
    }

    const std::vector<std::string>& maps_;
    std::vector<std::string> outputs_;
    std::vector<std::vector<std::size_t>> queues_;
    std::vector<std::optional<TileSetResult>> results_;
    std::atomic<std::size_t> next_{0};
    std::mutex mutex_;
    std::condition_variable ready_;
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

} // namespace

int runConversions(const Invocation& invocation, std::ostream& out, std::ostream& err,
                   bool showProgress) {
    if (invocation.action == Action::ConvertMany)
        return convertMany(invocation, out, err, showProgress);
    const std::string& map = invocation.paths.at(0);
    const std::string& output = invocation.paths.at(1);
    const TileSetResult result = RipBMP(map, output);
    report(result, map, output, out, err);
    return result.outcome == TileSetOutcome::Failed ? 1 : 0;
}

} // namespace quillmere::cli
