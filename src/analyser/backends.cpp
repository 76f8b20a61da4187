// SPDX-License-Identifier: MIT
#include "analyser/backends.h"

#include <string>

#include <QDBusConnection>

#include "analyser/dbus_backend.h"
#include "simulator/simulator.h"

namespace vantel {

namespace {

constexpr std::string_view kApplicationProgId = "Vantel.Application";

constexpr BackendInfo kBackends[] = {
    {"sim", "a simulated analyser inside this program", true},
    {"dbus",
     "the analyser application \"Vantel.Application\" on the D-Bus session bus (ours is "
     "vantel-analyser), started by D-Bus activation when it is not running",
     false},
};

std::string backend_list() {
    std::string names;
    for (const BackendInfo& b : kBackends) {
        if (!names.empty())
            names += ", ";
        names += b.name;
    }
    return names;
}

}  // namespace

std::span<const BackendInfo> known_backends() {
    return kBackends;
}

ObjectRef obtain_application(std::string_view backend, std::string_view prog_id) {
    if (backend == "sim") {
        if (prog_id != kApplicationProgId) {
            throw AutomationError(std::string(prog_id),
                                  "the simulated analyser offers no such object, only " +
                                      std::string(kApplicationProgId));
        }
        return Simulator().application();
    }
    if (backend == "dbus")
        return attach_dbus_application(QDBusConnection::sessionBus(), prog_id);
    throw AutomationError({}, "unknown analyser backend \"" + std::string(backend) +
                                  "\" (known: " + backend_list() + ")");
}

}  // namespace vantel
