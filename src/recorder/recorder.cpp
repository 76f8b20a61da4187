// SPDX-License-Identifier: MIT
#include "recorder/recorder.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace vantel {

namespace {

// RFC 4180: a field with a comma, a double quote or a line break is quoted, its quotes doubled.
void append_field(std::string& row, std::string_view field) {
    if (!row.empty())
        row += ',';
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        row += field;
        return;
    }
    row += '"';
    for (char c : field) {
        if (c == '"')
            row += '"';
        row += c;
    }
    row += '"';
}

std::string fixed_3(double value) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 3);
    return std::string(text, end.ptr);
}

std::string with_unit(const std::string& value, const std::string& unit) {
    return unit.empty() ? value : value + ' ' + unit;
}

}  // namespace

std::string shortest_number(double value) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value);
    return std::string(text, end.ptr);
}

std::string local_iso8601(std::chrono::system_clock::time_point wall) {
    using namespace std::chrono;
    const auto since_epoch = wall.time_since_epoch();
    auto whole = floor<seconds>(since_epoch);
    const auto ms = duration_cast<milliseconds>(since_epoch - whole).count();
    const std::time_t t = whole.count();
    std::tm local{};
    localtime_r(&t, &local);
    char date[32], zone[8];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    std::strftime(zone, sizeof zone, "%z", &local);  // "+0100": ISO 8601 wants "+01:00" here
    char text[64];
    std::snprintf(text, sizeof text, "%s.%03d%.3s:%.2s", date, static_cast<int>(ms), zone,
                  zone + 3);
    return text;
}

std::string csv_header() {
    return "time,seconds,channel,function,reading,unit,display,minimum,maximum,weighting,"
           "response,relativity,input,held,status,source\r\n";
}

std::string csv_row(const MeterReading& r, std::chrono::system_clock::time_point wall) {
    std::string row;
    append_field(row, local_iso8601(wall));
    append_field(row, fixed_3(r.seconds));
    append_field(row, r.channel);
    append_field(row, r.function_name);
    append_field(row, r.raw_reading ? shortest_number(*r.raw_reading) : std::string());
    append_field(row, r.raw_unit_word);
    append_field(row, r.raw_reading || r.input_lost ? with_unit(r.main_reading, r.unit_word)
                                                    : r.main_reading);
    append_field(row, with_unit(r.minimum, r.minimum_unit));
    append_field(row, with_unit(r.maximum, r.maximum_unit));
    append_field(row, r.weighting_word);
    append_field(row, r.response_word);
    append_field(row, r.relativity_word);
    append_field(row, r.input);
    append_field(row, r.held ? "true" : "false");
    append_field(row, r.status_words);
    append_field(row, r.source_name);
    row += "\r\n";
    return row;
}

std::unique_ptr<Recorder> Recorder::open(const std::string& path, std::string& error) {
    // A log on a pipe whose reader has gone must fail like a full disk, not kill the program
    // before it gives the analyser its option back.
    std::signal(SIGPIPE, SIG_IGN);
    const bool to_stdout = path == "-";
    const int fd = to_stdout ? STDOUT_FILENO
                             : ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot open the log " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<Recorder>(
        new Recorder(to_stdout ? "standard output" : path, fd, !to_stdout));
}

Recorder::Recorder(std::string path, int fd, bool owns_fd)
    : path_(std::move(path)), fd_(fd), owns_fd_(owns_fd) {}

Recorder::~Recorder() {
    if (owns_fd_)
        ::close(fd_);
}

bool Recorder::write_all(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void Recorder::record(const MeterReading& reading) {
    if (stopped_ || (reading.occasion != MeterReading::Occasion::Cycle &&
                     reading.occasion != MeterReading::Occasion::HeldTick))
        return;
    // The header goes with the first row, so that a disk already full shows as a failed write
    // like any later one, and the panel goes on.
    std::string text = header_written_ ? std::string() : csv_header();
    text += csv_row(reading, wall_clock());
    if (write_all(text)) {
        header_written_ = true;
        return;
    }
    const QString reason = QString::fromUtf8(std::strerror(errno));
    stopped_ = true;
    Q_EMIT failed(QStringLiteral("the log %1 could not be written (%2), so logging has stopped")
                      .arg(QString::fromStdString(path_), reason));
}

}  // namespace vantel
