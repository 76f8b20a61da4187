// SPDX-License-Identifier: MIT
// The window as a user meets it: its pixels, grabbed offscreen and compared with the artwork and
// the layout table at 100 %, 150 % and 200 %, real mouse and keyboard events, its context menu,
// and the zoom kept between runs.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QFontInfo>
#include <QImage>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <functional>
#include <map>

#include "automation/conversions.h"
#include "csv_table.h"
#include "meter_fixture.h"
#include "panel/panel_settings.h"
#include "panel/picture_box.h"
#include "recorder/recorder.h"

namespace vantel {
namespace {

using namespace testing_support;
using testing_support::PrintTo;

QImage shot(QWidget& w, QRect r = {}) {
    const QImage all = w.grab().toImage().convertToFormat(QImage::Format_RGB32);
    return r.isNull() ? all : all.copy(r);
}

// The part of a picture that a 41 x 25 key box shows, as the window draws it over the panel.
QImage key_picture(Picture picture) {
    QImage canvas(41, 25, QImage::Format_RGB32);
    canvas.fill(Qt::magenta);
    QPainter(&canvas).drawPixmap(0, 0, panel_pixmap(picture, 1.0));
    return canvas;
}

// Every tooltip, word for word, spaces and quotation marks included; a control not listed has
// none. Kept in tooltips.csv rather than read from the layout table, so a slip there shows.
TEST(Rendering, EveryControlHasItsOwnTooltip) {
    std::map<std::string, std::string> tooltips;
    for (const CsvRow& row : csv_beside("tooltips.csv"))
        tooltips[row.name] = row["tooltip"];
    Shown p;
    std::size_t with_tooltip = 0;
    for (const ControlSpec& spec : panel_controls()) {
        if (spec.kind != ControlKind::PictureBox && spec.kind != ControlKind::Label)
            continue;
        const QString name = control_name(spec);
        const QWidget* control = p.window.findChild<QWidget*>(name);
        ASSERT_NE(control, nullptr) << name.toStdString();
        const auto expected = tooltips.find(std::string(spec.name));
        EXPECT_EQ(control->toolTip().toStdString(),
                  expected == tooltips.end() ? "" : expected->second)
            << name.toStdString();
        with_tooltip += expected != tooltips.end();
    }
    EXPECT_EQ(with_tooltip, tooltips.size());
}

TEST(Rendering, LabelsShowThePublishedReading) {
    Shown p;
    p.world.analyser.override_value("SignalAnalyzer.SA_Status", Value(2));  // overload
    p.cycle_reading(Value(0.0123));
    const MeterReading& s = p.shown();
    // clang-format off
    for (auto [role, text] : {std::pair{Role::MainReading, &s.main_reading},
             {Role::Unit, &s.unit_word}, {Role::Minimum, &s.minimum},
             {Role::MinimumUnit, &s.minimum_unit}, {Role::Maximum, &s.maximum},
             {Role::MaximumUnit, &s.maximum_unit}, {Role::Response, &s.response_word},
             {Role::Weighting, &s.weighting_word}, {Role::Relativity, &s.relativity_word},
             {Role::Function, &s.function_name}, {Role::Input, &s.input}, {Role::Lock, &s.lock},
             {Role::Domain, &s.domain}, {Role::Channel, &s.channel},
             {Role::Annunciator, &s.annunciator}})
        // clang-format on
        EXPECT_EQ(p.child<QLabel>(role)->text().toStdString(), *text)
            << control_name(role).toStdString();
    EXPECT_EQ(s.annunciator, "OVLD");
    EXPECT_EQ(p.window.reading_text(), "12.30 mV");
    EXPECT_TRUE(p.child(Role::HoldMark)->isHidden());
}

TEST(Rendering, KeysAndTheLitLampShowTheirPicturesAndAPressedKeyActs) {
    Shown p;
    for (Role key : {Role::UnitsKey, Role::WeightingKey}) {
        p.press(p.child(key), {20, 12});
        p.release(p.child(key), {20, 12});
    }
    EXPECT_EQ(p.world.writes(),
              (Strings{"set CTDetector.CTD_Unit = 21", "set CTDetector.CTD_WeightingFilter = 1"}));
    EXPECT_EQ(shot(p.window, QRect(32, 240, 41, 25)), key_picture(Picture::KeyBlue));
    EXPECT_EQ(shot(p.window, QRect(184, 240, 41, 25)), key_picture(Picture::KeyOrange));
    // Only the lit lamp shows its picture; the analyser starts in Amplitude.
    const QImage all = shot(p.window);
    const QImage lit = key_picture(Picture::Lamp).copy(0, 0, 17, 17);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(all.copy(p.child(Role::Lamp, i)->geometry()) == lit, i == 0) << "lamp " << i;
}

TEST(Rendering, DisplayIsBlackWithCyanTextInTheDisplayFaceShrunkToFitRatherThanCut) {
    Shown p;
    auto* reading = p.child<QLabel>(Role::MainReading);
    EXPECT_EQ(QFontInfo(reading->font()).family(), "Vantel Segment");
    EXPECT_EQ(shot(p.window).pixelColor(42, 190), QColor(Qt::black));  // under the labels
    reading->setText(QStringLiteral("FFFFFFFF"));
    const QImage all = shot(p.window);
    // A cut text would run into the label's left edge; a fitted one starts just inside it.
    int leftmost = 1000;
    bool cyan = false;
    for (int y = 88; y < 129; ++y)
        for (int x = 40; x < 185; ++x) {
            cyan = cyan || all.pixelColor(x, y) == QColor(0, 192, 192);
            if (all.pixelColor(x, y).green() > 100)
                leftmost = std::min(leftmost, x);
        }
    EXPECT_TRUE(cyan) << "the main reading draws in cyan";
    EXPECT_GT(leftmost, 40);
    EXPECT_LT(leftmost, 60);
}

class MouseRelease : public testing::TestWithParam<CsvRow> {};

// The mouse stays with a key, a legend or the knob from press to release; only a release strictly
// inside acts. Any button works a key, the left one a legend; the knob steps left for the left
// button and right for the right.
TEST_P(MouseRelease, ActsOnlyStrictlyInside) {
    const CsvRow& c = GetParam();
    const std::map<std::string, Role> controls{
        {"UnitsKey", Role::UnitsKey}, {"Knob", Role::Knob}, {"NoiseLegend", Role::NoiseLegend}};
    const std::map<std::string, Qt::MouseButton> buttons{
        {"left", Qt::LeftButton}, {"right", Qt::RightButton}, {"middle", Qt::MiddleButton}};
    const Role role = controls.at(c["control"]);
    const Qt::MouseButton button = buttons.at(c["button"]);
    Shown p;
    p.window.choose_zoom(static_cast<int>(c.integer("zoom_percent")));
    auto* control = p.child(role);
    p.press(control, role == Role::Knob ? QPoint(40, 50) : QPoint(8, 8), button);
    p.release(
        control,
        QPoint(static_cast<int>(c.integer("release_x")), static_cast<int>(c.integer("release_y"))),
        button);
    if (auto* key = qobject_cast<PictureBox*>(control)) {
        EXPECT_TRUE(key->isPictureVisible());
    }
    EXPECT_EQ(p.world.writes(), c["written"].empty() ? Strings{} : Strings{c["written"]});
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << "no menu opens";
}

INSTANTIATE_TEST_SUITE_P(Cases, MouseRelease, testing::ValuesIn(csv_beside("mouse_releases.csv")),
                         RowName());

TEST(Keyboard, ShortcutPressesAKeyAndActsOnReleaseAndCtrlCCopiesTheReading) {
    Shown p;
    auto* units = p.child<PictureBox>(Role::UnitsKey);
    QTest::keyPress(&p.window, Qt::Key_U);
    EXPECT_FALSE(units->isPictureVisible());
    EXPECT_TRUE(p.world.writes().empty());
    QTest::keyRelease(&p.window, Qt::Key_U);
    EXPECT_TRUE(units->isPictureVisible());
    EXPECT_EQ(p.world.writes(), Strings{"set CTDetector.CTD_Unit = 21"});

    QTest::keyClick(&p.window, Qt::Key_Right);
    QTest::keyClick(&p.window, Qt::Key_5);
    EXPECT_EQ(p.world.get("CTDetector", "CTD_Function"), Value("THD+N - relative"));

    QGuiApplication::clipboard()->clear();
    QTest::keyClick(&p.window, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), p.window.reading_text());
    EXPECT_EQ(p.world.writes().size(), 3u) << "Ctrl+C is no key of the meter";
}

TEST(Legends, WriteTheirFunctionTheLampCoversTheKnobAndOffCloses) {
    Shown p;
    p.click(Role::NoiseLegend);
    EXPECT_EQ(p.world.get("CTDetector", "CTD_Function"), Value("Noise (A-weighted)"));
    p.world.analyser.fail_member("CTDetector.CTD_Function");
    p.click(Role::BalanceLegend);
    EXPECT_TRUE(p.world.messages.empty()) << "a refused function is ignored";

    p.world.log->clear();
    p.click(Role::Lamp, 0);
    EXPECT_TRUE(p.world.writes().empty()) << "the lamp in front of the knob takes the press";

    p.click(Role::OffLegend);  // closes the window as its close box does
    EXPECT_TRUE(p.meter.ended());
    EXPECT_FALSE(p.window.isVisible());
    EXPECT_EQ(p.world.ends, std::vector<int>{0});
    EXPECT_EQ(p.world.writes(), Strings{"set Options.OPT_UseSettlingsFromScripts = True"});
}

TEST(Closing, AMeterEndedByTheAnalyserClosesTheWindow) {
    Shown p;
    p.world.analyser.set_gone_away(true);
    p.work_tick();
    EXPECT_FALSE(p.window.isVisible());
    EXPECT_EQ(p.world.ends, std::vector<int>{3});
}

// Right-clicks the window at `at`, as the user does, with the click's local point.
void right_click(Shown& p, QPoint at) {
    QWidget* under = p.window.childAt(at) ? p.window.childAt(at) : &p.window;
    QContextMenuEvent event(QContextMenuEvent::Mouse, under->mapFrom(&p.window, at),
                            p.window.mapToGlobal(at));
    QApplication::sendEvent(under, &event);
}

// The entries of the context menu that a right click at `at` opens; empty when none opens.
Strings menu_at(Shown& p, QPoint at) {
    Strings entries;
    QTimer::singleShot(50, &p.window, [&entries, &p] {
        for (QMenu* menu : p.window.findChildren<QMenu*>()) {
            for (QAction* a : menu->actions())
                entries.push_back(a->text().toStdString());
            menu->close();
        }
    });
    right_click(p, at);
    QTest::qWait(100);
    return entries;
}

// Chooses `entry` from the display's context menu (or its View submenu), and plays the user in
// each window it opens with `answer` (until `done`, if the windows open later).
void choose(Shown& p, const QString& entry, std::function<void(QWidget*)> answer = {},
            const std::function<bool()>& done = {}) {
    QTimer answering;
    QPointer<QWidget> answered;
    QObject::connect(&answering, &QTimer::timeout, &p.window, [&answer, &answered] {
        // Each window once, from the event loop, so that a window its answer opens finds the
        // timer free.
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && answer && modal != answered) {
            answered = modal;
            QTimer::singleShot(0, modal, [&answer, modal] { answer(modal); });
        }
    });
    answering.start(50);
    QTimer::singleShot(50, &p.window, [&p, entry] {
        QAction* chosen = nullptr;
        for (QMenu* menu : p.window.findChildren<QMenu*>()) {
            for (QAction* a : menu->actions())
                chosen = a->text() == entry ? a : chosen;
            menu->close();
        }
        ASSERT_NE(chosen, nullptr) << entry.toStdString();
        chosen->trigger();
    });
    right_click(p, {100, 110});
    if (done) {
        EXPECT_TRUE(QTest::qWaitFor(done, 5000)) << entry.toStdString();
    }
}

