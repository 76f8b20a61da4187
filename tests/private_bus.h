// SPDX-License-Identifier: MIT
#pragma once

// Real processes on a real bus: a dbus-daemon of the test program's own (the session bus of it
// and its children), vantel-analyser and vantel-dmm as children that die with the test program,
// and another client of the analyser, as a script would be. A test program that links this has
// the bus for all its tests; each test's children inherit the test's own home (test_main.cpp).

#include <gtest/gtest.h>

#include <QDBusMessage>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>
#include <optional>
#include <string>

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

private:
    std::string start();
    std::unique_ptr<QTemporaryDir> dir_;
    QProcess daemon_;
    std::string problem_ = "the bus was never started";
};

// What the bus starts by activation gets this test's home and settings folder.
class OnPrivateBus : public ::testing::Test {
protected:
    void SetUp() override;
};

// `program` (VANTEL_DMM_BINARY, VANTEL_ANALYSER_BINARY, "bash") as a child that dies with the
// test program; `in_child` runs in the child before it starts (a resource limit, say).
void start_child(QProcess& process, const QString& program, const QStringList& arguments,
                 void (*in_child)() = nullptr);

// A child's end: its exit code (-1: killed, or still running at the time-out, when it is
// killed), what it wrote, and how long the wait took.
struct Outcome {
    int code = -1;
    QByteArray out;
    QByteArray err;
    qint64 elapsed_ms = 0;
};
Outcome finish(QProcess& process, int timeout_ms = kChildTimeout_ms);
// `program` with `arguments`, to its end.
Outcome run(const char* program, const QStringList& arguments, int timeout_ms = kChildTimeout_ms);
// `script` in bash, with vantel-dmm as $0 and `argument` as $1.
Outcome run_bash(const QString& script, const QString& argument = {});
// vantel-dmm's arguments for a run without the window on `analyser` ("sim" or "dbus").
QStringList headless(const char* analyser, const QStringList& more = {});

constexpr int kLogColumns = 16;  // the log's columns without the pass column
// The rows of a log after its header, each checked to be whole.
QList<QByteArray> rows_of(const QByteArray& log, int columns = kLogColumns);
QByteArray column(const QByteArray& row, int index);
QByteArray read_file(const QString& path);

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
// SIGTERM to whatever D-Bus activation started as the analyser; true once its name is free.
bool stop_activated_analyser();

// The panel writes the analyser option False while it runs. An odd value (an int32 7) shows that
// it puts back exactly what it found: QVariant compares numbers across types, so the type counts.
bool settling_option_is_off();
void expect_odd_settling_option_back();

}  // namespace vantel::testing_support
