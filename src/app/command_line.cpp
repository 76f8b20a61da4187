// SPDX-License-Identifier: MIT
#include "app/command_line.h"

#include <cstring>

#include "sources/file_name.h"

namespace vantel {

QStringList arguments_from(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromStdU16String(
            source::text_from_file_name({argv[i], std::strlen(argv[i])}));
    return arguments;
}

std::string file_name_of(const QString& text) {
    return source::file_name_from_text(text.toStdU16String());
}

}  // namespace vantel
