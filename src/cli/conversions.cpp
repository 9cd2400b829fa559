#include "conversions.h"

#include "fingerprint_set.h"
#include "put_tile_set.h"
#include "result_wording.h"
#include "tile_set.h"
#include "unicode_text.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#ifdef _WIN32
#include "windows_console.h"
#endif

namespace quillmere::cli {
namespace {

#ifdef _WIN32
constexpr const char* kSeparators = "\\/";
#else
constexpr const char* kSeparators = "/";
#endif
#ifdef _WIN32
std::string_view clearLine() {
    return clearLineText();
}
#else
std::string_view clearLine() {
    return "\r\033[K";
}
#endif
// Each conversion waits mostly on its flush to disk, and a disk takes many flushes at once:
// sized to the disk, not to the cores (8, 16 and 32 ran alike on a 2-core VM; bench/).
constexpr std::size_t kConversionsAtOnce = 16;

void report(const TileSetResult& result, const std::string& map, const std::string& output,
            ReportBuffer& out, ReportBuffer& err) {
    // Names go to a terminal: their control characters are shown, never acted on.
    const std::string prompt = describeResult(result, visibleName(map), visibleName(output));
    // One line, one write: standard error's pieces go out as they are given.
    const std::string line =
        completionTitle(visibleName(map), visibleName(output)) + ": " + prompt + '\n';
    if (result.outcome != TileSetOutcome::Failed && !deservesWarning(result))
        out << line;
    else
        err << std::string(kProgramName) + ": " + line;
}

// Converts the maps of a batch a few at a time, while the caller reports them in their order.
// Outputs are told apart by what they are, and by what their folder takes their names for
// ("É" and "é" may be one file): just before each rename, in the maps' order, a map whose
// output's name now leads to a file an earlier map wrote fails, unless it is that same map
// given again. What it keeps grows by four bytes and three bits for each map.
class Batch {
public:
    Batch(std::span<char* const> maps, std::string folder)
        : maps_(maps), folder_(std::move(folder)), done_(maps.size(), false),
          wrote_(maps.size(), false), slots_(kWindow) {
        foldTwins_ = foldTwins();
        written_.reserve(maps.size());
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
        ready_.wait(lock, [&] { return slot.has_value(); });
        TileSetResult result = std::move(*slot);
        slot.reset();
        ++taken_;
        lock.unlock();
        room_.notify_all();
        return result;
    }

    // Puts every folder the batch renamed into on disk; once all maps were taken.
    std::vector<std::string> flushFolders() {
        std::lock_guard lock(mutex_);
        std::vector<std::string> failures;
        for (auto& [identity, folder] : folders_)
            if (const auto flushed = folder.flush(); !flushed)
                failures.push_back(flushed.error().step + ": " + flushed.error().reason + '.');
        return failures;
    }

private:
    // How far the conversions may run ahead of the reports.
    static constexpr std::size_t kWindow = 64;
    using Key = std::pair<std::uint64_t, std::uint64_t>;

    static Key keyOf(files::FileIdentity identity) { return {identity.volume, identity.index}; }
    static std::uint64_t valueOf(files::FileIdentity identity) {
        return identity.index ^ (identity.volume * 0x9e3779b97f4a7c15ULL);
    }

    // The result of a map given again, whose output is its own file from earlier in the run.
    static TileSetResult writtenBefore(const TileSetRead& read) {
        return read.mapBytes < kTileSetLength ? TileSetResult::shortMap(read.mapBytes)
                                              : TileSetResult::complete();
    }

    // In the maps' order, just before the rename: an output that is a file an earlier map wrote
    // fails, unless that map is this one given again.
    std::optional<TileSetResult> checkOutput(std::size_t index, const TileSetRead& read,
                                             const files::Replacement& replacement) {
        std::optional<std::size_t> writer;
        if (const auto current = replacement.current();
            current && written_.mayContain(valueOf(current->identity)))
            writer = writerOf(index, current->identity);
        if (!writer && foldTwins_[index])
            writer = foldedWriterOf(index, replacement);
        if (!writer)
            return std::nullopt;
        if (files::sameFile(maps_[*writer], read.mapPath))
            return writtenBefore(read);
        return TileSetResult::failed(FileRole::Output, {},
                                     "an earlier map in this run wrote it already");
    }

