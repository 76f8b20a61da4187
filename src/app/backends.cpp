// SPDX-License-Identifier: MIT
#include "app/backends.h"

#include <string>

#include "instrument/analyser.h"

#ifdef _WIN32
#include "automation/com_dispatch.h"
#else
#include "automation/dbus_backend.h"
#endif

namespace vantel {

namespace {

constexpr std::string_view kApplicationProgId = "Vantel.Application";

constexpr BackendInfo kBackends[] = {
#ifdef _WIN32
    {"com", "the analyser application through COM automation", false},
#else
    {"auto",
     "the analyser application on the D-Bus session bus when it is there or the bus can start "
     "it, else the analyser built into this program",
     false},
#endif
    {"sim", "the analyser built into this program", true},
#ifndef _WIN32
    {"dbus",
     "the analyser application \"Vantel.Application\" on the D-Bus session bus (ours is "
     "vantel-analyser), started by D-Bus activation when it is not running",
     false},
#endif
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

AutomationError unknown_backend(std::string_view backend) {
    return AutomationError({}, "unknown analyser backend \"" + std::string(backend) +
                                   "\" (known: " + backend_list() + ")");
}

}  // namespace

std::span<const BackendInfo> known_backends() {
    return kBackends;
}

std::string_view default_backend() {
#ifdef _WIN32
    return "com";
#else
    return "auto";
#endif
}

BackendChoice choose_backend(std::string_view requested, std::string_view prog_id) {
    if (requested != "auto") {
        for (const BackendInfo& b : kBackends) {
            if (b.name == requested)
                return {std::string(requested), "asked for"};
        }
        throw unknown_backend(requested);
    }
#ifdef _WIN32
    // No session bus here; the analyser application is reached through COM, by name.
    (void)prog_id;
    return {"com", "the analyser application is reached through COM on Windows"};
#else
    const DbusAnalyserPresence on_bus = find_dbus_analyser(prog_id);
    if (on_bus.available)
        return {"dbus", on_bus.why};
    return {"sim", on_bus.why + ", so the built-in analyser"};
#endif
}

ObjectRef obtain_application(std::string_view backend, std::string_view prog_id) {
#ifdef _WIN32
    if (backend == "com")
        return obtain_com_application(prog_id);
#endif
    if (backend == "sim") {
        if (prog_id != kApplicationProgId) {
            throw AutomationError(std::string(prog_id),
                                  "the built-in analyser offers no such object, only " +
                                      std::string(kApplicationProgId));
        }
        return Analyser().application();
    }
#ifndef _WIN32
    if (backend == "dbus")
        return attach_dbus_application(prog_id);
#endif
    if (backend == "auto")
        return obtain_application(choose_backend(backend, prog_id).backend, prog_id);
    throw unknown_backend(backend);
}

}  // namespace vantel
