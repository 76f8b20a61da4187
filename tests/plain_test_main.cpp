// SPDX-License-Identifier: MIT
// The plain libraries' tests run without Qt: GoogleTest's own main, nothing around it.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
