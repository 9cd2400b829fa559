#include "conversions.h"

#include "fingerprint_set.h"
#include "put_tile_set.h"
#include "rename_order.h"
#include "result_wording.h"
#include "tile_set.h"
#include "unicode_text.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
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
// Each conversion waits mostly on its flush to disk, and a disk takes many flushes at once: sized
// to the output folder's disk where the system tells it, not to the cores; this many elsewhere.
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

constexpr const char* kWrittenAlready = "an earlier map in this run wrote it already";

// Converts the maps of a batch a few at a time, and hands each result to `report` in the maps'
// order, from the thread that finished the map whose turn it was: no thread wakes only to
// report. Maps whose outputs' names may collide rename in the maps' order, the others at once
// (RenameOrder). Just before its rename, a map whose output's name leads to a file an earlier
// map wrote fails, unless it is that same map given again; one that finds a file of this run it
// did not foresee (a link between two outputs) first waits for every earlier map. What it keeps
// grows by four bytes and four bits for each map.
class Batch {
public:
    using Report = std::function<void(std::size_t index, const TileSetResult&)>;

    Batch(std::span<char* const> maps, std::string folder, Report report)
        : maps_(maps), folder_(std::move(folder)), report_(std::move(report)),
          order_(maps.size(), [this](std::size_t index) { return nameOf(index); }),
          done_(maps.size(), false), wrote_(maps.size(), false), slots_(kWindow) {
        written_.reserve(maps.size());
        // Every output is in the one folder: opened once for all of them, not once a map.
        if (!maps_.empty())
            if (auto opened = files::OutputFolder::openFor(output(0))) {
                // Reading the folder's names costs far less than looking up each output's
                // temporaries' names, unless the folder holds many more names than that.
                opened->surveyLeftovers(files::kTemporarySlots * maps.size());
                shared_ = &folders_.try_emplace(keyOf(opened->identity()), std::move(*opened))
                               .first->second;
            }
        const std::size_t workers = std::min(conversionsAtOnce(shared_), maps.size());
        for (std::size_t worker = 0; worker < workers; ++worker)
            workers_.emplace_back([this] { work(); });
    }

    ~Batch() {
        for (auto& worker : workers_)
            worker.join();
    }

    std::string output(std::size_t index) const { return outputPathFor(folder_, maps_[index]); }

    // Puts every folder the batch renamed into on disk, once every map was reported.
    std::vector<std::string> flushFolders() {
        for (auto& worker : workers_)
            worker.join();
        workers_.clear();
        std::lock_guard lock(mutex_);
        std::vector<std::string> failures;
        for (auto& [identity, folder] : folders_)
            if (const auto flushed = folder.flush(); !flushed)
                failures.push_back(flushed.error().step + ": " + flushed.error().reason + '.');
        return failures;
    }

private:
    // How far the conversions may run ahead of the reports: four times the most in flight, so
    // that one slow map does not hold the others up.
    static constexpr std::size_t kWindow = 256;
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

    std::string nameOf(std::size_t index) const {
        const std::string path = output(index);
        return path.substr(path.find_last_of(kSeparators) + 1);
    }

    // Waits until `ready()`, asked again each time a map is done.
    template <typename Ready> void waitUntil(std::unique_lock<std::mutex>& lock, Ready ready) {
        if (ready())
            return;
        ++waitingForTurn_;
        turn_.wait(lock, ready);
        --waitingForTurn_;
    }

    bool claimed(files::FileIdentity identity) const {
        return std::any_of(claims_.begin(), claims_.end(), [&](const Claim& claim) {
            return claim.replaced == identity || claim.incoming == identity;
        });
    }

