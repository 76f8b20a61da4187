// SPDX-License-Identifier: MIT
#pragma once

// An automation value written in a table's cell as KIND:TEXT, so that a table says which kind a
// member is given: "int:23", "real:0.25", "real:nan", "text:yes", "bool:false"; an empty cell is
// the empty value, "null:" the null one. And members named by their paths, as tables name them.

#include <stdexcept>
#include <string>

#include "automation/automation.h"

namespace vantel::testing_support {

inline Value value_cell(const std::string& cell) {
    if (cell.empty()) {
        return Value();
    }
    const auto colon = cell.find(':');
    const std::string kind = cell.substr(0, colon), text = cell.substr(colon + 1);
    if (colon != std::string::npos && kind == "text") {
        return Value(text);
    }
    std::size_t used = 0;
    try {
        if (kind == "int") {
            const Value v(static_cast<std::int64_t>(std::stoll(text, &used)));
            if (used == text.size())
                return v;
        } else if (kind == "real") {
            const Value v(std::stod(text, &used));
            if (used == text.size())
                return v;
        } else if (kind == "bool" && (text == "true" || text == "false")) {
            return Value::boolean(text == "true");
        } else if (cell == "null:") {
            return Value::null();
        }
    } catch (const std::exception&) {
    }
    throw std::invalid_argument("'" + cell + "' is no int:, real:, text:, bool: or null: value");
}

// A member by its path: OBJECT.MEMBER, or MEMBER of the application itself.
inline Value member_at(AutomationObject& app, std::string_view path) {
    const auto dot = path.find('.');
    return dot == path.npos ? app.get(path)
                            : get_member(app, path.substr(0, dot), path.substr(dot + 1));
}
inline void set_member_at(AutomationObject& app, std::string_view path, const Value& value) {
    const auto dot = path.find('.');
    if (dot == path.npos)
        return app.set(path, value);
    set_member(app, path.substr(0, dot), path.substr(dot + 1), value);
}

}  // namespace vantel::testing_support
