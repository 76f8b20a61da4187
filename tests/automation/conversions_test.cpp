// SPDX-License-Identifier: MIT
#include "automation/conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

#include "csv_table.h"
#include "row_name.h"
#include "value_cell.h"

namespace vantel {
namespace {

using namespace testing_support;

class ToCode : public testing::TestWithParam<CsvRow> {};

// A refusal names the member and the value.
TEST_P(ToCode, ConvertsOrRefuses) {
    const Value value = value_cell(GetParam()["value"]);
    const std::optional<std::int64_t> expected =
        GetParam()["expected"].empty() ? std::nullopt
                                       : std::optional(GetParam().integer("expected"));
    try {
        const int got = to_code(value, "CTDetector.CTD_Unit");
        EXPECT_EQ(std::optional<std::int64_t>(got), expected);
    } catch (const AutomationError& e) {
        EXPECT_FALSE(expected) << e.what();
        EXPECT_EQ(e.member(), "CTDetector.CTD_Unit");
        EXPECT_NE(std::string(e.what()).find(value.describe()), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Values, ToCode, testing::ValuesIn(csv_beside("codes.csv")), RowName());

TEST(OtherConversions, Int32DoubleAndText) {
    EXPECT_EQ(to_int32(Value(2147483647.0)), std::numeric_limits<std::int32_t>::max());
    EXPECT_THROW(to_int32(Value(std::int64_t{2147483648})), AutomationError);
    EXPECT_THROW(to_int32(Value(-2147483649.0)), AutomationError);

    EXPECT_EQ(to_double(Value()), 0.0);
    EXPECT_EQ(to_double(Value(AutoBool::True)), -1.0);
    EXPECT_EQ(to_double(Value("1.5e3")), 1500.0);
    EXPECT_TRUE(std::isnan(to_double(Value(std::nan("")))));
    EXPECT_THROW(to_double(Value("twelve")), AutomationError);
    EXPECT_THROW(to_double(Value::null()), AutomationError);

    EXPECT_EQ(to_text(Value()), "");
    EXPECT_EQ(to_text(Value(-3)), "-3");
    EXPECT_EQ(to_text(Value(44.1)), "44.1");
    EXPECT_EQ(to_text(Value(AutoBool::True)), "True");
    EXPECT_THROW(to_text(Value::null()), AutomationError);
}

class NumberText : public testing::TestWithParam<CsvRow> {};

// The plainer forms show in the formatted readings (reading_format_test).
TEST_P(NumberText, ShortestFormWithFifteenDigits) {
    EXPECT_EQ(number_text(GetParam().number("value")), GetParam()["expected"]);
}

INSTANTIATE_TEST_SUITE_P(Values, NumberText, testing::ValuesIn(csv_beside("number_texts.csv")),
                         RowName());

class Initialised : public testing::TestWithParam<CsvRow> {};

// Anything but a number, a Boolean or numeric text is a failure, not an answer.
TEST_P(Initialised, ComplementDecides) {
    EXPECT_EQ(initialisation_done(value_cell(GetParam()["value"])), GetParam().flag("done"));
    EXPECT_THROW(initialisation_done(Value("ready")), AutomationError);
}

INSTANTIATE_TEST_SUITE_P(Values, Initialised, testing::ValuesIn(csv_beside("initialised.csv")),
                         RowName());

// A value in a message or a log line is cut to 200 characters, whole UTF-8 characters, and says
// how long it was: a refused 4 MiB write must not become 4 MiB of log.
TEST(Describe, CutsLongTextToTwoHundredCharacters) {
    std::string e_acute_250;
    for (int i = 0; i < 250; ++i)
        e_acute_250 += "\xC3\xA9";
    std::string e_acute_200 = e_acute_250.substr(0, 400);
    for (auto [text, want] :
         {std::pair{std::string(200, 'a'), '"' + std::string(200, 'a') + '"'},
          {std::string(201, 'a'), '"' + std::string(200, 'a') + "\u2026\" (201 bytes)"},
          {e_acute_250, '"' + e_acute_200 + "\u2026\" (500 bytes)"},
          {std::string(4 << 20, 'x'), '"' + std::string(200, 'x') + "\u2026\" (4194304 bytes)"}})
        EXPECT_EQ(Value(text).describe(), want) << text.size();
}

}  // namespace
}  // namespace vantel
