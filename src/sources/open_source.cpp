// SPDX-License-Identifier: MIT
#include "sources/open_source.h"

#include <string>
#include <utility>

#ifndef _WIN32
#include "sources/file_source.h"
#endif

namespace vantel::source {

std::unique_ptr<SampleSource> open_source(std::string_view source_name,
                                          std::shared_ptr<Generator> generator,
                                          const SourceOptions& options,
                                          [[maybe_unused]] const LiveOptions& live_options) {
    for (DeviceModel model : {device_under_test(), analyser_loopback()}) {
        if (source_name == model.name) {
            return std::make_unique<SimulatedDevice>(std::move(model), std::move(generator),
                                                     options.seed, options.clock,
                                                     options.full_scale_v_rms);
        }
    }
#ifdef _WIN32
    if (source_name.empty())
        throw SourceError("no source named: give sim or loopback");
    throw SourceError(std::string(source_name) +
                      ": on Windows the analyser measures sim or loopback only; sound files, "
                      "JACK and ALSA are Linux-only for now");
#else
    if (source_name.empty())
        throw SourceError("no source named: give sim, loopback or a sound file's path");
    if (source_name == "jack") {
        LiveOptions live = live_options;
        live.full_scale_v_rms = options.full_scale_v_rms;
        return open_jack(std::move(generator), std::move(live));
    }
    if (source_name == "alsa" || source_name.starts_with("alsa:")) {
        const std::string device =
            source_name == "alsa" ? "default" : std::string(source_name.substr(5));
        if (device.empty())
            throw SourceError("no ALSA device named: give alsa or alsa:DEVICE");
        LiveOptions live = live_options;
        live.full_scale_v_rms = options.full_scale_v_rms;
        return open_alsa(device, std::move(generator), std::move(live));
    }
    return std::make_unique<FileSource>(std::string(source_name), options.clock);
#endif
}

}  // namespace vantel::source
