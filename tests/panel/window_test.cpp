// SPDX-License-Identifier: MIT
// The window as a user meets it: its pixels, grabbed offscreen and compared with the artwork and
// the layout table, and real mouse and keyboard events.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFontInfo>
#include <QImage>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <map>

#include "meter_fixture.h"
#include "panel/picture_box.h"
#include "recorder/recorder.h"

namespace vantel {
namespace {

using testing_support::PrintTo;
using testing_support::Shown;
using testing_support::Strings;

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
// none. Written out here rather than read from the layout table, so a slip there shows.
const std::map<std::string, std::string> kTooltips = {
    {"Hold_button", "Holds the current readings by stopping the display updating"},
    {"Relativity_button", "Cycles through measurement relativity settings"},
    {"InputSel_button", "Cycles through available Inputs"},
    {"AnaDig_button", "Toggles between Analogue and Digital inputs"},
    {"Channel_button", "Toggles between reading Channel A and Channel B"},
    {"Units2_Button", "Cycles through available measurement units"},
    {"Resp_button", "Cycles through response types"},
    {"Reset_button", "Resets the Minimum and Maximum readings"},
    {"Weight_button", "Cycles through weighting curves"},
    {"Hold_icon", "Hold indicator"},
    {"Rel_Label", "Relativity of current reading"},
    {"Label4", "Minimum reading since last reset"},
    {"Label6", "Maximum reading since last reset"},
    {"Label3", "Minimum reading units"},
    {"Label7", "Maximum reading units"},
    {"Label17", "Not Selectable:  Indicates externally selected mode"},
    {"Selection_Info5", "Selected Input Domain"},
    {"Function_Knob", "Left click to go left, right click to go right"},
    {"Channel_Indicator", "Selected  Input Channel"},
    {"Channel_Label", "Selected Input Channel"},
    {"Other_Label", "Not Selectable:  Indicates externally selected mode"},
    {"THDN_function_button", "Selects \"THD + N\" measurement Function"},
    {"Noise_Function_button", "Selects \"Noise\" measurement Function"},
    {"Crosstalk_Function_Button", "Selects \"Cross-talk\" measurement Function"},
    {"Balance_Function_button", "Selects \"Balance\" measurement Function"},
    {"OFF_button", "Exits the program"},
    {"Selection_Info4", "Digital Input Status"},
    {"Selection_Info2", "Selected Input"},
    {"Selection_Info1", "Selected measurement function"},
    {"Level_Function_button", "Selects \"Amplitude\" measurement function"},
    {"Reset", "Resets the Maximum and Minimum readings"},
    {"Label5", "Weighting filter of current reading"},
    {"Label10", "Response of current reading"},
    {"Label9", "Units of current reading"},
    {"Label1", "Main reading"},
    {"Status_Annunciator", "What makes the reading untrustworthy"},
};

// Where each control stands, at every zoom: zoom_test.cpp.
TEST(Rendering, EveryControlHasItsOwnTooltip) {
    Shown p;
    std::size_t with_tooltip = 0;
    for (const ControlSpec& spec : panel_controls()) {
        if (spec.kind != ControlKind::PictureBox && spec.kind != ControlKind::Label)
            continue;
        const QString name = control_name(spec);
        const QWidget* control = p.window.findChild<QWidget*>(name);
        ASSERT_NE(control, nullptr) << name.toStdString();
        const auto expected = kTooltips.find(std::string(spec.name));
        EXPECT_EQ(control->toolTip().toStdString(),
                  expected == kTooltips.end() ? "" : expected->second)
            << name.toStdString();
        with_tooltip += expected != kTooltips.end();
    }
    EXPECT_EQ(with_tooltip, kTooltips.size());
}

TEST(Rendering, LabelsShowThePublishedReading) {
    Shown p;
    p.cycle_reading(Value(0.0123));
    const MeterReading& s = p.shown();
    // clang-format off
    for (auto [role, text] : {std::pair{Role::MainReading, &s.main_reading},
             {Role::Unit, &s.unit_word}, {Role::Minimum, &s.minimum},
             {Role::MinimumUnit, &s.minimum_unit}, {Role::Maximum, &s.maximum},
             {Role::MaximumUnit, &s.maximum_unit}, {Role::Response, &s.response_word},
             {Role::Weighting, &s.weighting_word}, {Role::Relativity, &s.relativity_word},
             {Role::Function, &s.function_name}, {Role::Input, &s.input}, {Role::Lock, &s.lock},
             {Role::Domain, &s.domain}, {Role::Channel, &s.channel}})
        // clang-format on
        EXPECT_EQ(p.child<QLabel>(role)->text().toStdString(), *text)
            << control_name(role).toStdString();
    EXPECT_EQ(p.window.reading_text(), "12.30 mV");
    EXPECT_TRUE(p.child(Role::HoldMark)->isHidden());
}

// (A pressed key's picture, in place at every zoom: zoom_test.cpp.)
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

struct ReleaseCase {
    const char* name;
    Role control;
    Qt::MouseButton button;
    QPoint release;       // relative to the control's top-left corner
    const char* written;  // nullptr: nothing
    int zoom_percent = 100;
};

class MouseRelease : public testing::TestWithParam<ReleaseCase> {};

// The mouse stays with a key or the knob from press to release; only a release strictly inside
// acts. Any button works a key; the knob steps left for the left button and right for the right.
TEST_P(MouseRelease, ActsOnlyStrictlyInside) {
    const ReleaseCase& c = GetParam();
    Shown p;
    p.window.choose_zoom(c.zoom_percent);
    auto* control = p.child(c.control);
    p.press(control, c.control == Role::Knob ? QPoint(40, 50) : QPoint(20, 12), c.button);
    p.release(control, c.release, c.button);
    if (auto* key = qobject_cast<PictureBox*>(control)) {
        EXPECT_TRUE(key->isPictureVisible());
    }
    EXPECT_EQ(p.world.writes(), c.written ? Strings{c.written} : Strings{});
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << "no menu opens";
}

constexpr char kUnit[] = "set CTDetector.CTD_Unit = 21";
// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, MouseRelease, testing::ValuesIn(std::vector<ReleaseCase>{
    {"KeyInside", Role::UnitsKey, Qt::LeftButton, {1, 1}, kUnit},
    {"KeyRightButton", Role::UnitsKey, Qt::RightButton, {20, 12}, kUnit},
    {"KeyMiddleButton", Role::UnitsKey, Qt::MiddleButton, {39, 23}, kUnit},
    {"KeyLeftEdge", Role::UnitsKey, Qt::LeftButton, {0, 12}, nullptr},
    {"KeyTopEdge", Role::UnitsKey, Qt::LeftButton, {20, 0}, nullptr},
    {"KeyRightEdge", Role::UnitsKey, Qt::LeftButton, {41, 12}, nullptr},
    {"KeyDraggedOff", Role::UnitsKey, Qt::LeftButton, {120, -60}, nullptr},
    {"KnobLeft", Role::Knob, Qt::LeftButton, {40, 50},
     "set CTDetector.CTD_Function = \"THD+N - relative\""},
    {"KnobRight", Role::Knob, Qt::RightButton, {40, 50}, "set CTDetector.CTD_Function = \"Balance\""},
    {"KnobMiddle", Role::Knob, Qt::MiddleButton, {40, 50}, nullptr},
    {"KnobTopEdge", Role::Knob, Qt::LeftButton, {40, 0}, nullptr},
    {"KnobOutside", Role::Knob, Qt::RightButton, {100, 50}, nullptr},
    // At 200 % a key is 82 x 50 and the knob 162 x 130.
    {"KeyInsideAt200", Role::UnitsKey, Qt::LeftButton, {81, 49}, kUnit, 200},
    {"KeyRightEdgeAt200", Role::UnitsKey, Qt::LeftButton, {82, 20}, nullptr, 200},
    {"KeyTopEdgeAt200", Role::UnitsKey, Qt::LeftButton, {40, 0}, nullptr, 200},
    {"KnobRightAt200", Role::Knob, Qt::RightButton, {160, 120},
     "set CTDetector.CTD_Function = \"Balance\"", 200},
    {"KnobOutsideAt200", Role::Knob, Qt::LeftButton, {162, 60}, nullptr, 200},
}), testing_support::RowName());
// clang-format on

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
    QWidget* under = p.window.childAt(at) ? p.window.childAt(at) : &p.window;
    const QPoint local = under->mapFrom(&p.window, at);
    QContextMenuEvent event(QContextMenuEvent::Mouse, local, p.window.mapToGlobal(at));
    QApplication::sendEvent(under, &event);
    QTest::qWait(100);
    return entries;
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
    EXPECT_EQ(menu_at(p, {60, 180}),
              (Strings{"Copy reading", "Stop log (full)", "Trend\u2026", "View", "Calibrate\u2026",
                       "100 %", "150 %", "200 %"}));
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
    // Plays the user: the menu's entry, then the file's name, and yes, replace it. A timer each:
    // one does not fire again inside its own call, where the next window opens.
    QTimer menu_user, dialog_user, box_user;
    QObject::connect(&menu_user, &QTimer::timeout, &p.window, [&] {
        for (QMenu* menu : p.window.findChildren<QMenu*>()) {
            for (QAction* a : menu->actions())
                if (a->text() == QStringLiteral("Start log\u2026"))
                    a->trigger();
            menu->close();
        }
    });
    QObject::connect(&dialog_user, &QTimer::timeout, &p.window, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            dialog->selectFile(fifo);
            static_cast<QDialog*>(dialog)->accept();  // as its Save button does
        }
    });
    QObject::connect(&box_user, &QTimer::timeout, &p.window, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->button(QMessageBox::Yes)->click();
    });
    for (QTimer* t : {&menu_user, &dialog_user, &box_user})
        t->start(50);
    const QPoint on_display(100, 110);
    QContextMenuEvent event(QContextMenuEvent::Mouse, on_display, p.window.mapToGlobal(on_display));
    QApplication::sendEvent(&p.window, &event);
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.window.logging(); }, 5000));
    for (QTimer* t : {&menu_user, &dialog_user, &box_user})
        t->stop();
    for (int i = 0; i < 3; ++i)
        p.cycle_reading(Value(1.0 + i));
    EXPECT_EQ(p.shown().main_reading, "3.000");

    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    QByteArray got;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            char buffer[4096];
            pollfd wait{reader, POLLIN, 0};
            if (::poll(&wait, 1, 10) > 0) {
                const ssize_t n = ::read(reader, buffer, sizeof buffer);
                if (n > 0)
                    got.append(buffer, n);
            }
            return got.count('\n') >= 4;
        },
        5000))
        << got.toStdString();
    EXPECT_TRUE(got.startsWith(QByteArray::fromStdString(csv_header()))) << got.toStdString();
    EXPECT_EQ(p.window.windowTitle(),
              QStringLiteral("Vantel DMM \u2014 simulated \u2014 logging to rows"));
    p.window.stop_log();
    EXPECT_EQ(p.window.windowTitle(), QStringLiteral("Vantel DMM \u2014 simulated"));
    ::close(reader);
    EXPECT_TRUE(p.world.reports.empty());
}

