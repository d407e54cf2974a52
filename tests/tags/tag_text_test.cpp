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

TEST(TagTextTest, Latin1FieldsLoseTheirNextLineAndKeepTheRest)
{
    const test::ScopedLocale utf8({"C.UTF-8", "C.utf8"});
    ASSERT_TRUE(utf8.isSet());
    EXPECT_EQ(latin1TagText("Caf\xE9\x85More"), "Caf\xC3\xA9 More");
    // The other C1 controls and the characters near the separators are no line breaks.
    const std::vector<std::uint8_t> near = {0xFF, 0xFE, 0x27, 0x20, 0x2A, 0x20, 0x84, 0};
    EXPECT_EQ(decodeTagText(1, near), "\xE2\x80\xA7\xE2\x80\xAA\xC2\x84");
}

} // namespace
} // namespace tagrelay
