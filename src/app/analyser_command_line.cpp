// SPDX-License-Identifier: MIT
#include "app/analyser_command_line.h"

#include "sources/sample_source.h"

namespace vantel {

AnalyserCommandLine::AnalyserCommandLine()
    : seed_(QStringLiteral("seed"),
            QStringLiteral("Seed of the simulated device under test (default: 1)."),
            QStringLiteral("number"), QStringLiteral("1")),
      initialise_after_(
          QStringLiteral("initialise-after"),
          QStringLiteral("Report IsInitialised True only after this many seconds (default: 0)."),
          QStringLiteral("seconds"), QStringLiteral("0")) {}

void AnalyserCommandLine::add_to(QCommandLineParser& parser) const {
    input_.add_to(parser);
    parser.addOptions({seed_, initialise_after_});
}

bool AnalyserCommandLine::build(const QCommandLineParser& parser, std::optional<Analyser>& analyser,
                                QMessageLogger::CategoryFunction log) const {
    const auto fail = [log](const std::string& why) {
        qCCritical(log).noquote() << QString::fromStdString(why);
    };
    bool seed_ok = false;
    bool delay_ok = false;
    AnalyserOptions base;
    base.seed = parser.value(seed_).toULongLong(&seed_ok);
    base.initialise_after_s = parser.value(initialise_after_).toDouble(&delay_ok);
    if (!seed_ok || !delay_ok || base.initialise_after_s < 0.0) {
        fail("--seed takes a whole number, --initialise-after a number of seconds");
        return false;
    }
    std::string error;
    std::optional<AnalyserOptions> options = input_.read(
        parser, base,
        [log](const std::string& line) { qCInfo(log).noquote() << QString::fromStdString(line); },
        error);
    if (!options) {
        fail(error);
        return false;
    }
    options->warn = [log](const std::string& line) {
        qCWarning(log).noquote() << QString::fromStdString(line);
    };
    try {
        analyser.emplace(*options);
    } catch (const source::SourceError& e) {
        fail(e.what());
        return false;
    }
    return true;
}

}  // namespace vantel
