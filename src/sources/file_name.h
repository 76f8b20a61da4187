// SPDX-License-Identifier: MIT
#pragma once

// File names and command-line arguments are bytes on Linux, in no promised encoding. Qt turns
// them into text as UTF-8 and every byte that is not UTF-8 into U+FFFD (QFile::decodeName does
// too), after which "caf\xE9.wav" names no file. These two carry such bytes through text
// unchanged: a byte that is not part of valid UTF-8 becomes the lone surrogate U+DC00 + byte
// (U+DC80 to U+DCFF, never a character of its own), and goes back to that byte.

#include <string>
#include <string_view>

namespace vantel::source {

// `bytes` as UTF-16 text: UTF-8 decoded, every other byte escaped.
std::u16string text_from_file_name(std::string_view bytes);

// The bytes that `text` stands for: UTF-8, escaped bytes as themselves. Other lone surrogates,
// which no argument or file name gave, become U+FFFD.
std::string file_name_from_text(std::u16string_view text);

}  // namespace vantel::source
