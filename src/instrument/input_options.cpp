// SPDX-License-Identifier: MIT
#include "instrument/input_options.h"

#include <cmath>

#include "instrument/persistence.h"
#include "sources/file_name.h"
#include "sources/sample_source.h"

namespace vantel {

namespace {

QCommandLineOption option(const char* name, const QString& help, const char* value = nullptr,
                          const char* by_default = nullptr) {
    return value ? QCommandLineOption(QString::fromLatin1(name), help, QString::fromLatin1(value),
                                      by_default ? QString::fromLatin1(by_default) : QString())
                 : QCommandLineOption(QString::fromLatin1(name), help);
}

bool positive_number(const QString& text, double& value) {
    bool ok = false;
    value = text.toDouble(&ok);
    return ok && std::isfinite(value) && value > 0.0;
}

}  // namespace

QString InputOptions::sources_help() {
#ifdef _WIN32
    return QStringLiteral(
        "sim (the generator through a simulated device under test, the default) or loopback (the "
        "generator straight to the inputs); sound files, JACK and ALSA are Linux-only for now");
#else
    return QStringLiteral(
        "sim (the generator through a simulated device under test, the default), loopback (the "
        "generator straight to the inputs), jack (a JACK client, through jackd or PipeWire's "
        "JACK), alsa or alsa:DEVICE (an ALSA device, \"default\" unless named), or the path of a "
        "sound file (WAV, FLAC, AIFF and every format libsndfile reads), played in a loop in "
        "real time");
#endif
}

InputOptions::InputOptions()
    : input_(option(
          "input",
          QStringLiteral("What the analyser measures (default: the source the last run opened, "
                         "else sim): ") +
              sources_help() + QStringLiteral("."),
          "source", "sim")),
      full_scale_(option("full-scale",
                         QStringLiteral("Both analogue channels' calibration for this run: the "
                                        "volts RMS of a full-scale sine (default: the saved "
                                        "calibration, else 10, to which a live input's volts "
                                        "are not calibrated)."),
                         "volts")),
      jack_name_(option("jack-name",
                        QStringLiteral("With --input jack: the JACK client's name (default: "
                                       "vantel-analyser)."),
                        "name", "vantel-analyser")),
      no_connect_(option("no-connect", QStringLiteral("With --input jack: leave every port "
                                                      "unconnected (by default the inputs "
                                                      "connect to the first two capture ports)."))),
      connect_generator_(option(
          "connect-generator",
          QStringLiteral("With --input jack: connect the generator's outputs to the first two "
                         "playback ports (never done otherwise)."))),
      rate_(option("rate",
                   QStringLiteral("With --input alsa: the sample rate to capture at, 8000 to "
                                  "768000 (default: 48000)."),
                   "hz", "48000")),
      no_restore_(option("no-restore",
                         QStringLiteral("Start the analyser from its defaults and save nothing "
                                        "(for tests and scripts); by default it keeps its "
                                        "settings in $XDG_CONFIG_HOME/vantel-dmm/analyser.conf "
                                        "and, without --input, opens the source saved there."))) {}

std::vector<const QCommandLineOption*> InputOptions::options() const {
#ifdef _WIN32
    // Only live inputs take the others, and those are Linux-only for now.
    return {&input_, &full_scale_, &no_restore_};
#else
    return {&input_, &full_scale_, &jack_name_, &no_connect_, &connect_generator_,
            &rate_,  &no_restore_};
#endif
}

void InputOptions::add_to(QCommandLineParser& parser) const {
    for (const QCommandLineOption* o : options())
        parser.addOption(*o);
}

bool InputOptions::any_set(const QCommandLineParser& parser) const {
    for (const QCommandLineOption* o : options()) {
        if (parser.isSet(*o))
            return true;
    }
    return false;
}

std::optional<AnalyserOptions> InputOptions::read(const QCommandLineParser& parser,
                                                  AnalyserOptions base,
                                                  std::function<void(const std::string&)> log,
                                                  std::string& error) const {
    // A sound file's name as the bytes the command line gave (see sources/file_name.h).
    base.input = source::file_name_from_text(parser.value(input_).toStdU16String());
    if (parser.isSet(full_scale_)) {
        double full_scale_v = 0.0;
        if (!positive_number(parser.value(full_scale_), full_scale_v)) {
            error = "--full-scale takes a number of volts above 0";
            return std::nullopt;
        }
        base.analogue_full_scale_v = full_scale_v;
    }
#ifndef _WIN32
    if (!positive_number(parser.value(rate_), base.live.alsa_rate_hz)) {
        error = "--rate takes a number of hertz above 0";
        return std::nullopt;
    }
    if (const std::string why = source::unmeasurable_rate(base.live.alsa_rate_hz); !why.empty()) {
        error = "--rate " + parser.value(rate_).toStdString() + ": " + why;
        return std::nullopt;
    }
    base.live.jack_client_name = parser.value(jack_name_).toStdString();
    if (base.live.jack_client_name.empty()) {
        error = "--jack-name takes a name";
        return std::nullopt;
    }
    base.live.connect_inputs = !parser.isSet(no_connect_);
    base.live.connect_generator = parser.isSet(connect_generator_) && !parser.isSet(no_connect_);
#endif
    base.live.log = std::move(log);
    if (!parser.isSet(no_restore_)) {
        base.settings_file = instrument::analyser_settings_path();
        base.input_from_settings = !parser.isSet(input_);
    }
    return base;
}

}  // namespace vantel
