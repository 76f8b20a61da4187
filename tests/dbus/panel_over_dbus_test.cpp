// SPDX-License-Identifier: MIT
// The panel (in this process, or vantel-dmm as a child) on vantel-analyser over the bus.
#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QTest>

#include <memory>

#include "analyser/backends.h"
#include "bus_fixture.h"
#include "panel/form1.h"
#include "row_name.h"

namespace vantel {
namespace {

using namespace testing_support;

// A started, shown panel on `--analyser dbus`, its first polling cycle done, its timer stopped
// so that the test runs the cycles.
struct BusPanel {
    std::vector<Message> messages;
    std::vector<int> ends;
    std::unique_ptr<Form1> form;

    BusPanel() {
        FormEnvironment env = FormEnvironment::standard([] { return obtain_application("dbus"); });
        env.show_message = [this](const Message& m) { messages.push_back(m); };
        env.end_program = [this](int code) { ends.push_back(code); };
        form = std::make_unique<Form1>(env);
        form->Form_Load();
        form->Timer1.stop();
        form->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        work_tick();
    }
    void work_tick() {
        for (int i = 0; i < 4; ++i)
            form->Timer1_Timer();
    }
    QString text(const char* label) const {
        return form->findChild<QLabel*>(QLatin1String(label))->text();
    }
    // A press and release in the middle of a control, through the window.
    void click(const char* control) {
        const auto* c = form->findChild<QWidget*>(QLatin1String(control));
        const QPoint at = c->mapTo(form.get(), c->rect().center());
        QTest::mousePress(form->windowHandle(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(form->windowHandle(), Qt::LeftButton, {}, at);
    }
};

using PanelOverDbus = OnPrivateBus;
using ProgramOverDbus = OnPrivateBus;

QString detector_setting(const char* member) {
    return gdbus({QStringLiteral("--object-path"), QStringLiteral("/Vantel/Application/CTDetector"),
                  QStringLiteral("--method"), QStringLiteral("org.freedesktop.DBus.Properties.Get"),
                  QStringLiteral("Vantel.CTDetector"), QString::fromLatin1(member)});
}

TEST_F(PanelOverDbus, FollowsAnotherClientAndWritesItsKeysIntoTheAnalyser) {
    AnalyserProcess analyser;
    BusPanel p;
    EXPECT_EQ(p.form->Current_Unit, 20);

    gdbus({QStringLiteral("--object-path"), QStringLiteral("/Vantel/Application/CTDetector"),
           QStringLiteral("--method"), QStringLiteral("org.freedesktop.DBus.Properties.Set"),
           QStringLiteral("Vantel.CTDetector"), QStringLiteral("CTD_Unit"),
           QStringLiteral("<int16 23>")});
    p.work_tick();
    EXPECT_EQ(p.form->Current_Unit, 23);
    EXPECT_EQ(p.text("Label9"), QStringLiteral("dBu"));

    p.click("Units2_Button");  // dBu steps to dBV
    EXPECT_EQ(detector_setting("CTD_Unit"), QStringLiteral("(<int16 66>,)"));
    p.work_tick();
    EXPECT_EQ(p.text("Label9"), QStringLiteral("dBV"));
    EXPECT_FALSE(p.form->ended());
}

TEST_F(PanelOverDbus, KilledAnalyserEndsThePanelAtTheNextCycleWithoutAMessage) {
    AnalyserProcess analyser;
    BusPanel p;
    analyser.kill();
    EXPECT_FALSE(p.form->ended());
    p.work_tick();
    EXPECT_TRUE(p.form->ended());
    EXPECT_EQ(p.ends, std::vector<int>{0});
    EXPECT_TRUE(p.messages.empty());
}

TEST_F(PanelOverDbus, RefusedKeyIsIgnoredAndThePanelShowsWhatTheAnalyserReports) {
    AnalyserProcess analyser;
    // Frequency reads only in Hz, so the units key's first step (V) is refused.
    ASSERT_EQ(write_property(QStringLiteral("CTDetector"), QStringLiteral("CTD_Function"),
                             QStringLiteral("Frequency"))
                  .type(),
              QDBusMessage::ReplyMessage);
    BusPanel p;
    ASSERT_EQ(p.form->Current_Unit, 10);

    p.click("Units2_Button");
    EXPECT_EQ(p.text("Label9"), QStringLiteral(" - - "));  // the key did act
    EXPECT_FALSE(p.form->ended());
    EXPECT_TRUE(analyser.log().contains(QStringLiteral("refused CTD_Unit = 20")));
    EXPECT_EQ(detector_setting("CTD_Unit"), QStringLiteral("(<int16 10>,)"));
    p.work_tick();
    EXPECT_TRUE(p.text("Label9").endsWith(QStringLiteral("Hz"))) << p.text("Label9").toStdString();
    EXPECT_EQ(p.form->Current_Unit, 10);
    EXPECT_FALSE(p.form->ended());
    EXPECT_TRUE(p.messages.empty());
}

TEST_F(PanelOverDbus, SlowAnalyserHoldsAKeyOnlyForTheTimeOutAndFailsTheCycle) {
    AnalyserProcess analyser;
    BusPanel p;
    analyser.control("SetAccessDelay", {2.0});

    QElapsedTimer pressed;
    pressed.start();
    p.click("Resp_button");
    // The key gave up on the write long before the analyser could have answered it.
    EXPECT_LT(pressed.elapsed(), 1000);
    EXPECT_FALSE(p.form->ended());

    p.work_tick();  // reads that time out are failed accesses: the panel ends quietly
    EXPECT_TRUE(p.form->ended());
    EXPECT_TRUE(p.messages.empty());
    analyser.kill();  // it would sleep through its queue of late calls before a SIGTERM
}

enum class Closer { OffKey, CloseBox };

struct CloseCase {
    const char* name;
    Closer closer;
};

class ShutDownOverDbus : public OnPrivateBus, public testing::WithParamInterface<CloseCase> {};

// An option of an unexpected type proves that the panel puts back exactly what it found.
void set_odd_option() {
    ASSERT_EQ(
        write_property(QStringLiteral("Options"), QStringLiteral("OPT_UseSettlingsFromScripts"), 7)
            .type(),
        QDBusMessage::ReplyMessage);
}

QVariant option() {
    return read_property(QStringLiteral("Options"), QStringLiteral("OPT_UseSettlingsFromScripts"));
}

// The automation False the panel writes while it runs.
bool option_is_off() {
    const QVariant v = option();
    return v.metaType() == QMetaType::fromType<bool>() && !v.toBool();
}

// QVariant compares numbers across types; the analyser must also get the int32 back.
void expect_odd_option_back() {
    const QVariant v = option();
    EXPECT_EQ(v.metaType(), QMetaType::fromType<int>()) << v.metaType().name();
    EXPECT_EQ(v.toInt(), 7);
}

TEST_P(ShutDownOverDbus, PutsTheOptionBackAsItWas) {
    AnalyserProcess analyser;
    set_odd_option();
    BusPanel p;
    EXPECT_TRUE(option_is_off());
    if (GetParam().closer == Closer::OffKey) {
        p.click("OFF_button");
    } else {
        QCloseEvent close_box;  // what the window system sends for the close box
        QCoreApplication::sendEvent(p.form->windowHandle(), &close_box);
    }
    EXPECT_TRUE(p.form->ended());
    expect_odd_option_back();
}

INSTANTIATE_TEST_SUITE_P(Closers, ShutDownOverDbus,
                         testing::Values(CloseCase{"OffKey", Closer::OffKey},
                                         CloseCase{"CloseBox", Closer::CloseBox}),
                         RowName());

constexpr int kChildTimeout_ms = 10000;  // bounds a test that has gone wrong, no more

TEST_F(ProgramOverDbus, SigtermPutsTheOptionBackAsItWas) {
    AnalyserProcess analyser;
    set_odd_option();
    QProcess panel;
    start_child(panel, QStringLiteral(VANTEL_DMM_BINARY),
                {QStringLiteral("--analyser"), QStringLiteral("dbus")});
    ASSERT_TRUE(QTest::qWaitFor(option_is_off, kChildTimeout_ms)) << "the panel did not start up";
    panel.terminate();
    ASSERT_TRUE(panel.waitForFinished(kChildTimeout_ms));
    EXPECT_EQ(panel.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(panel.exitCode(), 0);
    expect_odd_option_back();
}

TEST_F(ProgramOverDbus, WithoutAnAnalyserEndsAtOnceNamingTheService) {
    QProcess panel;
    start_child(panel, QStringLiteral(VANTEL_DMM_BINARY),
                {QStringLiteral("--analyser"), QStringLiteral("dbus")});
    ASSERT_TRUE(panel.waitForFinished(kChildTimeout_ms)) << "the panel waits for nothing";
    EXPECT_EQ(panel.exitCode(), 2);
    EXPECT_TRUE(panel.readAllStandardError().contains(
        "vantel-dmm: Vantel.Application: no analyser on the D-Bus session bus"));
}

}  // namespace
}  // namespace vantel
