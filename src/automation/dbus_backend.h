// SPDX-License-Identifier: MIT
#pragma once

// The analyser application on a D-Bus bus (`--analyser dbus`): one AutomationObject per object
// path, each member access one synchronous Properties.Get or Properties.Set (analyser/dbus_wire.h
// has the names and types).
//
// The panel attaches to the process that owns "Vantel.Application" at start-up and stays with
// it: calls go to that process's unique bus name, so when it goes away every access fails and
// the panel ends, as with any analyser that goes away. A new analyser that takes the name
// meanwhile (D-Bus activation would start one for the next call to the name) never finds
// itself serving a panel that set up another analyser's option.
//
// Calls block the panel's one thread (no event loop runs inside, so no timer tick can start a
// second update cycle in the middle of the first), each for at most the call time-out, 2 s: far
// beyond what a healthy analyser takes even while another client's large request holds it up,
// so only an analyser that has stopped answering fails this way. A late tick is simply late.
// An analyser that does not answer in time has failed that access, like one that answered with
// an error. They go over a session bus connection of the link's own, made and used in the
// calling thread (see dbus_backend.cpp for why not QtDBus's).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "automation/automation.h"

namespace vantel {

struct DbusLinkOptions {
    // The longest one member access may keep the panel (and a key press) waiting.
    int call_timeout_ms = 2000;
    // The longest the bus may take to start the analyser by D-Bus activation at attach time.
    int activation_timeout_ms = 5000;
    // Properties the analyser declares constant (the named constants and the sub-object paths)
    // are asked once per attached analyser and answered from memory afterwards. The values
    // are the same; what the panel saves is bus round trips (see bench/). Off, every access is
    // a round trip, sub-object fetches included.
    bool resolve_constants_once = true;
};

// What the link has done so far; for the benchmarks.
struct DbusLinkCounters {
    std::uint64_t round_trips = 0;  // calls that waited for an answer (or for the time-out)
};

// Whether the analyser `service` is to be had on the session bus without starting anything:
// it has an owner, or the bus could start one by D-Bus activation. `why` says which, or why not,
// for the log. There is no session bus when DBUS_SESSION_BUS_ADDRESS names none and the usual
// per-user socket is absent; then this looks no further (libdbus would otherwise try to launch a
// bus of its own).
struct DbusAnalyserPresence {
    bool available = false;
    std::string why;
};
DbusAnalyserPresence find_dbus_analyser(std::string_view service = "Vantel.Application");

// The application object `service` on the session bus (DBUS_SESSION_BUS_ADDRESS). When nothing
// owns the name, the bus is asked to start the analyser (D-Bus activation: a file
// "Vantel.Application.service" in the bus's service directories). Throws AutomationError naming
// `service` when there is no bus, or no owner and nothing to start, or the analyser does not
// answer.
ObjectRef attach_dbus_application(std::string_view service = "Vantel.Application",
                                  DbusLinkOptions options = {},
                                  std::shared_ptr<DbusLinkCounters> counters = {});

}  // namespace vantel
