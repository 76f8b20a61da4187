// SPDX-License-Identifier: MIT
#include "app/session.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstring>
#include <memory>

#include "app/backends.h"
#include "app/environment.h"
#include "app/single_instance.h"
#include "app/termination.h"
#include "meter/meter.h"
#include "panel/panel_window.h"
#include "recorder/recorder.h"

namespace vantel {

namespace {

Q_LOGGING_CATEGORY(lcSession, "vantel.panel", QtInfoMsg)

}  // namespace

bool wants_no_window(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--no-window") == 0)
            return true;
    return false;
}

int run_session(const SessionOptions& options, PanelInstance* instance) {
    // Before anything touches the analyser: a log that cannot be written is a mistake on the
    // command line, and the run it was meant to record must not start unrecorded.
    std::unique_ptr<Recorder> log;
    if (!options.log_path.empty()) {
        std::string error;
        log = Recorder::open(options.log_path, error);
        if (!log) {
            report_to_stderr(error);
            return kExitAnalyserUnavailable;
        }
    }

    const std::string backend = options.backend;
    Environment env = standard_environment(
        options.analyser ? options.analyser : std::function<ObjectRef()>([backend] {
            return obtain_application(backend);
        }));
    Meter meter(env);
    std::unique_ptr<PanelWindow> window;
    if (options.window) {
        window = std::make_unique<PanelWindow>(meter, env);
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
            window->start_log(std::move(log));
    } else {
        on_termination_signals(&meter, [&meter] { meter.close(); });
        if (log) {
            QObject::connect(&meter, &Meter::published, log.get(), &Recorder::record);
            QObject::connect(log.get(), &Recorder::failed, log.get(),
                             [](const QString& why) { report_to_stderr(why.toStdString()); });
        }
    }

    if (options.readings > 0) {
        // The rows the log writes: the work ticks' readings.
        QObject::connect(&meter, &Meter::published, &meter,
                         [&meter, left = options.readings](const MeterReading& r) mutable {
                             if ((r.occasion == MeterReading::Occasion::Cycle ||
                                  r.occasion == MeterReading::Occasion::HeldTick) &&
                                 --left == 0)
                                 meter.close();
                         });
    }

    try {
        meter.start();
    } catch (const AutomationError& e) {
        // The analyser could not be reached at all: say so and stop, changing nothing.
        env.report(e.what());
        // On a screen the user also gets a box.
        if (display_is_visible())
            env.show_message({Message::Icon::Critical, "Vantel DMM",
                              std::string("Cannot attach to the analyser.\n\n") + e.what()});
        return kExitAnalyserUnavailable;
    }
    if (meter.ended())
        return meter.exit_code();
    if (window)
        window->show();
    return QCoreApplication::exec();
}

}  // namespace vantel
