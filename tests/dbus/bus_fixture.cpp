// SPDX-License-Identifier: MIT
#include "bus_fixture.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include <sys/prctl.h>
#include <csignal>

#include "app/backends.h"
#include "app/environment.h"
#include "automation/dbus_wire.h"

namespace vantel::testing_support {

using namespace Qt::StringLiterals;

namespace {

const QString kService = u"Vantel.Application"_s;
constexpr int kClientTimeout_ms = 5000;

PrivateBus* the_bus = nullptr;

[[maybe_unused]] const auto* registered =
    ::testing::AddGlobalTestEnvironment(the_bus = new PrivateBus);

QDBusMessage call(const QString& path, const char* interface, const QString& method,
                  const QVariantList& arguments) {
    QDBusMessage message =
        QDBusMessage::createMethodCall(kService, path, QString::fromLatin1(interface), method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, kClientTimeout_ms);
}

QString object_path(const QString& object) {
    const QString root = dbus::object_path_for("Vantel.Application");
    return object.isEmpty() ? root : root + u'/' + object;
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
    const QDBusReply<uint> pid =
        QDBusConnection::sessionBus().interface()->servicePid(u"org.freedesktop.DBus"_s);
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
    const QDBusMessage reply = QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s,
                                       u"org.freedesktop.DBus"_s, u"ReloadConfig"_s));
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
}

void PrivateBus::share_home() {
    static const QMetaType registered_type = qDBusRegisterMetaType<QMap<QString, QString>>();
    (void)registered_type;
    QMap<QString, QString> environment;
    for (const char* name : {"HOME", "XDG_CONFIG_HOME"})
        environment.insert(QString::fromLatin1(name), qEnvironmentVariable(name));
    QDBusMessage update =
        QDBusMessage::createMethodCall(u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s,
                                       u"org.freedesktop.DBus"_s, u"UpdateActivationEnvironment"_s);
    update << QVariant::fromValue(environment);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(update);
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
}

void start_child(QProcess& process, const QString& program, const QStringList& arguments) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process.start(program, arguments);
}

void start_panel(QProcess& panel, const QStringList& arguments) {
    start_child(panel, QStringLiteral(VANTEL_DMM_BINARY), arguments);
}

AnalyserProcess::AnalyserProcess(const QStringList& more_arguments) {
    QDBusServiceWatcher watcher(kService, QDBusConnection::sessionBus(),
                                QDBusServiceWatcher::WatchForRegistration);
    QSignalSpy registered(&watcher, &QDBusServiceWatcher::serviceRegistered);
    start_child(process_, QStringLiteral(VANTEL_ANALYSER_BINARY),
                QStringList{u"--test-control"_s} + more_arguments);
    if (!registered.wait(kChildTimeout_ms) &&
        !QDBusConnection::sessionBus().interface()->isServiceRegistered(kService))
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
        ASSERT_TRUE(QDBusConnection::sessionBus().send(message));
        return;
    }
    const QDBusMessage reply =
        QDBusConnection::sessionBus().call(message, QDBus::Block, kClientTimeout_ms);
    EXPECT_EQ(reply.type(), *answer) << method << ": " << reply.errorMessage().toStdString();
}

QVariant read_property(const QString& object, const QString& member) {
    const QString path = object_path(object);
    const QDBusMessage reply =
        call(path, dbus::kPropertiesInterface, u"Get"_s, {dbus::interface_for_path(path), member});
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

QDBusMessage write_property(const QString& object, const QString& member, const QVariant& value) {
    const QString path = object_path(object);
    return call(path, dbus::kPropertiesInterface, u"Set"_s,
                {dbus::interface_for_path(path), member, QVariant::fromValue(QDBusVariant(value))});
}

bool settling_option_is_off() {
    const QVariant v = read_property(u"Options"_s, u"OPT_UseSettlingsFromScripts"_s);
    return v.metaType() == QMetaType::fromType<bool>() && !v.toBool();
}

void set_odd_settling_option() {
    ASSERT_EQ(write_property(u"Options"_s, u"OPT_UseSettlingsFromScripts"_s, 7).type(),
              QDBusMessage::ReplyMessage);
}

void expect_odd_settling_option_back() {
    const QVariant v = read_property(u"Options"_s, u"OPT_UseSettlingsFromScripts"_s);
    EXPECT_EQ(v.metaType(), QMetaType::fromType<int>()) << v.metaType().name();
    EXPECT_EQ(v.toInt(), 7);
}

BusPanel::BusPanel() {
    Environment env = standard_environment([] { return obtain_application("dbus"); });
    env.show_message = [this](const Message& m) { messages.push_back(m); };
    env.end_program = [this](int code) { ends.push_back(code); };
    env.report = [this](const std::string& line) { reports.push_back(line); };
    meter = std::make_unique<Meter>(env);
    window = std::make_unique<PanelWindow>(*meter, env);
    meter->start();
    meter->stop_timer();
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    work_tick();
}

void BusPanel::work_tick() {
    for (int i = 0; i < 4; ++i)
        meter->tick();
}

QString BusPanel::text(Role role) const {
    return window->findChild<QLabel*>(control_name(role))->text();
}

void BusPanel::click(Role control) {
    const auto* c = window->findChild<QWidget*>(control_name(control));
    const QPoint at = c->mapTo(window.get(), c->rect().center());
    QTest::mousePress(window->windowHandle(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(window->windowHandle(), Qt::LeftButton, {}, at);
}

}  // namespace vantel::testing_support