// A log that fails to write stops, says so once (and in the title), and the panel goes on.
TEST(ContextMenu, OpensOnTheDisplayOnlyAndOffersStopWhileLogging) {
    Shown p;
    // The View submenu's entries come after the menu's own.
    EXPECT_EQ(menu_at(p, {100, 110}),
              (Strings{"Copy reading", "Start log\u2026", "Trend\u2026", "View", "Calibrate\u2026",
                       "100 %", "150 %", "200 %"}));
    EXPECT_TRUE(menu_at(p, {130, 330}).empty()) << "the knob";
    EXPECT_TRUE(menu_at(p, {10, 10}).empty()) << "the case";
    std::string error;
    p.window.start_log(Recorder::open("/dev/full", {}, error));
    ASSERT_TRUE(p.window.logging()) << error;
    EXPECT_EQ(menu_at(p, {60, 180}).at(1), "Stop log (full)");
    EXPECT_EQ(p.window.windowTitle(),
              QStringLiteral("Vantel DMM \u2014 simulated \u2014 logging to full"));
    // The log's own thread finds the disk full; the window learns it at a following tick.
    int reading = 0;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            p.cycle_reading(Value(1.0 + reading++));
            QCoreApplication::processEvents();
            return !p.window.logging();
        },
        5000));
    ASSERT_EQ(p.world.reports.size(), 1u);
    EXPECT_NE(p.world.reports[0].find("/dev/full"), std::string::npos) << p.world.reports[0];
    EXPECT_TRUE(p.window.windowTitle().contains(QStringLiteral("could not be written")));
    EXPECT_FALSE(p.window.windowTitle().contains(QStringLiteral("logging to"))) << "it stopped";
    p.cycle_reading(Value(3.0));
    EXPECT_EQ(p.shown().main_reading, "3.000");
    EXPECT_FALSE(p.meter.ended());
}

