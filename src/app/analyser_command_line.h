// SPDX-License-Identifier: MIT
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QLoggingCategory>

#include <optional>

#include "instrument/analyser.h"
#include "instrument/input_options.h"

namespace vantel {

// What both analyser programs (the D-Bus and the COM server) take on their command line: the
// input's options, --seed and --initialise-after; and the analyser they describe.
class AnalyserCommandLine {
public:
    AnalyserCommandLine();
    void add_to(QCommandLineParser& parser) const;
    // Builds `analyser` from the parsed command line, logging what the input reports and the
    // analyser's warnings to `log`. False after logging why not: the program then ends with
    // exit code 2.
    bool build(const QCommandLineParser& parser, std::optional<Analyser>& analyser,
               QMessageLogger::CategoryFunction log) const;

private:
    QCommandLineOption seed_;
    QCommandLineOption initialise_after_;
    InputOptions input_;
};

}  // namespace vantel
