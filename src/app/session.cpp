// SPDX-License-Identifier: MIT
#include "app/session.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <algorithm>
#include <memory>

#include "app/backends.h"
#include "app/environment.h"
#include "app/single_instance.h"
#include "app/termination.h"
#include "meter/meter.h"
#include "panel/panel_window.h"

namespace vantel {

namespace {

Q_LOGGING_CATEGORY(lcSession, "vantel.panel", QtInfoMsg)

void report_all(const std::vector<std::string>& lines) {
    for (const std::string& line : lines)
        report_to_stderr(line);
}

}  // namespace

int run_session(SessionOptions& options, PanelInstance* instance) {
    std::unique_ptr<Recorder> log = std::move(options.log);
    if (log)
        report_all(log->notes());
    // The --once line goes out through a writer thread too: a stalled reader of standard output
    // must not keep the program from ending.
    std::unique_ptr<LogWriter> reading_out;
    if (options.print_reading) {
        std::string error;
        reading_out = LogWriter::open({"-", {}, ExistingFile::Replace}, error);
    }

    const std::string backend = options.backend;
    Environment env = standard_environment(
        options.analyser ? options.analyser : std::function<ObjectRef()>([backend] {
            return obtain_application(backend);
        }));
    std::unique_ptr<ScriptedRun> run;
    env.prepare_analyser = [&options, &run](const ObjectRef& analyser) {
        apply_writes(*analyser, options.writes);
        run->attach(analyser);
    };
    Meter meter(env);
    run = std::make_unique<ScriptedRun>(meter, options.plan);
    if (reading_out) {
        QObject::connect(run.get(), &ScriptedRun::logged, run.get(),
                         [&reading_out](const MeterReading& reading) {
                             reading_out->write(shown_reading(reading) + '\n');
                         });
    }

    std::unique_ptr<PanelWindow> window;
    if (options.window) {
        window = std::make_unique<PanelWindow>(meter, env);
        if (options.zoom_percent)
            window->choose_zoom(*options.zoom_percent);
        close_on_termination_signals(window.get());
        if (instance) {
            QObject::connect(
                instance, &PanelInstance::activation_requested, window.get(), [w = window.get()] {
                    if (!w->isVisible())
                        return;  // still starting up: it shows itself soon
                    qCInfo(lcSession) << "brought to the front at another start's request";
                    w->showNormal();
                    w->raise();
                    w->activateWindow();
                });
        }
        if (log)
            window->start_log(std::move(log), run.get());
    } else {
        on_termination_signals(&meter, [&meter] { meter.close(); });
        if (log) {
            QObject::connect(run.get(), &ScriptedRun::logged, log.get(),
                             [&log](const MeterReading& reading, std::optional<bool> passed) {
                                 log->record(reading, passed);
                             });
            QObject::connect(log.get(), &Recorder::failed, log.get(),
                             [&log, &meter](const QString& why) {
                                 // The reader has all it wanted (`| head -1`): the run is done.
                                 if (log->reader_left())
                                     return meter.close();
                                 report_to_stderr(why.toStdString());
                             });
        }
    }

    // The meter's own code, then the writers' last words, then the run's judgement.
    const auto ending = [&](int meter_code) {
        if (window)
            window->stop_log();
        if (log)
            report_all(log->finish());
        if (reading_out)
            report_all(reading_out->finish(std::chrono::seconds(1)));
        return std::max(meter_code, run->exit_code());
    };
    try {
        meter.start();
    } catch (const AutomationError& e) {
        // The analyser could not be reached at all: say so and stop, changing nothing.
        env.report(e.what());
        // On a screen the user also gets a box.
        if (display_is_visible())
            env.show_message({Message::Icon::Critical, "Vantel DMM",
                              std::string("Cannot attach to the analyser.\n\n") + e.what()});
        return ending(kExitAnalyserUnavailable);
    }
    if (meter.ended())
        return ending(meter.exit_code());
    if (window) {
        window->show();
        if (options.open_trend)
            window->open_trend();
    }
    return ending(QCoreApplication::exec());
}

}  // namespace vantel
