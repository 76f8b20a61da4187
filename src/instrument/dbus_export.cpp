// SPDX-License-Identifier: MIT
#include "instrument/dbus_export.h"
#include "automation/qt_text.h"

#include <QDBusObjectPath>
#include <QMap>
#include <QTimer>

#include <dbus/dbus.h>

#include <chrono>
#include <cstring>
#include <new>
#include <optional>
#include <span>
#include <thread>

#include "automation/dbus_message.h"
#include "automation/dbus_wire.h"
#include "instrument/constants.h"
#include "instrument/objects.h"

namespace vantel {

Q_LOGGING_CATEGORY(lcAnalyser, "vantel.analyser", QtInfoMsg)

namespace {

constexpr char kServiceName[] = "Vantel.Application";
// No member of the analyser takes a value anywhere near this; a request carrying more is
// refused before anything is copied, converted or logged, so that it cannot hold the analyser
// up for its other clients.
constexpr std::size_t kLargestArgument_bytes = 64 * 1024;
// A test's delay or stall beyond this would leave the analyser deaf, even to SIGTERM, for as
// long.
constexpr double kLongestDelay_s = 60.0;
constexpr std::string_view kService = kServiceName;

using Member = AnalyserExport::Member;

// The D-Bus type of a member of each type. A member read back as written declares its natural
// Boolean, but keeps whatever a client wrote.
char dbus_type(instrument::MemberType type) {
    using instrument::MemberType;
    switch (type) {
        case MemberType::Code:
            return 'n';
        case MemberType::Int32:
            return 'i';
        case MemberType::Int64:
            return 'x';
        case MemberType::Double:
            return 'd';
        case MemberType::Text:
            return 's';
        case MemberType::Object:
            return 'o';
        case MemberType::Boolean:
        case MemberType::AsWritten:
            break;
    }
    return 'b';
}

bool is_integer_type(char type) {
    return QByteArrayView("ynqiuxt").contains(type);
}

// The node around an object's own introspection data, byte for byte as the analyser answered
// when QtDBus served it, so that no client sees a change: the standard interfaces after the
// object's own, and child nodes for the paths above it.
constexpr char kDoctype[] =
    "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
    "\"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n";
constexpr char kTestControlXml[] =
    "  <interface name=\"Vantel.TestControl\">\n"
    "    <method name=\"FailMember\">\n"
    "      <arg name=\"path\" type=\"s\" direction=\"in\"/>\n"
    "      <arg name=\"reason\" type=\"s\" direction=\"in\"/>\n"
    "      <arg name=\"after_accesses\" type=\"u\" direction=\"in\"/>\n"
    "    </method>\n"
    "    <method name=\"SetGoneAway\">\n"
    "      <arg name=\"gone\" type=\"b\" direction=\"in\"/>\n"
    "    </method>\n"
    "    <method name=\"SetAccessDelay\">\n"
    "      <arg name=\"seconds\" type=\"d\" direction=\"in\"/>\n"
    "    </method>\n"
    "    <method name=\"Stall\">\n"
    "      <arg name=\"seconds\" type=\"d\" direction=\"in\"/>\n"
    "    </method>\n"
    "    <method name=\"ClearFaults\">\n"
    "    </method>\n"
    "  </interface>\n";
constexpr char kPropertiesXml[] =
    "  <interface name=\"org.freedesktop.DBus.Properties\">\n"
    "    <method name=\"Get\">\n"
    "      <arg name=\"interface_name\" type=\"s\" direction=\"in\"/>\n"
    "      <arg name=\"property_name\" type=\"s\" direction=\"in\"/>\n"
    "      <arg name=\"value\" type=\"v\" direction=\"out\"/>\n"
    "    </method>\n"
    "    <method name=\"Set\">\n"
    "      <arg name=\"interface_name\" type=\"s\" direction=\"in\"/>\n"
    "      <arg name=\"property_name\" type=\"s\" direction=\"in\"/>\n"
    "      <arg name=\"value\" type=\"v\" direction=\"in\"/>\n"
    "    </method>\n"
    "    <method name=\"GetAll\">\n"
    "      <arg name=\"interface_name\" type=\"s\" direction=\"in\"/>\n"
    "      <arg name=\"values\" type=\"a{sv}\" direction=\"out\"/>\n"
    "      <annotation name=\"org.qtproject.QtDBus.QtTypeName.Out0\" value=\"QVariantMap\"/>\n"
    "    </method>\n"
    "    <signal name=\"PropertiesChanged\">\n"
    "      <arg name=\"interface_name\" type=\"s\" direction=\"out\"/>\n"
    "      <arg name=\"changed_properties\" type=\"a{sv}\" direction=\"out\"/>\n"
    "      <annotation name=\"org.qtproject.QtDBus.QtTypeName.Out1\" value=\"QVariantMap\"/>\n"
    "      <arg name=\"invalidated_properties\" type=\"as\" direction=\"out\"/>\n"
    "    </signal>\n"
    "  </interface>\n";
constexpr char kIntrospectableXml[] =
    "  <interface name=\"org.freedesktop.DBus.Introspectable\">\n"
    "    <method name=\"Introspect\">\n"
    "      <arg name=\"xml_data\" type=\"s\" direction=\"out\"/>\n"
    "    </method>\n"
    "  </interface>\n";
constexpr char kPeerXml[] =
    "  <interface name=\"org.freedesktop.DBus.Peer\">\n"
    "    <method name=\"Ping\"/>\n"
    "    <method name=\"GetMachineId\">\n"
    "      <arg name=\"machine_uuid\" type=\"s\" direction=\"out\"/>\n"
    "    </method>\n"
    "  </interface>\n";

// libdbus's error, freed with its holder.
struct BusError {
    BusError() { dbus_error_init(&error); }
    ~BusError() { dbus_error_free(&error); }
    BusError(const BusError&) = delete;
    BusError& operator=(const BusError&) = delete;
    QString message() const { return QString::fromUtf8(error.message); }
    DBusError error;
};

// What a handler answers with when it cannot do what was asked.
struct Failure {
    QString error_name;
    QString message;
};

}  // namespace

const Member* AnalyserExport::Exported::find(const QString& name) const {
    for (const Member& m : members) {
        if (name == QLatin1String(m.name.data(), static_cast<qsizetype>(m.name.size())))
            return &m;
    }
    return nullptr;
}

AnalyserExport::AnalyserExport(Analyser analyser, bool test_control, QObject* parent)
    : QObject(parent),
      analyser_(std::move(analyser)),
      test_control_(test_control),
      path_(dbus::object_path_for(kService)) {
    ObjectRef app = analyser_.application();
    // Every member the analyser's own objects serve, from their tables.
    for (const instrument::ObjectInfo& info : instrument::object_model()) {
        const QString path = info.name.empty() ? path_ : path_ + u'/' + to_qstring(info.name);
        Exported& exported = objects_[path];
        exported.interface = dbus::interface_for_path(path);
        // The analyser's sub-objects are views on the one analyser: one each serves every call.
        exported.object = info.name.empty() ? app : get_object(*app, info.name);
        for (const instrument::MemberInfo& m : info.members) {
            exported.members.push_back({m.name, dbus_type(m.type), m.writable, m.constant});
            if (m.type == instrument::MemberType::Object)
                exported.children << to_qstring(m.name);
        }
    }
}

AnalyserExport::~AnalyserExport() {
    notifier_.reset();
    if (bus_) {
        dbus_connection_close(bus_);
        dbus_connection_unref(bus_);
    }
}

bool AnalyserExport::publish() {
    BusError error;
    bus_ = dbus_bus_get_private(DBUS_BUS_SESSION, &error.error);
    if (!bus_) {
        qCCritical(lcAnalyser).noquote() << "no D-Bus session bus:" << error.message();
        return false;
    }
    // The program decides what a lost bus means (it quits through the event loop), not libdbus.
    dbus_connection_set_exit_on_disconnect(bus_, FALSE);
    if (!dbus_connection_add_filter(bus_, &AnalyserExport::filter, this, nullptr)) {
        qCCritical(lcAnalyser) << "cannot serve the bus: out of memory";
        return false;
    }
    int fd = -1;
    if (!dbus_connection_get_unix_fd(bus_, &fd)) {
        qCCritical(lcAnalyser) << "the bus connection has no socket to watch";
        return false;
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        // When the bus has gone, what was read still dispatches, and then the Disconnected that
        // libdbus queues for it; the socket, closed, would only wake the loop again.
        if (!dbus_connection_read_write(bus_, 0))
            notifier_->setEnabled(false);
        dispatch();
    });
    const int claimed =
        dbus_bus_request_name(bus_, kServiceName, DBUS_NAME_FLAG_DO_NOT_QUEUE, &error.error);
    if (claimed != DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER) {
        qCCritical(lcAnalyser).noquote()
            << "cannot own" << to_qstring(kService) << "on the bus:"
            << (dbus_error_is_set(&error.error) ? error.message()
                                                : QStringLiteral("another process has it"));
        return false;
    }
    qCInfo(lcAnalyser).noquote() << "serving" << to_qstring(kService) << "as"
                                 << QString::fromUtf8(dbus_bus_get_unique_name(bus_))
                                 << (test_control_ ? "with the test control" : "(no test control)");
    // Calls that came while the name was being claimed wait in libdbus's queue, not the socket.
    QTimer::singleShot(0, this, &AnalyserExport::dispatch);
    return true;
}

