// SPDX-License-Identifier: MIT
#include "automation/dbus_backend.h"
#include "automation/qt_text.h"

#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QXmlStreamReader>

#include <dbus/dbus.h>

#include <map>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "automation/dbus_message.h"
#include "automation/dbus_wire.h"

namespace vantel {

namespace {

using dbus::append_basic;
using dbus::append_string;
using dbus::append_variant;
using dbus::basic;
using dbus::read_wire;
using dbus::Wire;

constexpr char kBusService[] = "org.freedesktop.DBus";
constexpr char kBusPath[] = "/org/freedesktop/DBus";

// Why a call failed, in words for the panel's error: the bus's own words where they are
// clear, followed by the D-Bus error name.
std::string failure_reason(const QString& name, QString text, std::string_view member,
                           qint64 elapsed_ms, int timeout_ms) {
    // A late answer and a peer that left mid-call both come as NoReply; only the time tells.
    // libdbus's timer may fire a few milliseconds early (48 ms for 50).
    if (name == QLatin1String(DBUS_ERROR_NO_REPLY) && elapsed_ms * 10 >= timeout_ms * 8) {
        text = QStringLiteral("no answer within %1 ms").arg(timeout_ms);
    } else if (name == QLatin1String(DBUS_ERROR_SERVICE_UNKNOWN) ||
               name == QLatin1String(DBUS_ERROR_NAME_HAS_NO_OWNER)) {
        text = QStringLiteral("the analyser has left the bus");
    } else if (name.startsWith(QLatin1String("Vantel.Error."))) {
        // The analyser starts its messages with the member's name, which the error names anyway.
        const QString prefix = to_qstring(member) + QStringLiteral(": ");
        if (text.startsWith(prefix))
            text = text.mid(prefix.size());
    }
    return (text + QStringLiteral(" (") + name + u')').toStdString();
}

// A property as introspection data declares it.
struct DeclaredProperty {
    QString name;
    QString type;  // the D-Bus signature: "n", "s", "o"
    bool writable = false;
    bool constant = false;
};

// The properties of `interface` in the introspection data `xml`, in its order.
std::vector<DeclaredProperty> declared_properties(const QString& xml, const QString& interface) {
    const QString change = QString::fromLatin1(dbus::kChangeAnnotation);
    std::vector<DeclaredProperty> properties;
    std::map<QString, bool> declared;  // a property's own annotation
    bool interface_constant = false;   // the interface's annotation, for the rest
    bool inside = false;
    bool in_property = false;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        reader.readNext();
        const auto element = reader.name();
        if (reader.isStartElement()) {
            const QXmlStreamAttributes a = reader.attributes();
            if (element == QLatin1String("interface")) {
                inside = a.value(QLatin1String("name")) == interface;
            } else if (inside && element == QLatin1String("property")) {
                const auto access = a.value(QLatin1String("access"));
                properties.push_back(
                    {a.value(QLatin1String("name")).toString(),
                     a.value(QLatin1String("type")).toString(),
                     access == QLatin1String("readwrite") || access == QLatin1String("write"),
                     false});
                in_property = true;
            } else if (inside && element == QLatin1String("annotation") &&
                       a.value(QLatin1String("name")) == change) {
                const bool constant = a.value(QLatin1String("value")) == QLatin1String("const");
                if (!in_property)
                    interface_constant = constant;
                else
                    declared[properties.back().name] = constant;
            }
        } else if (reader.isEndElement()) {
            if (element == QLatin1String("property"))
                in_property = false;
            else if (element == QLatin1String("interface"))
                inside = false;
        }
    }
    for (DeclaredProperty& p : properties) {
        auto it = declared.find(p.name);
        p.constant = it == declared.end() ? interface_constant : it->second;
    }
    return properties;
}

// What a read of a property of D-Bus type `type` gives.
Value::Kind kind_of_signature(const QString& type) {
    if (type.size() != 1)
        return Value::Kind::Empty;
    switch (type.at(0).toLatin1()) {
        case 'b':
            return Value::Kind::Boolean;
        case 'y':
        case 'n':
        case 'q':
        case 'i':
        case 'u':
        case 'x':
        case 't':
            return Value::Kind::Integer;
        case 'd':
            return Value::Kind::Double;
        case 's':
            return Value::Kind::Text;
        case 'o':
            return Value::Kind::Object;
        default:
            return Value::Kind::Empty;
    }
}

// libdbus's objects, freed with their owner.
struct MessageUnref {
    void operator()(DBusMessage* m) const { dbus_message_unref(m); }
};
using MessagePtr = std::unique_ptr<DBusMessage, MessageUnref>;

struct ConnectionClose {
    void operator()(DBusConnection* c) const {
        dbus_connection_close(c);
        dbus_connection_unref(c);
    }
};

struct BusError {
    BusError() { dbus_error_init(&error); }
    ~BusError() { dbus_error_free(&error); }
    BusError(const BusError&) = delete;
    BusError& operator=(const BusError&) = delete;
    QString name() const { return QString::fromUtf8(error.name); }
    QString message() const { return QString::fromUtf8(error.message); }
    DBusError error;
};

// One attached analyser: a connection of the panel's own, the analyser's unique bus name, and
// what has been learnt about it. Shared by every object handed out for it.
//
// The connection is libdbus's, private, and used only from the thread that calls: a QtDBus
// blocking call hands every message to QtDBus's own thread and back, and those two thread
// switches per call cost more CPU than the call itself at the panel's rate of polling.
struct Link {
    Link(DBusConnection* connection, DbusLinkOptions link_options,
         std::shared_ptr<DbusLinkCounters> link_counters)
        : bus(connection), options(link_options), counters(std::move(link_counters)) {}

