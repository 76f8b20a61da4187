// SPDX-License-Identifier: MIT
#include "meter/functions.h"

#include <algorithm>
#include <cstddef>

namespace vantel {

namespace {

constexpr int other_lamp = 5;
constexpr int noise_lamp = 3;

// The noise functions the analyser names; all share one knob position.
constexpr std::array<std::string_view, 5> noise_names{
    "Noise (A-weighted)", "Noise (RMS)", "Noise (CCIR-468)", "Noise (unweighted)", "Noise"};

}  // namespace

int function_lamp(std::string_view function_name) {
    if (std::find(noise_names.begin(), noise_names.end(), function_name) != noise_names.end())
        return noise_lamp;
    for (std::size_t position = 0; position < function_key_names.size(); ++position) {
        if (function_key_names[position] == function_name)
            return static_cast<int>(position);
    }
    return other_lamp;
}

std::string_view knob_step_left(std::string_view current) {
    int from = function_lamp(current);
    int last = static_cast<int>(function_key_names.size()) - 1;
    int to = (from == 0 || from == other_lamp) ? last : from - 1;
    return function_key_names[static_cast<std::size_t>(to)];
}

std::string_view knob_step_right(std::string_view current) {
    int from = function_lamp(current);
    int last = static_cast<int>(function_key_names.size()) - 1;
    int to = (from >= last) ? 0 : from + 1;
    return function_key_names[static_cast<std::size_t>(to)];
}

}  // namespace vantel
