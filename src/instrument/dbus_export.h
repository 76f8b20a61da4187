// SPDX-License-Identifier: MIT
#pragma once

// Our analyser on a D-Bus bus, as the program vantel-analyser runs it: the application
// object and each sub-object at its own path, every member a property of its natural type
// (analyser/dbus_wire.h has the names and types). A refused write answers Vantel.Error.Refused,
// a failed read Vantel.Error.Failed, both with the analyser's reason.
//
// The members are tables here as in the analyser's objects (57 named constants among them), a
// refused write has to become a D-Bus error with the analyser's own message, and
// OPT_UseSettlingsFromScripts hands back any value exactly as it was written, of whatever type.
//
// The transport is libdbus on a private connection, served in the thread that runs the Qt event
// loop: QtDBus would answer each of the panel's ~45 calls a second through a thread of its own,
// with a few context switches per call, which costs more than the answers themselves.

#include <QLoggingCategory>
#include <QObject>
#include <QSocketNotifier>
#include <QStringList>

#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "instrument/analyser.h"

#include <dbus/dbus.h>

namespace vantel {

Q_DECLARE_LOGGING_CATEGORY(lcAnalyser)

class AnalyserExport final : public QObject {
    Q_OBJECT

public:
    // With `test_control`, Vantel.TestControl is exported as well, at /Vantel/TestControl: the
    // Analyser's own faults, reachable from another process (paths as in
    // Analyser::fail_member).
    AnalyserExport(Analyser analyser, bool test_control, QObject* parent = nullptr);
    ~AnalyserExport() override;
    AnalyserExport(const AnalyserExport&) = delete;
    AnalyserExport& operator=(const AnalyserExport&) = delete;

    // Connects to the session bus, registers the objects, then claims "Vantel.Application", so
    // that a client woken by the name finds everything in place. False (and logged) when the
    // bus refuses any of it.
    bool publish();

    // The introspection data of the interface at `path` and its children, without the
    // enclosing node; empty for a path that is not one of the analyser's objects.
    QString introspect(const QString& path) const;

Q_SIGNALS:
    // The bus has gone (the session ended, or a test's private bus was stopped). A session
    // service ends with its bus, as libdbus and GLib services do by default; QtDBus does not.
    void bus_lost();

public:
    struct Member {
        std::string_view name;
        char type;  // the D-Bus type letter
        bool writable;
        bool constant;  // never changes while the analyser runs
    };
    struct Exported {
        QString interface;
        ObjectRef object;
        std::vector<Member> members;
        QStringList children;  // the sub-objects' names, for introspection

        const Member* find(const QString& name) const;
    };

private:
    // Sees every message the connection receives: answers the calls for the analyser's paths
    // and notices the end of the bus.
    static DBusHandlerResult filter(DBusConnection* connection, DBusMessage* message, void* self);
    // The answer to `call`, or null to leave it to libdbus (which says no such method).
    DBusMessage* answer(DBusMessage* call);
    // The whole introspection data at `path`; empty where there is nothing.
    QString introspect_node(const QString& path) const;
    DBusMessage* get(const Exported& object, DBusMessage* call) const;
    DBusMessage* set(const Exported& object, DBusMessage* call);
    DBusMessage* get_all(const Exported& object, DBusMessage* call) const;
    DBusMessage* test_control(DBusMessage* call, QLatin1StringView method,
                              const QString& signature);
    // The value of `member` as it goes on the wire; throws the D-Bus error to answer with.
    QVariant read(const QString& path, const Exported& object, const Member& member) const;
    // Serves whatever the connection has read, then sends the answers.
    void dispatch();

    Analyser analyser_;
    bool test_control_;
    QString path_;
    std::map<QString, Exported> objects_;  // by object path
    // The integer type each member was last written with, by "path member": a member that is
    // not a code (the settling option) reads back in the type it was given.
    std::map<QString, char> written_types_;
    DBusConnection* bus_ = nullptr;
    std::unique_ptr<QSocketNotifier> notifier_;  // the connection's socket, readable
    bool lost_ = false;
};

}  // namespace vantel
