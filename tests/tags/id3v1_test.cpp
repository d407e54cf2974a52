#include "platform/byte_reader.h"
#include "support/id3_bytes.h"
#include "support/support.h"
#include "tags/genres.h"
#include "tags/id3v1.h"

#include <gtest/gtest.h>

namespace tagrelay {
namespace {

using test::Bytes;
using test::id3v1Block;
using test::join;

using Field = std::string TrackTags::*;

/// Reads the ID3v1 block of a file holding the bytes; result and record.
std::pair<int, TrackTags> readBlockOf(const Bytes& file)
{
    test::TempTree tree;
    TrackTags facts;
    ByteReader reader(tree.writeFile("song.mp3", file));
    const int result = readId3v1Tag(reader, facts);
    return {result, std::move(facts)};
}

struct GenreCase
{
    std::uint8_t genreByte;
    std::string genre;
    std::string genreName;
};

class Id3v1GenreTest : public ::testing::TestWithParam<GenreCase>
{
  protected:
    // In UTF-8 a converted byte 147 or 255 would take two bytes: the genre must stay one.
    test::ScopedLocale m_locale{{"C.UTF-8", "C.utf8"}};
};

TEST_P(Id3v1GenreTest, KeepsTheRawByteAndNamesIt)
{
    const auto [result, facts] = readBlockOf(
        join({test::audioBytes(), id3v1Block("T", "", "", "", 0, GetParam().genreByte)}));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(facts.genre, GetParam().genre);
    EXPECT_EQ(facts.genreName, GetParam().genreName);
}

INSTANTIATE_TEST_SUITE_P(Bytes, Id3v1GenreTest,
                         ::testing::Values(GenreCase{0, "", "Blues"}, GenreCase{17, "\x11", "Rock"},
                                           GenreCase{32, " ", "Classical"},
                                           GenreCase{147, "\x93", "Synthpop"},
                                           GenreCase{148, "\x94", ""}, GenreCase{255, "\xFF", ""}));

struct FieldCase
{
    const char* name;
    Bytes block;
    Field field;
    std::string expected;
};

void PrintTo(const FieldCase& row, std::ostream* out)
{
    *out << row.name;
}

class Id3v1FieldTest : public ::testing::TestWithParam<FieldCase>
{
  protected:
    test::ScopedLocale m_locale{{"C.UTF-8", "C.utf8"}};
};

TEST_P(Id3v1FieldTest, TakesTheField)
{
    const auto [result, facts] = readBlockOf(join({test::audioBytes(), GetParam().block}));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(facts.*GetParam().field, GetParam().expected);
}

const std::string thirtyLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcd";

INSTANTIATE_TEST_SUITE_P(
    Blocks, Id3v1FieldTest,
    ::testing::Values(
        FieldCase{"ThirtyLetterTitleTakenWhole", id3v1Block(thirtyLetters + "!", "", "", ""),
                  &TrackTags::title, thirtyLetters},
        FieldCase{"BlanksTrimmedInnerBlanksKept", id3v1Block("  A  B   ", "", "", ""),
                  &TrackTags::title, "A  B"},
        FieldCase{"OnlyBlanksGiveEmpty", id3v1Block(std::string(30, ' '), "", "", ""),
                  &TrackTags::title, ""},
        FieldCase{"Latin1ConvertedToLocale", id3v1Block("", "Bj\xF6rk", "", ""), &TrackTags::artist,
                  "Bj\xC3\xB6rk"},
        // Next line would end the description line for a reader that knows Unicode.
        FieldCase{"NextLineIsABlank", id3v1Block("", "", "One\x85Two", ""), &TrackTags::album,
                  "One Two"},
        FieldCase{"FourDigitYear", id3v1Block("", "", "", "19999"), &TrackTags::year, "1999"},
        FieldCase{"ZeroYearIsEmpty", id3v1Block("", "", "", ""), &TrackTags::year, ""},
        FieldCase{"TrackByteIsOneByte", id3v1Block("", "", "", "", 7), &TrackTags::track, "\x07"},
        // ID3v1.0: a 30-character comment whose last character sits in the track byte.
        FieldCase{"Id3v10TrackIsLastCommentCharacter",
                  id3v1Block("", "", "", "", 'z', 255, std::string(29, 'c')), &TrackTags::track,
                  "z"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(Id3v1TagTest, OnlyAnUpperCaseMarkAtTheLast128BytesIsTaken)
{
    Bytes lowerCase = id3v1Block("Title", "", "", "");
    lowerCase[0] = 't';
    lowerCase[1] = 'a';
    lowerCase[2] = 'g';
    EXPECT_EQ(readBlockOf(join({test::audioBytes(), lowerCase})).first, 0);
    // A block followed by one more byte is no longer at the end.
    EXPECT_EQ(readBlockOf(join({id3v1Block("Title", "", "", ""), Bytes{0}})).first, 0);
    EXPECT_EQ(readBlockOf(test::audioBytes()).first, 0);
    EXPECT_EQ(readBlockOf({}).first, 0);
}

TEST(Id3v1TagTest, FileShorterThanABlockIsReadFromItsStart)
{
    const auto [taken, facts] = readBlockOf({'T', 'A', 'G', 'S', 'h', 'o', 'r', 't'});
    EXPECT_EQ(taken, 1);
    EXPECT_EQ(facts.title, "Short");
    EXPECT_EQ(facts.genreName, "Blues"); // the missing genre byte counts as zero
    EXPECT_EQ(readBlockOf({'x', 'T', 'A', 'G'}).first, 0);
}

TEST(Id3v1TagTest, MissingFileChangesNothing)
{
    TrackTags facts;
    facts.title = "Before";
    ByteReader missing("/nonexistent/song.mp3");
    EXPECT_EQ(readId3v1Tag(missing, facts), 0);
    EXPECT_EQ(facts.title, "Before");
}

class GenreTableTest : public ::testing::TestWithParam<std::pair<int, std::string_view>>
{
};

// The numbers whose spelling differs between editions of the list, and both ends.
TEST_P(GenreTableTest, NamesTheNumber)
{
    EXPECT_EQ(genreNameFor(GetParam().first), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Names, GenreTableTest,
                         ::testing::Values(std::pair{0, "Blues"}, std::pair{29, "Jazz Funk"},
                                           std::pair{40, "AlternRock"},
                                           std::pair{51, "Techno -Industrial"},
                                           std::pair{67, "Psychadelic"},
                                           std::pair{123, "A Capella"}, std::pair{133, "Negerpunk"},
                                           std::pair{147, "Synthpop"}, std::pair{148, ""},
                                           std::pair{-1, ""}));

} // namespace
} // namespace tagrelay
