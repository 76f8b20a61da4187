// SPDX-License-Identifier: MIT
// Every test program runs inside a QApplication, as the panel does, so that widgets, timers and
// the application's adoption of the user's locale behave as in the real program.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