    std::unique_ptr<DBusConnection, ConnectionClose> bus;
    std::unique_ptr<QSocketNotifier> notifier;  // declared after `bus`, so it goes first
    DbusLinkOptions options;
    std::shared_ptr<DbusLinkCounters> counters;
    std::string owner;  // the unique name, ":1.42"
    // By "path member": the members declared constant, the answers already had for them (as
    // they came: an object kept here would hold the link and never be freed), and the integer
    // type each integer member last came in, so that a value read is written back as it came
    // (the settling option restored at shut-down).
    std::set<QString> constant;
    std::map<QString, Wire> resolved;
    std::map<QString, char> integer_types;

    static MessagePtr method_call(const char* destination, const char* path, const char* interface,
                                  const char* method) {
        DBusMessage* m = dbus_message_new_method_call(destination, path, interface, method);
        if (!m)
            throw std::bad_alloc();
        return MessagePtr(m);
    }

    // The answer to `message`, or nothing and the error in `error`.
    MessagePtr send(DBusMessage* message, int timeout_ms, BusError& error) {
        ++counters->round_trips;
        MessagePtr reply(dbus_connection_send_with_reply_and_block(bus.get(), message, timeout_ms,
                                                                   &error.error));
        turn_away_others();
        return reply;
    }

    // Whatever else reached this connection: the NameAcquired that greets every connection, and
    // anything a neighbour on the bus sends. The link serves nothing, so a call is answered with
    // an error at once and the rest is dropped; none of it may pile up, here or in the bus.
    void turn_away_others() {
        bool answered = false;
        while (DBusMessage* other = dbus_connection_pop_message(bus.get())) {
            if (dbus_message_get_type(other) == DBUS_MESSAGE_TYPE_METHOD_CALL &&
                !dbus_message_get_no_reply(other)) {
                if (DBusMessage* no = dbus_message_new_error(
                        other, DBUS_ERROR_UNKNOWN_METHOD,
                        "this is a panel's link to its analyser; it takes no calls")) {
                    dbus_connection_send(bus.get(), no, nullptr);
                    dbus_message_unref(no);
                    answered = true;
                }
            }
            dbus_message_unref(other);
        }
        if (answered)
            dbus_connection_flush(bus.get());
    }

    // Between calls nobody reads the connection; this does, from the event loop, whenever the
    // bus has sent something, so that unsolicited messages are turned away as they come.
    void watch_between_calls() {
        int fd = -1;
        if (!dbus_connection_get_unix_fd(bus.get(), &fd))
            return;
        notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(), [this] {
            if (!dbus_connection_read_write(bus.get(), 0))
                notifier->setEnabled(false);  // the bus has gone; the next call says so
            turn_away_others();
        });
    }

    // Calls the analyser; a failure of any kind throws AutomationError naming `member`.
    MessagePtr call(DBusMessage* message, std::string_view member) {
        QElapsedTimer timer;
        timer.start();
        BusError error;
        MessagePtr reply = send(message, options.call_timeout_ms, error);
        if (!reply) {
            throw AutomationError(std::string(member),
                                  failure_reason(error.name(), error.message(), member,
                                                 timer.elapsed(), options.call_timeout_ms));
        }
        return reply;
    }

