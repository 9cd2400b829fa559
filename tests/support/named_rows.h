#pragma once

#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace quillmere::testing {

// Names each row of a TEST_P table after its `name`, so one row can be run and reported alone.
template <class Row> std::string rowName(const ::testing::TestParamInfo<Row>& info) {
    return info.param.name;
}

// A row is printed by its name, not as the bytes of its object: put this in the row's struct.
#define QUILLMERE_PRINTS_ROW_NAME(Row)                                                             \
    friend void PrintTo(const Row& row, std::ostream* out) {                                       \
        *out << row.name;                                                                          \
    }

} // namespace quillmere::testing
