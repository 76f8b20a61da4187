// SPDX-License-Identifier: MIT
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace vantel::testing_support {

// Names each row of a table-driven test after its `name` field, so a failure names the row.
struct RowName {
    template <typename Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& row) const {
        return std::string(row.param.name);
    }
};

}  // namespace vantel::testing_support