    std::string nameOf(std::size_t index) const {
        const std::string path = output(index);
        return path.substr(path.find_last_of(kSeparators) + 1);
    }

    // The outputs whose names fold to another output's name but are not spelled like it: only
    // those are asked whether their folder takes the two for one file. Found once, up front,
    // so that a batch without them keeps nothing for it but a bit a map.
    std::vector<bool> foldTwins() const {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> keys; // folded name's hash, map
        keys.reserve(maps_.size());
        for (std::size_t index = 0; index < maps_.size(); ++index)
            keys.emplace_back(static_cast<std::uint32_t>(
                                  std::hash<std::string>{}(files::foldedCase(nameOf(index)))),
                              static_cast<std::uint32_t>(index));
        std::sort(keys.begin(), keys.end());
        std::vector<bool> twins(maps_.size(), false);
        for (std::size_t start = 0, end = 0; start < keys.size(); start = end) {
            bool spelledOtherwise = false;
            for (end = start + 1; end < keys.size() && keys[end].first == keys[start].first; ++end)
                spelledOtherwise =
                    spelledOtherwise || nameOf(keys[end].second) != nameOf(keys[start].second);
            for (std::size_t at = start; spelledOtherwise && at < end; ++at)
                twins[keys[at].second] = true;
        }
        return twins;
    }

    // The earlier map whose output is spelled otherwise than this one's, in a folder that
    // takes both spellings as one file; file systems that give each spelling its own number
    // hide it from writerOf.
    std::optional<std::size_t> foldedWriterOf(std::size_t index,
                                              const files::Replacement& replacement) const {
        const std::string name = nameOf(index);
        const std::string folded = files::foldedCase(name);
        for (std::size_t earlier = index; earlier-- > 0;) {
            if (!wrote_[earlier])
                continue;
            const std::string other = nameOf(earlier);
            if (other != name && files::foldedCase(other) == folded &&
                replacement.namesOneFile(other))
                return earlier;
        }
        return std::nullopt;
    }

    // The tile set of one map, written; `claim` is the new file, once it took the output's
    // name; `replaced` the old output, still open.
    TileSetResult convert(std::size_t index, std::optional<files::FileIdentity>& claim,
                          files::HeldHandle& replaced) {
        auto read = readTileSet(maps_[index]);
        auto* tileSet = std::get_if<TileSetRead>(&read);
        if (tileSet == nullptr)
            return std::get<TileSetResult>(read);
        const std::string path = output(index);
        if (auto refused = refuseOutput(*tileSet, path))
            return *refused;
        auto options = tileSetWriteOptions(*tileSet);
        options.flushFolder = false;
        auto replacement = files::Replacement::prepare(path, {tileSet->bytes}, options);
        if (!replacement)
            return tileSetResultOf(*tileSet, replacement.error());
        {
            std::unique_lock lock(mutex_);
            turns_[index % kWindow].wait(lock, [&] { return firstNotDone_ == index; });
            if (auto earlier = checkOutput(index, *tileSet, *replacement))
                return *earlier;
        }
        auto written = replacement->commit();
        if (written) {
            claim = written->identity;
            replaced = std::move(written->replacedFile);
            if (written->folder)
                keepFolder(std::move(*written->folder));
        }
        return tileSetResultOf(*tileSet, written);
    }

    // The earlier map that wrote the file with `identity`, which the output's name now leads
    // to. Asked only when the record of written files says it may be one: looked for first
    // where it was found last (a map given many times), then among the outputs of the same
    // name, then, for a name the file system folds into another, among all.
    std::optional<std::size_t> writerOf(std::size_t index, files::FileIdentity identity) {
        auto wroteIt = [&](std::size_t earlier) {
            if (!wrote_[earlier])
                return false;
            const auto info = files::inspect(output(earlier));
            return info && info->identity == identity;
        };
        if (lastWriter_ < index && wroteIt(lastWriter_))
            return lastWriter_;
        const std::string name = output(index);
        for (const bool sameName : {true, false})
            for (std::size_t earlier = index; earlier-- > 0;)
                if ((output(earlier) == name) == sameName && wroteIt(earlier))
                    return lastWriter_ = earlier;
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
                room_.wait(lock, [&] { return index < taken_ + kWindow; });
            }
            std::optional<files::FileIdentity> claim;
            files::HeldHandle replaced;
            TileSetResult result = convert(index, claim, replaced);

