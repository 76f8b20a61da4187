// SPDX-License-Identifier: MIT
#pragma once

// Our analyser's automation face: the application object and its five sub-objects,
// each a table of members over the Instrument, with the scripted Faults applied first.

#include <memory>

#include "automation/automation.h"
#include "instrument/analyser.h"
#include "instrument/faults.h"
#include "instrument/instrument.h"

namespace vantel::instrument {

// Everything one analyser of ours is; shared by the Analyser handle and every object
// handed out, so that it lives as long as any of them.
struct AnalyserState {
    explicit AnalyserState(const AnalyserOptions& options);
    // The source plays `generator`, the instrument sets it: one generator.
    AnalyserState(const AnalyserOptions& options, std::shared_ptr<source::Generator> generator);

    Instrument instrument;
    Faults faults;
};

// A new "Vantel.Application" object over `state`.
ObjectRef make_application(std::shared_ptr<AnalyserState> state);

}  // namespace vantel::instrument
