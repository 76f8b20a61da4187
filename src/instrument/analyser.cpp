// SPDX-License-Identifier: MIT
#include "instrument/analyser.h"

#include <filesystem>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

#include "instrument/objects.h"
#include "sources/open_source.h"

namespace vantel {

namespace instrument {

namespace {

std::unique_ptr<source::SampleSource> open_named(const AnalyserOptions& options,
                                                 const std::string& input,
                                                 std::shared_ptr<source::Generator> generator) {
    // The simulated devices' converters have the nominal full scale, whatever the calibration
    // says; a live input plays the generator through the calibration it is given.
    const source::SourceOptions source_options{
        options.seed, options.clock,
        options.analogue_full_scale_v.value_or(source::kAnalogueFullScaleVRms)};
    if (options.device) {
        return std::make_unique<source::SimulatedDevice>(*options.device, std::move(generator),
                                                         options.seed, options.clock);
    }
    return source::open_source(input, std::move(generator), source_options, options.live);
}

// The saved source when the options leave the choice to the settings, else the one named. A
// saved source that cannot be opened now (a file since deleted, a sound server not running)
// is said and passed over for the one named, and stays saved for the next run; one named
// that cannot be opened throws SourceError.
AnalyserState::OpenedInput open_input(const AnalyserOptions& options,
                                      const std::shared_ptr<source::Generator>& generator,
                                      const Persistence& persistence) {
    if (options.input_from_settings && persistence.saved_source() && !options.device) {
        const std::string& saved = *persistence.saved_source();
        try {
            return {saved, open_named(options, saved, generator), true};
        } catch (const source::SourceError& e) {
            if (options.warn)
                options.warn(std::string("the saved source cannot be opened, so the analyser "
                                         "measures ") +
                             options.input + " instead: " + e.what());
            return {options.input, open_named(options, options.input, generator), false};
        }
    }
    return {options.input, open_named(options, options.input, generator), true};
}

}  // namespace

AnalyserState::AnalyserState(const AnalyserOptions& options)
    : AnalyserState(options, std::make_shared<source::Generator>()) {}

AnalyserState::AnalyserState(const AnalyserOptions& options,
                             std::shared_ptr<source::Generator> generator)
    : AnalyserState(options, generator,
                    std::make_unique<Persistence>(options.settings_file, options.warn)) {}

AnalyserState::AnalyserState(const AnalyserOptions& options,
                             std::shared_ptr<source::Generator> generator,
                             std::unique_ptr<Persistence>&& saved)
    : AnalyserState(options, generator, std::move(saved), open_input(options, generator, *saved)) {}

AnalyserState::AnalyserState(const AnalyserOptions& options,
                             std::shared_ptr<source::Generator> generator,
                             std::unique_ptr<Persistence>&& saved, OpenedInput&& input)
    : persistence(std::move(saved)),
      instrument(options.clock, options.initialise_after_s, std::move(input.source), generator,
                 options.seed, options.analogue_full_scale_v) {
    instrument.measurement().set_warn(options.warn);
    instrument.set_source_name(options.device ? source_title("sim") : source_title(input.name));
    persistence->restore(instrument, input.name, input.remember);
}

void AnalyserState::settings_changed() {
    persistence->save(instrument);
}

}  // namespace instrument

std::string source_title(std::string_view input) {
    if (input == "sim")
        return "simulated";
    if (input == "loopback")
        return "simulated loopback";
    if (input == "jack")
        return "JACK";
    if (input == "alsa")
        return "ALSA default";
    if (input.starts_with("alsa:"))
        return "ALSA " + std::string(input.substr(5));
    return std::filesystem::path(input).filename().string();
}

Analyser::Analyser(AnalyserOptions options)
    : state_(std::make_shared<instrument::AnalyserState>(std::move(options))) {}

ObjectRef Analyser::application() {
    return instrument::make_application(state_);
}

ObjectRef Analyser::recording_application(std::shared_ptr<AccessLog> log) {
    return std::make_shared<RecordingObject>(application(), std::move(log));
}

void Analyser::fail_member(std::string path, std::string reason, std::size_t after_accesses) {
    state_->faults.fail(std::move(path), std::move(reason), after_accesses);
}

void Analyser::set_gone_away(bool gone) {
    state_->faults.set_gone_away(gone);
}

void Analyser::override_value(std::string path, Value value) {
    state_->faults.override_value(std::move(path), std::move(value));
}

void Analyser::set_access_delay(double seconds, std::function<void(double)> sleep) {
    state_->faults.set_delay(seconds, std::move(sleep));
}

void Analyser::clear_faults() {
    state_->faults.clear();
}

void Analyser::set_generator(double level_v_rms, double frequency_hz) {
    source::Generator& g = state_->instrument.measurement().generator();
    g.set_level_v_rms(level_v_rms);
    g.set_frequency_hz(frequency_hz);
}

std::string Analyser::describe_input() const {
    return state_->instrument.measurement().source().describe();
}

std::vector<std::string> Analyser::input_warnings() const {
    return state_->instrument.measurement().source().warnings();
}

const source::LiveStatistics* Analyser::input_statistics() const {
    const auto* live =
        dynamic_cast<const source::LiveSource*>(&state_->instrument.measurement().source());
    return live ? &live->statistics() : nullptr;
}

namespace {

std::int16_t code_16(int code) {
    if (code < std::numeric_limits<std::int16_t>::min() ||
        code > std::numeric_limits<std::int16_t>::max())
        throw std::invalid_argument(std::to_string(code) + " does not fit a 16-bit code");
    return static_cast<std::int16_t>(code);
}

}  // namespace

void Analyser::set_default_weighting(int code) {
    state_->instrument.set_default_weighting(code_16(code));
}

void Analyser::set_frame_rate(int connector, std::int32_t hz) {
    state_->instrument.set_frame_rate(code_16(connector), hz);
}

}  // namespace vantel
