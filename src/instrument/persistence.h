// SPDX-License-Identifier: MIT
#pragma once

// Our analyser's settings between runs: read at start-up, written whole after every change
// that alters them. The file is replaced atomically (QSaveFile), so a crash or a kill while
// writing leaves the old file whole. A file that cannot be read or makes no sense is moved
// aside to "<file>.bad", said once, and the analyser starts from its defaults.

#include <functional>
#include <optional>
#include <string>

#include "instrument/saved_state.h"

namespace vantel::instrument {

class Instrument;

// $XDG_CONFIG_HOME/vantel-dmm/analyser.conf, where XDG_CONFIG_HOME defaults to ~/.config.
std::string analyser_settings_path();

class Persistence {
public:
    // Reads `path`; with an empty one nothing is ever read or written. `warn` gets the lines
    // worth a log.
    Persistence(std::string path, std::function<void(const std::string&)> warn);

    // The source the last run opened, if one is saved.
    const std::optional<std::string>& saved_source() const { return state_.source; }

    // Brings `instrument`, open on `source`, to what was saved for that kind of source and that
    // source's calibration; saved values the analyser refuses make the file corrupt. With
    // `remember_source`, `source` is the one to open next time. Then writes the file.
    void restore(Instrument& instrument, const std::string& source, bool remember_source);
    // Writes the file if what `instrument` would keep differs from what it holds.
    void save(const Instrument& instrument);

private:
    void set_aside(const std::string& why);
    void write();

    std::string path_;
    std::function<void(const std::string&)> warn_;
    SavedState state_;
    std::string source_;         // the source open now, whose calibration is kept
    std::string written_;        // the file's text as last read or written
    bool write_failed_ = false;  // said once, until a write succeeds again
};

}  // namespace vantel::instrument
