// SPDX-License-Identifier: MIT
#pragma once

// Our strings are UTF-8; Qt's are UTF-16. The one conversion every Qt-facing file needs.

#include <QString>
#include <string_view>

namespace vantel {

inline QString to_qstring(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

}  // namespace vantel
