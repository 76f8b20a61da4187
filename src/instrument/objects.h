// SPDX-License-Identifier: MIT
#pragma once

// Our analyser's automation face: the application object and its five sub-objects,
// each a table of members over the Instrument, with the scripted Faults applied first.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "automation/automation.h"
#include "instrument/analyser.h"
#include "instrument/faults.h"
#include "instrument/instrument.h"
#include "instrument/persistence.h"

namespace vantel::instrument {

// Everything one analyser of ours is; shared by the Analyser handle and every object
// handed out, so that it lives as long as any of them.
struct AnalyserState {
    explicit AnalyserState(const AnalyserOptions& options);
    // The source plays `generator`, the instrument sets it: one generator.
    AnalyserState(const AnalyserOptions& options, std::shared_ptr<source::Generator> generator);

    // After every accepted write: the settings that last are written if they changed.
    void settings_changed();

    // What to measure, once the settings have said which source.
    struct OpenedInput {
        std::string name;  // as --input names it
        std::unique_ptr<source::SampleSource> source;
        bool remember;  // the source to open next time
    };

    std::unique_ptr<Persistence> persistence;  // before the instrument: it names the source
    Instrument instrument;
    Faults faults;

private:
    AnalyserState(const AnalyserOptions& options, std::shared_ptr<source::Generator> generator,
                  std::unique_ptr<Persistence>&& persistence);
    AnalyserState(const AnalyserOptions& options, std::shared_ptr<source::Generator> generator,
                  std::unique_ptr<Persistence>&& persistence, OpenedInput&& input);
};

// A new "Vantel.Application" object over `state`.
ObjectRef make_application(std::shared_ptr<AnalyserState> state);

// The type a member's value has by nature, for a transport that declares its members' types
// (D-Bus signatures, COM type information).
enum class MemberType {
    Code,       // an enumeration code, 16 bits
    Int32,      // a whole number: a frame rate, status flags
    Int64,      // a count
    Double,     // a reading, a level, a frequency
    Text,       // a name
    Boolean,    // the automation Boolean
    Object,     // a sub-object
    AsWritten,  // a Boolean by nature, but read back in whatever type it was written
};

struct MemberInfo {
    std::string_view name;
    MemberType type;
    bool writable;
    bool constant;  // never changes while the analyser runs (sub-objects, named constants)
};

struct ObjectInfo {
    std::string_view name;  // empty for the application object
    std::vector<MemberInfo> members;
};

// Every object the application offers, with its members, from the same tables the objects
// themselves serve: the application object first (its own members, its sub-objects, then every
// named constant), then each sub-object in the order the application lists them.
std::vector<ObjectInfo> object_model();

}  // namespace vantel::instrument
