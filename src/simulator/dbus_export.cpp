// SPDX-License-Identifier: MIT
#include "simulator/dbus_export.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>

#include <optional>
#include <span>

#include "analyser/dbus_wire.h"
#include "simulator/constants.h"

namespace vantel {

Q_LOGGING_CATEGORY(lcSimulator, "vantel.simulator", QtInfoMsg)

namespace {

constexpr std::string_view kService = "Vantel.Application";

using Member = AnalyserExport::Member;

// The members as the panel uses them, with their natural D-Bus types.
constexpr Member kDetector[] = {
    {"CTD_Function", 's', true, false},
    {"CTD_Unit", 'n', true, false},
    {"CTD_WeightingFilter", 'n', true, false},
    {"CTD_Response", 'n', true, false},
    {"CTD_Relativity", 'n', true, false},
    {"CTD_ChA", 'd', false, false},
    {"CTD_ChB", 'd', false, false},
};
constexpr Member kSignalAnalyzer[] = {
    {"SA_Source", 'n', true, false},
    {"SA_DefaultWeightingFilter", 'n', false, false},
};
constexpr Member kAnalogueInputs[] = {{"AI_Source", 'n', true, false}};
constexpr Member kDigitalInputs[] = {
    {"DI_Source", 'n', true, false},
    {"DI_FrameRate", 'i', false, false},
};
// The option's natural type is Boolean, but it keeps whatever a client wrote.
constexpr Member kOptions[] = {{"OPT_UseSettlingsFromScripts", 'b', true, false}};

struct SubObject {
    const char* name;
    std::span<const Member> members;
};
constexpr SubObject kSubObjects[] = {
    {"CTDetector", kDetector},
    {"SignalAnalyzer", kSignalAnalyzer},
    {"AnalogueInputs", kAnalogueInputs},
    {"DigitalInputs", kDigitalInputs},
    {"Options", kOptions},
};

bool is_integer_type(char type) {
    return QByteArrayView("ynqiuxt").contains(type);
}

QString qs(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// What a handler answers with when it cannot do what was asked.
struct Failure {
    QString error_name;
    QString message;
};

}  // namespace

void TestControl::FailMember(const QString& path, const QString& reason, uint after_accesses) {
    qCInfo(lcSimulator) << "test: fail" << path << "after" << after_accesses << "good accesses";
    simulator_.fail_member(path.toStdString(),
                           reason.isEmpty() ? "refused by the test" : reason.toStdString(),
                           after_accesses);
}

void TestControl::SetGoneAway(bool gone) {
    qCInfo(lcSimulator) << "test: gone away" << gone;
    simulator_.set_gone_away(gone);
}

void TestControl::OverrideValue(const QString& path, const QDBusVariant& value) {
    const std::optional<Value> v = dbus::value_from_dbus(value.variant());
    if (!v) {
        sendErrorReply(QDBusError::InvalidArgs,
                       QStringLiteral("a value of type '%1' has no automation counterpart")
                           .arg(dbus::dbus_signature_of(value.variant())));
        return;
    }
    qCInfo(lcSimulator) << "test: reads of" << path << "give" << v->describe().c_str();
    simulator_.override_value(path.toStdString(), *v);
}

void TestControl::SetAccessDelay(double seconds) {
    if (!(seconds >= 0.0)) {
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("a delay cannot be negative"));
        return;
    }
    qCInfo(lcSimulator) << "test: every access takes" << seconds << "s";
    simulator_.set_access_delay(seconds);
}

void TestControl::ClearFaults() {
    qCInfo(lcSimulator) << "test: faults cleared";
    simulator_.clear_faults();
}

const Member* AnalyserExport::Exported::find(const QString& name) const {
    for (const Member& m : members) {
        if (name == QLatin1String(m.name.data(), static_cast<qsizetype>(m.name.size())))
            return &m;
    }
    return nullptr;
}

AnalyserExport::AnalyserExport(Simulator simulator, QDBusConnection bus, bool test_control,
                               QObject* parent)
    : QDBusVirtualObject(parent),
      simulator_(std::move(simulator)),
      bus_(std::move(bus)),
      path_(dbus::object_path_for(kService)) {
    ObjectRef app = simulator_.application();
    Exported& root = objects_[path_];
    root.interface = dbus::interface_for_path(path_);
    root.object = app;
    root.members.push_back({"IsInitialised", 'b', false, false});
    for (const SubObject& sub : kSubObjects) {
        root.members.push_back({sub.name, 'o', false, true});
        root.children << QString::fromLatin1(sub.name);
        const QString path = path_ + u'/' + QString::fromLatin1(sub.name);
        Exported& exported = objects_[path];
        exported.interface = dbus::interface_for_path(path);
        // The simulator's sub-objects are views on the one analyser: one each serves every call.
        exported.object = get_object(*app, sub.name);
        exported.members.assign(sub.members.begin(), sub.members.end());
    }
    for (const sim::NamedConstant& c : sim::kConstants)
        root.members.push_back({c.name, 'n', false, true});
    if (test_control)
        control_ = std::make_unique<TestControl>(simulator_);
}

AnalyserExport::~AnalyserExport() {
    bus_.unregisterObject(path_, QDBusConnection::UnregisterTree);
    if (control_)
        bus_.unregisterObject(QString::fromLatin1(dbus::kTestControlPath));
}

bool AnalyserExport::publish() {
    if (!bus_.registerVirtualObject(path_, this, QDBusConnection::SubPath)) {
        qCCritical(lcSimulator) << "cannot export" << path_ << ":" << bus_.lastError().message();
        return false;
    }
    if (control_ && !bus_.registerObject(QString::fromLatin1(dbus::kTestControlPath),
                                         control_.get(), QDBusConnection::ExportScriptableSlots)) {
        qCCritical(lcSimulator) << "cannot export the test control:" << bus_.lastError().message();
        return false;
    }
    // QtDBus connects bus signals only by slot name; connect() fails loudly if it is wrong.
    if (!bus_.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                      QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"),
                      this, SLOT(on_disconnected()))) {
        qCCritical(lcSimulator) << "cannot watch the bus connection";
        return false;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> claimed =
        bus_.interface()->registerService(qs(kService), QDBusConnectionInterface::DontQueueService,
                                          QDBusConnectionInterface::DontAllowReplacement);
    if (!claimed.isValid() || claimed.value() != QDBusConnectionInterface::ServiceRegistered) {
        qCCritical(lcSimulator).noquote()
            << "cannot own" << qs(kService) << "on the bus:"
            << (claimed.isValid() ? QStringLiteral("another process has it")
                                  : claimed.error().message());
        return false;
    }
    qCInfo(lcSimulator).noquote() << "serving" << qs(kService) << "as" << bus_.baseService()
                                  << (control_ ? "with the test control" : "(no test control)");
    return true;
}

void AnalyserExport::on_disconnected() {
    qCWarning(lcSimulator) << "the session bus has gone";
    Q_EMIT bus_lost();
}

QString AnalyserExport::introspect(const QString& path) const {
    auto it = objects_.find(path);
    if (it == objects_.end())
        return {};
    const Exported& object = it->second;
    const QString change = QString::fromLatin1(dbus::kChangeAnnotation);
    QString xml = QStringLiteral("  <interface name=\"%1\">\n").arg(object.interface);
    xml += QStringLiteral("    <annotation name=\"%1\" value=\"false\"/>\n").arg(change);
    for (const Member& m : object.members) {
        xml += QStringLiteral("    <property name=\"%1\" type=\"%2\" access=\"%3\"")
                   .arg(qs(m.name), QChar::fromLatin1(m.type),
                        m.writable ? QStringLiteral("readwrite") : QStringLiteral("read"));
        if (m.constant) {
            xml += QStringLiteral(
                       ">\n      <annotation name=\"%1\" value=\"const\"/>\n"
                       "    </property>\n")
                       .arg(change);
        } else {
            xml += QStringLiteral("/>\n");
        }
    }
    xml += QStringLiteral("  </interface>\n");
    for (const QString& child : object.children)
        xml += QStringLiteral("  <node name=\"%1\"/>\n").arg(child);
    return xml;
}

bool AnalyserExport::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    auto it = objects_.find(message.path());
    if (it == objects_.end() || message.interface() != QLatin1String(dbus::kPropertiesInterface))
        return false;  // introspection and the rest: QtDBus answers
    const Exported& object = it->second;
    QDBusMessage reply;
    const QString method = message.member();
    const QString signature = message.signature();
    if (method == QLatin1String("Get") && signature == QLatin1String("ss")) {
        reply = get(object, message);
    } else if (method == QLatin1String("Set") && signature == QLatin1String("ssv")) {
        reply = set(object, message);
    } else if (method == QLatin1String("GetAll") && signature == QLatin1String("s")) {
        reply = get_all(object, message);
    } else {
        reply = message.createErrorReply(
            QDBusError::UnknownMethod,
            QStringLiteral("no method %1(%2) on the properties interface").arg(method, signature));
    }
    connection.send(reply);
    return true;
}

