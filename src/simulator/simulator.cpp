// SPDX-License-Identifier: MIT
#include "simulator/simulator.h"

#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

#include "simulator/objects.h"

namespace vantel {

Simulator::Simulator(SimulatorOptions options)
    : state_(std::make_shared<sim::SimulatorState>(std::move(options))) {}

ObjectRef Simulator::application() {
    return sim::make_application(state_);
}

ObjectRef Simulator::recording_application(std::shared_ptr<AccessLog> log) {
    return std::make_shared<RecordingObject>(application(), std::move(log));
}

void Simulator::fail_member(std::string path, std::string reason, std::size_t after_accesses) {
    state_->faults.fail(std::move(path), std::move(reason), after_accesses);
}

void Simulator::set_gone_away(bool gone) {
    state_->faults.set_gone_away(gone);
}

void Simulator::override_value(std::string path, Value value) {
    state_->faults.override_value(std::move(path), std::move(value));
}

void Simulator::set_access_delay(double seconds, std::function<void(double)> sleep) {
    state_->faults.set_delay(seconds, std::move(sleep));
}

void Simulator::clear_faults() {
    state_->faults.clear();
}

sim::SignalSettings Simulator::signal() const {
    return state_->instrument.signal();
}

void Simulator::set_signal(const sim::SignalSettings& settings) {
    state_->instrument.signal() = settings;
}

void Simulator::set_generator(double level_v_rms, double frequency_hz) {
    sim::SignalSettings& s = state_->instrument.signal();
    s.generator_level_v = level_v_rms;
    s.generator_frequency_hz = frequency_hz;
}

namespace {

std::int16_t code_16(int code) {
    if (code < std::numeric_limits<std::int16_t>::min() ||
        code > std::numeric_limits<std::int16_t>::max())
        throw std::invalid_argument(std::to_string(code) + " does not fit a 16-bit code");
    return static_cast<std::int16_t>(code);
}

}  // namespace

void Simulator::set_default_weighting(int code) {
    state_->instrument.set_default_weighting(code_16(code));
}

void Simulator::set_frame_rate(int connector, std::int32_t hz) {
    state_->instrument.set_frame_rate(code_16(connector), hz);
}

}  // namespace vantel
