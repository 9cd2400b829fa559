#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillmere::cli {

// A set of 64-bit values kept as 32-bit fingerprints, four bytes each: a sorted run and a short
// unsorted tail that is merged into the run when full. A hit may be a false alarm (two values
// with one fingerprint, about one in 40,000 lookups among 100,000 values); the caller confirms
// it. A miss is certain.
class FingerprintSet {
public:
    // Room for `count` values: the set then never moves to a larger block.
    void reserve(std::size_t count) { values_.reserve(count); }

    void insert(std::uint64_t value) {
        if (values_.size() - sorted_ == kTail)
            mergeTail();
        values_.push_back(fingerprint(value));
    }

    bool mayContain(std::uint64_t value) const {
        const std::uint32_t wanted = fingerprint(value);
        const auto run = values_.begin() + static_cast<std::ptrdiff_t>(sorted_);
        return std::binary_search(values_.begin(), run, wanted) ||
               std::find(run, values_.end(), wanted) != values_.end();
    }

private:
    static constexpr std::size_t kTail = 256;

    // The high half of a multiplicative mix of the whole value.
    static std::uint32_t fingerprint(std::uint64_t value) {
        value ^= value >> 33;
        value *= 0xff51afd7ed558ccdULL;
        value ^= value >> 33;
        value *= 0xc4ceb9fe1a85ec53ULL;
        return static_cast<std::uint32_t>(value >> 32);
    }

    // Merges from the back, the tail held aside, so that no second block of the run's size is
    // ever needed.
    void mergeTail() {
        std::array<std::uint32_t, kTail> tail;
        std::copy(values_.begin() + static_cast<std::ptrdiff_t>(sorted_), values_.end(),
                  tail.begin());
        std::sort(tail.begin(), tail.end());
        std::size_t from = sorted_, taken = kTail, to = values_.size();
        while (taken > 0) {
            if (from > 0 && values_[from - 1] > tail[taken - 1])
                values_[--to] = values_[--from];
            else
                values_[--to] = tail[--taken];
        }
        sorted_ = values_.size();
    }

    std::vector<std::uint32_t> values_;
    std::size_t sorted_ = 0; // how many of values_, from the start, are in order
};

} // namespace quillmere::cli
