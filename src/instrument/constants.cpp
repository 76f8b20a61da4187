// SPDX-License-Identifier: MIT
#include "instrument/constants.h"

#include <algorithm>

namespace vantel::instrument {

const NamedConstant* find_constant(std::string_view name) {
    auto it = std::ranges::find(kConstants, name, &NamedConstant::name);
    return it == kConstants.end() ? nullptr : &*it;
}

bool is_member(Enumeration enumeration, std::int16_t code) {
    return std::ranges::any_of(kConstants, [&](const NamedConstant& c) {
        return c.enumeration == enumeration && c.code == code;
    });
}

std::size_t member_count(Enumeration enumeration) {
    return static_cast<std::size_t>(
        std::ranges::count(kConstants, enumeration, &NamedConstant::enumeration));
}

std::string describe_code(Enumeration enumeration, std::int16_t code) {
    for (const NamedConstant& c : kConstants) {
        if (c.enumeration == enumeration && c.code == code)
            return std::string(c.name);
    }
    return std::to_string(code);
}

}  // namespace vantel::instrument
