// SPDX-License-Identifier: MIT
#include "private_bus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <sys/prctl.h>
#include <csignal>

#include "automation/dbus_wire.h"

namespace vantel::testing_support {

using namespace Qt::StringLiterals;

namespace {

const QString kService = u"Vantel.Application"_s;
constexpr int kClientTimeout_ms = 5000;

PrivateBus* the_bus = nullptr;

[[maybe_unused]] const auto* registered =
    ::testing::AddGlobalTestEnvironment(the_bus = new PrivateBus);

QDBusConnection bus() {
    return QDBusConnection::sessionBus();
}

QDBusMessage call_bus(const char* method, const QVariantList& arguments = {}) {
    QDBusMessage m =
        QDBusMessage::createMethodCall(u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s,
                                       u"org.freedesktop.DBus"_s, QString::fromLatin1(method));
    m.setArguments(arguments);
    return bus().call(m);
}

// Asked of the bus until it answers so, rather than waited for as a signal: the signal passes
// unseen when the name goes before the watch's match rule reaches the bus, and QSignalSpy::wait,
// on a coarse timer from 1 s up, may give up 5 % early (4.75 s of 5).
bool name_is_free() {
    const QDBusReply<bool> held = bus().interface()->isServiceRegistered(kService);
    return held.isValid() && !held.value();
}

QDBusMessage call_properties(const QString& object, const QString& method, QVariantList more) {
    const QString root = dbus::object_path_for("Vantel.Application");
    const QString path = object.isEmpty() ? root : root + u'/' + object;
    QDBusMessage message = QDBusMessage::createMethodCall(
        kService, path, QString::fromLatin1(dbus::kPropertiesInterface), method);
    message.setArguments(QVariantList{dbus::interface_for_path(path)} + more);
    return bus().call(message, QDBus::Block, kClientTimeout_ms);
}

}  // namespace

PrivateBus& PrivateBus::instance() {
    return *the_bus;
}

std::string PrivateBus::start() {
    dir_ = std::make_unique<QTemporaryDir>();
    QFile config(dir_->filePath(u"session.conf"_s));
    if (!QDir(dir_->path()).mkdir(u"services"_s) || !config.open(QIODevice::WriteOnly))
        return "cannot write the bus configuration in " + dir_->path().toStdString();
    // No service files but the tests' own.
    config.write(QStringLiteral(R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <servicedir>%1/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)")
                     .arg(dir_->path())
                     .toUtf8());
    config.close();
    start_child(daemon_, u"dbus-daemon"_s,
                {u"--config-file="_s + config.fileName(), u"--print-address=1"_s, u"--nofork"_s});
    if (!daemon_.waitForReadyRead(kChildTimeout_ms))
        return "dbus-daemon did not start: " + daemon_.errorString().toStdString();
    const QByteArray address = daemon_.readLine().trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    // Nothing may have reached for the session bus before now, or it is another bus.
    const QDBusReply<uint> pid = bus().interface()->servicePid(u"org.freedesktop.DBus"_s);
    if (!pid.isValid() || pid.value() != daemon_.processId())
        return "this process talks to another session bus than " + address.toStdString();
    return {};
}

void PrivateBus::TearDown() {
    daemon_.terminate();
    daemon_.waitForFinished(kChildTimeout_ms);
}

void PrivateBus::install_service(const QString& exec) {
    QFile file(dir_->filePath(u"services/Vantel.Application.service"_s));
    if (exec.isEmpty()) {
        file.remove();
    } else {
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(u"[D-BUS Service]\nName=Vantel.Application\nExec=%1\n"_s.arg(exec).toUtf8());
        file.close();
    }
    const QDBusMessage reply = call_bus("ReloadConfig");
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
}

void OnPrivateBus::SetUp() {
    ASSERT_EQ(PrivateBus::instance().problem(), "");
    static const QMetaType registered_type = qDBusRegisterMetaType<QMap<QString, QString>>();
    (void)registered_type;
    QMap<QString, QString> environment;
    for (const char* name : {"HOME", "XDG_CONFIG_HOME"})
        environment.insert(QString::fromLatin1(name), qEnvironmentVariable(name));
    const QDBusMessage reply =
        call_bus("UpdateActivationEnvironment", {QVariant::fromValue(environment)});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
}

void start_child(QProcess& process, const QString& program, const QStringList& arguments,
                 void (*in_child)()) {
    process.setChildProcessModifier([in_child] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (in_child)
            in_child();
    });
    process.start(program, arguments);
}

Outcome finish(QProcess& p, int timeout_ms) {
    QElapsedTimer timer;
    timer.start();
    Outcome o;
    if (p.waitForFinished(timeout_ms) && p.exitStatus() == QProcess::NormalExit)
        o.code = p.exitCode();
    o.elapsed_ms = timer.elapsed();
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished();
    }
    o.out = p.readAllStandardOutput();
    o.err = p.readAllStandardError();
    return o;
}

