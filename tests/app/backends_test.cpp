// SPDX-License-Identifier: MIT
// Picking the analyser backend by name (the automatic choice against the private bus), member
// access through sub-objects, and --set from text to a write. The access log (RecordingObject)
// is checked wherever the panel's tests compare reads and writes with it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/backends.h"
#include "app/member_access.h"
#include "automation/automation.h"
#include "instrument/analyser.h"
#include "private_bus.h"
#include "row_name.h"

namespace vantel {
namespace {

using namespace testing_support;
using ::testing::HasSubstr;
using testing_support::PrintTo;

// Backends that reach an analyser process are tried against one on the private bus (below,
// and the panel's process tests). The default is one this build knows.
TEST(Backends, EverySelfContainedBackendGivesANewApplication) {
    bool default_known = false;
    for (const BackendInfo& b : known_backends()) {
        SCOPED_TRACE(std::string(b.name));
        EXPECT_FALSE(b.description.empty());
        default_known = default_known || b.name == default_backend();
        if (!b.self_contained)
            continue;
        ObjectRef first = obtain_application(b.name), second = obtain_application(b.name);
        ASSERT_TRUE(first && second);
        set_member(*first, "CTDetector", "CTD_Response", Value(2));
        EXPECT_EQ(get_member(*second, "CTDetector", "CTD_Response"), Value(std::int64_t{0}));
    }
    EXPECT_TRUE(default_known) << default_backend();
}

TEST(Backends, UnknownBackendOrIdentifierIsRefusedByName) {
    EXPECT_THAT(thrown<AutomationError>([] { obtain_application("gpib"); }),
                ::testing::AllOf(HasSubstr("gpib"), HasSubstr("sim")));
    EXPECT_THAT(thrown<AutomationError>([] { obtain_application("sim", "Vantel.Generator"); }),
                ::testing::StartsWith("Vantel.Generator: "));
}

// A backend's sub-object may name only the member; the failure still names the whole path.
TEST(Automation, FailureInASubObjectNamesTheWholePath) {
    struct Object final : AutomationObject {
        Value get(std::string_view member) override {
            if (member == "Sub")
                return Value(ObjectRef(std::make_shared<Object>()));
            throw AutomationError(std::string(member), "no such member");
        }
        void set(std::string_view member, const Value&) override {
            throw AutomationError(std::string(member), "read-only");
        }
    } app;
    EXPECT_THAT(thrown<AutomationError>([&] { get_member(app, "Sub", "Level"); }),
                ::testing::StartsWith("Sub.Level: no such member"));
    EXPECT_THAT(thrown<AutomationError>([&] { set_member(app, "Sub", "Level", Value(1)); }),
                ::testing::StartsWith("Sub.Level: read-only"));
}

struct ChoiceCase {
    const char* name;
    bool analyser_running;
    bool activatable;
    const char* chosen;
};

class AutoBackend : public OnPrivateBus, public testing::WithParamInterface<ChoiceCase> {};

TEST_P(AutoBackend, TakesTheBusAnalyserWhenThereIsOneElseTheBuiltIn) {
    const ChoiceCase& c = GetParam();
    std::optional<AnalyserProcess> analyser;
    if (c.analyser_running)
        analyser.emplace();
    if (c.activatable)
        PrivateBus::instance().install_service(QStringLiteral(VANTEL_ANALYSER_BINARY));
    const BackendChoice choice = choose_backend("auto");
    PrivateBus::instance().install_service({});
    EXPECT_EQ(choice.backend, c.chosen) << choice.why;
    EXPECT_THAT(choice.why, HasSubstr("Vantel.Application"));
    EXPECT_EQ(choose_backend("sim").backend, "sim");
    EXPECT_THAT(thrown([] { choose_backend("builtin"); }), HasSubstr("known: "));
}

INSTANTIATE_TEST_SUITE_P(Cases, AutoBackend,
                         testing::Values(ChoiceCase{"Running", true, false, "dbus"},
                                         ChoiceCase{"Activatable", false, true, "dbus"},
                                         ChoiceCase{"Neither", false, false, "sim"}),
                         RowName());

TEST(AutoBackendWithoutABus, IsTheBuiltInAnalyser) {
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("XDG_RUNTIME_DIR", "/nonexistent");
    const BackendChoice choice = choose_backend("auto");
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    qputenv("XDG_RUNTIME_DIR", runtime);
    EXPECT_EQ(choice.backend, "sim");
    EXPECT_THAT(choice.why, HasSubstr("no D-Bus session bus"));
}

// --set from text to a write into our analyser: the member's sub-object, the value's kind, and a
// refusal that names the --set.
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

}  // namespace
}  // namespace vantel
