// SPDX-License-Identifier: MIT
#pragma once

// A panel on the simulated analyser, with a clock, a wait, message boxes and the program's end
// that the test controls and watches.

#include <QCoreApplication>
#include <QLabel>
#include <QTest>

#include <memory>
#include <string>
#include <vector>

#include "analyser/recording.h"
#include "app/environment.h"
#include "panel/form1.h"
#include "row_name.h"
#include "simulator/simulator.h"

namespace vantel::testing_support {

struct World {
    double now_s = 5000.0;
    int waits = 0;
    std::vector<Message> messages;
    std::vector<int> ends;             // exit codes passed to the end of the program
    std::vector<std::string> reports;  // lines for standard error
    std::shared_ptr<AccessLog> log = std::make_shared<AccessLog>();
    Simulator sim;

    // The analyser has been measuring for a second when the panel comes: it has a reading.
    explicit World(double initialise_after_s = 0.0) : sim(options(initialise_after_s)) {
        now_s += 1.0;
    }

    SimulatorOptions options(double initialise_after_s) {
        SimulatorOptions o;
        o.seed = 7;
        o.initialise_after_s = initialise_after_s;
        o.clock = [this] { return now_s; };
        return o;
    }

    FormEnvironment environment() {
        FormEnvironment env;
        env.obtain_analyser = [this] {
            return ObjectRef(std::make_shared<RecordingObject>(sim.application(), log));
        };
        env.clock = [this] { return now_s; };
        env.wait_seconds = [this](std::int32_t seconds) {
            ++waits;
            now_s += seconds;
            QCoreApplication::processEvents();
        };
        env.show_message = [this](const Message& m) { messages.push_back(m); };
        env.report = [this](const std::string& line) { reports.push_back(line); };
        env.end_program = [this](int code) { ends.push_back(code); };
        return env;
    }

    // Sets a member of the analyser as another client would.
    void set(const char* object, const char* member, Value value) {
        set_member(*sim.application(), object, member, std::move(value));
    }
    Value get(const char* object, const char* member) {
        return get_member(*sim.application(), object, member);
    }
    // The writes among the logged accesses, in order.
    std::vector<std::string> writes() const {
        std::vector<std::string> w;
        for (const std::string& line : *log)
            if (line.starts_with("set "))
                w.push_back(line);
        return w;
    }
};

// A started panel: Form_Load has run, so the next timer-driven cycle is the first to poll.
struct Panel {
    World world;
    std::unique_ptr<Form1> form;

    explicit Panel(double initialise_after_s = 0.0) : world(initialise_after_s) {
        form = std::make_unique<Form1>(world.environment());
    }
    void start() { form->Form_Load(); }
    // One work tick: four timer ticks, the way Timer1 drives the cycle, 200 ms after the last.
    void work_tick() {
        world.now_s += 0.2;
        for (int i = 0; i < 4; ++i)
            form->Timer1_Timer();
    }
    QString text(const char* label) const {
        return form->findChild<QLabel*>(QLatin1String(label))->text();
    }
};

// A started panel whose first polling cycle has run, with the access log cleared.
struct Polled : Panel {
    Polled() {
        start();
        work_tick();
        world.log->clear();
    }
};

// A polled panel on screen, taking real mouse events at points relative to its controls.
struct Shown : Polled {
    Shown() {
        form->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        world.log->clear();
    }
    template <typename W = QWidget>
    W* child(const char* name) const {
        return form->findChild<W*>(QLatin1String(name));
    }
    void press(const QWidget* control, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mousePress(form->windowHandle(), button, {}, control->mapTo(form.get(), at));
    }
    void release(const QWidget* control, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseRelease(form->windowHandle(), button, {}, control->mapTo(form.get(), at));
    }
    void click(const QWidget* control, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
        press(control, at, button);
        release(control, at, button);
    }
};

}  // namespace vantel::testing_support
