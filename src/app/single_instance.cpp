// SPDX-License-Identifier: MIT
#include "app/single_instance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

namespace vantel {

namespace {

constexpr char kPanelPath[] = "/Vantel/DMM";
constexpr char kApplicationInterface[] = "org.freedesktop.Application";
// Only bounds a first panel that has stopped answering; it answers in microseconds.
constexpr int kActivateTimeout_ms = 2000;

QString bus_name() {
    return QString::fromLatin1(kPanelBusName);
}

}  // namespace

std::unique_ptr<PanelInstance> PanelInstance::claim(Claim& outcome, QString& message,
                                                    bool bring_to_front) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        outcome = Claim::NoBus;
        return {};
    }
    std::unique_ptr<PanelInstance> instance(new PanelInstance);
    // The object first, so that whoever sees the name can call it at once.
    bus.registerObject(QString::fromLatin1(kPanelPath), instance.get(),
                       QDBusConnection::ExportScriptableSlots);
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> claimed =
        bus.interface()->registerService(bus_name(), QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (claimed.isValid() && claimed.value() == QDBusConnectionInterface::ServiceRegistered) {
        outcome = Claim::Owned;
        return instance;
    }
    bus.unregisterObject(QString::fromLatin1(kPanelPath));
    outcome = Claim::OtherPanel;
    if (!bring_to_front) {
        message = QStringLiteral(
                      "a panel is already attached to the analyser in this session "
                      "(%1 is taken), and two would each keep its option")
                      .arg(bus_name());
        return {};
    }
    QDBusMessage activate = QDBusMessage::createMethodCall(
        bus_name(), QString::fromLatin1(kPanelPath), QString::fromLatin1(kApplicationInterface),
        QStringLiteral("Activate"));
    activate.setArguments({QVariantMap()});
    const QDBusMessage answer = bus.call(activate, QDBus::Block, kActivateTimeout_ms);
    message = answer.type() == QDBusMessage::ReplyMessage
                  ? QStringLiteral(
                        "a panel is already attached to the analyser in this session; "
                        "its window was brought to the front")
                  : QStringLiteral(
                        "a panel is already attached to the analyser in this session "
                        "(%1 is taken), but it did not answer: %2")
                        .arg(bus_name(), answer.errorMessage());
    return {};
}

PanelInstance::~PanelInstance() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(QString::fromLatin1(kPanelPath));
    bus.interface()->unregisterService(bus_name());
}

void PanelInstance::Activate(const QVariantMap& /*platform_data*/) {
    Q_EMIT activation_requested();
}

}  // namespace vantel

// Here rather than with the library's other meta-objects, so that a program that does not use
// this (vantel-analyser) links none of it.
#include "moc_single_instance.cpp"