// "Start log…" onto a FIFO that nobody reads yet: the window goes on ticking while the log waits
// for its reader, who then gets the header and the rows. (Opening a FIFO for writing waits for a
// reader; from the window's thread that froze it.)
TEST(ContextMenu, StartLogOntoAFifoLeavesTheWindowRunning) {
    Shown p;
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("rows"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // Plays the user: the file's name, and yes, replace it.
    choose(
        p, QStringLiteral("Start log\u2026"),
        [&fifo](QWidget* modal) {
            if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                if (QWidget* typing = dialog->focusWidget())
                    typing->clearFocus();  // a name typed into has the focus: not replaced
                dialog->selectFile(fifo);
                static_cast<QDialog*>(dialog)->accept();  // as its Save button does
            } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                box->button(QMessageBox::Yes)->click();
            }
        },
        [&p] { return p.window.logging(); });
    ASSERT_TRUE(p.window.logging());
    for (int i = 0; i < 3; ++i)
        p.cycle_reading(Value(1.0 + i));
    EXPECT_EQ(p.shown().main_reading, "3.000");

    EXPECT_EQ(p.window.windowTitle().toStdString(),
              "Vantel DMM \u2014 simulated \u2014 logging to rows");

    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    p.window.stop_log();  // once the log's thread has written all it was given
    EXPECT_EQ(p.window.windowTitle(), QStringLiteral("Vantel DMM \u2014 simulated"));
    char buffer[4096];
    const QByteArray got(buffer,
                         static_cast<int>(std::max<ssize_t>(0, ::read(reader, buffer, 4096))));
    ::close(reader);
    EXPECT_TRUE(got.startsWith(QByteArray::fromStdString(csv_header()))) << got.toStdString();
    EXPECT_EQ(got.count('\n'), 4) << got.toStdString();
    EXPECT_TRUE(p.world.reports.empty());
}