// Pixels of the display's cyan in `image`.
int cyan_pixels(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            n += c.green() > 96 && c.blue() > 96 && c.red() < 64;
        }
    return n;
}

// The annunciator is dark at rest and says what is wrong when the analyser flags the reading;
// the title says what the analyser measures.
TEST(Rendering, AnnunciatorShowsOnlyWhenTheReadingIsFlaggedAndTheTitleNamesTheSource) {
    Shown p;
    EXPECT_EQ(p.window.windowTitle(), QStringLiteral("Vantel DMM \u2014 simulated"));
    const QRect annunciator = p.child(Role::Annunciator)->geometry();
    EXPECT_EQ(cyan_pixels(shot(p.window, annunciator)), 0);
    p.world.set("SignalAnalyzer", "SA_Source", Value(1));
    p.world.set("DigitalInputs", "DI_Source", Value(1));  // BNC: nothing connected
    p.work_tick();
    EXPECT_EQ(p.child<QLabel>(Role::Annunciator)->text(), QStringLiteral("NO INPUT"));
    EXPECT_GT(cyan_pixels(shot(p.window, annunciator)), 20);
    p.world.set("DigitalInputs", "DI_Source", Value(0));
    p.world.set("Generator", "GEN_Level", Value(0.5));
    p.work_tick();
    p.work_tick();
    EXPECT_EQ(p.child<QLabel>(Role::Annunciator)->text().toStdString(), "");
    EXPECT_EQ(cyan_pixels(shot(p.window, annunciator)), 0);
}

