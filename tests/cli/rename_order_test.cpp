#include "named_rows.h"
#include "rename_order.h"

#include <gtest/gtest.h>

namespace quillmere::cli {
namespace {

using quillmere::testing::rowName;

struct RenameOrderRow {
    const char* name;
    std::vector<std::string> outputs;
    // For each map: '.' renames at once, 'w' waits for the earlier maps, 't' waits and has a
    // twin spelled otherwise.
    std::string order;
    QUILLMERE_PRINTS_ROW_NAME(RenameOrderRow)
};

class RenameOrderOfNames : public ::testing::TestWithParam<RenameOrderRow> {};

TEST_P(RenameOrderOfNames, OnlyMapsWhoseNamesMayCollideWait) {
    const auto& outputs = GetParam().outputs;
    const RenameOrder order(outputs.size(), [&](std::size_t index) { return outputs[index]; });
    std::string seen;
    for (std::size_t index = 0; index < outputs.size(); ++index)
        seen += order.hasTwinSpelledOtherwise(index) ? 't' : order.waits(index) ? 'w' : '.';
    EXPECT_EQ(seen, GetParam().order);
}

INSTANTIATE_TEST_SUITE_P(
    Batches, RenameOrderOfNames,
    ::testing::Values(RenameOrderRow{"distinct_names", {"a.BMP", "b.BMP", "c.BMP"}, "..."},
                      RenameOrderRow{"equal_names", {"x.BMP", "a.BMP", "y.BMP", "a.BMP"}, ".w.w"},
                      RenameOrderRow{
                          "names_equal_but_for_case", {"Castle.BMP", "x.BMP", "CASTLE.bmp"}, "t.t"},
                      RenameOrderRow{"names_equal_but_for_case_beyond_ascii",
                                     {"\xc3\x89.BMP", "b.BMP", "\xc3\xa9.BMP", "\xc3\xa9.BMP"},
                                     "t.tt"}),
    rowName<RenameOrderRow>);

} // namespace
} // namespace quillmere::cli
