// SPDX-License-Identifier: MIT
#pragma once

// Tables of test rows kept as CSV beside the test that reads them. The first line names the
// columns; the first column is the row's name, which GoogleTest shows (row_name.h), so it is an
// identifier. Fields may be quoted ("a, b", "say ""hi""", line breaks inside quotes kept); a line
// starting with # outside quotes is a comment. A malformed table throws with its file and line.
//
//   const auto rows = testing_support::csv_beside("cases.csv");  // next to the calling .cpp
//   INSTANTIATE_TEST_SUITE_P(Formats, FormatTest, ::testing::ValuesIn(rows), RowName{});
//   row["unit"], row.number("volts"), row.integer("digits"), row.text("lines") (C escapes),
//   words(row["rates"]) (a cell that lists several)

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <source_location>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantel::testing_support {

struct CsvRow {
    std::string name;                // the first column
    std::vector<std::string> cells;  // every column, the name included
    std::shared_ptr<const std::vector<std::string>> columns;
    std::string where;  // "file:line", for messages

    const std::string& operator[](std::string_view column) const {
        for (std::size_t i = 0; i < columns->size(); ++i)
            if ((*columns)[i] == column)
                return cells[i];
        throw std::out_of_range(where + ": no column '" + std::string(column) + "'");
    }
    // The cell with C escapes decoded (\n \r \t \\ \xNN), for texts with line ends or bytes
    // that are no text.
    std::string text(std::string_view column) const {
        const std::string& cell = (*this)[column];
        std::string out;
        for (std::size_t i = 0; i < cell.size(); ++i) {
            if (cell[i] != '\\') {
                out += cell[i];
                continue;
            }
            const char e = i + 1 < cell.size() ? cell[++i] : '?';
            if (e == 'n' || e == 'r' || e == 't' || e == '\\') {
                out += e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : '\\';
            } else if (e == 'x' && i + 2 < cell.size() &&
                       std::isxdigit(static_cast<unsigned char>(cell[i + 1])) &&
                       std::isxdigit(static_cast<unsigned char>(cell[i + 2]))) {
                out += static_cast<char>(std::stoi(cell.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                throw std::invalid_argument(where + ": an unknown escape in " +
                                            std::string(column));
            }
        }
        return out;
    }
    // A cell read by `parse`, which must take all of it.
    template <typename Parse>
    auto whole(std::string_view column, const char* what, Parse parse) const {
        const std::string& text = (*this)[column];
        std::size_t used = 0;
        decltype(parse(text, &used)) value{};
        try {
            value = parse(text, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used == 0 || used != text.size())
            throw std::invalid_argument(where + ": '" + text + "' in " + std::string(column) +
                                        " is not " + what);
        return value;
    }
    // The whole cell must be the number: "1.5x" is a fault of the table, not 1.5.
    double number(std::string_view column) const {
        return whole(column, "a number",
                     [](const std::string& t, std::size_t* used) { return std::stod(t, used); });
    }
    std::int64_t integer(std::string_view column) const {
        return whole(column, "an integer", [](const std::string& t, std::size_t* used) {
            return static_cast<std::int64_t>(std::stoll(t, used, 0));
        });
    }
    bool flag(std::string_view column) const {
        const std::string& text = (*this)[column];
        const bool yes = text == "1" || text == "true" || text == "yes";
        if (!yes && text != "0" && text != "false" && text != "no" && !text.empty())
            throw std::invalid_argument(where + ": '" + text + "' in " + std::string(column) +
                                        " is not a yes or no");
        return yes;
    }
};

inline void PrintTo(const CsvRow& row, std::ostream* os) {
    *os << row.name;
}

// The words of a cell that lists several: "997 1000" is {"997", "1000"}; empty words are skipped.
inline std::vector<std::string> words(const std::string& text, char separator = ' ') {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string word; std::getline(in, word, separator);)
        if (!word.empty())
            out.push_back(word);
    return out;
}

// Parses CSV text; `source` names it in messages.
inline std::vector<CsvRow> parse_csv(std::string_view text, const std::string& source) {
    std::vector<std::pair<std::size_t, std::vector<std::string>>> records;  // first line, fields
    std::vector<std::string> record;
    std::string field;
    bool quoted = false, started = false;  // inside quotes; the field has begun
    std::size_t line = 1, record_line = 1;
    const auto fail = [&](const std::string& why) {
        throw std::runtime_error(source + ":" + std::to_string(line) + ": " + why);
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i], next = i + 1 < text.size() ? text[i + 1] : '\n';
        if (quoted) {
            if (c == '"' && next == '"') {
                field += text[++i];
            } else if (c == '"') {
                quoted = false;
                if (next != ',' && next != '\n' && next != '\r')
                    fail("text after a closing quote");
            } else {
                line += c == '\n';
                field += c;
            }
            continue;
        }
        const bool line_start = record.empty() && !started;
        if (line_start && (c == '#' || c == '\n' || c == '\r')) {  // a comment or a blank line
            if (c == '#')
                i = std::min(text.find('\n', i), text.size());
            line += c != '\r';
            continue;
        }
        if (line_start)
            record_line = line;
        if (c == '"' && started) {
            fail("a quote inside an unquoted field");
        } else if (c == '"') {
            quoted = started = true;
        } else if (c == ',' || c == '\n') {
            record.push_back(std::exchange(field, {}));
            started = false;
            if (c == '\n') {
                records.emplace_back(record_line, std::exchange(record, {}));
                ++line;
            }
        } else if (c != '\r') {  // CRLF line ends: the \n ends the record
            field += c;
            started = true;
        }
    }
    if (quoted)
        fail("a quoted field is not closed");
    if (!record.empty() || started) {
        record.push_back(std::move(field));
        records.emplace_back(record_line, std::move(record));
    }
    if (records.size() < 2)  // a table without rows would make every check over it pass
        throw std::runtime_error(source + ": no rows under the header");
    const auto columns = std::make_shared<const std::vector<std::string>>(records.front().second);
    std::vector<CsvRow> rows;
    for (auto& [first_line, cells] : std::span(records).subspan(1)) {
        const std::string where = source + ":" + std::to_string(first_line);
        if (cells.size() != columns->size())
            throw std::runtime_error(where + ": " + std::to_string(cells.size()) +
                                     " fields, the header has " + std::to_string(columns->size()));
        rows.push_back(CsvRow{cells.front(), std::move(cells), columns, where});
    }
    return rows;
}

inline std::vector<CsvRow> read_csv(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error(path.string() + ": cannot be read");
    std::ostringstream text;
    text << in.rdbuf();
    return parse_csv(text.str(), path.string());
}

// The table `file_name` in the folder of the source file that calls this (the build gives the
// compiler full source paths), so a test needs no path from CMake.
inline std::vector<CsvRow> csv_beside(
    const std::string& file_name, std::source_location caller = std::source_location::current()) {
    return read_csv(std::filesystem::path(caller.file_name()).parent_path() / file_name);
}

}  // namespace vantel::testing_support
