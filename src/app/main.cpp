// SPDX-License-Identifier: MIT
// The program: read the command line, open the log, pick the analyser, run the meter with its
// window or not.
#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QLoggingCategory>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>

#include "app/backends.h"
#include "app/command_line.h"
#include "app/environment.h"
#include "app/member_access.h"
#include "app/session.h"
#include "app/single_instance.h"
#include "instrument/analyser.h"
#include "instrument/input_options.h"
#include "meter/environment.h"
#include "meter/scripted_run.h"
#include "panel/panel_settings.h"
#include "recorder/log_writer.h"
#include "sources/sample_source.h"

#ifdef _WIN32
#include "app/windows_console.h"
#endif

namespace {

Q_LOGGING_CATEGORY(lcPanel, "vantel.panel", QtInfoMsg)

using vantel::kExitAnalyserUnavailable;

// Every option of the program, for one parser.
struct Options {
    QCommandLineOption analyser, log, log_overwrite, no_window, zoom, trend, set, count, duration,
        settle, limits, once, list_members;
    vantel::InputOptions input;

    Options()
        : analyser(QStringLiteral("analyser"), {}, QStringLiteral("backend"),
                   QString::fromUtf8(vantel::default_backend())),
          log(QStringLiteral("log"),
              QStringLiteral("Write one CSV row per reading to <file> (\"-\": standard output). "
                             "An existing log with the same columns is appended to; any other "
                             "existing file is refused."),
              QStringLiteral("file")),
          log_overwrite(QStringLiteral("log-overwrite"),
                        QStringLiteral("Replace the --log file whatever it holds.")),
          no_window(QStringLiteral("no-window"),
                    QStringLiteral("Run the meter without its window (for test rigs and "
                                   "scripts).")),
          zoom(QStringLiteral("zoom"),
               QStringLiteral("Draw the panel at <percent> of its size: 100, 150 or 200. The "
                              "choice is kept for the next start, as the menu's View keeps it."),
               QStringLiteral("percent")),
          trend(QStringLiteral("trend"), QStringLiteral("Open the trend window with the panel.")),
          set(QStringLiteral("set"),
              QStringLiteral("Write an analyser member before the first reading, in the order "
                             "given (CTD_Function=\"THD+N - relative\", CTD_Unit=UNIT_DBU). "
                             "VALUE is a number, true, false, a named constant or a text."),
              QStringLiteral("name=value")),
          count(QStringLiteral("count"), QStringLiteral("Stop after <n> readings logged."),
                QStringLiteral("n")),
          duration(QStringLiteral("duration"), QStringLiteral("Stop <seconds> after the start."),
                   QStringLiteral("seconds")),
          settle(QStringLiteral("settle"),
                 QStringLiteral("Discard readings for <seconds> after the start, and then while "
                                "the analyser reports itself settling."),
                 QStringLiteral("seconds")),
          limits(QStringLiteral("limits"),
                 QStringLiteral("Judge every reading against LOW:HIGH (either may be left out) "
                                "in the reading's unit; the log gains a pass column, and the "
                                "exit code is 1 if any reading fell outside."),
                 QStringLiteral("low:high")),
          once(QStringLiteral("once"),
               QStringLiteral("Take one settled reading without the window and end; without "
                              "--log, print only the reading and its unit (\"-60.02 dB\").")),
          list_members(QStringLiteral("list-members"),
                       QStringLiteral("Print the analyser's members and named constants with "
                                      "their types, and end.")) {
        QString backends;
        for (const vantel::BackendInfo& b : vantel::known_backends())
            backends += QStringLiteral("\n  %1: %2")
                            .arg(QString::fromUtf8(b.name), QString::fromUtf8(b.description));
        analyser.setDescription(QStringLiteral("The analyser to attach to (default: %1):")
                                    .arg(QString::fromUtf8(vantel::default_backend())) +
                                backends);
    }

