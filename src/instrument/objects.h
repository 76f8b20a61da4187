// SPDX-License-Identifier: MIT
#pragma once

// The simulated analyser's automation face: the application object and its five sub-objects,
// each a table of members over the Instrument, with the scripted Faults applied first.

#include <memory>

#include "analyser/automation.h"
#include "simulator/faults.h"
#include "simulator/instrument.h"
#include "simulator/simulator.h"

namespace vantel::sim {

// Everything one simulated analyser is; shared by the Simulator handle and every object
// handed out, so that it lives as long as any of them.
struct SimulatorState {
    explicit SimulatorState(const SimulatorOptions& options);
    // The source plays `generator`, the instrument sets it: one generator.
    SimulatorState(const SimulatorOptions& options, std::shared_ptr<source::Generator> generator);

    Instrument instrument;
    Faults faults;
};

// A new "Vantel.Application" object over `state`.
ObjectRef make_application(std::shared_ptr<SimulatorState> state);

}  // namespace vantel::sim
