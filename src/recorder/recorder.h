// SPDX-License-Identifier: MIT
#pragma once

// The recorder: one CSV row per work tick of the meter (every 200 ms, an update cycle or a held
// tick), RFC 4180 with a header row, UTF-8, "." as the decimal mark whatever the locale. Rows go
// to a writer thread (recorder/log_writer.h), so the meter never waits on the disk or a pipe; a
// write that fails stops the log for good, leaves only whole rows in a file, and is said once.

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "meter/meter_reading.h"
#include "recorder/log_writer.h"

namespace vantel {

// The header row and the row for one reading taken at `wall` (local time), each ending in CRLF.
// Columns: time, seconds, channel, function, reading (the raw value in full precision; empty
// when the display shows over-range or the input is lost), unit (the raw value's unit word),
// display (reading and unit as shown, "OVER" alone when over-range), minimum, maximum (each with
// its unit as shown), weighting, response, relativity, input, held, status (the analyser's
// flags by name, "NO_INPUT SETTLING"; empty when all is well), source (what the analyser
// measures, as it says); then, in a run judged against limits, pass.
std::string csv_header(bool with_pass = false);
// The pass column is there when `passed` is.
std::string csv_row(const MeterReading& reading, std::chrono::system_clock::time_point wall,
                    std::optional<bool> passed = std::nullopt);

// Local time in ISO 8601 with milliseconds and the UTC offset: "2026-12-06T22:31:05.123+01:00".
std::string local_iso8601(std::chrono::system_clock::time_point wall);

// The shortest decimal text that reads back to the same double, "." as the mark: "0.1", "1e-05".
std::string shortest_number(double value);

struct RecorderOptions {
    ExistingFile existing = ExistingFile::AppendToSameHeader;
    bool pass_column = false;  // a run judged against limits
    // Open in the writer thread (the window: a FIFO or a hung file system must not freeze it);
    // a failure to open then comes as failed().
    bool in_background = false;
    std::size_t queue_rows = LogTarget{}.queue_rows;
};

class Recorder final : public QObject {
    Q_OBJECT

public:
    // Opens `path` (the file name's bytes; "-" meaning standard output) as `options` say.
    // Nothing and `error` (naming the file) when it cannot be opened or may not be written to.
    static std::unique_ptr<Recorder> open(const std::string& path, const RecorderOptions& options,
                                          std::string& error);
    ~Recorder() override;

    const std::string& path() const { return writer_->name(); }
    bool stopped() const { return stopped_; }
    // The reader of the log's pipe closed its end; the log has stopped.
    bool reader_left() const { return reader_left_; }
    // What opening noticed (a partial last row cut off), for standard error.
    const std::vector<std::string>& notes() const { return writer_->notes(); }
    // Where the rows' local time comes from; tests set a fixed one.
    std::function<std::chrono::system_clock::time_point()> wall_clock =
        std::chrono::system_clock::now;

    // Queues the row for `reading` if it ends a work tick and the log has not stopped; `passed`
    // fills the pass column of a log that has one. A failure of the writer is noticed here, at
    // the next row, and signalled.
    void record(const vantel::MeterReading& reading, std::optional<bool> passed = std::nullopt);

    // Writes what is queued, giving it at most a second, and stops. What to report once: rows
    // dropped or left unwritten, and a failure not yet signalled. Later calls return nothing.
    std::vector<std::string> finish();

Q_SIGNALS:
    // A write failed; the log has stopped. `why` names the file and the reason.
    void failed(const QString& why);

private:
    Recorder(std::unique_ptr<LogWriter> writer, bool pass_column);
    // Signals a failure of the writer once; true when the log has stopped.
    bool check_writer();

    std::unique_ptr<LogWriter> writer_;
    bool pass_column_;
    bool stopped_ = false;
    bool reader_left_ = false;
};

}  // namespace vantel
