// SPDX-License-Identifier: MIT
// Every test program runs inside a QApplication, as the panel does, so that widgets, timers and
// the application's adoption of the user's locale behave as in the real program.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Headless unless a display was asked for explicitly (test discovery runs at build time,
    // outside the tests' environment).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
