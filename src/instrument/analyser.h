// SPDX-License-Identifier: MIT
#pragma once

// Our Vantel analyser, in process and single-threaded, standing in for the analyser
// application: it offers the automation members the panel uses, takes and refuses settings as
// the instrument does, produces readings from a signal model, and misbehaves on request.
//
//   Analyser analyser;                               // seed 1, ready at once, real clock
//   ObjectRef app = analyser.application();
//   get_member(*app, "CTDetector", "CTD_ChA");   // a double in the detector's unit
//   analyser.fail_member("CTDetector.CTD_Unit");      // that member now fails
//
// How the parts fit: constants.h (the named constants and their codes) and functions.h (the
// measurement functions) are the vocabularies; units.h does the arithmetic of units;
// measurement.h measures the samples of a source (sources/) with the measuring engine
// (measure/); instrument.h holds the settings and rules; faults.h the scripted misbehaviour;
// objects.h maps members by name onto all of these.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "automation/automation.h"
#include "automation/recording.h"
#include "sources/generator.h"
#include "sources/live_source.h"
#include "sources/simulated_device.h"

namespace vantel {

namespace instrument {
struct AnalyserState;
}

struct AnalyserOptions {
    std::uint64_t seed = 1;  // same seed, same clock, same sequence of accesses: same readings
    double initialise_after_s = 0.0;  // IsInitialised turns True this long after construction
    std::function<double()> clock;    // monotonic seconds; empty = std::chrono::steady_clock
    // What the analyser measures: "sim" (the generator through a simulated device under test),
    // "loopback" (the generator straight to the inputs), "jack", "alsa[:DEVICE]" or a sound
    // file's path.
    std::string input = "sim";
    // How a live input connects and where it logs.
    source::LiveOptions live;
    // Both analogue channels' calibration for this run, the volts RMS of a full-scale sine;
    // none: the nominal 10 V, which a live input's volts are not calibrated to.
    std::optional<double> analogue_full_scale_v;
    // Receives the analyser's own warnings (a source that fails while running, samples that are
    // not numbers), from the thread that takes readings. Nothing is said when empty.
    std::function<void(const std::string&)> warn;
    // Where the analyser keeps its settings between runs (instrument/persistence.h); empty: it
    // starts from the defaults and keeps nothing, as --no-restore and the tests want.
    std::string settings_file;
    // Open the source the settings file names, if it names one, rather than `input`: the
    // command line named none.
    bool input_from_settings = false;
    // For tests: another device under test than "sim"'s.
    std::optional<source::DeviceModel> device;
};

// What `input` (a source as --input names it) is, in a word or two for a window's title:
// "simulated", "simulated loopback", "JACK", "ALSA hw:1", or a file's name without its folder.
std::string source_title(std::string_view input);

// A cheap handle on shared state: copies, and every object handed out, are the same analyser.
class Analyser {
public:
    // Throws source::SourceError naming the input and the reason when it cannot be opened.
    explicit Analyser(AnalyserOptions options = {});

    // The "Vantel.Application" object; it keeps the analyser alive after the handle is gone.
    ObjectRef application();
    // The same, with every access logged into `log` (see analyser/recording.h).
    ObjectRef recording_application(std::shared_ptr<AccessLog> log);

    // Fault injection, by member path: "IsInitialised", "UNIT_V", "CTDetector" (the fetch of the
    // sub-object), "CTDetector.CTD_Unit". Faults apply to reads and writes, through objects
    // handed out earlier as well.
    // Accesses to `path` fail with `reason`, after `after_accesses` more good ones.
    void fail_member(std::string path, std::string reason = "refused by the test",
                     std::size_t after_accesses = 0);
    // Every access fails: "the analyser has gone away".
    void set_gone_away(bool gone);
    // Reads of `path` give `value` (1 for a Boolean, a code beyond 16 bits, text or NaN for a
    // reading); writes still reach the analyser.
    void override_value(std::string path, Value value);
    // Every access takes `seconds`, waited out by `sleep` (empty: really sleep), so that a test
    // on a fake clock can move its clock instead.
    void set_access_delay(double seconds, std::function<void(double)> sleep = {});
    void clear_faults();

    // The generator, as its automation members set it (no checks here: tests may go beyond
    // what a client may ask for).
    void set_generator(double level_v_rms, double frequency_hz);
    // What the analyser measures, for logs: "sim: ... at 48000 Hz".
    std::string describe_input() const;
    // Things about the input worth a line in the log (a file's extra channels, say).
    std::vector<std::string> input_warnings() const;
    // What a live input's real-time side has counted; null for any other input.
    const source::LiveStatistics* input_statistics() const;

    // The analyser's own configuration, which the automation members only report. Any 16-bit
    // code is taken for the default weighting, so tests can offer one the panel does not know
    // (a code beyond 16 bits is override_value's job). Both throw std::invalid_argument for a
    // code out of range or a connector that does not exist.
    void set_default_weighting(int code);
    // `connector` is a DI_SOURCE_ code; 0 Hz leaves that input unlocked.
    void set_frame_rate(int connector, std::int32_t hz);

private:
    std::shared_ptr<instrument::AnalyserState> state_;
};

}  // namespace vantel
