// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "form_fixture.h"
#include "panel/picture_box.h"

namespace vantel {
namespace {

using testing_support::Panel;

std::vector<int> lit_lamps(const Form1& form) {
    std::vector<int> lit;
    for (std::size_t i = 0; i < form.Blip.size(); ++i)
        if (!form.Blip[i]->isHidden())
            lit.push_back(static_cast<int>(i));
    return lit;
}

TEST(FunctionLamp, AllLampsShowUntilTheFirstPollThenExactlyOne) {
    Panel p;
    p.start();
    EXPECT_EQ(lit_lamps(*p.form), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    // The analyser's text is shown as it is, never read as markup.
    for (auto [function, lamp] : {std::pair{"Amplitude", 0},
                                  {"Noise (RMS)", 3},
                                  {"Cross-talk", 2},
                                  {"THD+N - relative", 4},
                                  {"Balance", 1},
                                  {"<b>Amplitude</b>", 5}}) {
        p.world.sim.override_value("CTDetector.CTD_Function", Value(function));
        p.work_tick();
        EXPECT_EQ(lit_lamps(*p.form), std::vector<int>{lamp}) << function;
        EXPECT_EQ(p.text("Selection_Info1"), function);
    }
}

struct WordCase {
    const char* name;
    const char* member;
    int code;
    int default_filter;
    const char* label;
    const char* word;
};

class StatusWord : public testing::TestWithParam<WordCase> {};

// While the detector follows the default filter, the weighting word names the default filter.
TEST_P(StatusWord, FollowsTheAnalyser) {
    Panel p;
    p.world.sim.set_default_weighting(GetParam().default_filter);
    p.world.set("CTDetector", GetParam().member, Value(GetParam().code));
    p.start();
    p.work_tick();
    EXPECT_EQ(p.text(GetParam().label), GetParam().word);
}

INSTANTIATE_TEST_SUITE_P(Cases, StatusWord,
                         testing::ValuesIn(std::vector<WordCase>{
                             {"Weighting", "CTD_WeightingFilter", 1, 3, "Label5", "A weighted"},
                             {"DefaultIsA", "CTD_WeightingFilter", 5, 1, "Label5", "A weighted"},
                             {"DefaultIsCcir", "CTD_WeightingFilter", 5, 4, "Label5", "CCIR468 2k"},
                             {"DefaultIsDefault", "CTD_WeightingFilter", 5, 5, "Label5", "default"},
                             {"DefaultUnnamed", "CTD_WeightingFilter", 5, 2, "Label5", "2"},
                             {"ResponseQPeak", "CTD_Response", 3, 1, "Label10", "Q-Peak"},
                             {"GeneratorRelative", "CTD_Relativity", 2, 1, "Rel_Label",
                              "gen. rel."},
                         }),
                         testing_support::RowName());

}  // namespace
}  // namespace vantel
