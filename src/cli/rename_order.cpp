#include "rename_order.h"

#include "unicode_text.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace quillmere::cli {
namespace {

// Equal names give equal values; two names that share one only make both wait, which is safe.
std::uint32_t hashOf(const std::string& name) {
    const std::uint64_t value = std::hash<std::string>{}(files::foldedCase(name));
    return static_cast<std::uint32_t>(value ^ (value >> 32));
}

} // namespace

RenameOrder::RenameOrder(std::size_t count, const NameOf& nameOf)
    : waits_(count, false), twins_(count, false) {
    // The values sorted, then looked up again: four bytes a map for a moment, where pairing
    // values with indices would take twice that.
    std::vector<std::uint32_t> values;
    values.reserve(count);
    for (std::size_t index = 0; index < count; ++index)
        values.push_back(hashOf(nameOf(index)));
    std::sort(values.begin(), values.end());
    if (std::adjacent_find(values.begin(), values.end()) == values.end())
        return;
    // Only the maps that wait, usually few, are paired with their values to find the spellings.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> waiting;
    for (std::size_t index = 0; index < count; ++index) {
        const std::uint32_t value = hashOf(nameOf(index));
        const auto equal = std::equal_range(values.begin(), values.end(), value);
        if (equal.second - equal.first > 1) {
            waits_[index] = true;
            waiting.emplace_back(value, static_cast<std::uint32_t>(index));
        }
    }
    values = {};
    std::sort(waiting.begin(), waiting.end());
    for (std::size_t start = 0, end = 0; start < waiting.size(); start = end) {
        const std::string first = nameOf(waiting[start].second);
        bool spelledOtherwise = false;
        for (end = start + 1; end < waiting.size() && waiting[end].first == waiting[start].first;
             ++end)
            spelledOtherwise = spelledOtherwise || nameOf(waiting[end].second) != first;
        for (std::size_t at = start; spelledOtherwise && at < end; ++at)
            twins_[waiting[at].second] = true;
    }
}

} // namespace quillmere::cli
