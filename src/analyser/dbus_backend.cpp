// SPDX-License-Identifier: MIT
#include "analyser/dbus_backend.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QXmlStreamReader>

#include <map>
#include <set>
#include <string>

#include "analyser/dbus_wire.h"

namespace vantel {

namespace {

QString qs(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

const QString kBusService = QStringLiteral("org.freedesktop.DBus");
const QString kBusPath = QStringLiteral("/org/freedesktop/DBus");

// Why a call failed, in words for the panel's error: the bus's own words where they are
// clear, followed by the D-Bus error name.
std::string failure_reason(const QDBusMessage& reply, std::string_view member, qint64 elapsed_ms,
                           int timeout_ms) {
    const QString name = reply.errorName();
    QString text = reply.errorMessage();
    // A late answer and a peer that left mid-call both come as NoReply; only the time tells.
    // libdbus's timer may fire a few milliseconds early (48 ms for 50).
    if (name == QLatin1String("org.freedesktop.DBus.Error.NoReply") &&
        elapsed_ms * 10 >= timeout_ms * 8) {
        text = QStringLiteral("no answer within %1 ms").arg(timeout_ms);
    } else if (name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
               name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
        text = QStringLiteral("the analyser has left the bus");
    } else if (name.startsWith(QLatin1String("Vantel.Error."))) {
        // The analyser starts its messages with the member's name, which the error names anyway.
        const QString prefix = qs(member) + QStringLiteral(": ");
        if (text.startsWith(prefix))
            text = text.mid(prefix.size());
    }
    return (text + QStringLiteral(" (") + name + u')').toStdString();
}

// The properties of `interface` that the introspection data `xml` declares constant.
std::set<QString> constant_properties(const QString& xml, const QString& interface) {
    const QString change = QString::fromLatin1(dbus::kChangeAnnotation);
    std::vector<QString> properties;
    std::map<QString, bool> declared;  // a property's own annotation
    bool interface_constant = false;   // the interface's annotation, for the rest
    bool inside = false;
    QString property;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        reader.readNext();
        const auto element = reader.name();
        if (reader.isStartElement()) {
            const QXmlStreamAttributes a = reader.attributes();
            if (element == QLatin1String("interface")) {
                inside = a.value(QLatin1String("name")) == interface;
            } else if (inside && element == QLatin1String("property")) {
                property = a.value(QLatin1String("name")).toString();
                properties.push_back(property);
            } else if (inside && element == QLatin1String("annotation") &&
                       a.value(QLatin1String("name")) == change) {
                const bool constant = a.value(QLatin1String("value")) == QLatin1String("const");
                if (property.isEmpty())
                    interface_constant = constant;
                else
                    declared[property] = constant;
            }
        } else if (reader.isEndElement()) {
            if (element == QLatin1String("property"))
                property.clear();
            else if (element == QLatin1String("interface"))
                inside = false;
        }
    }
    std::set<QString> constant;
    for (const QString& p : properties) {
        auto it = declared.find(p);
        if (it == declared.end() ? interface_constant : it->second)
            constant.insert(p);
    }
    return constant;
}

// One attached analyser: the connection, the analyser's unique bus name, and what has been
// learnt about it. Shared by every object handed out for it.
struct Link {
    Link(QDBusConnection connection, DbusLinkOptions link_options,
         std::shared_ptr<DbusLinkCounters> link_counters)
        : bus(std::move(connection)), options(link_options), counters(std::move(link_counters)) {}

    QDBusConnection bus;
    DbusLinkOptions options;
    std::shared_ptr<DbusLinkCounters> counters;
    QString owner;  // the unique name, ":1.42"
    // By "path member": the members declared constant, the answers already had for them (as
    // they came: an object kept here would hold the link and never be freed), and the integer
    // type each integer member last came in, so that a value read is written back as it came
    // (the settling option restored at shut-down).
    std::set<QString> constant;
    std::map<QString, QVariant> resolved;
    std::map<QString, char> integer_types;

    QDBusMessage send(const QDBusMessage& message, int timeout_ms) {
        ++counters->round_trips;
        return bus.call(message, QDBus::Block, timeout_ms);
    }

    // Calls the analyser; a failure of any kind throws AutomationError naming `member`.
    QDBusMessage call(const QString& path, const char* interface, const char* method,
                      const QVariantList& arguments, std::string_view member) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            owner, path, QString::fromLatin1(interface), QString::fromLatin1(method));
        message.setArguments(arguments);
        QElapsedTimer timer;
        timer.start();
        QDBusMessage reply = send(message, options.call_timeout_ms);
        if (reply.type() != QDBusMessage::ReplyMessage) {
            throw AutomationError(
                std::string(member),
                failure_reason(reply, member, timer.elapsed(), options.call_timeout_ms));
        }
        return reply;
    }

