// SPDX-License-Identifier: MIT
#include "analyser/conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "row_name.h"

namespace vantel {
namespace {

struct CodeCase {
    const char* name;
    Value value;
    int expected;  // ignored when `fails`
    bool fails;
};

class ToCode : public testing::TestWithParam<CodeCase> {};

TEST_P(ToCode, ConvertsOrRefuses) {
    const CodeCase& c = GetParam();
    if (c.fails) {
        EXPECT_THROW(to_code(c.value, "CTDetector.CTD_Unit"), AutomationError);
    } else {
        EXPECT_EQ(to_code(c.value), c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, ToCode,
    testing::Values(
        CodeCase{"Empty", Value(), 0, false}, CodeCase{"Whole", Value(21), 21, false},
        CodeCase{"Negative", Value(-1), -1, false}, CodeCase{"Max16", Value(32767), 32767, false},
        CodeCase{"Min16", Value(-32768), -32768, false},
        CodeCase{"Beyond16", Value(32768), 0, true}, CodeCase{"Below16", Value(-32769), 0, true},
        CodeCase{"DoubleTieDown", Value(2.5), 2, false},
        CodeCase{"DoubleTieUp", Value(3.5), 4, false},
        CodeCase{"DoubleNegativeTie", Value(-2.5), -2, false},
        CodeCase{"DoubleNearest", Value(20.7), 21, false},
        CodeCase{"DoubleRoundsOutOfRange", Value(32767.5), 0, true},
        CodeCase{"DoubleJustInRange", Value(32767.4), 32767, false},
        CodeCase{"NaN", Value(std::nan("")), 0, true},
        CodeCase{"True", Value(AutoBool::True), -1, false},
        CodeCase{"False", Value(AutoBool::False), 0, false},
        CodeCase{"NumericText", Value(" 23 "), 23, false},
        CodeCase{"WordText", Value("dBu"), 0, true}, CodeCase{"Null", Value::null(), 0, true}),
    testing_support::RowName());

TEST(ToCode, ErrorNamesTheMemberAndTheValue) {
    try {
        to_code(Value(70000), "CTDetector.CTD_Unit");
        FAIL() << "a code beyond 16 bits was accepted";
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.member(), "CTDetector.CTD_Unit");
        EXPECT_NE(std::string(e.what()).find("70000"), std::string::npos) << e.what();
    }
}

TEST(ToInt32, TakesWhatA16BitCodeCannot) {
    EXPECT_EQ(to_int32(Value(48000)), 48000);
    EXPECT_EQ(to_int32(Value(2147483647.0)), std::numeric_limits<std::int32_t>::max());
    EXPECT_THROW(to_int32(Value(std::int64_t{2147483648})), AutomationError);
    EXPECT_THROW(to_int32(Value(-2147483649.0)), AutomationError);
}

TEST(ToDouble, NumbersPassAndNonNumbersFail) {
    EXPECT_EQ(to_double(Value()), 0.0);
    EXPECT_EQ(to_double(Value(AutoBool::True)), -1.0);
    EXPECT_EQ(to_double(Value(7)), 7.0);
    EXPECT_EQ(to_double(Value("1.5e3")), 1500.0);
    EXPECT_TRUE(std::isnan(to_double(Value(std::nan("")))));
    EXPECT_THROW(to_double(Value("twelve")), AutomationError);
    EXPECT_THROW(to_double(Value::null()), AutomationError);
}

TEST(ToText, EachKind) {
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

TEST_P(NumberText, ShortestFormWithFifteenDigits) {
    EXPECT_EQ(number_text(GetParam().value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, NumberText,
    testing::Values(TextCase{"Zero", 0.0, "0"}, TextCase{"NegativeZero", -0.0, "0"},
                    TextCase{"Half", 0.5, "0.5"}, TextCase{"NegativeQuarter", -0.25, "-0.25"},
                    TextCase{"NoTrailingZeros", 12.30, "12.3"},
                    TextCase{"WholeHasNoPoint", 1000.0, "1000"},
                    TextCase{"FrameRate", 44100.0 / 1000.0, "44.1"},
                    TextCase{"BinaryNoiseHidden", 0.1 + 0.2, "0.3"},
                    TextCase{"ProductOfRounding", 1235.0 * 1e-3, "1.235"},
                    TextCase{"FifteenDigits", 123456789012345.0, "123456789012345"},
                    TextCase{"ExponentFrom1E15", 1e15, "1E+15"},
                    TextCase{"ExponentWithDigits", 1.235e15, "1.235E+15"},
                    TextCase{"RoundsUpIntoExponent", 999999999999999.9, "1E+15"},
                    TextCase{"LargeExponent", -2.5e123, "-2.5E+123"},
                    TextCase{"SmallFixed", 0.001, "0.001"},
                    TextCase{"TinyExponent", 1.5e-5, "1.5E-05"}),
    testing_support::RowName());

TEST(NumberText, IgnoresTheCLocale) {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous ? previous : "C";
    ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr)
        << "the install script provides the de_DE.UTF-8 locale";
    std::string text = number_text(12.3);
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(text, "12.3");
}

struct InitCase {
    const char* name;
    Value value;
    bool done;
};

class Initialised : public testing::TestWithParam<InitCase> {};

TEST_P(Initialised, ComplementDecides) {
    EXPECT_EQ(initialisation_done(GetParam().value), GetParam().done);
}

INSTANTIATE_TEST_SUITE_P(Values, Initialised,
                         testing::Values(InitCase{"True", Value(AutoBool::True), true},
                                         InitCase{"False", Value(AutoBool::False), false},
                                         InitCase{"Empty", Value(), false},
                                         InitCase{"One", Value(1), false},
                                         InitCase{"MinusOne", Value(-1), true},
                                         InitCase{"Null", Value::null(), true},
                                         InitCase{"TextTrue", Value("True"), true},
                                         InitCase{"TextFalse", Value("False"), false}),
                         testing_support::RowName());

TEST(Initialised, UnusableValueIsAFailure) {
    EXPECT_THROW(initialisation_done(Value("ready")), AutomationError);
}

}  // namespace
}  // namespace vantel
