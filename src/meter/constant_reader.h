// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <string_view>

namespace vantel {

// Reads the value of one of the analyser's named constants, e.g. "UNIT_VRMS"; may throw
// AutomationError. The panel knows enumeration members only by these names, so every comparison
// with a code goes through a reader, afresh each time: the analyser owns the numbers.
using ConstantReader = std::function<double(std::string_view name)>;

}  // namespace vantel