namespace {

// The interface a Properties call names must be the object's own; empty means "whichever".
std::optional<QDBusMessage> wrong_interface(const QDBusMessage& call, const QString& interface) {
    const QString asked = call.arguments().value(0).toString();
    if (asked.isEmpty() || asked == interface)
        return std::nullopt;
    return call.createErrorReply(QDBusError::UnknownInterface,
                                 QStringLiteral("%1 has no interface %2").arg(call.path(), asked));
}

QDBusMessage no_such_property(const QDBusMessage& call, const QString& interface,
                              const QString& name) {
    return call.createErrorReply(QDBusError::UnknownProperty,
                                 QStringLiteral("%1 has no property %2").arg(interface, name));
}

}  // namespace

QVariant AnalyserExport::read(const QString& path, const Exported& object,
                              const Member& member) const {
    const QString name = qs(member.name);
    Value v;
    try {
        v = object.object->get(member.name);
    } catch (const AutomationError& e) {
        qCDebug(lcSimulator).noquote() << "read of" << name << "failed:" << e.reason().c_str();
        throw Failure{QString::fromLatin1(dbus::kFailedError),
                      name + QStringLiteral(": ") + QString::fromStdString(e.reason())};
    }
    if (member.type == 'o')
        return QVariant::fromValue(QDBusObjectPath(path + u'/' + name));
    char integer_type = member.type;
    if (!is_integer_type(integer_type)) {
        auto written = written_types_.find(path + u' ' + name);
        integer_type = written == written_types_.end() ? 'n' : written->second;
    }
    std::optional<QVariant> wire = dbus::dbus_from_value(v, integer_type);
    if (!wire) {
        throw Failure{QString::fromLatin1(dbus::kFailedError),
                      QStringLiteral("%1: holds %2, which D-Bus cannot carry")
                          .arg(name, QString::fromStdString(v.describe()))};
    }
    return *wire;
}

