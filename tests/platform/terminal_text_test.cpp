#include "platform/terminal_text.h"

#include <gtest/gtest.h>

#include <string>

namespace tagrelay {
namespace {

struct TerminalCase
{
    const char* name;
    bool utf8;
    std::string text;
    std::string shown;
};

class TerminalTextTest : public ::testing::TestWithParam<TerminalCase>
{
};

TEST_P(TerminalTextTest, ShowsWhatATerminalWouldObeyAsEscapes)
{
    EXPECT_EQ(terminalText(GetParam().text, GetParam().utf8), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TerminalTextTest,
    ::testing::Values(
        TerminalCase{"PlainTextAndBackslashKept", true, "a\\b c.mp3", "a\\b c.mp3"},
        TerminalCase{"C0AndDelete", true, "\x1b[2J\x07\x7f", "\\x1b[2J\\x07\\x7f"},
        TerminalCase{"C1InUtf8", true,
                     "\xC2\x9B"
                     "2J",
                     "\\u009b2J"},
        // A lone 0x9B is CSI to a terminal that takes 8-bit controls.
        TerminalCase{"LoneC1Byte", true,
                     "a\x9B"
                     "2J",
                     "a\\x9b2J"},
        TerminalCase{"StrayContinuationBytes", true, "\x80\xBF", "\\x80\\xbf"},
        TerminalCase{"OverlongForm", true, "\xC0\x9B", "\\xc0\\x9b"},
        TerminalCase{"SurrogateHalf", true, "\xED\xA0\x80", "\\xed\\xa0\\x80"},
        TerminalCase{"CutShortAtTheEnd", true, "x\xE2\x80", "x\\xe2\\x80"},
        TerminalCase{"LeadWithoutContinuation", true, "\xE2(x", "\\xe2(x"},
        TerminalCase{"AboveTheLastCodePoint", true, "\xF4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
        // "Trojan source": an override makes "gpj.exe" read as "exe.jpg".
        TerminalCase{"RightToLeftOverride", true, "a\xE2\x80\xAEgpj.mp3", "a\\u202egpj.mp3"},
        TerminalCase{"EveryEmbeddingAndOverride", true,
                     "\xE2\x80\xAA\xE2\x80\xAB\xE2\x80\xAC\xE2\x80\xAD\xE2\x80\xAE",
                     "\\u202a\\u202b\\u202c\\u202d\\u202e"},
        TerminalCase{"EveryIsolate", true, "\xE2\x81\xA6\xE2\x81\xA7\xE2\x81\xA8\xE2\x81\xA9",
                     "\\u2066\\u2067\\u2068\\u2069"},
        TerminalCase{"NeighboursOfTheControlsKept", true,
                     "\xC2\xA0\xE2\x80\xA9\xE2\x80\x8F\xE2\x81\xAA",
                     "\xC2\xA0\xE2\x80\xA9\xE2\x80\x8F\xE2\x81\xAA"},
        TerminalCase{"LettersOfEveryLengthKept", true, "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5",
                     "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5"},
        TerminalCase{"SingleByteC1", false,
                     "a\x9B"
                     "2J\x85",
                     "a\\x9b2J\\x85"},
        TerminalCase{"SingleByteControlsAndLetters", false, "\x1b\xE9\xA0\xFF",
                     "\\x1b\xE9\xA0\xFF"}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace tagrelay
