// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace vantel {

// Returns after `Seconds` seconds. Meanwhile it blocks in the event loop (no spinning) and
// handles every window event that arrives, so the window stays alive during the start-up wait.
void Wait_Seconds(std::int32_t Seconds);

}  // namespace vantel
