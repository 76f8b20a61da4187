// SPDX-License-Identifier: MIT
// The named constants: the panel compares codes with them by name, and writes some as numbers.
#include <gtest/gtest.h>

#include <set>

#include "support.h"

namespace vantel {
namespace {

constexpr std::int64_t kOurs = -1;  // a code of our choosing; only its distinctness matters

// Every name the panel reads, spelt as the panel spells it, with the code the panel also writes
// or tests as a plain number.
// clang-format off
constexpr std::pair<const char*, std::int64_t> kPanelNames[] = {
    {"UNIT_NULL", 0}, {"UNIT_SECONDS", kOurs}, {"UNIT_MS", kOurs}, {"UNIT_FREQ_HZ", kOurs},
    {"UNIT_FREQ_OFFSET", kOurs}, {"UNIT_FREQ_RATIO", kOurs}, {"UNIT_DBFS", 32},
    {"UNIT_FS", kOurs}, {"UNIT_FFS", kOurs}, {"UNIT_HEX", kOurs}, {"UNIT_VRMS", kOurs},
    {"UNIT_VP", 21}, {"UNIT_VPP", 22}, {"UNIT_DBU", 23}, {"UNIT_DBV", 66}, {"UNIT_DBM", 30},
    {"UNIT_W", 31}, {"UNIT_DBR", kOurs}, {"UNIT_PERCENTREF", kOurs}, {"UNIT_RELATIVE_DB", 37},
    {"UNIT_RELATIVE_PERCENT", 38}, {"UNIT_JITTER_UI", kOurs}, {"UNIT_JITTER_NS", kOurs},
    {"UNIT_PHASE_UI", kOurs}, {"UNIT_PHASE_PERCENT", kOurs}, {"UNIT_PHASE_SAMPLES", kOurs},
    {"UNIT_PHASE_DEGREES", kOurs}, {"UNIT_PHASE_RADIANS", kOurs}, {"UNIT_PHASE_US", kOurs},
    {"UNIT_DUTYCYCLE_PERCENT", kOurs}, {"UNIT_DUTYCYCLE_SAMPLES", kOurs}, {"UNIT_V", 20},
    {"UNIT_PPM", kOurs},
    {"CTD_WEIGHTING_NONE", 0}, {"CTD_WEIGHTING_AWEIGHTING", 1}, {"CTD_WEIGHTING_CCIR468_1K", 3},
    {"CTD_WEIGHTING_CCIR468_2K", 4}, {"CTD_WEIGHTING_DEFAULT", 5},
    {"CTD_RESPONSE_RMS", 0}, {"CTD_RESPONSE_PEAK", 1}, {"CTD_RESPONSE_PEAKSAMPLE", 2},
    {"CTD_RESPONSE_QPEAK", 3},
    {"CTD_RELATIVITY_ABS", 0}, {"CTD_RELATIVITY_SELF", 1}, {"CTD_RELATIVITY_GEN", 2},
    {"CTD_RELATIVITY_CHANNEL", 3},
    {"AI_SOURCE_BAL_UNBAL", 0}, {"AI_SOURCE_JITTERDEMOD_FS", kOurs},
    {"AI_SOURCE_JITTERDEMOD_DATA", kOurs}, {"AI_SOURCE_GENOUTPUT", 3}, {"AI_SOURCE_CHA", kOurs},
    {"AI_SOURCE_CHB", kOurs},
    {"DI_SOURCE_XLR", 0}, {"DI_SOURCE_BNC", 1}, {"DI_SOURCE_TOSLINK", 2},
    {"DI_SOURCE_GENXLR", 3}, {"DI_SOURCE_GENBNC", 4},
};
// clang-format on

TEST(Constants, ApplicationPublishesEveryNameWithTheFixedCodes) {
    ObjectRef app = Simulator().application();
    for (auto [name, fixed] : kPanelNames) {
        const Value v = app->get(name);
        ASSERT_EQ(v.kind(), Value::Kind::Integer) << name;
        if (fixed != kOurs) {
            EXPECT_EQ(v.as_integer(), fixed) << name;
        }
    }
    EXPECT_EQ(std::size(kPanelNames), sim::kConstants.size()) << "names the panel never reads";
    EXPECT_THROW(app->set("UNIT_V", Value(5)), AutomationError);
    EXPECT_EQ(app->get("UNIT_V"), Value(std::int64_t{20}));
    EXPECT_THROW(app->get("UNIT_VOLTS"), AutomationError);
}

TEST(Constants, EachEnumerationHasItsMembersWithDistinctCodes) {
    using E = sim::Enumeration;
    for (auto [enumeration, count] : {std::pair<E, std::size_t>{E::Unit, 33},
                                      {E::Weighting, 5},
                                      {E::Response, 4},
                                      {E::Relativity, 4},
                                      {E::AnalogueSource, 6},
                                      {E::DigitalSource, 5}}) {
        std::set<std::int16_t> codes;
        for (const sim::NamedConstant& c : sim::kConstants)
            if (c.enumeration == enumeration) {
                EXPECT_TRUE(codes.insert(c.code).second) << c.name << " repeats a code";
            }
        EXPECT_EQ(codes.size(), count) << static_cast<int>(enumeration);
    }
    EXPECT_FALSE(sim::is_member(E::Weighting, sim::kUnnamedWeighting));
}

}  // namespace
}  // namespace vantel
