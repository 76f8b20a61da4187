// SPDX-License-Identifier: MIT
#include <QApplication>
#include <QCommandLineParser>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantel DMM"));
    QApplication::setApplicationVersion(QStringLiteral(VANTEL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A bench multimeter panel for the Vantel audio analyser."));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption analyser(QStringLiteral("analyser"),
                                QStringLiteral("Which analyser to attach to: sim (built in)."),
                                QStringLiteral("backend"), QStringLiteral("sim"));
    parser.addOption(analyser);
    parser.process(app);

    QWidget window;
    window.setWindowTitle(QStringLiteral("Vantel DMM"));
    window.setFixedSize(271, 538);
    window.show();
    return QApplication::exec();
}
