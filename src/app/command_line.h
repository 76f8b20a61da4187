// SPDX-License-Identifier: MIT
#pragma once

// Both programs' command lines as bytes come in: every argument reaches the parser as text even
// when it is not UTF-8 (a Latin-1 file name), and a file name goes back to the file system as
// the very bytes that were given.

#include <QString>
#include <QStringList>

#include <string>

namespace vantel {

// argv as text, bytes that are not UTF-8 kept (sources/file_name.h).
QStringList arguments_from(int argc, char** argv);

// The file name `text` stands for, as the bytes to open.
std::string file_name_of(const QString& text);

}  // namespace vantel
