// SPDX-License-Identifier: MIT
#include "recorder/recorder.h"

#include <charconv>
#include <cstdio>
#include <ctime>

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

std::string csv_header(bool with_pass) {
    std::string header =
        "time,seconds,channel,function,reading,unit,display,minimum,maximum,weighting,"
        "response,relativity,input,held,status,source";
    if (with_pass)
        header += ",pass";
    return header + "\r\n";
}

std::string csv_row(const MeterReading& r, std::chrono::system_clock::time_point wall,
                    std::optional<bool> passed) {
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
    if (passed)
        append_field(row, *passed ? "true" : "false");
    row += "\r\n";
    return row;
}

std::unique_ptr<Recorder> Recorder::open(const std::string& path, const RecorderOptions& options,
                                         std::string& error) {
    const LogTarget target{path, csv_header(options.pass_column), options.existing,
                           options.queue_rows};
    std::unique_ptr<LogWriter> writer = options.in_background
                                            ? LogWriter::open_in_background(target)
                                            : LogWriter::open(target, error);
    if (!writer)
        return nullptr;
    return std::unique_ptr<Recorder>(new Recorder(std::move(writer), options.pass_column));
}

Recorder::Recorder(std::unique_ptr<LogWriter> writer, bool pass_column)
    : writer_(std::move(writer)), pass_column_(pass_column) {}

Recorder::~Recorder() = default;

bool Recorder::check_writer() {
    if (stopped_)
        return true;
    const std::optional<LogWriter::Failure> failure = writer_->failure();
    if (!failure)
        return false;
    stopped_ = true;
    reader_left_ = failure->reader_left;
    Q_EMIT failed(QString::fromStdString(failure->why));
    return true;
}

void Recorder::record(const MeterReading& reading, std::optional<bool> passed) {
    if (check_writer() || (reading.occasion != MeterReading::Occasion::Cycle &&
                           reading.occasion != MeterReading::Occasion::HeldTick))
        return;
    if (pass_column_)
        passed = passed.value_or(false);
    else
        passed.reset();
    writer_->write(csv_row(reading, wall_clock(), passed));
}

std::vector<std::string> Recorder::finish() {
    std::vector<std::string> report = writer_->finish(std::chrono::seconds(1));
    if (!stopped_) {
        // A reader that left at the very end has nothing more to be told.
        const std::optional<LogWriter::Failure> failure = writer_->failure();
        if (failure && !failure->reader_left)
            report.insert(report.begin(), failure->why);
        stopped_ = failure.has_value();
        reader_left_ = failure && failure->reader_left;
    }
    return report;
}

}  // namespace vantel
