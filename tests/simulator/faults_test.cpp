// SPDX-License-Identifier: MIT
// The simulator's scripted misbehaviour.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "row_name.h"
#include "support.h"

namespace vantel {
namespace {

using testing_support::PrintTo;

using test::read;
using test::write;

TEST(Faults, FailedMemberFailsReadsAndWritesAloneUntilCleared) {
    Simulator sim;
    ObjectRef app = sim.application();
    sim.fail_member("CTDetector.CTD_Unit", "busy measuring");
    try {
        read(*app, "CTDetector.CTD_Unit");
        FAIL() << "the read succeeded";
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.member(), "CTDetector.CTD_Unit");
        EXPECT_EQ(e.reason(), "busy measuring");
    }
    EXPECT_THROW(write(*app, "CTDetector.CTD_Unit", Value(21)), AutomationError);
    EXPECT_NO_THROW(read(*app, "CTDetector.CTD_Response"));
    sim.clear_faults();
    EXPECT_EQ(read(*app, "CTDetector.CTD_Unit"), Value(std::int64_t{20})) << "write reached it";
}

TEST(Faults, SubObjectIsFetchedAfreshAtEveryAccess) {
    Simulator sim;
    ObjectRef app = sim.application();
    ObjectRef earlier = get_object(*app, "CTDetector");
    sim.fail_member("CTDetector", "refused by the test", 1);
    write(*app, "CTDetector.CTD_Response", Value(3));  // the one good fetch
    EXPECT_THROW(read(*app, "CTDetector.CTD_Response"), AutomationError);
    // An object fetched before is the same analyser, and not subject to the fetch's fault.
    EXPECT_EQ(earlier->get("CTD_Response"), Value(std::int64_t{3}));
}

TEST(Faults, GoneAwayFailsEveryAccessIncludingEarlierObjects) {
    Simulator sim;
    ObjectRef app = sim.application();
    ObjectRef options = get_object(*app, "Options");
    sim.set_gone_away(true);
    for (const char* path : {"IsInitialised", "UNIT_V", "CTDetector", "CTDetector.CTD_ChA"})
        EXPECT_THROW(read(*app, path), AutomationError) << path;
    EXPECT_THROW(options->set("OPT_UseSettlingsFromScripts", Value(AutoBool::False)),
                 AutomationError);
    sim.set_gone_away(false);
    EXPECT_EQ(options->get("OPT_UseSettlingsFromScripts"), Value(AutoBool::True));
}

struct OddValue {
    const char* name;
    const char* path;
    Value value;
    friend void PrintTo(const OddValue& row, std::ostream* os) { *os << row.name; }
};

class OddValues : public testing::TestWithParam<OddValue> {};

TEST_P(OddValues, ReadBackAsGivenUntilCleared) {
    Simulator sim;
    ObjectRef app = sim.application();
    const Value::Kind real_kind = read(*app, GetParam().path).kind();
    sim.override_value(GetParam().path, GetParam().value);
    const Value odd = read(*app, GetParam().path);
    EXPECT_EQ(odd.kind(), GetParam().value.kind());
    EXPECT_EQ(odd.describe(), GetParam().value.describe());  // NaN equals nothing, so by text
    sim.clear_faults();
    EXPECT_EQ(read(*app, GetParam().path).kind(), real_kind);
}

INSTANTIATE_TEST_SUITE_P(
    Analyser, OddValues,
    testing::ValuesIn(std::vector<OddValue>{
        {"InitialisedAsOne", "IsInitialised", Value(1)},
        {"UnitBeyond16Bits", "CTDetector.CTD_Unit", Value(std::int64_t{70000})},
        {"ReadingAsText", "CTDetector.CTD_ChA", Value("overload")},
        {"ReadingNotANumber", "CTDetector.CTD_ChB",
         Value(std::numeric_limits<double>::quiet_NaN())},
        {"FrameRateBeyond32Bits", "DigitalInputs.DI_FrameRate", Value(std::int64_t{1} << 40)},
        {"ConstantMoved", "UNIT_VRMS", Value(20)},
        {"SubObjectMissing", "SignalAnalyzer", Value::null()},
    }),
    testing_support::RowName());

TEST(Faults, SlowAnswersWaitOnTheInjectedSleep) {
    test::FakeTime time;
    Simulator sim(time.options());
    ObjectRef app = sim.application();
    sim.set_access_delay(0.25, time.sleep());
    read(*app, "CTDetector.CTD_ChA");  // two accesses: the sub-object and its member
    EXPECT_DOUBLE_EQ(time.slept_s, 0.5);
    sim.clear_faults();
    read(*app, "UNIT_V");
    EXPECT_DOUBLE_EQ(time.slept_s, 0.5);
}

}  // namespace
}  // namespace vantel
