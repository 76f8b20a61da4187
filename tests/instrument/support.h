// SPDX-License-Identifier: MIT
#pragma once

// A device whose readings are plain arithmetic, and member access by path ("CTDetector.CTD_Unit").

#include <cstdint>
#include <string_view>

#include "automation/automation.h"
#include "instrument/analyser.h"
#include "instrument/constants.h"

namespace vantel::test {

// The device under test without noise or drift, both channels at unity gain: readings are plain
// arithmetic on the generator's level.
inline source::DeviceModel exact_device() {
    source::DeviceModel d = source::device_under_test();
    d.drift = 0.0;
    for (source::ChannelModel& m : d.channels) {
        m.gain = 1.0;
        m.noise_v_rms = 0.0;
    }
    return d;
}

inline std::int64_t code(std::string_view name) {
    return instrument::find_constant(name)->code;
}

inline Value read(AutomationObject& app, std::string_view path) {
    const auto dot = path.find('.');
    if (dot == std::string_view::npos)
        return app.get(path);
    return get_member(app, path.substr(0, dot), path.substr(dot + 1));
}

inline void write(AutomationObject& app, std::string_view path, const Value& v) {
    const auto dot = path.find('.');
    if (dot == std::string_view::npos)
        return app.set(path, v);
    set_member(app, path.substr(0, dot), path.substr(dot + 1), v);
}

}  // namespace vantel::test
