// SPDX-License-Identifier: MIT
#pragma once

// The simulated analyser on a D-Bus bus, as the program vantel-analyser runs it: the application
// object and each sub-object at its own path, every member a property of its natural type
// (analyser/dbus_wire.h has the names and types). A refused write answers Vantel.Error.Refused,
// a failed read Vantel.Error.Failed, both with the analyser's reason.
//
// The objects are a QDBusVirtualObject rather than adaptors with Q_PROPERTYs: the members are
// tables here as in the simulator (57 named constants among them), a refused write has to
// become a D-Bus error with the analyser's own message, and OPT_UseSettlingsFromScripts hands
// back any value exactly as it was written, of whatever type.

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QLoggingCategory>

#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "simulator/simulator.h"

namespace vantel {

Q_DECLARE_LOGGING_CATEGORY(lcSimulator)

// Fault injection for tests, on the running analyser (vantel-analyser --test-control): the
// Simulator's own faults, reachable from another process. Paths as in Simulator::fail_member.
class TestControl final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "Vantel.TestControl")

public:
    explicit TestControl(Simulator simulator, QObject* parent = nullptr)
        : QObject(parent), simulator_(std::move(simulator)) {}

public Q_SLOTS:
    Q_SCRIPTABLE void FailMember(const QString& path, const QString& reason, uint after_accesses);
    Q_SCRIPTABLE void SetGoneAway(bool gone);
    Q_SCRIPTABLE void OverrideValue(const QString& path, const QDBusVariant& value);
    Q_SCRIPTABLE void SetAccessDelay(double seconds);
    Q_SCRIPTABLE void ClearFaults();

private:
    Simulator simulator_;
};

class AnalyserExport final : public QDBusVirtualObject {
    Q_OBJECT

public:
    // With `test_control`, TestControl is exported as well, at /Vantel/TestControl.
    AnalyserExport(Simulator simulator, QDBusConnection bus, bool test_control,
                   QObject* parent = nullptr);
    ~AnalyserExport() override;

    // Registers the objects, then claims "Vantel.Application", so that a client woken by the
    // name finds everything in place. False (and logged) when the bus refuses either.
    bool publish();

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

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

private Q_SLOTS:
    void on_disconnected();

private:
    QDBusMessage get(const Exported& object, const QDBusMessage& call) const;
    QDBusMessage set(const Exported& object, const QDBusMessage& call);
    QDBusMessage get_all(const Exported& object, const QDBusMessage& call) const;
    // The value of `member` as it goes on the wire; throws the D-Bus error to answer with.
    QVariant read(const QString& path, const Exported& object, const Member& member) const;

    Simulator simulator_;
    QDBusConnection bus_;
    QString path_;
    std::map<QString, Exported> objects_;  // by object path
    std::unique_ptr<TestControl> control_;
    // The integer type each member was last written with, by "path member": a member that is
    // not a code (the settling option) reads back in the type it was given.
    std::map<QString, char> written_types_;
};

}  // namespace vantel
