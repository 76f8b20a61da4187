// SPDX-License-Identifier: MIT
// The program: parse the command line, pick the analyser, create the panel, run it.
#include <QApplication>
#include <QCommandLineParser>
#include <QLoggingCategory>

#include <memory>
#include <optional>

#include "analyser/backends.h"
#include "app/environment.h"
#include "app/single_instance.h"
#include "app/termination.h"
#include "panel/form1.h"
#include "simulator/input_options.h"
#include "simulator/simulator.h"
#include "sources/sample_source.h"

namespace {

Q_LOGGING_CATEGORY(lcPanel, "vantel.panel", QtInfoMsg)

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantel DMM"));
    QApplication::setApplicationVersion(QStringLiteral(VANTEL_VERSION));
    // Ties the window to the installed vantel-dmm.desktop (its icon and name in task bars).
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
    const vantel::InputOptions input_options;
    input_options.add_to(parser);
    parser.process(app);

    // --input and its company measure with the analyser built into the panel.
    std::optional<vantel::Simulator> built_in;
    if (input_options.any_set(parser)) {
        const QString asked = parser.value(analyser);
        if (asked != QLatin1String("auto") && asked != QLatin1String("sim")) {
            vantel::report_to_stderr(
                "--input and its options set up the built-in analyser; "
                "they cannot be used with --analyser " +
                asked.toStdString());
            return vantel::kExitAnalyserUnavailable;
        }
        std::string error;
        const std::optional<vantel::SimulatorOptions> options = input_options.read(
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

    const vantel::BackendChoice choice =
        built_in ? vantel::BackendChoice{"sim", "measuring the input given"}
                 : vantel::choose_backend(parser.value(analyser).toStdString());
    qCInfo(lcPanel).noquote() << QStringLiteral("analyser: %1 (%2)")
                                     .arg(QString::fromStdString(choice.backend),
                                          QString::fromStdString(choice.why));

    // Over D-Bus the analyser is shared by the session: one panel attaches to it, or the second
    // would save the first one's changes to the analyser as the user's own.
    std::unique_ptr<vantel::PanelInstance> instance;
    if (choice.backend == "dbus") {
        vantel::PanelInstance::Claim claim{};
        QString message;
        instance = vantel::PanelInstance::claim(claim, message);
        if (claim == vantel::PanelInstance::Claim::OtherPanel) {
            vantel::report_to_stderr(message.toStdString());
            return vantel::kExitClosed;
        }
    }

    const std::string backend = choice.backend;
    vantel::FormEnvironment env =
        vantel::FormEnvironment::standard([backend, &built_in]() -> vantel::ObjectRef {
            if (built_in)
                return built_in->application();
            return vantel::obtain_application(backend);
        });
    vantel::Form1 form(env);
    vantel::close_on_termination_signals(&form);
    if (instance) {
        QObject::connect(instance.get(), &vantel::PanelInstance::activation_requested, &form,
                         [&form] {
                             if (!form.isVisible())
                                 return;  // still starting up: it shows itself soon
                             qCInfo(lcPanel) << "brought to the front at another start's request";
                             form.showNormal();
                             form.raise();
                             form.activateWindow();
                         });
    }
    try {
        form.Form_Load();
    } catch (const vantel::AutomationError& e) {
        // The analyser could not be reached at all: say so and stop, changing nothing.
        env.report(e.what());
        // On a screen the user also gets a box.
        if (vantel::display_is_visible())
            env.show_message({vantel::Message::Icon::Critical, "Vantel DMM",
                              std::string("Cannot attach to the analyser.\n\n") + e.what()});
        return vantel::kExitAnalyserUnavailable;
    }
    if (form.ended())
        return form.exit_code();
    form.show();
    return QApplication::exec();
}