    void add_to(QCommandLineParser& parser) const {
        parser.setApplicationDescription(QStringLiteral(
            "A bench multimeter panel for the Vantel audio analyser: shows the analyser's live "
            "detector reading and writes the meter's keys and knob back into the analyser."));
        // -platform and Qt's other one-dash options are Qt's, and never taken for -p -l -a...
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addHelpOption();
        parser.addVersionOption();
        parser.addOptions({analyser, log, log_overwrite, no_window, zoom, trend});
        input.add_to(parser);
        parser.addOptions({set, count, duration, settle, limits, once, list_members});
    }
};

int bad_command_line(const QString& why) {
    vantel::report_to_stderr(why.toStdString());
    vantel::report_to_stderr("--help lists the options");
    return kExitAnalyserUnavailable;
}

// An error of the first look that only Qt's application object can settle: options of one dash
// that are not ours (-platform, -style...), which it takes out of the command line itself.
bool only_qt_could_know(const QCommandLineParser& parser, const QStringList& arguments) {
    const QStringList unknown = parser.unknownOptionNames();
    if (unknown.isEmpty())
        return false;
    for (const QString& name : unknown) {
        const QString one_dash = u'-' + name;
        const bool given_with_one_dash = std::any_of(
            arguments.begin(), arguments.end(),
            [&](const QString& a) { return a == one_dash || a.startsWith(one_dash + u'='); });
        if (!given_with_one_dash)
            return false;
    }
    return true;
}

// A whole number above 0, or a number of seconds (at least 0, or above it).
bool read_count(const QString& text, std::int64_t& n) {
    bool ok = false;
    n = text.toLongLong(&ok);
    return ok && n > 0;
}
bool read_seconds(const QString& text, double& seconds, bool zero_allowed) {
    bool ok = false;
    seconds = text.toDouble(&ok);
    return ok && std::isfinite(seconds) && (zero_allowed ? seconds >= 0.0 : seconds > 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    vantel::fail_writes_instead_of_signalling();
#ifdef _WIN32
    vantel::attach_to_parent_console();
#endif
    QCoreApplication::setApplicationName(QStringLiteral("Vantel DMM"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTEL_VERSION));
    const Options o;
    QCommandLineParser parser;
    o.add_to(parser);

    // The command line is read before any application object exists: --help, --version and a
    // mistake need no display, and whether the run has a window decides which application
    // object it gets. Only Qt's own options (-platform, -style...) wait for that object, which
    // takes them out of the command line.
    const QStringList given = vantel::arguments_from(argc, argv);
    const bool parsed = parser.parse(given);
    const bool qt_options = !parsed && only_qt_could_know(parser, given);
    if (!parsed && !qt_options)
        return bad_command_line(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        QString help = parser.helpText();
        help.replace(QStringLiteral("<executable_name>"), QFileInfo(given.value(0)).fileName());
        std::fputs(help.toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("%s %s\n", qPrintable(QCoreApplication::applicationName()), VANTEL_VERSION);
        return 0;
    }
    if (parser.isSet(QStringLiteral("help-all"))) {
        // Qt's own options come with the GUI application; offscreen, it needs no display.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        parser.process(app);  // prints and exits
    }
    // Without Qt's options, a word on its own is a mistake; with them, it may be one's value.
    if (!qt_options && !parser.positionalArguments().isEmpty())
        return bad_command_line(QStringLiteral("unexpected argument \"%1\"")
                                    .arg(parser.positionalArguments().constFirst()));
    if (parser.isSet(o.log) && parser.value(o.log).isEmpty())
        return bad_command_line(
            QStringLiteral("--log needs a file name, or \"-\" for standard output"));
    if (parser.isSet(o.log_overwrite) && !parser.isSet(o.log))
        return bad_command_line(QStringLiteral("--log-overwrite goes with --log"));
    if (parser.isSet(o.once) && parser.isSet(o.count))
        return bad_command_line(QStringLiteral("--once takes one reading: leave out --count"));

    vantel::SessionOptions session;
    for (const QString& text : parser.values(o.set)) {
        std::string error;
        const std::optional<vantel::MemberWrite> write =
            vantel::parse_member_write(vantel::file_name_of(text), error);
        if (!write)
            return bad_command_line(QString::fromStdString(error));
        session.writes.push_back(*write);
    }
    vantel::RunPlan& plan = session.plan;
    if (parser.isSet(o.count) && !read_count(parser.value(o.count), plan.count.emplace()))
        return bad_command_line(QStringLiteral("--count takes a whole number above 0"));
    if (parser.isSet(o.duration) &&
        !read_seconds(parser.value(o.duration), plan.duration_s.emplace(), false))
        return bad_command_line(QStringLiteral("--duration takes a number of seconds above 0"));
    if (parser.isSet(o.settle) &&
        !read_seconds(parser.value(o.settle), plan.settle_s.emplace(), true))
        return bad_command_line(QStringLiteral("--settle takes a number of seconds, 0 or more"));
    if (parser.isSet(o.limits)) {
        std::string error;
        plan.limits = vantel::parse_limits(parser.value(o.limits).toStdString(), error);
        if (!plan.limits)
            return bad_command_line(QString::fromStdString(error));
    }
    if (parser.isSet(o.once)) {
        plan.count = 1;
        if (!plan.settle_s)
            plan.settle_s = 0.0;  // still waits while the analyser says it is settling
        session.print_reading = !parser.isSet(o.log);
    }
    const bool windowed =
        !parser.isSet(o.no_window) && !parser.isSet(o.once) && !parser.isSet(o.list_members);
    if (parser.isSet(o.zoom)) {
        bool number = false;
        const int percent = parser.value(o.zoom).toInt(&number);
        if (!number || !vantel::is_zoom_percent(percent))
            return bad_command_line(QStringLiteral("--zoom takes 100, 150 or 200"));
        session.zoom_percent = percent;
    }
    session.open_trend = parser.isSet(o.trend);
    if (!windowed && (parser.isSet(o.zoom) || parser.isSet(o.trend)))
        return bad_command_line(
            QStringLiteral("--zoom and --trend are for the window: leave out "
                           "--no-window, --once and --list-members"));

    const std::unique_ptr<QCoreApplication> app =
        windowed ? std::make_unique<QApplication>(argc, argv)
                 : std::make_unique<QCoreApplication>(argc, argv);
    // Ties the window to the installed vantel-dmm.desktop (its icon and name in task bars).
    if (windowed)
        QGuiApplication::setDesktopFileName(QStringLiteral("vantel-dmm"));
    // What the application object left of the command line must now be ours alone.
    if (qt_options) {
        if (!parser.parse(vantel::arguments_from(argc, argv)))
            return bad_command_line(parser.errorText());
        if (!parser.positionalArguments().isEmpty())
            return bad_command_line(QStringLiteral("unexpected argument \"%1\"")
                                        .arg(parser.positionalArguments().constFirst()));
    }

    // --input and its company measure with the analyser built into the panel.
    if (o.input.any_set(parser)) {
        const QString asked = parser.value(o.analyser);
        if (parser.isSet(o.analyser) && asked != QLatin1String("auto") &&
            asked != QLatin1String("sim"))
            return bad_command_line(
                QStringLiteral("--input and its options set up the built-in analyser; they "
                               "cannot be used with --analyser %1")
                    .arg(asked));
    }
    vantel::BackendChoice choice{"sim", "measuring the input given"};
    if (!o.input.any_set(parser)) {
        try {
            choice = vantel::choose_backend(parser.value(o.analyser).toStdString());
        } catch (const vantel::AutomationError& e) {
            vantel::report_to_stderr(e.what());
            return kExitAnalyserUnavailable;
        }
    }
    // The built-in analyser keeps its settings between runs, so it is made here, not by the
    // backend.
    std::optional<vantel::Analyser> built_in;
    if (choice.backend == "sim") {
        std::string error;
        std::optional<vantel::AnalyserOptions> options = o.input.read(
            parser, {},
            [](const std::string& line) {
                qCInfo(lcPanel).noquote() << QString::fromStdString(line);
            },
            error);
        if (!options)
            return bad_command_line(QString::fromStdString(error));
        options->warn = [](const std::string& line) {
            qCWarning(lcPanel).noquote() << QString::fromStdString(line);
        };
        try {
            built_in.emplace(*options);
        } catch (const vantel::source::SourceError& e) {
            vantel::report_to_stderr(e.what());
            return kExitAnalyserUnavailable;
        }
        qCInfo(lcPanel).noquote() << "measuring"
                                  << QString::fromStdString(built_in->describe_input());
        for (const std::string& warning : built_in->input_warnings())
            qCWarning(lcPanel).noquote() << QString::fromStdString(warning);
    }
    qCInfo(lcPanel).noquote() << QStringLiteral("analyser: %1 (%2)")
                                     .arg(QString::fromStdString(choice.backend),
                                          QString::fromStdString(choice.why));

    if (parser.isSet(o.list_members)) {
        try {
            const vantel::ObjectRef analyser =
                built_in ? built_in->application() : vantel::obtain_application(choice.backend);
            std::fputs(vantel::member_listing(*analyser).c_str(), stdout);
            return std::fflush(stdout) == 0 ? 0 : kExitAnalyserUnavailable;
        } catch (const vantel::AutomationError& e) {
            vantel::report_to_stderr(e.what());
            return kExitAnalyserUnavailable;
        }
    }

    // The analyser application is shared by the session (over D-Bus, or COM on Windows): one
    // panel attaches to it, or the second would save the first one's changes to the analyser as
    // the user's own.
    std::unique_ptr<vantel::PanelInstance> instance;
    if (choice.backend == "dbus" || choice.backend == "com") {
        vantel::PanelInstance::Claim claim{};
        QString message;
        instance = vantel::PanelInstance::claim(claim, message, windowed);
        if (claim == vantel::PanelInstance::Claim::OtherPanel) {
            vantel::report_to_stderr(message.toStdString());
            // A second window hands over to the first; a script's run has not measured anything.
            return windowed ? vantel::kExitClosed : kExitAnalyserUnavailable;
        }
    }

    // The log once this panel is the analyser's only one (a second run must not cut the first
    // one's log), and before the run: a log that cannot be written is a mistake on the command
    // line, and the run it was meant to record must not start unrecorded.
    if (parser.isSet(o.log) && !parser.isSet(o.list_members)) {
        vantel::RecorderOptions log_options;
        log_options.existing = parser.isSet(o.log_overwrite)
                                   ? vantel::ExistingFile::Replace
                                   : vantel::ExistingFile::AppendToSameHeader;
        log_options.pass_column = plan.limits.has_value();
        std::string error;
        session.log =
            vantel::Recorder::open(vantel::file_name_of(parser.value(o.log)), log_options, error);
        if (!session.log) {
            vantel::report_to_stderr(error);
            return kExitAnalyserUnavailable;
        }
    }

    session.backend = choice.backend;
    session.window = windowed;
    if (built_in)
        session.analyser = [&built_in] { return built_in->application(); };
    return vantel::run_session(session, instance.get());
}
