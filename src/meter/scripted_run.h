// SPDX-License-Identifier: MIT
#pragma once

// A run of the meter as a script or a test rig asks for it on the command line: which readings
// count, how each is judged, and when the run is over.
//
//   Meter::published (work ticks) -> settled? (--settle: time since the start, and the
//   analyser's STATUS_SETTLING where it reports SA_Status) -> judged (--limits)
//   -> logged(reading, passed): the log's rows, the --once line
//   -> --count readings logged, or --duration since the start -> Meter::close()

#include <QObject>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "automation/automation.h"
#include "meter/meter.h"
#include "meter/meter_reading.h"

namespace vantel {

// Bounds in the unit of the raw reading (the analyser's unit: V, not mV), both included.
struct Limits {
    std::optional<double> low = std::nullopt;
    std::optional<double> high = std::nullopt;
};

// "LOW:HIGH", either side may be empty ("-90:-80", ":-80", "0.9:"); "." is the decimal mark
// whatever the locale. Nothing and `error` when the text is not that, or LOW is above HIGH.
std::optional<Limits> parse_limits(std::string_view text, std::string& error);

// Whether `reading` lies within `limits`. A reading the display shows as over-range has no value
// to judge, and fails.
bool within(const Limits& limits, const MeterReading& reading);

// The reading and its unit as the display shows them, "-60.02 dB", or "OVER" alone.
std::string shown_reading(const MeterReading& reading);

struct RunPlan {
    std::optional<std::int64_t> count = std::nullopt;  // stop after this many readings logged
    std::optional<double> duration_s = std::nullopt;   // stop at this time since the start
    // Discard readings until this time since the start, and then while the analyser says it is
    // settling. Nothing: every reading counts from the first.
    std::optional<double> settle_s = std::nullopt;
    std::optional<Limits> limits = std::nullopt;
};

class ScriptedRun final : public QObject {
    Q_OBJECT

public:
    ScriptedRun(Meter& meter, RunPlan plan, QObject* parent = nullptr);

    // The analyser the meter attached to, before its first reading (Environment's
    // prepare_analyser). Notes whether it reports SA_Status and STATUS_SETTLING; one that does
    // not is never settling.
    void attach(const ObjectRef& analyser);
    bool analyser_reports_settling() const { return status_offered_; }

    std::int64_t readings_logged() const { return logged_; }
    std::int64_t readings_failed() const { return failed_; }
    // kExitLimitFailed when a reading fell outside the limits, or the run ended before any
    // reading could be judged; kExitClosed otherwise.
    int exit_code() const;

Q_SIGNALS:
    // A reading that counts; `passed` is its judgement when the run has limits.
    void logged(const vantel::MeterReading& reading, std::optional<bool> passed);

private:
    void on_published(const MeterReading& reading);
    // Whether the analyser says it is settling now; throws AutomationError.
    bool analyser_settling();

    Meter& meter_;
    RunPlan plan_;
    ObjectRef analyser_;
    bool status_offered_ = false;
    bool settling_;
    std::int64_t logged_ = 0;
    std::int64_t failed_ = 0;
};

}  // namespace vantel