    // Just before the rename, once the temporary is named: an output that is a file an earlier
    // map wrote fails, unless that map is this one given again. Nothing: the map may rename, and
    // has claimed its files; `current` is what its output's name names.
    std::optional<TileSetResult> checkOutput(std::size_t index, const TileSetRead& read,
                                             files::Replacement& replacement,
                                             std::optional<files::FileIdentity>& claim,
                                             std::optional<files::FileState>& current) {
        std::unique_lock lock(mutex_, std::defer_lock);
        if (order_.waits(index)) {
            lock.lock();
            waitUntil(lock, [&] { return firstNotDone_ >= index; });
            lock.unlock();
        }
        if (auto named = replacement.name(); !named)
            return tileSetResultOf(read, named.error());
        // Maps whose outputs' names fold to one rename one at a time (order_): only a map that
        // a symbolic link led to this name, or one whose name the folder may fold otherwise
        // than order_ does (beyond ASCII), can change what it names meanwhile. So the look is
        // made outside the lock, where no other map waits on it, and once more under it only
        // when such a map finished since; one that is renaming now is seen by its claim below.
        const bool sharedName = replacement.throughLink() || !files::isAscii(nameOf(index));
        const std::size_t sharedDone = sharedFinished_;
        if (!sharedName)
            current = replacement.current();
        lock.lock();
        if (sharedName || sharedFinished_ != sharedDone)
            current = replacement.current();
        std::optional<std::size_t> writer;
        // A file of this run, or one another map is about to replace: two outputs whose names
        // did not say so lead to one file (a link). Decided in the maps' order, once every
        // earlier map is done and no other map is replacing it.
        if (current &&
            (claimed(current->identity) || written_.mayContain(valueOf(current->identity)))) {
            waitUntil(lock, [&] {
                if (firstNotDone_ < index)
                    return false;
                current = replacement.current();
                return !current || !claimed(current->identity);
            });
            if (current && written_.mayContain(valueOf(current->identity)))
                writer = writerOf(index, current->identity);
        }
        if (!writer && order_.hasTwinSpelledOtherwise(index))
            writer = foldedWriterOf(index, replacement);
        if (writer) {
            const bool sameMap = files::sameFile(maps_[*writer], read.mapPath);
            if (*writer < index && sameMap)
                return writtenBefore(read);
            if (*writer < index)
                return TileSetResult::failed(FileRole::Output, {}, kWrittenAlready);
            // A later map, not yet reported, took the name first: this one keeps it.
            wrote_[*writer] = false;
            if (!sameMap)
                slots_[*writer % kWindow] =
                    TileSetResult::failed(FileRole::Output, {}, kWrittenAlready);
        }
        claims_.push_back({current ? current->identity : files::FileIdentity{},
                           replacement.incoming(), index, sharedName});
        claim = replacement.incoming();
        return std::nullopt;
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

    // The tile set of one map, written; `claim` is the new file, once it may take the output's
    // name; `replaced` the old output, still open.
    TileSetResult convert(std::size_t index, std::optional<files::FileIdentity>& claim,
                          files::HeldHandle& replaced) {
        auto read = readTileSet(maps_[index]);
        auto* tileSet = std::get_if<TileSetRead>(&read);
        if (tileSet == nullptr)
            return std::get<TileSetResult>(read);
        const std::string path = output(index);
        if (auto refused = refuseOutput(path))
            return *refused;
        auto options = tileSetWriteOptions(*tileSet);
        options.flushFolder = false;
        options.sharedFolder = shared_;
        auto replacement = files::Replacement::prepare(path, {tileSet->bytes}, options);
        if (!replacement)
            return tileSetResultOf(*tileSet, replacement.error());
        std::optional<files::FileState> current;
        if (auto earlier = checkOutput(index, *tileSet, *replacement, claim, current))
            return *earlier;
        auto written = replacement->commit(current);
        if (written) {
            replaced = std::move(written->replacedFile);
            if (written->folder)
                keepFolder(std::move(*written->folder));
        }
        return tileSetResultOf(*tileSet, written);
    }

    // The map that wrote the file with `identity`, which the output's name now leads to. Asked
    // only when the record of written files says it may be one: looked for first where it was
    // found last (a map given many times), then among the earlier outputs of the same name,
    // then, for a name the file system folds into another, among all earlier ones, then among
    // the later ones that may be done.
    std::optional<std::size_t> writerOf(std::size_t index, files::FileIdentity identity) {
        auto wroteIt = [&](std::size_t other) {
            if (!wrote_[other])
                return false;
            const auto info = files::inspect(output(other));
            return info && info->identity == identity;
        };
        if (lastWriter_ < index && wroteIt(lastWriter_))
            return lastWriter_;
        const std::string name = output(index);
        for (const bool sameName : {true, false})
            for (std::size_t earlier = index; earlier-- > 0;)
                if ((output(earlier) == name) == sameName && wroteIt(earlier))
                    return lastWriter_ = earlier;
        for (std::size_t later = index + 1; later < std::min(maps_.size(), index + kWindow);
             ++later)
            if (wroteIt(later))
                return later;
        return std::nullopt;
    }

    void keepFolder(files::OutputFolder folder) {
        std::lock_guard lock(mutex_);
        folders_.try_emplace(keyOf(folder.identity()), std::move(folder));
    }

    void work() {
        for (std::size_t index = next_++; index < maps_.size(); index = next_++) {
            if (index >= kWindow) {
                std::unique_lock lock(mutex_);
                if (index >= reported_ + kWindow) {
                    ++waitingForReports_;
                    reports_.wait(lock, [&] { return index < reported_ + kWindow; });
                    --waitingForReports_;
                }
            }
            std::optional<files::FileIdentity> claim;
            files::HeldHandle replaced;
            TileSetResult result = convert(index, claim, replaced);

            std::unique_lock lock(mutex_);
            if (claim && result.outcome != TileSetOutcome::Failed) {
                written_.insert(valueOf(*claim));
                wrote_[index] = true;
            }
            std::erase_if(claims_, [&](const Claim& held) {
                if (held.map == index && held.sharedName)
                    ++sharedFinished_;
                return held.map == index;
            });
            done_[index] = true;
            const std::size_t before = firstNotDone_;
            while (firstNotDone_ < done_.size() && done_[firstNotDone_])
                ++firstNotDone_;
            slots_[index % kWindow] = std::move(result);
            // Woken only when someone waits: each wake-up is a switch of threads.
            if (waitingForTurn_ > 0)
                turn_.notify_all();
            if (firstNotDone_ == before) {
                lock.unlock();
                // Once the next rename may go: releasing the old file's blocks takes a while.
                replaced = files::HeldHandle();
                continue;
            }
            // This thread reports the maps it made the next in order, after whoever reports
            // the ones before them.
            const std::size_t from = before, to = firstNotDone_;
            if (reported_ != from) {
                ++waitingForReports_;
                reports_.wait(lock, [&] { return reported_ == from; });
                --waitingForReports_;
            }
            lock.unlock();
            // No other thread touches these slots until reported_ moves past them.
            for (std::size_t done = from; done < to; ++done) {
                report_(done, *slots_[done % kWindow]);
                slots_[done % kWindow].reset();
            }
            lock.lock();
            reported_ = to;
            const bool wanted = waitingForReports_ > 0;
            lock.unlock();
            if (wanted)
                reports_.notify_all();
            replaced = files::HeldHandle();
        }
    }

    const std::span<char* const> maps_;
    const std::string folder_;
    const Report report_;
    const RenameOrder order_;
    std::vector<bool> done_;
    std::size_t firstNotDone_ = 0;
    std::vector<bool> wrote_; // whether each map's own file took its output's name
    FingerprintSet written_;  // the identities of those files
    std::size_t lastWriter_ = 0;
    // What the maps past their look and not yet done are about to replace, and with what.
    struct Claim {
        files::FileIdentity replaced, incoming;
        std::size_t map;
        bool sharedName; // its output's name may lead where another output's leads
    };
    std::vector<Claim> claims_;
    std::map<Key, files::OutputFolder> folders_;
    const files::OutputFolder* shared_ = nullptr; // in folders_, where it could be opened
    std::vector<std::optional<TileSetResult>> slots_;
    std::size_t reported_ = 0; // how many maps, from the first, were reported
    std::size_t waitingForTurn_ = 0, waitingForReports_ = 0;
    std::atomic<std::size_t> next_{0};
    // Maps done whose outputs' names may lead where others' do (Claim); changed under the lock.
    std::atomic<std::size_t> sharedFinished_{0};
    std::mutex mutex_;
    std::condition_variable turn_;    // more maps done, for a map that waits to rename
    std::condition_variable reports_; // more maps reported: room in the window, or a turn
    std::vector<std::thread> workers_;
};

} // namespace

std::size_t conversionsAtOnce(const files::OutputFolder* folder) {
    return folder != nullptr ? folder->writesAtOnce(kConversionsAtOnce) : kConversionsAtOnce;
}

namespace {

int convertMany(const Invocation& invocation, ReportBuffer& out, ReportBuffer& err,
                bool showProgress) {
    const auto& maps = invocation.paths;
    auto showNext = [&](std::size_t index) {
        if (showProgress && index < maps.size())
            err << std::string(clearLine()) + std::string(kProgramName) + ": " +
                       std::to_string(index + 1) + " of " + std::to_string(maps.size()) + ": " +
                       visibleName(maps[index]);
    };
    showNext(0);
    bool anyFailed = false; // changed by one reporting thread at a time, read once all are done
    Batch batch(maps, invocation.outputFolder, [&](std::size_t index, const TileSetResult& result) {
        anyFailed = anyFailed || result.outcome == TileSetOutcome::Failed;
        if (showProgress)
            err << clearLine();
        report(result, maps[index], outputPathFor(invocation.outputFolder, maps[index]), out, err);
        showNext(index + 1);
    });
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
