// SPDX-License-Identifier: MIT
// How quickly a key answers the mouse: from the press to the pressed picture on the screen
// (event dispatch and repaint), and from the release to the write into the analyser.
#include <benchmark/benchmark.h>

#include <QTest>

#include "app/environment.h"
#include "automation/recording.h"
#include "instrument/analyser.h"
#include "meter/meter.h"
#include "panel/panel_window.h"
#include "panel/picture_box.h"

namespace vantel {
namespace {

struct ShownPanel {
    Analyser analyser;
    std::shared_ptr<AccessLog> log = std::make_shared<AccessLog>();
    std::unique_ptr<Meter> meter;
    std::unique_ptr<PanelWindow> form;
    bool exposed = false;

    ShownPanel() {
        Environment env = standard_environment([this] {
            return ObjectRef(std::make_shared<RecordingObject>(analyser.application(), log));
        });
        env.show_message = [](const Message&) {};
        env.end_program = [](int) {};
        meter = std::make_unique<Meter>(env);
        form = std::make_unique<PanelWindow>(*meter, env);
        meter->start();
        meter->stop_timer();
        form->show();
        exposed = QTest::qWaitForWindowExposed(form.get());
    }
};

void BM_PressToPressedPicture(benchmark::State& state) {
    ShownPanel p;
    if (!p.exposed)
        state.SkipWithError("the window was not shown");
    auto* key = p.form->findChild<PictureBox*>(control_name(Role::UnitsKey));
    const QPoint at = key->geometry().center();
    for (auto _ : state) {
        QTest::mousePress(p.form->windowHandle(), Qt::LeftButton, {}, at);
        p.form->repaint(key->geometry());  // the pressed picture is on the screen
        state.PauseTiming();
        if (key->isPictureVisible())
            state.SkipWithError("the press did not reach the key");
        QTest::mouseRelease(p.form->windowHandle(), Qt::LeftButton, {}, at);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_PressToPressedPicture)->Unit(benchmark::kMicrosecond);

void BM_ReleaseToAnalyserWrite(benchmark::State& state) {
    ShownPanel p;
    if (!p.exposed)
        state.SkipWithError("the window was not shown");
    auto* key = p.form->findChild<PictureBox*>(control_name(Role::ResponseKey));
    const QPoint at = key->geometry().center();
    for (auto _ : state) {
        state.PauseTiming();
        QTest::mousePress(p.form->windowHandle(), Qt::LeftButton, {}, at);
        p.log->clear();
        state.ResumeTiming();
        QTest::mouseRelease(p.form->windowHandle(), Qt::LeftButton, {}, at);
        state.PauseTiming();
        if (p.log->empty() || !p.log->back().starts_with("set CTDetector.CTD_Response"))
            state.SkipWithError("the release did not write the response");
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ReleaseToAnalyserWrite)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vantel
