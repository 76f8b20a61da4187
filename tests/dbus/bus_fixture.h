// SPDX-License-Identifier: MIT
#pragma once

// Real processes on a real bus: a dbus-daemon of this test program's own (the session bus of it
// and its children), vantel-analyser and vantel-dmm as children that die with the test program,
// and another client of the analyser, as a script would be.

#include <gtest/gtest.h>

#include <QDBusMessage>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "meter/meter.h"
#include "panel/layout_table.h"
#include "panel/panel_window.h"

namespace vantel::testing_support {

constexpr int kChildTimeout_ms = 10000;  // bounds a test that has gone wrong, no more

// Started before the first test touches the session bus. A failure is reported by each test
// (OnPrivateBus): gtest skips every test after a failed environment, and ctest passes a skip.
class PrivateBus final : public ::testing::Environment {
public:
    static PrivateBus& instance();
    void SetUp() override { problem_ = start(); }
    void TearDown() override;
    const std::string& problem() const { return problem_; }
    // A Vantel.Application.service file that starts `exec` by D-Bus activation; empty: none.
    void install_service(const QString& exec);
    // What the bus starts by activation gets this test's home and settings folder.
    void share_home();

private:
    std::string start();
    std::unique_ptr<QTemporaryDir> dir_;
    QProcess daemon_;
    std::string problem_ = "the bus was never started";
};

class OnPrivateBus : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(PrivateBus::instance().problem(), "");
        PrivateBus::instance().share_home();
    }
};

void start_child(QProcess& process, const QString& program, const QStringList& arguments);
void start_panel(QProcess& panel, const QStringList& arguments);  // vantel-dmm

// vantel-analyser with the test control, on the bus once the constructor returns.
class AnalyserProcess {
public:
    explicit AnalyserProcess(const QStringList& more_arguments = {});
    ~AnalyserProcess();
    void kill();      // SIGKILL
    int terminate();  // SIGTERM; its exit code
    QString log();
    // Calls `method` of its Vantel.TestControl, which must answer `answer`; nullopt: no wait.
    void control(const char* method, const QVariantList& arguments,
                 std::optional<QDBusMessage::MessageType> answer = QDBusMessage::ReplyMessage);

private:
    QProcess process_;
};

// `object`: "" for the application object, else a sub-object's name.
QVariant read_property(const QString& object, const QString& member);
QDBusMessage write_property(const QString& object, const QString& member, const QVariant& value);

// The panel writes the analyser option False while it runs. An odd value (an int32 7) shows that
// it puts back exactly what it found: QVariant compares numbers across types, so the type counts.
bool settling_option_is_off();
void set_odd_settling_option();
void expect_odd_settling_option_back();

// A shown panel on `--analyser dbus` in this process, its first cycle done, its timer stopped
// so that the test runs the cycles.
struct BusPanel {
    std::vector<Message> messages;
    std::vector<int> ends;
    std::vector<std::string> reports;
    std::unique_ptr<Meter> meter;
    std::unique_ptr<PanelWindow> window;

    BusPanel();
    void work_tick();
    QString text(Role role) const;
    void click(Role control);  // a press and release in the middle of a control
};

}  // namespace vantel::testing_support
