// SPDX-License-Identifier: MIT
// The program: parse the command line, create the panel, run it.
#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>

#include <cstdio>

#include "analyser/backends.h"
#include "app/environment.h"
#include "app/termination.h"
#include "panel/form1.h"

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
    parser.process(app);

    const std::string backend = parser.value(analyser).toStdString();
    vantel::FormEnvironment env = vantel::FormEnvironment::standard(
        [backend] { return vantel::obtain_application(backend); });
    vantel::Form1 form(env);
    vantel::close_on_termination_signals(&form);
    try {
        form.Form_Load();
    } catch (const vantel::AutomationError& e) {
        // The analyser could not be reached at all: say so and stop, changing nothing.
        std::fprintf(stderr, "vantel-dmm: %s\n", e.what());
        // On a screen the user also gets a box; headless there is nobody to press its OK.
        const QString platform = QGuiApplication::platformName();
        if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal"))
            env.show_message({vantel::Message::Icon::Critical, "Vantel DMM",
                              std::string("Cannot attach to the analyser.\n\n") + e.what()});
        return 2;
    }
    if (form.ended())
        return form.exit_code();
    form.show();
    return QApplication::exec();
}
