// SPDX-License-Identifier: MIT
#pragma once

// Real processes on a real bus: a dbus-daemon of this test program's own (its session bus, and
// that of every child it starts), vantel-analyser as a child process, and a second client of
// the analyser. Children die with the test program, whatever way it ends.

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

// Started once per test program, before the first test touches the session bus. Whatever goes
// wrong here is reported by each test (OnPrivateBus): gtest would skip them all after a failed
// environment, and a skipped test passes in ctest.
class PrivateBus final : public ::testing::Environment {
public:
    static PrivateBus& instance();
    void SetUp() override { problem_ = start(); }
    void TearDown() override;
    const std::string& problem() const { return problem_; }  // empty when the bus is usable
    // A Vantel.Application.service file that starts `exec` by D-Bus activation; empty: none.
    void install_service(const QString& exec);

private:
    std::string start();
    std::unique_ptr<QTemporaryDir> dir_;
    QProcess daemon_;
    std::string problem_ = "the bus was never started";
};

class OnPrivateBus : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(PrivateBus::instance().problem(), ""); }
};

// A child process that the kernel ends when the test program ends.
void start_child(QProcess& process, const QString& program, const QStringList& arguments);
// vantel-dmm as a child process with `arguments`, its standard error kept apart.
void start_panel(QProcess& panel, const QStringList& arguments);

// vantel-analyser with the test control, on the bus and answering once the constructor returns.
class AnalyserProcess {
public:
    explicit AnalyserProcess(const QStringList& more_arguments = {});
    ~AnalyserProcess();
    void kill();      // gone at once, without a word to anyone (SIGKILL)
    int terminate();  // asks it to stop (SIGTERM) and waits; its exit code
    QString log();
    // Calls `method` of its Vantel.TestControl (simulator/dbus_export.h), which must answer
    // `answer`; nullopt: sent without waiting for the answer.
    void control(const char* method, const QVariantList& arguments,
                 std::optional<QDBusMessage::MessageType> answer = QDBusMessage::ReplyMessage);

private:
    QProcess process_;
};

// Another client of the analyser, as a script would be. `object` is "" for the application
// object, else a sub-object's name.
QVariant read_property(const QString& object, const QString& member);
QDBusMessage write_property(const QString& object, const QString& member, const QVariant& value);

// The analyser option holds the automation False that the panel writes while it runs. An option
// of an unexpected type (an int32 7) proves that the panel puts back exactly what it found:
// QVariant compares numbers across types, so the type is checked too.
bool settling_option_is_off();
void set_odd_settling_option();
void expect_odd_settling_option_back();

// A started, shown panel on `--analyser dbus` in this process, its first polling cycle done, its
// timer stopped so that the test runs the cycles.
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
