// SPDX-License-Identifier: MIT
#pragma once

// The recorder: one CSV row per work tick of the meter (every 200 ms, an update cycle or a held
// tick), RFC 4180 with a header row, UTF-8, "." as the decimal mark whatever the locale. Each row
// goes to the file in one write(2), so a process killed at any moment leaves only whole rows,
// except perhaps the last. A write that fails stops the log for good and says so once.

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "meter/meter_reading.h"

namespace vantel {

// The header row and the row for one reading taken at `wall` (local time), each ending in CRLF.
// Columns: time, seconds, channel, function, reading (the raw value in full precision; empty
// when the display shows over-range or the input is lost), unit (the raw value's unit word),
// display (reading and unit as shown, "OVER" alone when over-range), minimum, maximum (each with
// its unit as shown), weighting, response, relativity, input, held, status (the analyser's
// flags by name, "NO_INPUT SETTLING"; empty when all is well), source (what the analyser
// measures, as it says).
std::string csv_header();
std::string csv_row(const MeterReading& reading, std::chrono::system_clock::time_point wall);

// Local time in ISO 8601 with milliseconds and the UTC offset: "2026-12-06T22:31:05.123+01:00".
std::string local_iso8601(std::chrono::system_clock::time_point wall);

// The shortest decimal text that reads back to the same double, "." as the mark: "0.1", "1e-05".
std::string shortest_number(double value);

class Recorder final : public QObject {
    Q_OBJECT

public:
    // Creates (or empties) `path`, "-" meaning standard output. Nothing and `error` (naming the
    // file) when it cannot be opened.
    static std::unique_ptr<Recorder> open(const std::string& path, std::string& error);
    ~Recorder() override;

    const std::string& path() const { return path_; }
    bool stopped() const { return stopped_; }
    // Where the rows' local time comes from; tests set a fixed one.
    std::function<std::chrono::system_clock::time_point()> wall_clock =
        std::chrono::system_clock::now;

    // Writes the row for `reading` if it ends a work tick and the log has not stopped.
    void record(const vantel::MeterReading& reading);

Q_SIGNALS:
    // A write failed; the log has stopped. `why` names the file and the reason.
    void failed(const QString& why);

private:
    Recorder(std::string path, int fd, bool owns_fd);
    bool write_all(const std::string& text);

    std::string path_;
    int fd_;
    bool owns_fd_;
    bool stopped_ = false;
    bool header_written_ = false;
};

}  // namespace vantel