// "Calibrate…" asks for the true volts on the selected channel and sets that channel's full
// scale: the generator's 0.5 V looped back reads 1 V after a calibration with 1 V, and minimum and
// maximum start again.
TEST(ContextMenu, CalibrateAsksForTheTrueLevel) {
    Shown p(source::analyser_loopback());  // unity gain: the reading is the generator's level
    p.world.set("Generator", "GEN_Level", Value(0.5));
    p.work_tick();
    QString asked;
    choose(p, QStringLiteral("Calibrate\u2026"), [&asked](QWidget* modal) {
        auto* dialog = qobject_cast<QInputDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        asked = dialog->labelText();
        dialog->setDoubleValue(1.0);
        dialog->accept();
    });
    EXPECT_TRUE(asked.contains(QStringLiteral("channel A"))) << asked.toStdString();
    p.work_tick();
    const MeterReading& s = p.shown();
    ASSERT_TRUE(s.raw_reading);
    EXPECT_NEAR(*s.raw_reading, 1.0, 2e-4);  // the loopback's own noise moves it a touch
    EXPECT_EQ(s.minimum + " " + s.maximum, s.main_reading + " " + s.main_reading);
    EXPECT_NEAR(to_double(p.world.get("AnalogueInputs", "AI_FullScaleA")), 20.0, 0.01);
    EXPECT_EQ(to_double(p.world.get("AnalogueInputs", "AI_FullScaleB")), 10.0);
    EXPECT_TRUE(p.world.messages.empty());
}

