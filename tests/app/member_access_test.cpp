// SPDX-License-Identifier: MIT
// --set from text to a write into our analyser: the member's sub-object, the value's kind, and a
// refusal that names the --set.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/member_access.h"
#include "instrument/analyser.h"
#include "row_name.h"

namespace vantel {
namespace {

using ::testing::HasSubstr;
using testing_support::PrintTo;
using testing_support::thrown;

struct WriteCase {
    const char* name;
    const char* text;
    const char* object;  // nothing: refused
    const char* member;
    const char* value;
};

class SetText : public testing::TestWithParam<WriteCase> {};

TEST_P(SetText, NamesTheSubObjectByTheMembersPrefix) {
    const WriteCase& c = GetParam();
    std::string error;
    const std::optional<MemberWrite> w = parse_member_write(c.text, error);
    if (!c.object) {
        EXPECT_FALSE(w);
        EXPECT_THAT(error, HasSubstr("--set"));
        return;
    }
    ASSERT_TRUE(w) << error;
    EXPECT_EQ(w->object, c.object);
    EXPECT_EQ(w->member, c.member);
    EXPECT_EQ(w->value, c.value);
    EXPECT_EQ(w->given, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SetText,
    testing::Values(
        WriteCase{"Detector", "CTD_Unit=UNIT_DBU", "CTDetector", "CTD_Unit", "UNIT_DBU"},
        WriteCase{"TextWithEquals", "CTD_Function=a=b", "CTDetector", "CTD_Function", "a=b"},
        WriteCase{"SignalAnalyzer", "SA_Source=1", "SignalAnalyzer", "SA_Source", "1"},
        WriteCase{"AnalogueInputs", "AI_Source=0", "AnalogueInputs", "AI_Source", "0"},
        WriteCase{"DigitalInputs", "DI_Source=2", "DigitalInputs", "DI_Source", "2"},
        WriteCase{"Generator", "GEN_Level=1", "Generator", "GEN_Level", "1"},
        WriteCase{"Qualified", "Generator.GEN_On=true", "Generator", "GEN_On", "true"},
        WriteCase{"EmptyValue", "CTD_Function=", "CTDetector", "CTD_Function", ""},
        WriteCase{"UnknownPrefix", "Level=1", nullptr, nullptr, nullptr},
        WriteCase{"NoValue", "CTD_Unit", nullptr, nullptr, nullptr},
        WriteCase{"NoName", "=1", nullptr, nullptr, nullptr},
        WriteCase{"NotAName", "CTD_Unit x=1", nullptr, nullptr, nullptr},
        // The panel saves and restores it: a value set here would be restored as the user's.
        WriteCase{"ThePanelsOwnOption", "OPT_UseSettlingsFromScripts=1", nullptr, nullptr,
                  nullptr}),
    testing_support::RowName());

struct ValueCase {
    const char* name;
    const char* text;
    Value expected;
};

class SetValue : public testing::TestWithParam<ValueCase> {};

TEST_P(SetValue, IsANumberABooleanANamedConstantOrText) {
    Analyser analyser;
    EXPECT_EQ(resolve_value(*analyser.application(), GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, SetValue,
    testing::Values(ValueCase{"Whole", "23", Value(23)}, ValueCase{"Negative", "-1", Value(-1)},
                    ValueCase{"Plus", "+5", Value(5)}, ValueCase{"Decimal", "0.25", Value(0.25)},
                    ValueCase{"Exponent", "1e3", Value(1000.0)},
                    ValueCase{"True", "true", Value(AutoBool::True)},
                    ValueCase{"FalseInCapitals", "FALSE", Value(AutoBool::False)},
                    ValueCase{"NamedConstant", "UNIT_DBU", Value(23)},
                    ValueCase{"FunctionName", "THD+N - relative", Value("THD+N - relative")},
                    ValueCase{"CapitalsWithoutUnderscore", "RMS", Value("RMS")},
                    ValueCase{"WordsThatParseAsNumbers", "inf", Value("inf")},
                    ValueCase{"CommaDecimal", "0,25", Value("0,25")}),
    testing_support::RowName());

TEST(SetValue, ANamedConstantTheAnalyserLacksIsAnError) {
    Analyser analyser;
    EXPECT_THAT(
        thrown<AutomationError>([&] { resolve_value(*analyser.application(), "UNIT_DBX"); }),
        HasSubstr("UNIT_DBX: the analyser offers no named constant of this name"));
}

// In order, up to the first the analyser refuses; the error names that --set and the reason.
TEST(ApplyWrites, WritesInOrderAndStopsAtARefusal) {
    Analyser analyser;
    ObjectRef app = analyser.application();
    std::vector<MemberWrite> writes;
    for (const char* text : {"CTD_Function=THD+N - relative", "CTD_Unit=99", "GEN_Level=2"}) {
        std::string error;
        writes.push_back(*parse_member_write(text, error));
    }
    EXPECT_THAT(thrown<AutomationError>([&] { apply_writes(*app, writes); }),
                ::testing::AllOf(HasSubstr("--set CTD_Unit=99: CTDetector.CTD_Unit: "),
                                 HasSubstr("99 is not a unit code")));
    EXPECT_EQ(get_member(*app, "CTDetector", "CTD_Function"), Value("THD+N - relative"));
    EXPECT_NE(get_member(*app, "Generator", "GEN_Level"), Value(2.0));
}

}  // namespace
}  // namespace vantel
