// SPDX-License-Identifier: MIT
// vantel-analyser: the simulated analyser as an application of its own, serving
// "Vantel.Application" on the D-Bus session bus. Headless; logs to stderr; SIGTERM ends it.
#include <QCommandLineParser>
#include <QCoreApplication>

#include <cmath>
#include <optional>

#include "app/termination.h"
#include "simulator/dbus_export.h"
#include "sources/sample_source.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vantel-analyser"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTEL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The simulated Vantel analyser on the D-Bus session bus, as \"Vantel.Application\". "
        "D-Bus activation starts it when a client asks for that name."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption seed(QStringLiteral("seed"),
                                  QStringLiteral("Seed of the simulated signal (default: 1)."),
                                  QStringLiteral("number"), QStringLiteral("1"));
    const QCommandLineOption initialise_after(
        QStringLiteral("initialise-after"),
        QStringLiteral("Report IsInitialised True only after this many seconds (default: 0)."),
        QStringLiteral("seconds"), QStringLiteral("0"));
    const QCommandLineOption test_control(
        QStringLiteral("test-control"),
        QStringLiteral("Also export Vantel.TestControl at /Vantel/TestControl, through which "
                       "tests make this analyser fail, answer odd values or answer slowly."));
    const QCommandLineOption input(
        QStringLiteral("input"),
        QStringLiteral("What the analyser measures: sim (the generator through a simulated "
                       "device under test, the default), loopback (the generator straight to "
                       "the inputs) or the path of a sound file (WAV, FLAC, AIFF and every "
                       "format libsndfile reads), played in a loop in real time."),
        QStringLiteral("source"), QStringLiteral("sim"));
    const QCommandLineOption full_scale(
        QStringLiteral("full-scale"),
        QStringLiteral("The analogue inputs' calibration: the volts RMS of a full-scale sine "
                       "(default: 10)."),
        QStringLiteral("volts"), QStringLiteral("10"));
    parser.addOptions({input, full_scale, seed, initialise_after, test_control});
    parser.process(app);

    bool seed_ok = false;
    bool delay_ok = false;
    bool full_scale_ok = false;
    vantel::SimulatorOptions options;
    options.seed = parser.value(seed).toULongLong(&seed_ok);
    options.initialise_after_s = parser.value(initialise_after).toDouble(&delay_ok);
    options.analogue_full_scale_v = parser.value(full_scale).toDouble(&full_scale_ok);
    options.input = parser.value(input).toStdString();
    if (!seed_ok || !delay_ok || options.initialise_after_s < 0.0 || !full_scale_ok ||
        !(options.analogue_full_scale_v > 0.0 && std::isfinite(options.analogue_full_scale_v))) {
        qCCritical(vantel::lcSimulator) << "--seed takes a whole number, --initialise-after a "
                                           "number of seconds, --full-scale a number of volts "
                                           "above 0";
        return 2;
    }

    std::optional<vantel::Simulator> simulator;
    try {
        simulator.emplace(options);
    } catch (const vantel::source::SourceError& e) {
        qCCritical(vantel::lcSimulator).noquote() << e.what();
        return 2;
    }
    qCInfo(vantel::lcSimulator).noquote()
        << "measuring" << QString::fromStdString(simulator->describe_input());
    for (const std::string& warning : simulator->input_warnings())
        qCWarning(vantel::lcSimulator).noquote() << QString::fromStdString(warning);

    vantel::AnalyserExport exported(*simulator, parser.isSet(test_control));
    QObject::connect(&exported, &vantel::AnalyserExport::bus_lost, &app, &QCoreApplication::quit);
    // Before the name is claimed: whoever sees the name may stop the analyser at once.
    vantel::on_termination_signals(&app, [] { QCoreApplication::quit(); });
    if (!exported.publish())
        return 1;
    const int code = QCoreApplication::exec();
    qCInfo(vantel::lcSimulator) << "leaving the bus";
    return code;
}