    // A question to the bus itself ("who owns this name?").
    QDBusMessage ask_bus(const char* method, const QVariantList& arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService,
                                                              QString::fromLatin1(method));
        message.setArguments(arguments);
        return send(message, options.activation_timeout_ms);
    }
};

class DbusObject final : public AutomationObject {
public:
    DbusObject(std::shared_ptr<Link> link, QString path)
        : link_(std::move(link)),
          path_(std::move(path)),
          interface_(dbus::interface_for_path(path_)) {}

    Value get(std::string_view member) override;
    void set(std::string_view member, const Value& value) override;

private:
    // An answer as an automation value; an object path becomes an object on the same link.
    Value to_value(const QVariant& wire, const QString& key, std::string_view member) const;

    std::shared_ptr<Link> link_;
    QString path_;
    QString interface_;
};

Value DbusObject::get(std::string_view member) {
    const QString name = qs(member);
    const QString key = path_ + u' ' + name;
    if (auto known = link_->resolved.find(key); known != link_->resolved.end())
        return to_value(known->second, key, member);
    const QDBusMessage reply =
        link_->call(path_, dbus::kPropertiesInterface, "Get", {interface_, name}, member);
    const QVariant wire = reply.arguments().value(0).value<QDBusVariant>().variant();
    Value v = to_value(wire, key, member);
    if (link_->constant.contains(key))
        link_->resolved.emplace(key, wire);
    return v;
}

Value DbusObject::to_value(const QVariant& wire, const QString& key,
                           std::string_view member) const {
    if (wire.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return Value(
            ObjectRef(std::make_shared<DbusObject>(link_, wire.value<QDBusObjectPath>().path())));
    std::optional<Value> v = dbus::value_from_dbus(wire);
    if (!v) {
        throw AutomationError(std::string(member), "the analyser answered a D-Bus value of type '" +
                                                       dbus::dbus_signature_of(wire).toStdString() +
                                                       "', which the panel cannot use");
    }
    if (v->kind() == Value::Kind::Integer)
        link_->integer_types[key] = dbus::dbus_signature_of(wire).at(0).toLatin1();
    return *v;
}

void DbusObject::set(std::string_view member, const Value& value) {
    const QString name = qs(member);
    auto known_type = link_->integer_types.find(path_ + u' ' + name);
    const std::optional<QVariant> wire = dbus::dbus_from_value(
        value, known_type == link_->integer_types.end() ? 'n' : known_type->second);
    if (!wire)
        throw AutomationError(std::string(member), value.describe() + " has no D-Bus form");
    link_->call(path_, dbus::kPropertiesInterface, "Set",
                {interface_, name, QVariant::fromValue(QDBusVariant(*wire))}, member);
}

}  // namespace

ObjectRef attach_dbus_application(const QDBusConnection& bus, std::string_view service,
                                  DbusLinkOptions options,
                                  std::shared_ptr<DbusLinkCounters> counters) {
    const std::string id(service);
    if (!bus.isConnected()) {
        throw AutomationError(id, "no D-Bus session bus to find the analyser on (" +
                                      bus.lastError().message().toStdString() + ")");
    }
    auto link = std::make_shared<Link>(
        bus, options, counters ? std::move(counters) : std::make_shared<DbusLinkCounters>());

    const QString name = qs(service);
    QDBusMessage owner = link->ask_bus("GetNameOwner", {name});
    if (owner.type() != QDBusMessage::ReplyMessage) {
        // Nobody has the name: D-Bus activation starts the analyser if a service file says how.
        const QDBusMessage started = link->ask_bus("StartServiceByName", {name, 0u});
        if (started.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")) {
            throw AutomationError(id,
                                  "no analyser on the D-Bus session bus: nothing owns the name "
                                  "and no D-Bus service file starts one");
        }
        if (started.type() != QDBusMessage::ReplyMessage) {
            throw AutomationError(id, "the D-Bus session bus could not start the analyser: " +
                                          started.errorMessage().toStdString() + " (" +
                                          started.errorName().toStdString() + ")");
        }
        owner = link->ask_bus("GetNameOwner", {name});
        if (owner.type() != QDBusMessage::ReplyMessage)
            throw AutomationError(id, "the analyser was started but left the bus at once");
    }
    link->owner = owner.arguments().value(0).toString();

    const QString path = dbus::object_path_for(service);
    if (link->options.resolve_constants_once) {
        const QDBusMessage xml =
            link->call(path, "org.freedesktop.DBus.Introspectable", "Introspect", {}, service);
        for (const QString& p : constant_properties(xml.arguments().value(0).toString(),
                                                    dbus::interface_for_path(path)))
            link->constant.insert(path + u' ' + p);
    }
    return std::make_shared<DbusObject>(std::move(link), path);
}

}  // namespace vantel