void AnalyserExport::dispatch() {
    while (dbus_connection_dispatch(bus_) == DBUS_DISPATCH_DATA_REMAINS) {
    }
    // Answers are queued by dbus_connection_send; a blocking flush of a few hundred bytes to the
    // bus daemon's socket costs nothing and needs no write watch.
    dbus_connection_flush(bus_);
}

DBusHandlerResult AnalyserExport::filter(DBusConnection* /*connection*/, DBusMessage* message,
                                         void* self) {
    auto* me = static_cast<AnalyserExport*>(self);
    if (dbus_message_is_signal(message, DBUS_INTERFACE_LOCAL, "Disconnected")) {
        if (!me->lost_) {
            me->lost_ = true;
            me->notifier_->setEnabled(false);
            qCWarning(lcAnalyser) << "the session bus has gone";
            Q_EMIT me->bus_lost();
        }
        return DBUS_HANDLER_RESULT_HANDLED;
    }
    if (dbus_message_get_type(message) != DBUS_MESSAGE_TYPE_METHOD_CALL)
        return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    DBusMessage* reply = nullptr;
    try {
        reply = me->answer(message);
    } catch (const std::bad_alloc&) {
        return DBUS_HANDLER_RESULT_NEED_MEMORY;
    }
    if (!reply)
        return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    if (!dbus_message_get_no_reply(message))
        dbus_connection_send(me->bus_, reply, nullptr);
    dbus_message_unref(reply);
    return DBUS_HANDLER_RESULT_HANDLED;
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
                   .arg(to_qstring(m.name), QChar::fromLatin1(m.type),
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

QString AnalyserExport::introspect_node(const QString& path) const {
    QString xml = QLatin1String(kDoctype) + QStringLiteral("<node>\n");
    if (objects_.contains(path)) {
        xml += introspect(path) + QLatin1String(kPropertiesXml) +
               QLatin1String(kIntrospectableXml) + QLatin1String(kPeerXml);
    } else if (test_control_ && path == QLatin1String(dbus::kTestControlPath)) {
        // OverrideValue takes a variant, which QtDBus, that first exported this, did not list;
        // the tests call it all the same, so the listing stays as it was.
        xml += QLatin1String(kTestControlXml) + QLatin1String(kPropertiesXml) +
               QLatin1String(kIntrospectableXml) + QLatin1String(kPeerXml);
    } else {
        // A node above the objects: its children down to them.
        QStringList children;
        const QString prefix = path == QLatin1String("/") ? path : path + u'/';
        QStringList exported{path_};
        if (test_control_)
            exported << QString::fromLatin1(dbus::kTestControlPath);
        for (const QString& p : exported) {
            if (p.startsWith(prefix)) {
                const QString child = p.mid(prefix.size()).section(u'/', 0, 0);
                if (!children.contains(child))
                    children << child;
            }
        }
        if (children.isEmpty())
            return {};
        xml += QLatin1String(kIntrospectableXml) + QLatin1String(kPeerXml);
        for (const QString& child : children)
            xml += QStringLiteral("  <node name=\"%1\"/>\n").arg(child);
    }
    return xml + QStringLiteral("</node>\n");
}

namespace {

QString string_at(DBusMessageIter* it) {
    return dbus_message_iter_get_arg_type(it) == DBUS_TYPE_STRING
               ? QString::fromUtf8(dbus::basic<const char*>(it))
               : QString();
}

// The call's arguments as strings up to the first that is not one, then the variant, if any.
struct Arguments {
    QStringList strings;
    dbus::Wire variant;
};

Arguments arguments_of(DBusMessage* call) {
    Arguments a;
    DBusMessageIter it;
    if (!dbus_message_iter_init(call, &it))
        return a;
    do {
        const int type = dbus_message_iter_get_arg_type(&it);
        if (type == DBUS_TYPE_STRING) {
            a.strings << string_at(&it);
        } else if (type == DBUS_TYPE_VARIANT) {
            DBusMessageIter inner;
            dbus_message_iter_recurse(&it, &inner);
            a.variant = dbus::read_wire(&inner);
        }
    } while (dbus_message_iter_next(&it));
    return a;
}

DBusMessage* checked(DBusMessage* m) {
    if (!m)
        throw std::bad_alloc();
    return m;
}

DBusMessage* error_reply(DBusMessage* call, const char* name, const QString& message) {
    const QByteArray text = message.toUtf8();
    return checked(dbus_message_new_error(call, name, text.constData()));
}

DBusMessage* error_reply(DBusMessage* call, const QString& name, const QString& message) {
    return error_reply(call, name.toUtf8().constData(), message);
}

DBusMessage* string_reply(DBusMessage* call, const QString& s) {
    DBusMessage* reply = checked(dbus_message_new_method_return(call));
    DBusMessageIter it;
    dbus_message_iter_init_append(reply, &it);
    dbus::append_string(&it, s);
    return reply;
}

QString path_of(DBusMessage* call) {
    const char* path = dbus_message_get_path(call);
    return path ? QString::fromUtf8(path) : QString();
}

// The interface a Properties call names must be the object's own; empty means "whichever".
DBusMessage* wrong_interface(DBusMessage* call, const Arguments& a, const QString& interface) {
    const QString asked = a.strings.value(0);
    if (asked.isEmpty() || asked == interface)
        return nullptr;
    return error_reply(call, DBUS_ERROR_UNKNOWN_INTERFACE,
                       QStringLiteral("%1 has no interface %2").arg(path_of(call), asked));
}

DBusMessage* no_such_property(DBusMessage* call, const QString& interface, const QString& name) {
    return error_reply(call, DBUS_ERROR_UNKNOWN_PROPERTY,
                       QStringLiteral("%1 has no property %2").arg(interface, name));
}

}  // namespace

DBusMessage* AnalyserExport::answer(DBusMessage* call) {
    const QString path = path_of(call);
    const char* interface = dbus_message_get_interface(call);
    const char* method = dbus_message_get_member(call);
    if (!method)
        return nullptr;
    if (dbus::has_oversized_argument(call, kLargestArgument_bytes)) {
        return error_reply(call, dbus::kRefusedError,
                           QStringLiteral("%1: a value of over %2 bytes is refused")
                               .arg(QLatin1String(method))
                               .arg(kLargestArgument_bytes));
    }
    const QString signature = QString::fromLatin1(dbus_message_get_signature(call));
    const bool introspection =
        (!interface || !std::strcmp(interface, DBUS_INTERFACE_INTROSPECTABLE)) &&
        !std::strcmp(method, "Introspect") && signature.isEmpty();
    if (introspection) {
        const QString xml = introspect_node(path);
        if (xml.isEmpty()) {
            return error_reply(call, DBUS_ERROR_UNKNOWN_OBJECT,
                               QStringLiteral("No such object path '%1'").arg(path));
        }
        return string_reply(call, xml);
    }
    if (test_control_ && path == QLatin1String(dbus::kTestControlPath) &&
        (!interface || !std::strcmp(interface, dbus::kTestControlInterface)))
        return test_control(call, QLatin1String(method), signature);
    auto it = objects_.find(path);
    if (it == objects_.end() || !interface || std::strcmp(interface, dbus::kPropertiesInterface))
        return nullptr;
    const Exported& object = it->second;
    if (!std::strcmp(method, "Get") && signature == QLatin1String("ss"))
        return get(object, call);
    if (!std::strcmp(method, "Set") && signature == QLatin1String("ssv"))
        return set(object, call);
    if (!std::strcmp(method, "GetAll") && signature == QLatin1String("s"))
        return get_all(object, call);
    return error_reply(call, DBUS_ERROR_UNKNOWN_METHOD,
                       QStringLiteral("no method %1(%2) on the properties interface")
                           .arg(QLatin1String(method), signature));
}

QVariant AnalyserExport::read(const QString& path, const Exported& object,
                              const Member& member) const {
    const QString name = to_qstring(member.name);
    Value v;
    try {
        v = object.object->get(member.name);
    } catch (const AutomationError& e) {
        qCDebug(lcAnalyser).noquote() << "read of" << name << "failed:" << e.reason().c_str();
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

DBusMessage* AnalyserExport::get(const Exported& object, DBusMessage* call) const {
    const Arguments a = arguments_of(call);
    if (DBusMessage* error = wrong_interface(call, a, object.interface))
        return error;
    const QString name = a.strings.value(1);
    const Member* member = object.find(name);
    if (!member)
        return no_such_property(call, object.interface, name);
    QVariant value;
    try {
        value = read(path_of(call), object, *member);
    } catch (const Failure& f) {
        return error_reply(call, f.error_name, f.message);
    }
    DBusMessage* reply = checked(dbus_message_new_method_return(call));
    DBusMessageIter it;
    dbus_message_iter_init_append(reply, &it);
    try {
        dbus::append_variant(&it, value);
    } catch (...) {
        dbus_message_unref(reply);
        throw;
    }
    return reply;
}

DBusMessage* AnalyserExport::get_all(const Exported& object, DBusMessage* call) const {
    const Arguments a = arguments_of(call);
    if (DBusMessage* error = wrong_interface(call, a, object.interface))
        return error;
    const QString path = path_of(call);
    // In name order, as QVariantMap keeps them.
    QMap<QString, QVariant> values;
    try {
        for (const Member& m : object.members)
            values.insert(to_qstring(m.name), read(path, object, m));
    } catch (const Failure& f) {
        return error_reply(call, f.error_name, f.message);
    }
    DBusMessage* reply = checked(dbus_message_new_method_return(call));
    try {
        DBusMessageIter it;
        DBusMessageIter array;
        dbus_message_iter_init_append(reply, &it);
        dbus::check_memory(dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "{sv}", &array));
        for (auto v = values.cbegin(); v != values.cend(); ++v) {
            DBusMessageIter entry;
            dbus::check_memory(
                dbus_message_iter_open_container(&array, DBUS_TYPE_DICT_ENTRY, nullptr, &entry));
            dbus::append_string(&entry, v.key());
            dbus::append_variant(&entry, v.value());
            dbus::check_memory(dbus_message_iter_close_container(&array, &entry));
        }
        dbus::check_memory(dbus_message_iter_close_container(&it, &array));
    } catch (...) {
        dbus_message_unref(reply);
        throw;
    }
    return reply;
}

DBusMessage* AnalyserExport::set(const Exported& object, DBusMessage* call) {
    const Arguments a = arguments_of(call);
    if (DBusMessage* error = wrong_interface(call, a, object.interface))
        return error;
    const QString name = a.strings.value(1);
    const Member* member = object.find(name);
    if (!member)
        return no_such_property(call, object.interface, name);
    if (!member->writable)
        return error_reply(call, DBUS_ERROR_PROPERTY_READ_ONLY,
                           QStringLiteral("%1 is read-only").arg(name));
    const dbus::Wire& wire = a.variant;
    const std::optional<Value> v = dbus::value_from_dbus(wire.value);
    if (!v) {
        return error_reply(
            call, DBUS_ERROR_INVALID_ARGS,
            QStringLiteral("%1: a value of type '%2' is not accepted").arg(name, wire.signature));
    }
    try {
        object.object->set(member->name, *v);
    } catch (const AutomationError& e) {
        const QString reason = QString::fromStdString(e.reason());
        qCInfo(lcAnalyser).noquote()
            << "refused" << name << "=" << v->describe().c_str() << ":" << reason;
        return error_reply(call, dbus::kRefusedError, name + QStringLiteral(": ") + reason);
    }
    if (v->kind() == Value::Kind::Integer)
        written_types_[path_of(call) + u' ' + name] = wire.signature.at(0).toLatin1();
    return checked(dbus_message_new_method_return(call));
}

DBusMessage* AnalyserExport::test_control(DBusMessage* call, QLatin1StringView method,
                                          const QString& signature) {
    DBusMessageIter it;
    dbus_message_iter_init(call, &it);
    if (method == QLatin1String("FailMember") && signature == QLatin1String("ssu")) {
        const QString path = string_at(&it);
        dbus_message_iter_next(&it);
        const QString reason = string_at(&it);
        dbus_message_iter_next(&it);
        const uint after_accesses = dbus::basic<dbus_uint32_t>(&it);
        qCInfo(lcAnalyser) << "test: fail" << path << "after" << after_accesses << "good accesses";
        analyser_.fail_member(path.toStdString(),
                              reason.isEmpty() ? "refused by the test" : reason.toStdString(),
                              after_accesses);
    } else if (method == QLatin1String("SetGoneAway") && signature == QLatin1String("b")) {
        const bool gone = dbus::basic<dbus_bool_t>(&it) != 0;
        qCInfo(lcAnalyser) << "test: gone away" << gone;
        analyser_.set_gone_away(gone);
    } else if (method == QLatin1String("OverrideValue") && signature == QLatin1String("sv")) {
        const Arguments a = arguments_of(call);
        const QString path = a.strings.value(0);
        const std::optional<Value> v = dbus::value_from_dbus(a.variant.value);
        if (!v) {
            return error_reply(call, DBUS_ERROR_INVALID_ARGS,
                               QStringLiteral("a value of type '%1' has no automation counterpart")
                                   .arg(a.variant.signature));
        }
        qCInfo(lcAnalyser) << "test: reads of" << path << "give" << v->describe().c_str();
        analyser_.override_value(path.toStdString(), *v);
    } else if ((method == QLatin1String("SetAccessDelay") || method == QLatin1String("Stall")) &&
               signature == QLatin1String("d")) {
        const double seconds = dbus::basic<double>(&it);
        if (!(seconds >= 0.0 && seconds <= kLongestDelay_s))
            return error_reply(call, DBUS_ERROR_INVALID_ARGS,
                               QStringLiteral("%1 takes a number of seconds from 0 to %2")
                                   .arg(method)
                                   .arg(kLongestDelay_s));
        if (method == QLatin1String("Stall")) {
            // Busy with something else for a while, as with another client's large request:
            // every caller waits, and this answer comes last.
            qCInfo(lcAnalyser) << "test: stalling for" << seconds << "s";
            std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        } else {
            qCInfo(lcAnalyser) << "test: every access takes" << seconds << "s";
            analyser_.set_access_delay(seconds);
        }
    } else if (method == QLatin1String("ClearFaults") && signature.isEmpty()) {
        qCInfo(lcAnalyser) << "test: faults cleared";
        analyser_.clear_faults();
    } else {
        return error_reply(call, DBUS_ERROR_UNKNOWN_METHOD,
                           QStringLiteral("No such method '%1' in interface '%2' at object path "
                                          "'%3' (signature '%4')")
                               .arg(method, QLatin1String(dbus::kTestControlInterface),
                                    QLatin1String(dbus::kTestControlPath), signature));
    }
    return checked(dbus_message_new_method_return(call));
}

}  // namespace vantel

// Here rather than with the library's other meta-objects, so that vantel-analyser links only
// what it uses and not the panel's widgets.
#include "moc_dbus_export.cpp"
