// SPDX-License-Identifier: MIT
// Every test program runs inside a QApplication, as the panel does, so that widgets, timers and
// the application's adoption of the user's locale behave as in the real program.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include <memory>

namespace {

// Each test gets a home and a settings folder of its own, new and empty, and so does every
// program it starts: nothing a test does reaches the user's real home, and no test finds the
// settings another left.
class FreshHome final : public testing::EmptyTestEventListener {
public:
    FreshHome() { renew(); }
    void OnTestStart(const testing::TestInfo&) override { renew(); }

private:
    void renew() {
        home_ = std::make_unique<QTemporaryDir>();
        qputenv("HOME", home_->path().toUtf8());
        qputenv("XDG_CONFIG_HOME", (home_->path() + QStringLiteral("/.config")).toUtf8());
    }

    std::unique_ptr<QTemporaryDir> home_;
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Headless unless a display was asked for explicitly (test discovery runs at build time,
    // outside the tests' environment).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Before the application exists, which may look at the home folder itself. The listeners
    // own it.
    testing::UnitTest::GetInstance()->listeners().Append(new FreshHome);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