    // A question to the bus itself ("who owns this name?").
    MessagePtr ask_bus(const char* method, const std::string& name, BusError& error,
                       bool with_flags = false) {
        MessagePtr m = method_call(kBusService, kBusPath, kBusService, method);
        DBusMessageIter it;
        dbus_message_iter_init_append(m.get(), &it);
        append_string(&it, QString::fromStdString(name));
        if (with_flags)
            append_basic<dbus_uint32_t>(&it, DBUS_TYPE_UINT32, 0);
        return send(m.get(), options.activation_timeout_ms, error);
    }
};

// The first argument of `reply`, which is a string.
QString first_string(DBusMessage* reply) {
    DBusMessageIter it;
    if (!dbus_message_iter_init(reply, &it) ||
        dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_STRING)
        return {};
    return QString::fromUtf8(basic<const char*>(&it));
}

class DbusObject final : public AutomationObject {
public:
    DbusObject(std::shared_ptr<Link> link, QString path)
        : link_(std::move(link)),
          path_(std::move(path)),
          path_utf8_(path_.toUtf8()),
          interface_(dbus::interface_for_path(path_)) {}

    Value get(std::string_view member) override;
    void set(std::string_view member, const Value& value) override;
    std::vector<MemberInfo> members() override;

private:
    // An answer as an automation value; an object path becomes an object on the same link.
    Value to_value(const Wire& wire, const QString& key, std::string_view member) const;
    // A Properties call on this object with the interface and the member as its first arguments.
    MessagePtr properties_call(const char* method, const QString& name, DBusMessageIter* it) const;

    std::shared_ptr<Link> link_;
    QString path_;
    QByteArray path_utf8_;
    QString interface_;
};

MessagePtr DbusObject::properties_call(const char* method, const QString& name,
                                       DBusMessageIter* it) const {
    MessagePtr m = Link::method_call(link_->owner.c_str(), path_utf8_.constData(),
                                     dbus::kPropertiesInterface, method);
    dbus_message_iter_init_append(m.get(), it);
    append_string(it, interface_);
    append_string(it, name);
    return m;
}

Value DbusObject::get(std::string_view member) {
    const QString name = to_qstring(member);
    const QString key = path_ + u' ' + name;
    if (auto known = link_->resolved.find(key); known != link_->resolved.end())
        return to_value(known->second, key, member);
    DBusMessageIter args;
    const MessagePtr call = properties_call("Get", name, &args);
    const MessagePtr reply = link_->call(call.get(), member);
    DBusMessageIter it;
    Wire wire;
    if (dbus_message_iter_init(reply.get(), &it) &&
        dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_VARIANT) {
        DBusMessageIter inner;
        dbus_message_iter_recurse(&it, &inner);
        wire = read_wire(&inner);
    } else {
        wire.signature = QString::fromLatin1(dbus_message_get_signature(reply.get()));
    }
    Value v = to_value(wire, key, member);
    if (link_->constant.contains(key))
        link_->resolved.emplace(key, std::move(wire));
    return v;
}

Value DbusObject::to_value(const Wire& wire, const QString& key, std::string_view member) const {
    if (wire.value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return Value(ObjectRef(
            std::make_shared<DbusObject>(link_, wire.value.value<QDBusObjectPath>().path())));
    std::optional<Value> v = dbus::value_from_dbus(wire.value);
    if (!v) {
        throw AutomationError(std::string(member), "the analyser answered a D-Bus value of type '" +
                                                       wire.signature.toStdString() +
                                                       "', which the panel cannot use");
    }
    if (v->kind() == Value::Kind::Integer)
        link_->integer_types[key] = wire.signature.at(0).toLatin1();
    return *v;
}

void DbusObject::set(std::string_view member, const Value& value) {
    const QString name = to_qstring(member);
    auto known_type = link_->integer_types.find(path_ + u' ' + name);
    const std::optional<QVariant> wire = dbus::dbus_from_value(
        value, known_type == link_->integer_types.end() ? 'n' : known_type->second);
    if (!wire)
        throw AutomationError(std::string(member), value.describe() + " has no D-Bus form");
    DBusMessageIter args;
    const MessagePtr call = properties_call("Set", name, &args);
    append_variant(&args, *wire);
    link_->call(call.get(), member);
}

std::vector<MemberInfo> DbusObject::members() {
    const MessagePtr call = Link::method_call(link_->owner.c_str(), path_utf8_.constData(),
                                              "org.freedesktop.DBus.Introspectable", "Introspect");
    const MessagePtr xml = link_->call(call.get(), path_.toStdString());
    std::vector<MemberInfo> list;
    for (const DeclaredProperty& p : declared_properties(first_string(xml.get()), interface_))
        list.push_back({p.name.toStdString(), kind_of_signature(p.type), p.writable, p.constant});
    return list;
}

}  // namespace

