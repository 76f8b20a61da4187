// SPDX-License-Identifier: MIT
#include "status/functions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "row_name.h"

namespace vantel {
namespace {

using testing_support::PrintTo;

const std::string thdn = "THD+N - relative";
const std::string noise_a = "Noise (A-weighted)";

struct KnobCase {
    const char* name;
    std::string function_name;
    int lamp;
    std::string left, right;
};

class FunctionKnob : public testing::TestWithParam<KnobCase> {};

TEST_P(FunctionKnob, LampAndSteps) {
    const KnobCase& c = GetParam();
    EXPECT_EQ(function_lamp(c.function_name), c.lamp);
    EXPECT_EQ(knob_step_left(c.function_name), c.left);
    EXPECT_EQ(knob_step_right(c.function_name), c.right);
}

INSTANTIATE_TEST_SUITE_P(Names, FunctionKnob,
                         testing::ValuesIn(std::vector<KnobCase>{
                             {"Amplitude", "Amplitude", 0, thdn, "Balance"},
                             {"Balance", "Balance", 1, "Amplitude", "Cross-talk"},
                             {"CrossTalk", "Cross-talk", 2, "Balance", noise_a},
                             {"NoiseAWeighted", noise_a, 3, "Cross-talk", thdn},
                             {"NoiseRms", "Noise (RMS)", 3, "Cross-talk", thdn},
                             {"NoiseCcir468", "Noise (CCIR-468)", 3, "Cross-talk", thdn},
                             {"NoiseUnweighted", "Noise (unweighted)", 3, "Cross-talk", thdn},
                             {"NoisePlain", "Noise", 3, "Cross-talk", thdn},
                             {"ThdN", thdn, 4, noise_a, "Amplitude"},
                             // Anything else is "Other": exact names, no case folding or trimming.
                             {"DesignTimeCaption", "Selected Function", 5, thdn, "Amplitude"},
                             {"LowerCase", "amplitude", 5, thdn, "Amplitude"},
                             {"TrailingSpace", "Noise ", 5, thdn, "Amplitude"},
                             {"LeadingSpace", " Balance", 5, thdn, "Amplitude"},
                             {"ShortThdN", "THD+N", 5, thdn, "Amplitude"},
                             {"Empty", "", 5, thdn, "Amplitude"},
                         }),
                         testing_support::RowName());

}  // namespace
}  // namespace vantel