Outcome run(const char* program, const QStringList& arguments, int timeout_ms) {
    QProcess p;
    start_child(p, QString::fromLatin1(program), arguments);
    return finish(p, timeout_ms);
}

Outcome run_bash(const QString& script, const QString& argument) {
    return run("bash", {u"-c"_s, script, QStringLiteral(VANTEL_DMM_BINARY), argument});
}

QStringList headless(const char* analyser, const QStringList& more) {
    return QStringList{u"--no-window"_s, u"--analyser"_s, QString::fromLatin1(analyser)} + more;
}

QList<QByteArray> rows_of(const QByteArray& log, int columns) {
    QList<QByteArray> lines = log.split('\n');
    EXPECT_TRUE(lines.takeLast().isEmpty()) << "the log ends in part of a row";
    for (const QByteArray& line : lines) {
        EXPECT_TRUE(line.endsWith('\r')) << line.toStdString();
        EXPECT_EQ(line.count(','), columns - 1) << line.toStdString();
    }
    if (!lines.isEmpty())
        lines.removeFirst();
    return lines;
}

QByteArray column(const QByteArray& row, int index) {
    return row.split(',').value(index);
}

QByteArray read_file(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

AnalyserProcess::AnalyserProcess(const QStringList& more_arguments) {
    // One killed just before may hold the name until the bus sees its socket close; a new one
    // would find the name taken and end.
    EXPECT_TRUE(QTest::qWaitFor(name_is_free, kChildTimeout_ms)) << "the name is still taken";
    start_child(process_, QStringLiteral(VANTEL_ANALYSER_BINARY),
                QStringList{u"--test-control"_s} + more_arguments);
    // On the bus once the name is its own: an analyser that is ending may hold it still.
    const auto holds_the_name = [this] {
        const QDBusReply<uint> pid = bus().interface()->servicePid(kService);
        return pid.isValid() && pid.value() == process_.processId();
    };
    if (!QTest::qWaitFor(holds_the_name, kChildTimeout_ms))
        ADD_FAILURE() << "vantel-analyser did not come onto the bus: " << log().toStdString();
}

AnalyserProcess::~AnalyserProcess() {
    if (process_.state() != QProcess::NotRunning)
        terminate();
}

void AnalyserProcess::kill() {
    process_.kill();
    process_.waitForFinished(kChildTimeout_ms);
}

int AnalyserProcess::terminate() {
    process_.terminate();
    EXPECT_TRUE(process_.waitForFinished(kChildTimeout_ms));
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

QString AnalyserProcess::log() {
    process_.setReadChannel(QProcess::StandardError);
    QByteArray text = process_.readAllStandardError();
    while (process_.waitForReadyRead(200))
        text += process_.readAllStandardError();
    return QString::fromUtf8(text);
}

void AnalyserProcess::control(const char* method, const QVariantList& arguments,
                              std::optional<QDBusMessage::MessageType> answer) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        kService, QString::fromLatin1(dbus::kTestControlPath),
        QString::fromLatin1(dbus::kTestControlInterface), QString::fromLatin1(method));
    message.setArguments(arguments);
    if (!answer) {
        ASSERT_TRUE(bus().send(message));
        return;
    }
    const QDBusMessage reply = bus().call(message, QDBus::Block, kClientTimeout_ms);
    EXPECT_EQ(reply.type(), *answer) << method << ": " << reply.errorMessage().toStdString();
}

QVariant read_property(const QString& object, const QString& member) {
    const QDBusMessage reply = call_properties(object, u"Get"_s, {member});
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

QDBusMessage write_property(const QString& object, const QString& member, const QVariant& value) {
    return call_properties(object, u"Set"_s, {member, QVariant::fromValue(QDBusVariant(value))});
}

bool stop_activated_analyser() {
    const QDBusReply<uint> pid = bus().interface()->servicePid(kService);
    return pid.isValid() && ::kill(static_cast<pid_t>(pid.value()), SIGTERM) == 0 &&
           QTest::qWaitFor(name_is_free, kChildTimeout_ms);
}

bool settling_option_is_off() {
    const QVariant v = read_property(u"Options"_s, u"OPT_UseSettlingsFromScripts"_s);
    return v.metaType() == QMetaType::fromType<bool>() && !v.toBool();
}

void expect_odd_settling_option_back() {
    const QVariant v = read_property(u"Options"_s, u"OPT_UseSettlingsFromScripts"_s);
    EXPECT_EQ(v.metaType(), QMetaType::fromType<int>()) << v.metaType().name();
    EXPECT_EQ(v.toInt(), 7);
}

}  // namespace vantel::testing_support
