// SPDX-License-Identifier: MIT
// The program: parse the command line, pick the analyser, run the meter with its window or not.
#include <QApplication>
#include <QCommandLineParser>
#include <QLoggingCategory>

#include <memory>
#include <optional>

#include "app/backends.h"
#include "app/environment.h"
#include "app/session.h"
#include "app/single_instance.h"
#include "instrument/analyser.h"
#include "instrument/input_options.h"
#include "meter/environment.h"
#include "sources/sample_source.h"

#ifdef _WIN32
#include "app/windows_console.h"
#endif

namespace {

Q_LOGGING_CATEGORY(lcPanel, "vantel.panel", QtInfoMsg)

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    vantel::attach_to_parent_console();
#endif
    // Without a window the meter needs no display at all, so no GUI application either.
    const bool windowed = !vantel::wants_no_window(argc, argv);
    const std::unique_ptr<QCoreApplication> app =
        windowed ? std::make_unique<QApplication>(argc, argv)
                 : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Vantel DMM"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTEL_VERSION));
    // Ties the window to the installed vantel-dmm.desktop (its icon and name in task bars).
    if (windowed)
        QGuiApplication::setDesktopFileName(QStringLiteral("vantel-dmm"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A bench multimeter panel for the Vantel audio analyser: shows the analyser's live "
        "detector reading and writes the meter's keys and knob back into the analyser."));
    parser.addHelpOption();
    parser.addVersionOption();
    QString backends;
    for (const vantel::BackendInfo& b : vantel::known_backends())
        backends += QStringLiteral("\n  %1: %2")
                        .arg(QString::fromUtf8(b.name), QString::fromUtf8(b.description));
    const QString default_backend = QString::fromUtf8(vantel::default_backend());
    const QCommandLineOption analyser(
        QStringLiteral("analyser"),
        QStringLiteral("The analyser to attach to (default: %1):").arg(default_backend) + backends,
        QStringLiteral("backend"), default_backend);
    parser.addOption(analyser);
    const QCommandLineOption log(
        QStringLiteral("log"),
        QStringLiteral("Write one CSV row per update cycle to <file> (\"-\": standard output)."),
        QStringLiteral("file"));
    parser.addOption(log);
    const QCommandLineOption no_window(
        QStringLiteral("no-window"),
        QStringLiteral("Run the meter without its window (for test rigs and scripts)."));
    parser.addOption(no_window);
    const QCommandLineOption count(QStringLiteral("count"),
                                   QStringLiteral("Stop after <n> readings logged."),
                                   QStringLiteral("n"));
    parser.addOption(count);
    const vantel::InputOptions input_options;
    input_options.add_to(parser);
    parser.process(*app);
    if (parser.isSet(log) && parser.value(log).isEmpty()) {
        vantel::report_to_stderr("--log needs a file name, or \"-\" for standard output");
        return vantel::kExitAnalyserUnavailable;
    }
    int readings = 0;
    if (parser.isSet(count)) {
        bool ok = false;
        readings = parser.value(count).toInt(&ok);
        if (!ok || readings <= 0) {
            vantel::report_to_stderr("--count takes a whole number above 0");
            return vantel::kExitAnalyserUnavailable;
        }
    }

    // --input and its company measure with the analyser built into the panel.
    std::optional<vantel::Analyser> built_in;
    if (input_options.any_set(parser)) {
        const QString asked = parser.value(analyser);
        if (parser.isSet(analyser) && asked != QLatin1String("auto") &&
            asked != QLatin1String("sim")) {
            vantel::report_to_stderr(
                "--input and its options set up the built-in analyser; they cannot be used "
                "with --analyser " +
                asked.toStdString());
            return vantel::kExitAnalyserUnavailable;
        }
        std::string error;
        const std::optional<vantel::AnalyserOptions> options = input_options.read(
            parser, {},
            [](const std::string& line) {
                qCInfo(lcPanel).noquote() << QString::fromStdString(line);
            },
            error);
        if (!options) {
            vantel::report_to_stderr(error);
            return vantel::kExitAnalyserUnavailable;
        }
        try {
            built_in.emplace(*options);
        } catch (const vantel::source::SourceError& e) {
            vantel::report_to_stderr(e.what());
            return vantel::kExitAnalyserUnavailable;
        }
        qCInfo(lcPanel).noquote() << "measuring"
                                  << QString::fromStdString(built_in->describe_input());
        for (const std::string& warning : built_in->input_warnings())
            qCWarning(lcPanel).noquote() << QString::fromStdString(warning);
    }

    vantel::BackendChoice choice{"sim", "measuring the input given"};
    if (!built_in) {
        try {
            choice = vantel::choose_backend(parser.value(analyser).toStdString());
        } catch (const vantel::AutomationError& e) {
            vantel::report_to_stderr(e.what());
            return vantel::kExitAnalyserUnavailable;
        }
    }
    qCInfo(lcPanel).noquote() << QStringLiteral("analyser: %1 (%2)")
                                     .arg(QString::fromStdString(choice.backend),
                                          QString::fromStdString(choice.why));

    // The analyser application is shared by the session (over D-Bus, or COM on Windows): one
    // panel attaches to it, or the second would save the first one's changes to the analyser as
    // the user's own.
    std::unique_ptr<vantel::PanelInstance> instance;
    if (choice.backend == "dbus" || choice.backend == "com") {
        vantel::PanelInstance::Claim claim{};
        QString message;
        instance = vantel::PanelInstance::claim(claim, message);
        if (claim == vantel::PanelInstance::Claim::OtherPanel) {
            vantel::report_to_stderr(message.toStdString());
            return vantel::kExitClosed;
        }
    }

    vantel::SessionOptions session;
    session.backend = choice.backend;
    session.log_path = parser.value(log).toStdString();
    session.window = windowed;
    session.readings = readings;
    if (built_in)
        session.analyser = [&built_in] { return built_in->application(); };
    return vantel::run_session(session, instance.get());
}
