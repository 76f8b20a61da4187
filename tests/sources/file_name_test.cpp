// SPDX-License-Identifier: MIT
#include "sources/file_name.h"

#include <gtest/gtest.h>

#include "row_name.h"

namespace vantel::source {
namespace {

using testing_support::PrintTo;

struct NameCase {
    const char* name;
    std::string bytes;
    std::u16string text;
};

class FileNameText : public testing::TestWithParam<NameCase> {};

// Every name comes back byte for byte; valid UTF-8 reads as its characters.
TEST_P(FileNameText, CarriesEveryByteThroughText) {
    EXPECT_EQ(text_from_file_name(GetParam().bytes), GetParam().text);
    EXPECT_EQ(file_name_from_text(text_from_file_name(GetParam().bytes)), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Names, FileNameText,
    testing::Values(NameCase{"Ascii", "run.csv", u"run.csv"},
                    NameCase{"Utf8", "caf\xC3\xA9.csv", u"caf\u00E9.csv"},
                    NameCase{"Latin1", "caf\xE9.csv", u"caf\xDCE9.csv"},
                    NameCase{"OutsideTheBasicPlane", "\xF0\x9F\x8E\xB5", u"\U0001F3B5"},
                    NameCase{"TruncatedSequence", "a\xE2\x82", u"a\xDCE2\xDC82"},
                    NameCase{"Overlong", "\xC0\xAF", u"\xDCC0\xDCAF"},
                    NameCase{"EncodedSurrogate", "\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},
                    NameCase{"BeyondUnicode", "\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},
                    NameCase{"StrayContinuation", "\x80z", u"\xDC80z"}),
    testing_support::RowName());

TEST(FileNameText, ALoneSurrogateThatNoByteGaveIsTheReplacementCharacter) {
    EXPECT_EQ(file_name_from_text(u"\xD800x\xDC41"), "\xEF\xBF\xBDx\xEF\xBF\xBD");
}

}  // namespace
}  // namespace vantel::source
