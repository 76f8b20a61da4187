// SPDX-License-Identifier: MIT
// vantel-analyser: our analyser as an application of its own, serving
// "Vantel.Application" on the D-Bus session bus. Headless; logs to stderr; SIGTERM ends it.
#include <QCommandLineParser>
#include <QCoreApplication>

#include <optional>

#include "app/analyser_command_line.h"
#include "app/command_line.h"
#include "app/termination.h"
#include "instrument/dbus_export.h"
#include "recorder/log_writer.h"

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
    const QCommandLineOption test_control(
        QStringLiteral("test-control"),
        QStringLiteral("Also export Vantel.TestControl at /Vantel/TestControl, through which "
                       "tests make this analyser fail, answer odd values or answer slowly."));
    const vantel::AnalyserCommandLine analyser_options;
    analyser_options.add_to(parser);
    parser.addOption(test_control);
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

    std::optional<vantel::Analyser> analyser;
    if (!analyser_options.build(parser, analyser, vantel::lcAnalyser))
        return 2;
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