            std::unique_lock lock(mutex_);
            if (claim && result.outcome != TileSetOutcome::Failed) {
                written_.insert(valueOf(*claim));
                wrote_[index] = true;
            }
            done_[index] = true;
            const std::size_t turn = firstNotDone_;
            while (firstNotDone_ < done_.size() && done_[firstNotDone_])
                ++firstNotDone_;
            const std::size_t next = firstNotDone_;
            slots_[index % kWindow] = std::move(result);
            lock.unlock();
            // Only the map whose turn it is now is woken, and the reader.
            if (next != turn && next < done_.size())
                turns_[next % kWindow].notify_one();
            ready_.notify_one();
            // Once the next rename may go: releasing the old file's blocks takes a while.
            replaced = files::HeldHandle();
        }
    }

    const std::span<char* const> maps_;
    const std::string folder_;
    std::vector<bool> done_;
    std::size_t firstNotDone_ = 0;
    std::vector<bool> wrote_;     // whether each map's own file took its output's name
    FingerprintSet written_;      // the identities of those files
    std::vector<bool> foldTwins_; // see foldTwins()
    std::size_t lastWriter_ = 0;
    std::map<Key, files::OutputFolder> folders_;
    std::vector<std::optional<TileSetResult>> slots_;
    std::size_t taken_ = 0;
    std::atomic<std::size_t> next_{0};
    std::mutex mutex_;
    std::array<std::condition_variable, kWindow> turns_; // a map's turn to check its output
    std::condition_variable ready_;                      // a result for the reader
    std::condition_variable room_;                       // room in the window
    std::vector<std::thread> workers_;
};

int convertMany(const Invocation& invocation, ReportBuffer& out, ReportBuffer& err,
                bool showProgress) {
    const auto& maps = invocation.paths;
    Batch batch(maps, invocation.outputFolder);
    bool anyFailed = false;
    for (std::size_t index = 0; index < maps.size(); ++index) {
        if (showProgress)
            err << std::string(clearLine()) + std::string(kProgramName) + ": " +
                       std::to_string(index + 1) + " of " + std::to_string(maps.size()) + ": " +
                       visibleName(maps[index]);
        const TileSetResult result = batch.take(index);
        anyFailed = anyFailed || result.outcome == TileSetOutcome::Failed;
        if (showProgress)
            err << clearLine();
        report(result, maps[index], batch.output(index), out, err);
    }
    // Until its folder is on disk, a renamed output could still vanish in a power cut.
    for (const auto& failure : batch.flushFolders()) {
        err << std::string(kProgramName) +
                   ": The new tile sets are in place, but they may not survive a power loss: " +
                   failure + "\n";
        anyFailed = true;
    }
    return anyFailed ? 1 : 0;
}

int putTileSet(const std::string& tileSet, const std::string& map, ReportBuffer& out,
               ReportBuffer& err) {
    const PutResult result = PutTileSet(tileSet, map);
    const std::string shownTileSet = visibleName(tileSet);
    const std::string shownMap = visibleName(map);
    const std::string line = completionTitle(shownTileSet, shownMap) + ": " +
                             describePut(result, shownTileSet, shownMap) + '\n';
    if (result.outcome == PutOutcome::Complete && result.otherNames == 0)
        out << line;
    else
        err << std::string(kProgramName) + ": " + line;
    return result.outcome == PutOutcome::Complete ? 0 : 1;
}

} // namespace

int runConversions(const Invocation& invocation, ReportBuffer& out, ReportBuffer& err,
                   bool showProgress) {
    if (invocation.action == Action::ConvertMany)
        return convertMany(invocation, out, err, showProgress);
    if (invocation.action == Action::PutTileSet)
        return putTileSet(invocation.paths[0], invocation.paths[1], out, err);
    const std::string map = invocation.paths[0];
    const std::string output = invocation.paths[1];
    const TileSetResult result = RipBMP(map, output);
    report(result, map, output, out, err);
    return result.outcome == TileSetOutcome::Failed ? 1 : 0;
}

} // namespace quillmere::cli
