// SPDX-License-Identifier: MIT
#pragma once

// A meter on our analyser, with a clock, a wait, message boxes and the program's end
// that the test controls and watches; and the same meter behind a window on the offscreen
// platform, taking real mouse and keyboard events.

#include <QCoreApplication>
#include <QLabel>
#include <QTest>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "automation/recording.h"
#include "instrument/analyser.h"
#include "meter/meter.h"
#include "panel/layout_table.h"
#include "panel/panel_window.h"
#include "row_name.h"

namespace vantel::testing_support {

using Strings = std::vector<std::string>;

struct World {
    double now_s = 5000.0;
    std::vector<Message> messages;
    std::vector<int> ends;  // exit codes passed to the end of the program
    Strings reports;        // lines for standard error
    std::shared_ptr<AccessLog> log = std::make_shared<AccessLog>();
    Analyser analyser;
    std::function<void(const ObjectRef&)> prepare;  // the program's set-up, when a test has one

    // The analyser has been measuring for a second when the panel comes: it has a reading.
    // It measures "sim", or `device`.
    explicit World(double initialise_after_s, std::optional<source::DeviceModel> device = {})
        : analyser(options(initialise_after_s, std::move(device))) {
        now_s += 1.0;
    }
    AnalyserOptions options(double initialise_after_s, std::optional<source::DeviceModel> device) {
        AnalyserOptions o;
        o.seed = 7;
        o.initialise_after_s = initialise_after_s;
        o.clock = [this] { return now_s; };
        o.device = std::move(device);
        return o;
    }

    Environment environment() {
        Environment env;
        env.obtain_analyser = [this] {
            return ObjectRef(std::make_shared<RecordingObject>(analyser.application(), log));
        };
        env.clock = [this] { return now_s; };
        env.wait_seconds = [this](std::int32_t seconds) {
            now_s += seconds;
            QCoreApplication::processEvents();
        };
        env.show_message = [this](const Message& m) { messages.push_back(m); };
        env.report = [this](const std::string& line) { reports.push_back(line); };
        env.end_program = [this](int code) { ends.push_back(code); };
        env.prepare_analyser = [this](const ObjectRef& app) {
            if (prepare)
                prepare(app);
        };
        return env;
    }

    // Sets a member of the analyser as another client would.
    void set(const char* object, const char* member, Value value) {
        set_member(*analyser.application(), object, member, std::move(value));
    }
    Value get(const char* object, const char* member) {
        return get_member(*analyser.application(), object, member);
    }
    // The writes among the logged accesses, in order.
    Strings writes() const {
        Strings w;
        std::copy_if(log->begin(), log->end(), std::back_inserter(w),
                     [](const std::string& line) { return line.starts_with("set "); });
        return w;
    }
    int count(const std::string& access) const {
        return static_cast<int>(std::count(log->begin(), log->end(), access));
    }
};

// A meter not started yet; the test calls start() after arranging the analyser.
struct Rig {
    World world;
    Meter meter{world.environment()};

    explicit Rig(double initialise_after_s = 0.0, std::optional<source::DeviceModel> device = {})
        : world(initialise_after_s, std::move(device)) {}
    virtual ~Rig() = default;  // a script's meter may be one with a run attached
    // One work tick: four timer ticks, as the meter's timer drives the cycle, 200 ms after the
    // last.
    void work_tick() {
        world.now_s += 0.2;
        for (int i = 0; i < 4; ++i)
            meter.tick();
    }
    // Channel A reads `value` from now on; one cycle runs.
    void cycle_reading(Value value) {
        world.analyser.override_value("CTDetector.CTD_ChA", std::move(value));
        work_tick();
    }
    const MeterReading& shown() const { return meter.reading(); }
};

// A started meter whose first polling cycle has run, with the access log cleared.
struct Polled : Rig {
    explicit Polled(std::optional<source::DeviceModel> device = {}) : Rig(0.0, std::move(device)) {
        meter.start();
        meter.stop_timer();  // the test runs the ticks
        work_tick();
        world.log->clear();
    }
};

// A polled meter behind its window on screen, taking real mouse events at points relative to
// its controls.
struct Shown : Polled {
    PanelWindow window{meter, world.environment()};

    explicit Shown(std::optional<source::DeviceModel> device = {}) : Polled(std::move(device)) {
        window.show_reading(meter.reading());
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
        world.log->clear();
    }
    template <typename W = QWidget>
    W* child(Role role, int index = -1) const {
        return window.findChild<W*>(control_name(role, index));
    }
    void press(const QWidget* control, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mousePress(window.windowHandle(), button, {}, control->mapTo(&window, at));
    }
    void release(const QWidget* control, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseRelease(window.windowHandle(), button, {}, control->mapTo(&window, at));
    }
    void click(Role role, int index = -1) {
        press(child(role, index), {8, 8});
        release(child(role, index), {8, 8});
    }
};

}  // namespace vantel::testing_support
