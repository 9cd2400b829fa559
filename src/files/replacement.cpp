#include "replacement_steps.h"

namespace quillmere::files {
namespace {

Expected<Done> writeContent(ReplacementState& state, const Content& content) {
    if (auto done = steps::write(state, content.bytes); !done || !content.rest)
        return done;
    return steps::copyRest(state, *content.rest, content.bytes.size());
}

} // namespace

Replacement::Replacement(ReplacementStatePtr state, std::string path, WriteOptions options)
    : state_(std::move(state)), path_(std::move(path)), options_(std::move(options)) {}
Replacement::Replacement(Replacement&&) noexcept = default;
Replacement& Replacement::operator=(Replacement&&) noexcept = default;
Replacement::~Replacement() = default;

Expected<Replacement> Replacement::prepare(const std::string& path, const Content& content,
                                           const WriteOptions& options) {
    auto state = steps::resolve(path, options.sharedFolder);
    if (!state)
        return state.error();
    Replacement replacement(std::move(*state), path, options);
    ReplacementState& at = *replacement.state_;
    if (auto done = replacement.keptApart(steps::oldState(at)); !done)
        return done.error();
    if (auto done = steps::createTemporary(at); !done)
        return done.error();
    if (auto done = writeContent(at, content); !done)
        return done.error();
    if (auto done = steps::flush(at); !done)
        return done.error();
    if (auto done = steps::carryMetadata(at); !done)
        return done.error();
    return replacement;
}

Expected<Done> Replacement::name() {
    return steps::name(*state_);
}

Expected<Written> Replacement::commit() {
    // Named only now, so that a kill leaves a name behind for as short a time as it can.
    if (auto named = name(); !named)
        return named.error();
    return commit(current());
}

Expected<Written> Replacement::commit(const std::optional<FileState>& now) {
    if (auto named = name(); !named)
        return named.error();
    if (auto apart = keptApart(now); !apart)
        return apart.error();
    if (options_.unchangedSince && now != *options_.unchangedSince) {
        Written kept;
        kept.replaced = false;
        return kept;
    }
    if (auto renamed = steps::renameOverOutput(*state_); !renamed)
        return renamed.error();
    Written written = steps::written(*state_);
    std::optional<OutputFolder> folder = steps::folder(*state_);
    if (!options_.flushFolder || !folder) {
        written.folder = std::move(folder);
        return written;
    }
    if (auto flushed = folder->flush(); !flushed) {
        FileError error = flushed.error();
        error.afterReplacing = true;
        return error;
    }
    return written;
}

std::optional<FileState> Replacement::current() const {
    return steps::current(*state_);
}

FileIdentity Replacement::incoming() const {
    return steps::incoming(*state_);
}

bool Replacement::throughLink() const {
    return steps::throughLink(*state_);
}

bool Replacement::namesOneFile(const std::string& name) const {
    return steps::namesOneFile(*state_, name, steps::outputName(*state_));
}

Expected<Done> Replacement::keptApart(const std::optional<FileState>& output) const {
    const auto& kept = options_.keepApartFrom;
    if (!output || !kept)
        return Done{};
    // File systems that number each spelling of a name on its own still show one size and one
    // modification time for both: only then are the two paths asked about.
    const bool same = output->identity == kept->identity ||
                      (output->identity.volume == kept->identity.volume &&
                       output->size == kept->size && output->modified == kept->modified &&
                       !options_.keepApartPath.empty() && sameFile(options_.keepApartPath, path_));
    if (same)
        return FileError{{}, std::string(options_.keptApartReason)};
    return Done{};
}

Expected<Written> writeAtomically(const std::string& path, const Content& content,
                                  const WriteOptions& options) {
    auto replacement = Replacement::prepare(path, content, options);
    if (!replacement)
        return replacement.error();
    return replacement->commit();
}

} // namespace quillmere::files
