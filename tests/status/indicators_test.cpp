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
    struct Row {
        const char* function;
        int lamp;
    };
    for (const Row& row : {Row{"Amplitude", 0}, Row{"Noise (RMS)", 3}, Row{"Cross-talk", 2},
                           Row{"THD+N - relative", 4}, Row{"Balance", 1}}) {
        p.world.set("CTDetector", "CTD_Function", Value(row.function));
        p.work_tick();
        EXPECT_EQ(lit_lamps(*p.form), std::vector<int>{row.lamp}) << row.function;
    }
}

TEST(FunctionLamp, UnknownFunctionLightsOther) {
    Panel p;
    p.start();
    p.world.sim.override_value("CTDetector.CTD_Function", Value("<b>Amplitude</b>"));
    p.work_tick();
    EXPECT_EQ(lit_lamps(*p.form), std::vector<int>{5});
    // The analyser's text is shown as it is, never read as markup.
    EXPECT_EQ(p.text("Selection_Info1"), "<b>Amplitude</b>");
}

struct WeightingCase {
    const char* name;
    int detector;
    int default_filter;
    const char* word;
};

class WeightingWord : public testing::TestWithParam<WeightingCase> {};

// While the detector follows the default filter, the word names the default filter.
TEST_P(WeightingWord, FollowsTheDefaultFilter) {
    Panel p;
    p.world.sim.set_default_weighting(GetParam().default_filter);
    p.world.set("CTDetector", "CTD_WeightingFilter", Value(GetParam().detector));
    p.start();
    p.work_tick();
    EXPECT_EQ(p.text("Label5"), GetParam().word);
}

INSTANTIATE_TEST_SUITE_P(Cases, WeightingWord,
                         testing::Values(WeightingCase{"Plain", 1, 3, "A weighted"},
                                         WeightingCase{"DefaultIsA", 5, 1, "A weighted"},
                                         WeightingCase{"DefaultIsCcir", 5, 4, "CCIR468 2k"},
                                         WeightingCase{"DefaultIsDefault", 5, 5, "default"},
                                         WeightingCase{"DefaultUnnamed", 5, 2, "2"}),
                         testing_support::RowName());

TEST(StatusWords, ResponseAndRelativityFollowTheAnalyser) {
    Panel p;
    p.start();
    p.work_tick();
    EXPECT_EQ(p.text("Label10"), "RMS");
    EXPECT_EQ(p.text("Rel_Label"), "absolute");
    p.world.set("CTDetector", "CTD_Response", Value(3));
    p.world.set("CTDetector", "CTD_Relativity", Value(2));
    p.work_tick();
    EXPECT_EQ(p.text("Label10"), "Q-Peak");
    EXPECT_EQ(p.text("Rel_Label"), "gen. rel.");
}

}  // namespace
}  // namespace vantel
