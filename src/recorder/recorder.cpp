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

#ifdef _WIN32
#include <io.h>
#endif

namespace vantel {

namespace {

#ifdef _WIN32
// Windows' strftime gives the zone's name for %z: the offset is worked out from the local time
// instead, as "+0100" like POSIX's %z.
void utc_offset(const std::tm& local, std::time_t t, char (&zone)[8]) {
    // Days since 1970-01-01 of the local date (the proleptic Gregorian calendar).
    const int y = local.tm_year + 1900 - (local.tm_mon < 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int year_of_era = y - era * 400;
    const int month = (local.tm_mon + 10) % 12;  // March is 0
    const int day_of_year = (153 * month + 2) / 5 + local.tm_mday - 1;
    const int day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    const long long days = static_cast<long long>(era) * 146097 + day_of_era - 719468;
    const long long local_s =
        days * 86400 + local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    const long long offset_min = (local_s - static_cast<long long>(t)) / 60;
    const long long magnitude = offset_min < 0 ? -offset_min : offset_min;
    std::snprintf(zone, sizeof zone, "%c%02d%02d", offset_min < 0 ? '-' : '+',
                  static_cast<int>(magnitude / 60), static_cast<int>(magnitude % 60));
}
#endif

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
    char date[32], zone[8];
#ifdef _WIN32
    localtime_s(&local, &t);
    utc_offset(local, t, zone);
#else
    localtime_r(&t, &local);
    std::strftime(zone, sizeof zone, "%z", &local);  // "+0100": ISO 8601 wants "+01:00" here
#endif
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    char text[64];
    std::snprintf(text, sizeof text, "%s.%03d%.3s:%.2s", date, static_cast<int>(ms), zone,
                  zone + 3);
    return text;
}

std::string csv_header() {
    return "time,seconds,channel,function,reading,unit,display,minimum,maximum,weighting,"
           "response,relativity,input,held\r\n";
}

std::string csv_row(const MeterReading& r, std::chrono::system_clock::time_point wall) {
    std::string row;
    append_field(row, local_iso8601(wall));
    append_field(row, fixed_3(r.seconds));
    append_field(row, r.channel);
    append_field(row, r.function_name);
    append_field(row, r.raw_reading ? shortest_number(*r.raw_reading) : std::string());
    append_field(row, r.raw_unit_word);
    append_field(row, r.raw_reading ? with_unit(r.main_reading, r.unit_word) : r.main_reading);
    append_field(row, with_unit(r.minimum, r.minimum_unit));
    append_field(row, with_unit(r.maximum, r.maximum_unit));
    append_field(row, r.weighting_word);
    append_field(row, r.response_word);
    append_field(row, r.relativity_word);
    append_field(row, r.input);
    append_field(row, r.held ? "true" : "false");
    row += "\r\n";
    return row;
}

std::unique_ptr<Recorder> Recorder::open(const std::string& path, std::string& error) {
    // A log on a pipe whose reader has gone must fail like a full disk, not kill the program
    // before it gives the analyser its option back.
#ifdef _WIN32
    // Rows end in CRLF already: no translation of "\n", and no handle for child processes.
    constexpr int kFlags = O_BINARY | O_NOINHERIT;
    const bool to_stdout = path == "-";
    if (to_stdout)
        _setmode(STDOUT_FILENO, O_BINARY);
#else
    std::signal(SIGPIPE, SIG_IGN);
    constexpr int kFlags = O_CLOEXEC;
    const bool to_stdout = path == "-";
#endif
    const int fd = to_stdout ? STDOUT_FILENO
                             : ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | kFlags, 0644);
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
