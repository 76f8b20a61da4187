// SPDX-License-Identifier: MIT
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <exception>
#include <ostream>
#include <string>

namespace vantel::testing_support {

// Names each row of a table-driven test after its `name` field, so a failure names the row.
struct RowName {
    template <typename Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& row) const {
        return std::string(row.param.name);
    }
};

// Prints a row as its name rather than its bytes, in failures and in ctest's list of tests. A
// test file brings it in with `using testing_support::PrintTo;` beside its row types.
template <typename Row>
requires requires(const Row& row) {
    std::string(row.name);
}
void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

// The message of the E that `access` throws; empty when it throws nothing, which no expected
// message matches.
template <typename E = std::exception, typename Access>
std::string thrown(Access access) {
    try {
        access();
    } catch (const E& e) {
        return e.what();
    }
    return {};
}

// `name` in the test's home, as bytes (a name need not be UTF-8). A test program on Qt gets a new,
// empty home for every test, removed after it (test_main.cpp).
inline std::string in_home(const std::string& name) {
    return std::string(std::getenv("HOME")) + "/" + name;
}

}  // namespace vantel::testing_support
