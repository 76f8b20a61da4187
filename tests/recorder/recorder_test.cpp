// SPDX-License-Identifier: MIT
#include "recorder/recorder.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <clocale>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <thread>

#include "csv_table.h"
#include "row_name.h"

namespace vantel {
namespace {

using testing_support::csv_beside;
using TableRow = testing_support::CsvRow;  // CsvRow here is the log row's test
using testing_support::PrintTo;

using namespace std::chrono;

QByteArray contents(const std::string& path) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// clang-format off
MeterReading sample() {
    return {.occasion = MeterReading::Occasion::Cycle, .main_reading = "12.30", .unit_word = "mV",
            .minimum = "11.00", .minimum_unit = "mV", .maximum = "1.200", .maximum_unit = "V",
            .function_name = "Amplitude", .response_word = "RMS", .weighting_word = "A weighted",
            .relativity_word = "absolute", .input = "XLR / BNC", .lit_lamp = {},
            .annunciator = {}, .source_name = "simulated", .raw_reading = 0.0123,
            .raw_unit_word = "V", .seconds = 12.3456, .status_words = {}};
}
// clang-format on

class CsvRow : public testing::TestWithParam<TableRow> {};

// The sample reading with the row's cells in place of its fields (empty: as sampled; a raw
// reading of "none": no reading), at a time in the row's time zone (empty: UTC).
TEST_P(CsvRow, FollowsRfc4180) {
    const TableRow& c = GetParam();
    MeterReading r = sample();
    using M = MeterReading;
    for (auto [column, field] : {std::pair{"main_reading", &M::main_reading},
                                 {"unit_word", &M::unit_word},
                                 {"status_words", &M::status_words},
                                 {"source_name", &M::source_name},
                                 {"channel", &M::channel},
                                 {"function_name", &M::function_name},
                                 {"input", &M::input}})
        if (!c[column].empty())
            r.*field = c.text(column);
    if (!c["raw_reading"].empty())
        r.raw_reading =
            c["raw_reading"] == "none" ? std::nullopt : std::optional(c.number("raw_reading"));
    r.held = c.flag("held");
    r.input_lost = c.flag("input_lost");
    setenv("TZ", c["zone"].empty() ? "UTC0" : c["zone"].c_str(), 1);
    tzset();
    const std::string row = csv_row(r, sys_days{2026y / 12 / 6} + 22h + 31min + 5s + 999ms);
    EXPECT_EQ(row, (c["time"].empty() ? "2026-12-06T22:31:05.999+00:00" : c["time"]) + "," +
                       c.text("row") + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(Rows, CsvRow, testing::ValuesIn(csv_beside("log_rows.csv")),
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

const auto kWall = sys_days{2026y / 12 / 6} + 22h;

// A log's text in a table, its placeholders replaced: the headers, and the row that one reading
// at kWall makes in the test's time zone.
std::string log_text(const TableRow& row, const char* column) {
    std::string text = row.text(column);
    for (auto [placeholder, by] : {std::pair{"PASS_HEADER", csv_header(true)},
                                   {"HEADER", csv_header()},
                                   {"ROW", csv_row(sample(), kWall)}})
        if (const std::size_t at = text.find(placeholder); at != std::string::npos)
            text.replace(at, std::string_view(placeholder).size(), by);
    return text;
}

// Only work ticks make rows, after the header; in a judged run's log, a row without a verdict
// has not passed.
TEST(Recorder, WritesTheHeaderFirstAndOnlyWorkTicks) {
    const std::string path = testing_support::in_home("log.csv");
    std::string error;
    std::unique_ptr<Recorder> recorder = Recorder::open(path, {.pass_column = true}, error);
    ASSERT_TRUE(recorder) << error;
    recorder->wall_clock = [] { return kWall; };
    MeterReading r = sample();
    using enum MeterReading::Occasion;
    for (auto occasion : {StartUp, Cycle, Key, HeldTick}) {
        r.occasion = occasion;
        recorder->record(r, occasion == Cycle ? std::optional(true) : std::nullopt);
    }
    EXPECT_TRUE(recorder->finish().empty());
    EXPECT_EQ(contents(path).toStdString(),
              csv_header(true) + csv_row(r, kWall, true) + csv_row(r, kWall, false));
}

class ExistingLog : public testing::TestWithParam<TableRow> {};

// The same command run twice continues its log; a file that is not that log is left alone
// unless replacing it was asked for.
TEST_P(ExistingLog, IsAppendedToOnlyWhenItIsTheSameLog) {
    const TableRow& c = GetParam();
    const std::string path = testing_support::in_home("run.csv"), before = log_text(c, "before");
    if (c.flag("file")) {
        QFile file(QString::fromStdString(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(before.data(), static_cast<qint64>(before.size()));
    }
    std::string error;
    RecorderOptions options;
    options.existing =
        c["existing"] == "replace" ? ExistingFile::Replace : ExistingFile::AppendToSameHeader;
    std::unique_ptr<Recorder> recorder = Recorder::open(path, options, error);
    if (c["after"].empty()) {
        EXPECT_FALSE(recorder);
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_NE(error.find("--log-overwrite"), std::string::npos) << error;
        EXPECT_EQ(contents(path).toStdString(), before);
        return;
    }
    ASSERT_TRUE(recorder) << error;
    recorder->wall_clock = [] { return kWall; };
    const std::string note = recorder->notes().empty() ? "" : recorder->notes().front();
    EXPECT_NE(note.find(c["note"]), std::string::npos) << note;
    EXPECT_EQ(note.empty(), c["note"].empty()) << note;
    recorder->record(sample());
    EXPECT_TRUE(recorder->finish().empty());
    EXPECT_EQ(contents(path).toStdString(), log_text(c, "after"));
}

INSTANTIATE_TEST_SUITE_P(Files, ExistingLog, testing::ValuesIn(csv_beside("existing_logs.csv")),
                         testing_support::RowName());

// A FIFO: the end a reader of ours holds (O_NONBLOCK, so that opening it waits for nobody).
struct Fifo {
    std::string path = testing_support::in_home("rows");
    int reader = -1;
    Fifo() { EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0); }
    ~Fifo() { close_reader(); }
    void open_reader() { reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); }
    void close_reader() {
        if (reader >= 0)
            ::close(reader);
        reader = -1;
    }
    // A writer of the FIFO whose header is "header", opened by the caller or the writer thread.
    std::unique_ptr<LogWriter> writer(std::size_t queue_rows = LogTarget{}.queue_rows,
                                      bool in_background = false) {
        const LogTarget target{path, "header\r\n", ExistingFile::AppendToSameHeader, queue_rows};
        std::string error;
        auto writer =
            in_background ? LogWriter::open_in_background(target) : LogWriter::open(target, error);
        EXPECT_TRUE(writer) << error;
        return writer;
    }
    // Whatever arrives within `wait_ms`, until `wanted` bytes have.
    std::string read(std::size_t wanted, int wait_ms = 5000) {
        std::string got;
        QElapsedTimer timer;
        timer.start();
        while (got.size() < wanted && timer.elapsed() < wait_ms) {
            pollfd p{reader, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                char buffer[4096];
                const ssize_t n = ::read(reader, buffer, sizeof buffer);
                if (n > 0)
                    got.append(buffer, static_cast<std::size_t>(n));
            }
        }
        return got;
    }
};

// Opening a FIFO that nobody reads yet waits for no one: the rows wait in the queue, and a
// reader that comes later gets them all, the header first; so does one that comes just before
// the log is finished, while the writer sleeps between two looks for a reader.
TEST(LogWriter, AFifoWithoutAReaderYetIsOpenedWhenOneComes) {
    Fifo fifo;
    for (bool background : {false, true}) {
        for (bool finish_at_once : {false, true}) {
            SCOPED_TRACE(std::string(background ? "in the writer thread" : "from the caller") +
                         (finish_at_once ? ", finished as the reader comes" : ""));
            std::unique_ptr<LogWriter> writer = fifo.writer(LogTarget{}.queue_rows, background);
            ASSERT_TRUE(writer);
            EXPECT_TRUE(writer->write("one\r\n"));
            EXPECT_TRUE(writer->write("two\r\n"));
            if (finish_at_once)  // after the writer's first look for a reader, before its next
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            fifo.open_reader();
            if (finish_at_once) {
                EXPECT_EQ(writer->finish(std::chrono::seconds(2)), std::vector<std::string>{});
            }
            EXPECT_EQ(fifo.read(18), "header\r\none\r\ntwo\r\n");
            EXPECT_EQ(writer->finish(std::chrono::seconds(2)), std::vector<std::string>{});
            EXPECT_FALSE(writer->failure());
            fifo.close_reader();
        }
    }
}

// A reader that never reads holds up the writer thread only: rows beyond the queue are dropped,
// counted and reported.
TEST(LogWriter, AStalledReaderCostsRowsNotTime) {
    Fifo fifo;
    fifo.open_reader();
    ASSERT_GE(::fcntl(fifo.reader, F_SETPIPE_SZ, 4096), 4096);
    std::unique_ptr<LogWriter> writer = fifo.writer(/*queue_rows=*/5);
    ASSERT_TRUE(writer);
    const std::string row = std::string(1000, 'x') + "\r\n";
    int refused = 0;
    for (int i = 0; i < 100; ++i) {
        refused += !writer->write(row);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_GT(refused, 0);
    EXPECT_EQ(writer->dropped(), static_cast<std::uint64_t>(refused));
    // The second line, that finishing gave up in time: the program's stalled reader test.
    const std::vector<std::string> report = writer->finish(std::chrono::milliseconds(300));
    ASSERT_EQ(report.size(), 2u);
    EXPECT_EQ(report[0], std::to_string(refused) + " rows for the log " + fifo.path +
                             " were dropped because it could not keep up");
}

}  // namespace
}  // namespace vantel
