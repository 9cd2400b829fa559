#include "fingerprint_set.h"

#include <gtest/gtest.h>

namespace quillmere::cli {
namespace {

// Inode-like values, inserted out of order and across many merges of the tail into the run.
TEST(FingerprintSet, FindsEveryValueInsertedAndMissesOthers) {
    constexpr std::uint64_t kCount = 3000;
    auto value = [](std::uint64_t i) { return (i * 7919) % kCount * 2 + (1ULL << 40); };
    FingerprintSet set;
    set.reserve(kCount);
    for (std::uint64_t i = 0; i < kCount; ++i) {
        set.insert(value(i));
        ASSERT_TRUE(set.mayContain(value(i))) << i;
    }
    std::size_t found = 0, falseAlarms = 0;
    for (std::uint64_t i = 0; i < kCount; ++i) {
        found += set.mayContain(value(i));
        falseAlarms += set.mayContain(value(i) + 1);
    }
    EXPECT_EQ(found, kCount);
    EXPECT_EQ(falseAlarms, 0u);
}

} // namespace
} // namespace quillmere::cli
