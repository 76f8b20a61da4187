// SPDX-License-Identifier: MIT
// vantel-analyser: our analyser as an application of its own, serving
// "Vantel.Application" on the D-Bus session bus. Headless; logs to stderr; SIGTERM ends it.
#include <QCommandLineParser>
#include <QCoreApplication>

#include <optional>

#include "app/command_line.h"
#include "app/termination.h"
#include "instrument/dbus_export.h"
#include "instrument/input_options.h"
#include "recorder/log_writer.h"
#include "sources/sample_source.h"

int main(int argc, char** argv) {
    vantel::fail_writes_instead_of_signalling();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vantel-analyser"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTEL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Our Vantel analyser on the D-Bus session bus, as \"Vantel.Application\". "
                       "D-Bus activation starts it when a client asks for that name."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption seed(
        QStringLiteral("seed"),
        QStringLiteral("Seed of the simulated device under test (default: 1)."),
        QStringLiteral("number"), QStringLiteral("1"));
    const QCommandLineOption initialise_after(
        QStringLiteral("initialise-after"),
        QStringLiteral("Report IsInitialised True only after this many seconds (default: 0)."),
        QStringLiteral("seconds"), QStringLiteral("0"));
    const QCommandLineOption test_control(
        QStringLiteral("test-control"),
        QStringLiteral("Also export Vantel.TestControl at /Vantel/TestControl, through which "
                       "tests make this analyser fail, answer odd values or answer slowly."));
    const vantel::InputOptions input_options;
    input_options.add_to(parser);
    parser.addOptions({seed, initialise_after, test_control});
    // As bytes came: a sound file's name need not be UTF-8.
    const QStringList arguments = vantel::arguments_from(argc, argv);
    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty()) {
        qCCritical(vantel::lcAnalyser).noquote()
            << (parser.errorText().isEmpty() ? QStringLiteral("unexpected argument \"%1\"")
                                                   .arg(parser.positionalArguments().constFirst())
                                             : parser.errorText());
        return 2;
    }
    parser.process(arguments);  // --help, --help-all and --version print and end here

    bool seed_ok = false;
    bool delay_ok = false;
    vantel::AnalyserOptions base;
    base.seed = parser.value(seed).toULongLong(&seed_ok);
    base.initialise_after_s = parser.value(initialise_after).toDouble(&delay_ok);
    if (!seed_ok || !delay_ok || base.initialise_after_s < 0.0) {
        qCCritical(vantel::lcAnalyser) << "--seed takes a whole number, --initialise-after a "
                                          "number of seconds";
        return 2;
    }
    std::string error;
    const std::optional<vantel::AnalyserOptions> options = input_options.read(
        parser, base,
        [](const std::string& line) {
            qCInfo(vantel::lcAnalyser).noquote() << QString::fromStdString(line);
        },
        error);
    if (!options) {
        qCCritical(vantel::lcAnalyser).noquote() << QString::fromStdString(error);
        return 2;
    }

    std::optional<vantel::Analyser> analyser;
    try {
        vantel::AnalyserOptions with_warnings = *options;
        with_warnings.warn = [](const std::string& line) {
            qCWarning(vantel::lcAnalyser).noquote() << QString::fromStdString(line);
        };
        analyser.emplace(with_warnings);
    } catch (const vantel::source::SourceError& e) {
        qCCritical(vantel::lcAnalyser).noquote() << e.what();
        return 2;
    }
    qCInfo(vantel::lcAnalyser).noquote()
        << "measuring" << QString::fromStdString(analyser->describe_input());
    for (const std::string& warning : analyser->input_warnings())
        qCWarning(vantel::lcAnalyser).noquote() << QString::fromStdString(warning);

    vantel::AnalyserExport exported(*analyser, parser.isSet(test_control));
    QObject::connect(&exported, &vantel::AnalyserExport::bus_lost, &app, &QCoreApplication::quit);
    // Before the name is claimed: whoever sees the name may stop the analyser at once.
    vantel::on_termination_signals(&app, [] { QCoreApplication::quit(); });
    if (!exported.publish())
        return 1;
    const int code = QCoreApplication::exec();
    qCInfo(vantel::lcAnalyser) << "leaving the bus";
    return code;
}
