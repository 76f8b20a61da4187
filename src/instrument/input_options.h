// SPDX-License-Identifier: MIT
#pragma once

// The command-line options that set up what our analyser measures, shared by vantel-analyser
// and by vantel-dmm's built-in analyser: --input, --full-scale, and for live inputs (Linux only)
// --jack-name, --no-connect, --connect-generator and --rate; and --no-restore, which keeps the
// analyser off its saved settings.

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "instrument/analyser.h"

namespace vantel {

class InputOptions {
public:
    InputOptions();
    void add_to(QCommandLineParser& parser) const;
    // Whether the command line set any of those that choose what to measure (not --no-restore).
    bool any_set(const QCommandLineParser& parser) const;
    // The analyser's options as the command line asks, on top of `base`; nothing and the reason
    // in `error` when a value is not usable. A live input logs through `log`. Unless
    // --no-restore, the analyser keeps its settings in the user's settings file and, without
    // --input, opens the source saved there.
    std::optional<AnalyserOptions> read(const QCommandLineParser& parser, AnalyserOptions base,
                                        std::function<void(const std::string&)> log,
                                        std::string& error) const;

    // What --help says of SOURCE.
    static QString sources_help();

private:
    // The options this system offers.
    std::vector<const QCommandLineOption*> options() const;

    QCommandLineOption input_, full_scale_, jack_name_, no_connect_, connect_generator_, rate_,
        no_restore_;
};

}  // namespace vantel
