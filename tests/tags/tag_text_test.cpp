#include "support/support.h"
#include "tags/tag_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tagrelay {
namespace {

struct LineBreakCase
{
    const char* name;
    std::uint8_t encoding;
    std::vector<std::uint8_t> bytes; // behind the encoding byte
};

class TagLineBreakTest : public ::testing::TestWithParam<LineBreakCase>
{
};

// A reader of the list that knows Unicode ends a line at next line, line separator and
// paragraph separator; a tag holding one would put a forged line for another file in the list.
TEST_P(TagLineBreakTest, UnicodeLineBreaksBecomeBlanksInEveryLocale)
{
    for (const std::vector<std::string>& locale :
         {std::vector<std::string>{"C.UTF-8", "C.utf8"}, std::vector<std::string>{"C"}}) {
        const test::ScopedLocale scoped(locale);
        ASSERT_TRUE(scoped.isSet()) << locale.front();
        EXPECT_EQ(decodeTagText(GetParam().encoding, GetParam().bytes), "a b") << locale.front();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, TagLineBreakTest,
    ::testing::Values(
        LineBreakCase{"Latin1NextLine", 0, {'a', 0x85, 'b'}},
        LineBreakCase{"Utf16NextLine", 1, {0xFF, 0xFE, 'a', 0, 0x85, 0, 'b', 0}},
        LineBreakCase{"Utf16LineSeparator", 1, {0xFF, 0xFE, 'a', 0, 0x28, 0x20, 'b', 0}},
        LineBreakCase{"Utf16BigEndianParagraphSeparator", 2, {0, 'a', 0x20, 0x29, 0, 'b'}},
        LineBreakCase{"Utf8NextLine", 3, {'a', 0xC2, 0x85, 'b'}},
        LineBreakCase{"Utf8LineSeparator", 3, {'a', 0xE2, 0x80, 0xA8, 'b'}},
        LineBreakCase{"Utf8ParagraphSeparator", 3, {'a', 0xE2, 0x80, 0xA9, 'b'}}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace tagrelay
