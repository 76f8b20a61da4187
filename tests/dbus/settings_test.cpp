// SPDX-License-Identifier: MIT
// vantel-analyser's settings between runs, as the programs and the session bus see them, and
// a sound file that fails while it plays.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QTest>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <vector>

#include "bus_fixture.h"

namespace vantel {
namespace {

using namespace Qt::StringLiterals;
using namespace testing_support;
using ::testing::HasSubstr;

using Settings = OnPrivateBus;

QString settings_file() {
    return qEnvironmentVariable("XDG_CONFIG_HOME") + u"/vantel-dmm/analyser.conf"_s;
}

// The programs keep their settings in the test's own settings folder; the real one is never
// touched. The source a run opened is what the bus starts the next analyser on, and
// --no-restore neither reads nor writes.
TEST_F(Settings, LastRunsSourceIsWhatActivationOpensAndNoRestoreKeepsNothing) {
    ASSERT_TRUE(qEnvironmentVariable("XDG_CONFIG_HOME").startsWith(QDir::tempPath()));
    {
        AnalyserProcess analyser({u"--input"_s, u"loopback"_s});
        ASSERT_EQ(write_property(u"CTDetector"_s, u"CTD_Function"_s, u"Cross-talk"_s).type(),
                  QDBusMessage::ReplyMessage);
        EXPECT_EQ(analyser.terminate(), 0);
    }
    ASSERT_TRUE(QFile::exists(settings_file()));
    PrivateBus::instance().install_service(QStringLiteral(VANTEL_ANALYSER_BINARY));
    EXPECT_EQ(read_property(u"SignalAnalyzer"_s, u"SA_SourceName"_s).toString(),
              u"simulated loopback"_s);
    EXPECT_EQ(read_property(u"CTDetector"_s, u"CTD_Function"_s).toString(), u"Cross-talk"_s);
    const QDBusReply<uint> activated =
        QDBusConnection::sessionBus().interface()->servicePid(u"Vantel.Application"_s);
    ASSERT_TRUE(activated.isValid());
    ::kill(static_cast<pid_t>(activated.value()), SIGTERM);
    PrivateBus::instance().install_service({});
    ASSERT_TRUE(QTest::qWaitFor([] {
        return !QDBusConnection::sessionBus().interface()->isServiceRegistered(
            u"Vantel.Application"_s);
    }));

    QFile::remove(settings_file());
    AnalyserProcess fresh({u"--no-restore"_s, u"--input"_s, u"loopback"_s});
    EXPECT_EQ(read_property(u"CTDetector"_s, u"CTD_Function"_s).toString(), u"Amplitude"_s);
    ASSERT_EQ(write_property(u"CTDetector"_s, u"CTD_Function"_s, u"Balance"_s).type(),
              QDBusMessage::ReplyMessage);
    EXPECT_EQ(fresh.terminate(), 0);
    EXPECT_FALSE(QFile::exists(settings_file()));
}

// A sound file cut short while it plays: the analyser says so once on stderr, and from then on
// its input is lost.
TEST_F(Settings, FileThatStopsDecodingWhilePlayingIsSaidOnceAndLost) {
    QTemporaryDir dir;
    const std::string path = dir.filePath(u"tone.wav"_s).toStdString();
    constexpr int kRate = 8000;
    SF_INFO info{0, kRate, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    std::vector<float> tone(10 * kRate);
    for (std::size_t n = 0; n < tone.size(); ++n)
        tone[n] = static_cast<float>(
            0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(n) / kRate));
    sf_writef_float(file, tone.data(), static_cast<sf_count_t>(tone.size()));
    sf_close(file);

    AnalyserProcess analyser({u"--input"_s, QString::fromStdString(path)});
    read_property(u"CTDetector"_s, u"CTD_ChA"_s);
    std::filesystem::resize_file(path, 44 + 4 * kRate);  // its first second is left
    // The analyser's cache holds about three seconds of this file; beyond them it must decode.
    auto lost = [] {
        read_property(u"CTDetector"_s, u"CTD_ChA"_s);
        return (read_property(u"SignalAnalyzer"_s, u"SA_Status"_s).toInt() & 1) != 0;
    };
    EXPECT_TRUE(QTest::qWaitFor(lost, 8000));
    EXPECT_EQ(read_property(u"DigitalInputs"_s, u"DI_FrameRate"_s).toInt(), 0);
    QTest::qWait(600);
    EXPECT_TRUE(lost());
    analyser.terminate();
    const QString log = analyser.log();
    EXPECT_EQ(log.count(u"stopped decoding"_s), 1) << log.toStdString();
}

}  // namespace
}  // namespace vantel
