#pragma once

#include <gtest/gtest.h>
#include <string>

namespace quillmere::testing {

// Names each row of a TEST_P table after its `name`, so one row can be run and reported alone.
template <class Row> std::string rowName(const ::testing::TestParamInfo<Row>& info) {
    return info.param.name;
}

} // namespace quillmere::testing