DbusAnalyserPresence find_dbus_analyser(std::string_view service) {
    const std::string id(service);
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        if (runtime.isEmpty() || !QFileInfo::exists(runtime + QStringLiteral("/bus")))
            return {false, "there is no D-Bus session bus"};
    }
    BusError no_bus;
    std::unique_ptr<DBusConnection, ConnectionClose> bus(
        dbus_bus_get_private(DBUS_BUS_SESSION, &no_bus.error));
    if (!bus)
        return {false,
                "the D-Bus session bus cannot be reached: " + no_bus.message().toStdString()};
    dbus_connection_set_exit_on_disconnect(bus.get(), FALSE);
    BusError error;
    if (dbus_bus_name_has_owner(bus.get(), id.c_str(), &error.error))
        return {true, id + " is on the D-Bus session bus"};

    const MessagePtr ask =
        Link::method_call(kBusService, kBusPath, kBusService, "ListActivatableNames");
    BusError unanswered;
    const MessagePtr names(dbus_connection_send_with_reply_and_block(
        bus.get(), ask.get(), DbusLinkOptions{}.activation_timeout_ms, &unanswered.error));
    DBusMessageIter it;
    if (names && dbus_message_iter_init(names.get(), &it) &&
        dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_ARRAY) {
        DBusMessageIter name;
        dbus_message_iter_recurse(&it, &name);
        while (dbus_message_iter_get_arg_type(&name) == DBUS_TYPE_STRING) {
            if (id == basic<const char*>(&name))
                return {true, "the D-Bus session bus can start " + id};
            dbus_message_iter_next(&name);
        }
    }
    return {false, "nothing on the D-Bus session bus owns or can start " + id};
}

ObjectRef attach_dbus_application(std::string_view service, DbusLinkOptions options,
                                  std::shared_ptr<DbusLinkCounters> counters) {
    const std::string id(service);
    const QString path = dbus::object_path_for(service);
    {
        BusError invalid;
        if (!dbus_validate_bus_name(id.c_str(), &invalid.error) ||
            !dbus_validate_path(path.toUtf8().constData(), &invalid.error)) {
            throw AutomationError(id, "not a name the analyser can have on D-Bus (" +
                                          invalid.message().toStdString() + ")");
        }
    }
    BusError no_bus;
    DBusConnection* connection = dbus_bus_get_private(DBUS_BUS_SESSION, &no_bus.error);
    if (!connection) {
        throw AutomationError(id, "no D-Bus session bus to find the analyser on (" +
                                      no_bus.message().toStdString() + ")");
    }
    // libdbus would end the whole program when the bus goes; the panel ends by its own rules.
    dbus_connection_set_exit_on_disconnect(connection, FALSE);
    auto link = std::make_shared<Link>(
        connection, options, counters ? std::move(counters) : std::make_shared<DbusLinkCounters>());

    BusError no_owner;
    MessagePtr owner = link->ask_bus("GetNameOwner", id, no_owner);
    if (!owner) {
        // Nobody has the name: D-Bus activation starts the analyser if a service file says how.
        BusError not_started;
        const MessagePtr started = link->ask_bus("StartServiceByName", id, not_started, true);
        if (!started && not_started.name() == QLatin1String(DBUS_ERROR_SERVICE_UNKNOWN)) {
            throw AutomationError(id,
                                  "no analyser on the D-Bus session bus: nothing owns the name "
                                  "and no D-Bus service file starts one");
        }
        if (!started) {
            throw AutomationError(id, "the D-Bus session bus could not start the analyser: " +
                                          not_started.message().toStdString() + " (" +
                                          not_started.name().toStdString() + ")");
        }
        BusError left;
        owner = link->ask_bus("GetNameOwner", id, left);
        if (!owner)
            throw AutomationError(id, "the analyser was started but left the bus at once");
    }
    link->owner = first_string(owner.get()).toStdString();
    link->watch_between_calls();

    if (link->options.resolve_constants_once) {
        const MessagePtr call =
            Link::method_call(link->owner.c_str(), path.toUtf8().constData(),
                              "org.freedesktop.DBus.Introspectable", "Introspect");
        const MessagePtr xml = link->call(call.get(), service);
        for (const DeclaredProperty& p :
             declared_properties(first_string(xml.get()), dbus::interface_for_path(path))) {
            if (p.constant)
                link->constant.insert(path + u' ' + p.name);
        }
    }
    return std::make_shared<DbusObject>(std::move(link), path);
}

}  // namespace vantel
