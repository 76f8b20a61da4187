// SPDX-License-Identifier: MIT
// vantel-analyser as other D-Bus clients see it, and the settings it keeps between runs.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDir>
#include <QFile>

#include <cmath>

#include "csv_table.h"
#include "private_bus.h"

namespace vantel {
namespace {

using namespace Qt::StringLiterals;
using namespace testing_support;
using AnalyserOnTheBus = OnPrivateBus;

// Another client sees each member with its natural D-Bus type; a refused write says why and
// changes nothing.
TEST_F(AnalyserOnTheBus, OffersNaturalTypesRefusesWithTheReasonAndEndsOnSigterm) {
    AnalyserProcess analyser;
    for (const CsvRow& m : csv_beside("bus_member_types.csv")) {
        const QVariant v =
            read_property(QString::fromStdString(m["object"]), QString::fromStdString(m["member"]));
        EXPECT_STREQ(v.metaType().name(), m["type"].c_str()) << m.where;
    }
    EXPECT_EQ(read_property({}, u"DigitalInputs"_s).value<QDBusObjectPath>().path(),
              u"/Vantel/Application/DigitalInputs"_s);
    EXPECT_EQ(read_property({}, u"UNIT_DBV"_s).toInt(), 66);

    // A channel's calibration is set over the bus; one that is no full scale is refused and
    // changes nothing (the refusal's message: the D-Bus backend's and the programs' tests).
    ASSERT_EQ(write_property(u"AnalogueInputs"_s, u"AI_FullScaleA"_s, 2.5).type(),
              QDBusMessage::ReplyMessage);
    EXPECT_EQ(write_property(u"AnalogueInputs"_s, u"AI_FullScaleA"_s, std::nan("")).errorName(),
              u"Vantel.Error.Refused"_s);
    EXPECT_EQ(read_property(u"AnalogueInputs"_s, u"AI_FullScaleA"_s).toDouble(), 2.5);
    EXPECT_EQ(write_property(u"DigitalInputs"_s, u"DI_FrameRate"_s, 1).errorName(),
              u"org.freedesktop.DBus.Error.PropertyReadOnly"_s);
    EXPECT_EQ(write_property(u"CTDetector"_s, u"CTD_Nothing"_s, 1).errorName(),
              u"org.freedesktop.DBus.Error.UnknownProperty"_s);
    // A script names each sub-object's interface after it, as gdbus does.
    for (auto [interface, error] :
         {std::pair{u"Vantel.CTDetector"_s, QString()},
          {u"Vantel.Application"_s, u"org.freedesktop.DBus.Error.UnknownInterface"_s},
          {u"Vantel.Nothing"_s, u"org.freedesktop.DBus.Error.UnknownInterface"_s}}) {
        QDBusMessage get = QDBusMessage::createMethodCall(
            u"Vantel.Application"_s, u"/Vantel/Application/CTDetector"_s,
            u"org.freedesktop.DBus.Properties"_s, u"Get"_s);
        get << interface << u"CTD_Unit"_s;
        EXPECT_EQ(QDBusConnection::sessionBus().call(get).errorName(), error)
            << interface.toStdString();
    }
    EXPECT_EQ(analyser.terminate(), 0);
}

// The programs keep their settings in the test's own settings folder, never the real one. The
// source a run opened is what the bus starts the next analyser on; --no-restore neither reads
// nor writes.
TEST_F(AnalyserOnTheBus, LastRunsSourceIsWhatActivationOpensAndNoRestoreKeepsNothing) {
    const QString settings =
        qEnvironmentVariable("XDG_CONFIG_HOME") + u"/vantel-dmm/analyser.conf"_s;
    ASSERT_TRUE(settings.startsWith(QDir::tempPath()));
    {
        AnalyserProcess analyser({u"--input"_s, u"loopback"_s});
        ASSERT_EQ(write_property(u"CTDetector"_s, u"CTD_Function"_s, u"Cross-talk"_s).type(),
                  QDBusMessage::ReplyMessage);
        EXPECT_EQ(analyser.terminate(), 0);
    }
    ASSERT_TRUE(QFile::exists(settings));
    PrivateBus::instance().install_service(QStringLiteral(VANTEL_ANALYSER_BINARY));
    EXPECT_EQ(read_property(u"SignalAnalyzer"_s, u"SA_SourceName"_s).toString(),
              u"simulated loopback"_s);
    EXPECT_EQ(read_property(u"CTDetector"_s, u"CTD_Function"_s).toString(), u"Cross-talk"_s);
    PrivateBus::instance().install_service({});
    ASSERT_TRUE(stop_activated_analyser());

    QFile::remove(settings);
    AnalyserProcess fresh({u"--no-restore"_s, u"--input"_s, u"loopback"_s});
    EXPECT_EQ(read_property(u"CTDetector"_s, u"CTD_Function"_s).toString(), u"Amplitude"_s);
    ASSERT_EQ(write_property(u"CTDetector"_s, u"CTD_Function"_s, u"Balance"_s).type(),
              QDBusMessage::ReplyMessage);
    EXPECT_EQ(fresh.terminate(), 0);
    EXPECT_FALSE(QFile::exists(settings));
}

}  // namespace
}  // namespace vantel