// Every control stands where the table puts it, times the zoom, to the nearest pixel, also
// on the way back down.
TEST(Zoom, ScalesTheWindowAndEveryControl) {
    Shown p;
    for (auto [percent, window] :
         {std::pair{150, QSize(407, 807)}, {200, QSize(542, 1076)}, {100, QSize(271, 538)}}) {
        SCOPED_TRACE(percent);
        p.window.choose_zoom(percent);
        EXPECT_EQ(p.window.size(), window);
        EXPECT_EQ(p.window.zoom_percent(), percent);
        for (const ControlSpec& spec : panel_controls()) {
            if (spec.kind != ControlKind::PictureBox && spec.kind != ControlKind::Label)
                continue;
            const QWidget* control = p.window.findChild<QWidget*>(control_name(spec));
            const QRect at = QRect(control->mapTo(&p.window, QPoint(0, 0)), control->size());
            const QRect wanted =
                spec.rect.translated(spec.parent == "Picture6" ? QPoint(80, 200) : QPoint());
            for (auto [got, want] : {std::pair{at.left(), wanted.left()},
                                     {at.top(), wanted.top()},
                                     {at.right() + 1, wanted.right() + 1},
                                     {at.bottom() + 1, wanted.bottom() + 1}})
                EXPECT_NEAR(got, want * percent / 100.0, 0.51) << control_name(spec).toStdString();
        }
    }
}

// The menu's View sets the zoom and keeps it in panel.conf beside the analyser's settings; the
// next window opens at it. A file that holds anything else gives 100 %, and says so.
TEST(Zoom, TheChoiceIsKeptAndAFileNotOursGives100) {
    Shown p;
    choose(p, QStringLiteral("150 %"));
    EXPECT_EQ(p.window.size(), QSize(407, 807));
    // Where the file goes and what it holds: the program's ZoomFromTheCommandLineIsKept.
    QFile file(panel_settings_path());
    {
        PanelWindow again(p.meter, p.world.environment());
        EXPECT_EQ(again.zoom_percent(), 150);
        EXPECT_EQ(again.size(), QSize(407, 807));
    }
    for (const QByteArray& text : {QByteArray("zoom_percent=175\n"), QByteArray("zoom=2\n"),
                                   QByteArray("\xff\xfe garbage")}) {
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        file.close();
        p.world.reports.clear();
        PanelWindow again(p.meter, p.world.environment());
        EXPECT_EQ(again.zoom_percent(), 100) << text.toStdString();
        ASSERT_EQ(p.world.reports.size(), 1u);
        EXPECT_NE(p.world.reports[0].find("panel.conf"), std::string::npos) << p.world.reports[0];
    }
    ASSERT_TRUE(file.remove());
    p.world.reports.clear();
    PanelWindow fresh(p.meter, p.world.environment());
    EXPECT_EQ(fresh.zoom_percent(), 100);
    EXPECT_TRUE(p.world.reports.empty()) << "no file is no fault";
}

}  // namespace
}  // namespace vantel