QDBusMessage AnalyserExport::get(const Exported& object, const QDBusMessage& call) const {
    if (auto error = wrong_interface(call, object.interface))
        return *error;
    const QString name = call.arguments().value(1).toString();
    const Member* member = object.find(name);
    if (!member)
        return no_such_property(call, object.interface, name);
    try {
        return call.createReply(
            QVariant::fromValue(QDBusVariant(read(call.path(), object, *member))));
    } catch (const Failure& f) {
        return call.createErrorReply(f.error_name, f.message);
    }
}

QDBusMessage AnalyserExport::get_all(const Exported& object, const QDBusMessage& call) const {
    if (auto error = wrong_interface(call, object.interface))
        return *error;
    QVariantMap values;
    try {
        for (const Member& m : object.members)
            values.insert(qs(m.name), read(call.path(), object, m));
    } catch (const Failure& f) {
        return call.createErrorReply(f.error_name, f.message);
    }
    return call.createReply(QVariant::fromValue(values));
}

QDBusMessage AnalyserExport::set(const Exported& object, const QDBusMessage& call) {
    if (auto error = wrong_interface(call, object.interface))
        return *error;
    const QString name = call.arguments().value(1).toString();
    const Member* member = object.find(name);
    if (!member)
        return no_such_property(call, object.interface, name);
    if (!member->writable) {
        return call.createErrorReply(QDBusError::PropertyReadOnly,
                                     QStringLiteral("%1 is read-only").arg(name));
    }
    const QVariant wire = call.arguments().value(2).value<QDBusVariant>().variant();
    const std::optional<Value> v = dbus::value_from_dbus(wire);
    if (!v) {
        return call.createErrorReply(QDBusError::InvalidArgs,
                                     QStringLiteral("%1: a value of type '%2' is not accepted")
                                         .arg(name, dbus::dbus_signature_of(wire)));
    }
    try {
        object.object->set(member->name, *v);
    } catch (const AutomationError& e) {
        const QString reason = QString::fromStdString(e.reason());
        qCInfo(lcSimulator).noquote()
            << "refused" << name << "=" << v->describe().c_str() << ":" << reason;
        return call.createErrorReply(QString::fromLatin1(dbus::kRefusedError),
                                     name + QStringLiteral(": ") + reason);
    }
    if (v->kind() == Value::Kind::Integer)
        written_types_[call.path() + u' ' + name] = dbus::dbus_signature_of(wire).at(0).toLatin1();
    return call.createReply();
}

}  // namespace vantel

// Here rather than with the library's other meta-objects, so that vantel-analyser links only
// what it uses and not the panel's widgets.
#include "moc_dbus_export.cpp"