// "Calibrate…" asks for the true volts on the selected channel and sets its calibration: the
// generator's 0.5 V looped back reads 1 V after a calibration with 1 V.
TEST(ContextMenu, CalibrateAsksForTheTrueLevel) {
    Shown p(source::analyser_loopback());
    p.world.set("Generator", "GEN_Level", Value(0.5));
    p.work_tick();
    QString asked;
    QTimer::singleShot(50, &p.window, [&p, &asked] {
        for (QMenu* menu : p.window.findChildren<QMenu*>())
            for (QAction* a : menu->actions())
                if (a->text() == QStringLiteral("Calibrate\u2026")) {
                    menu->close();
                    QTimer::singleShot(50, [&asked] {
                        auto* dialog =
                            qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
                        ASSERT_NE(dialog, nullptr);
                        asked = dialog->labelText();
                        dialog->setDoubleValue(1.0);
                        dialog->accept();
                    });
                    a->trigger();
                }
    });
    const QPoint at(100, 110);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, p.window.mapToGlobal(at));
    QApplication::sendEvent(&p.window, &event);
    EXPECT_TRUE(asked.contains(QStringLiteral("channel A"))) << asked.toStdString();
    p.work_tick();
    ASSERT_TRUE(p.shown().raw_reading);
    EXPECT_NEAR(*p.shown().raw_reading, 1.0, 2e-4);
}

}  // namespace
}  // namespace vantel
