// SPDX-License-Identifier: MIT
#include "recorder/recorder.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <limits>

#include "row_name.h"

namespace vantel {
namespace {

using testing_support::PrintTo;

using namespace std::chrono;

MeterReading sample() {
    MeterReading r;
    r.occasion = MeterReading::Occasion::Cycle;
    r.main_reading = "12.30";
    r.unit_word = r.minimum_unit = "mV";
    r.minimum = "11.00";
    r.maximum = "1.200";
    r.maximum_unit = r.raw_unit_word = "V";
    r.function_name = "Amplitude";
    r.weighting_word = "A weighted";
    r.response_word = "RMS";
    r.relativity_word = "absolute";
    r.input = "XLR / BNC";
    r.raw_reading = 0.0123;
    r.seconds = 12.3456;
    r.source_name = "simulated";
    return r;
}

struct RowCase {
    const char* name;
    void (*change)(MeterReading&);
    const char* row;  // after the time column
};

class CsvRow : public testing::TestWithParam<RowCase> {};

TEST_P(CsvRow, FollowsRfc4180) {
    MeterReading r = sample();
    GetParam().change(r);
    setenv("TZ", "UTC0", 1);
    tzset();
    const std::string row = csv_row(r, sys_days{2026y / 12 / 6} + 22h + 31min + 5s + 7ms);
    EXPECT_EQ(row, std::string("2026-12-06T22:31:05.007+00:00,") + GetParam().row + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CsvRow,
    testing::ValuesIn(std::vector<RowCase>{
        {"Reading", [](MeterReading&) {},
         "12.346,A,Amplitude,0.0123,V,12.30 mV,11.00 mV,1.200 V,A weighted,RMS,absolute,"
         "XLR / BNC,false,,simulated"},
        {"OverIsAnEmptyReading",
         [](MeterReading& r) {
             r.raw_reading.reset();
             r.main_reading = "OVER";
         },
         "12.346,A,Amplitude,,V,OVER,11.00 mV,1.200 V,A weighted,RMS,absolute,XLR / BNC,false,,"
         "simulated"},
        // The analyser's number for a lost input is shown, but is no reading.
        {"LostInputIsAnEmptyReading",
         [](MeterReading& r) {
             r.raw_reading.reset();
             r.input_lost = true;
             r.main_reading = "0.000";
             r.unit_word = "V";
             r.status_words = "NO_INPUT";
             r.source_name = "JACK";
         },
         "12.346,A,Amplitude,,V,0.000 V,11.00 mV,1.200 V,A weighted,RMS,absolute,XLR / BNC,false,"
         "NO_INPUT,JACK"},
        {"StatusWordsAndAFilesName",
         [](MeterReading& r) {
             r.status_words = "OVERLOAD SETTLING";
             r.source_name = "Front, Center.wav";
         },
         "12.346,A,Amplitude,0.0123,V,12.30 mV,11.00 mV,1.200 V,A weighted,RMS,absolute,"
         "XLR / BNC,false,OVERLOAD SETTLING,\"Front, Center.wav\""},
        {"HeldAndFullPrecision",
         [](MeterReading& r) {
             r.held = true;
             r.raw_reading = 0.1 + 0.2;
             r.channel = "B";
         },
         "12.346,B,Amplitude,0.30000000000000004,V,12.30 mV,11.00 mV,1.200 V,A weighted,RMS,"
         "absolute,XLR / BNC,true,,simulated"},
        {"QuotesCommasQuotesAndBreaks",
         [](MeterReading& r) {
             r.function_name = "THD+N, \"relative\"";
             r.input = "a\r\nb";
             r.unit_word = "\u00B5V";
         },
         "12.346,A,\"THD+N, \"\"relative\"\"\",0.0123,V,12.30 \u00B5V,11.00 mV,1.200 V,"
         "A weighted,RMS,absolute,\"a\r\nb\",false,,simulated"},
    }),
    testing_support::RowName());

TEST(CsvRow, NumbersIgnoreACommaDecimalLocale) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    const std::string row = csv_row(sample(), system_clock::now());
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_NE(row.find(",12.346,A,Amplitude,0.0123,"), std::string::npos) << row;
    for (double v : {0.1, 1e-300, -123456.789, std::numeric_limits<double>::max()})
        EXPECT_EQ(std::strtod(shortest_number(v).c_str(), nullptr), v) << shortest_number(v);
}

TEST(LocalTime, CarriesTheZonesOffset) {
    const auto noon = sys_days{2026y / 7 / 1} + 12h + 999ms;
    for (auto [zone, text] : {std::pair{"UTC0", "2026-07-01T12:00:00.999+00:00"},
                              {"<+0530>-5:30", "2026-07-01T17:30:00.999+05:30"},
                              {"<-03>3", "2026-07-01T09:00:00.999-03:00"}}) {
        setenv("TZ", zone, 1);
        tzset();
        EXPECT_EQ(local_iso8601(noon), text) << zone;
    }
    unsetenv("TZ");
    tzset();
}

TEST(Recorder, WritesTheHeaderWithTheFirstRowAndOnlyWorkTicks) {
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("log.csv")).toStdString();
    std::string error;
    std::unique_ptr<Recorder> recorder = Recorder::open(path, error);
    ASSERT_TRUE(recorder) << error;
    MeterReading r = sample();
    for (auto occasion : {MeterReading::Occasion::StartUp, MeterReading::Occasion::Cycle,
                          MeterReading::Occasion::Key, MeterReading::Occasion::HeldTick}) {
        r.occasion = occasion;
        recorder->record(r);
    }
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    ASSERT_EQ(lines.size(), 4);  // header, two rows, and nothing after the last CRLF
    EXPECT_EQ(lines[0].toStdString() + "\n", csv_header());
    EXPECT_TRUE(lines[1].startsWith("20") && lines[2].startsWith("20"));
    EXPECT_TRUE(lines[3].isEmpty());
}

}  // namespace
}  // namespace vantel
