// SPDX-License-Identifier: MIT
#include "automation/conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

#include "row_name.h"

namespace vantel {
namespace {

using testing_support::PrintTo;

struct CodeCase {
    const char* name;
    Value value;
    std::optional<int> expected;  // nothing: refused
};

class ToCode : public testing::TestWithParam<CodeCase> {};

// A refusal names the member and the value.
TEST_P(ToCode, ConvertsOrRefuses) {
    const CodeCase& c = GetParam();
    try {
        const int got = to_code(c.value, "CTDetector.CTD_Unit");
        EXPECT_EQ(std::optional(got), c.expected);
    } catch (const AutomationError& e) {
        EXPECT_FALSE(c.expected) << e.what();
        EXPECT_EQ(e.member(), "CTDetector.CTD_Unit");
        EXPECT_NE(std::string(e.what()).find(c.value.describe()), std::string::npos) << e.what();
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Values, ToCode, testing::ValuesIn(std::vector<CodeCase>{
    {"Empty", Value(), 0}, {"Whole", Value(21), 21}, {"Negative", Value(-1), -1},
    {"Max16", Value(32767), 32767}, {"Min16", Value(-32768), -32768},
    {"Beyond16", Value(32768), {}}, {"Below16", Value(-32769), {}},
    {"DoubleTieDown", Value(2.5), 2}, {"DoubleTieUp", Value(3.5), 4},
    {"DoubleNegativeTie", Value(-2.5), -2}, {"DoubleNearest", Value(20.7), 21},
    {"DoubleRoundsOutOfRange", Value(32767.5), {}}, {"DoubleJustInRange", Value(32767.4), 32767},
    {"NaN", Value(std::nan("")), {}}, {"True", Value(AutoBool::True), -1},
    {"False", Value(AutoBool::False), 0}, {"NumericText", Value(" 23 "), 23},
    {"WordText", Value("dBu"), {}}, {"Null", Value::null(), {}},
}), testing_support::RowName());
// clang-format on

TEST(OtherConversions, Int32DoubleAndText) {
    EXPECT_EQ(to_int32(Value(48000)), 48000);
    EXPECT_EQ(to_int32(Value(2147483647.0)), std::numeric_limits<std::int32_t>::max());
    EXPECT_THROW(to_int32(Value(std::int64_t{2147483648})), AutomationError);
    EXPECT_THROW(to_int32(Value(-2147483649.0)), AutomationError);

    EXPECT_EQ(to_double(Value()), 0.0);
    EXPECT_EQ(to_double(Value(AutoBool::True)), -1.0);
    EXPECT_EQ(to_double(Value(7)), 7.0);
    EXPECT_EQ(to_double(Value("1.5e3")), 1500.0);
    EXPECT_TRUE(std::isnan(to_double(Value(std::nan("")))));
    EXPECT_THROW(to_double(Value("twelve")), AutomationError);
    EXPECT_THROW(to_double(Value::null()), AutomationError);

    EXPECT_EQ(to_text(Value()), "");
    EXPECT_EQ(to_text(Value("Amplitude")), "Amplitude");
    EXPECT_EQ(to_text(Value(-3)), "-3");
    EXPECT_EQ(to_text(Value(44.1)), "44.1");
    EXPECT_EQ(to_text(Value(AutoBool::True)), "True");
    EXPECT_THROW(to_text(Value::null()), AutomationError);
}

struct TextCase {
    const char* name;
    double value;
    const char* expected;
};

class NumberText : public testing::TestWithParam<TextCase> {};

// The plainer forms show in the formatted readings (reading_format_test).
TEST_P(NumberText, ShortestFormWithFifteenDigits) {
    EXPECT_EQ(number_text(GetParam().value), GetParam().expected);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Values, NumberText, testing::ValuesIn(std::vector<TextCase>{
    {"NegativeZero", -0.0, "0"}, {"BinaryNoiseHidden", 0.1 + 0.2, "0.3"},
    {"FifteenDigits", 123456789012345.0, "123456789012345"},
    {"ExponentWithDigits", 1.235e15, "1.235E+15"},
    {"RoundsUpIntoExponent", 999999999999999.9, "1E+15"},
    {"LargeExponent", -2.5e123, "-2.5E+123"}, {"SmallFixed", 0.001, "0.001"},
    {"TinyExponent", -2.5e-5, "-2.5E-05"},
}), testing_support::RowName());
// clang-format on

struct InitCase {
    const char* name;
    Value value;
    bool done;
};

class Initialised : public testing::TestWithParam<InitCase> {};

// Anything but a number, a Boolean or numeric text is a failure, not an answer.
TEST_P(Initialised, ComplementDecides) {
    EXPECT_EQ(initialisation_done(GetParam().value), GetParam().done);
    EXPECT_THROW(initialisation_done(Value("ready")), AutomationError);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Values, Initialised, testing::ValuesIn(std::vector<InitCase>{
    {"True", Value(AutoBool::True), true}, {"False", Value(AutoBool::False), false},
    {"Empty", Value(), false}, {"One", Value(1), false}, {"MinusOne", Value(-1), true},
    {"Null", Value::null(), true}, {"TextTrue", Value("True"), true},
    {"TextFalse", Value("False"), false},
}), testing_support::RowName());
// clang-format on

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
