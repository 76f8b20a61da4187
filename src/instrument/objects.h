// SPDX-License-Identifier: MIT
#pragma once

// Our analyser's automation face: the application object and its five sub-objects,
// each a table of members over the Instrument, with the scripted Faults applied first.

#include <memory>
#include <string_view>
#include <vector>

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

// One member as a server lists it.
struct MemberListing {
    std::string_view name;
    bool writable;
};

// Every object of our analyser lists its members straight from its table, reading none of them,
// so that a server that numbers them (COM's IDispatch) is driven by the same tables as the
// objects: a member added to a table is served by every transport. The application object lists
// its own members, then the named constants.
class AnalyserObject : public AutomationObject {
public:
    virtual std::vector<MemberListing> served_members() const = 0;
};

// A new "Vantel.Application" object over `state`; an AnalyserObject, as every sub-object it
// hands out.
ObjectRef make_application(std::shared_ptr<AnalyserState> state);

}  // namespace vantel::instrument
