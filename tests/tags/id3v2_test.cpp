#include "platform/byte_reader.h"
#include "support/id3_bytes.h"
#include "support/support.h"
#include "tags/id3v2.h"

#include <gtest/gtest.h>

namespace tagrelay {
namespace {

using test::Bytes;
using test::Id3v2Builder;
using test::join;
using test::Terminator;
using test::Utf16Order;

using Field = std::string TrackTags::*;

/// Reads the tags of the file at path as the walk does.
TrackTags tagsOf(const std::string& path)
{
    ByteReader reader(path);
    TrackTags facts;
    static_cast<TrackTags&>(facts) = readTrackTags(reader);
    return facts;
}

/// Writes the bytes as an MP3 file and reads its tags as the walk does.
TrackTags tagsOf(const Bytes& file)
{
    test::TempTree tree;
    ByteReader reader(tree.writeFile("song.mp3", file));
    TrackTags facts;
    static_cast<TrackTags&>(facts) = readTrackTags(reader);
    return facts;
}

/// A tag, some audio and an ID3v1 block whose title is "V1 Title".
Bytes withV1Title(const Id3v2Builder& tag)
{
    return join({tag.bytes(), test::audioBytes(), test::id3v1Block("V1 Title", "", "", "")});
}

struct TextCase
{
    const char* name;
    Id3v2Builder tag;
    Field field;
    std::string expected;
};

void PrintTo(const TextCase& row, std::ostream* out)
{
    *out << row.name;
}

class TextFrameTest : public ::testing::TestWithParam<TextCase>
{
  protected:
    test::ScopedLocale m_locale{{"C.UTF-8", "C.utf8"}};
};

TEST_P(TextFrameTest, StoresTheTextOfItsField)
{
    ASSERT_TRUE(m_locale.isSet());
    EXPECT_EQ(tagsOf(withV1Title(GetParam().tag)).*GetParam().field, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, TextFrameTest,
    ::testing::Values(
        TextCase{"Latin1", Id3v2Builder().textFrame("TIT2", "Test"), &TrackTags::title, "Test"},
        TextCase{"Latin1ConvertedToLocale", Id3v2Builder().textFrame("TIT2", "Caf\xE9"),
                 &TrackTags::title, "Caf\xC3\xA9"},
        TextCase{"FirstZeroEndsLatin1", Id3v2Builder().textFrame("TIT2", {"Te\0st", 5}),
                 &TrackTags::title, "Te"},
        TextCase{"EncodingByteOnlyKeepsId3v1", Id3v2Builder().rawFrame("TIT2", {0}),
                 &TrackTags::title, "V1 Title"},
        TextCase{"ZeroByteOnlyEmptiesId3v1", Id3v2Builder().rawFrame("TIT2", {0, 0}),
                 &TrackTags::title, ""},
        TextCase{"Utf16LittleEndian", Id3v2Builder().utf16Frame("TIT2", u"Test"), &TrackTags::title,
                 "Test"},
        TextCase{
            "Utf16LittleEndianWithZeroUnit",
            Id3v2Builder().utf16Frame("TIT2", u"Test", Utf16Order::LittleEndian, Terminator::Zero),
            &TrackTags::title, "Test"},
        TextCase{"Utf16BigEndian",
                 Id3v2Builder().utf16Frame("TIT2", u"T\u00e9st", Utf16Order::BigEndian),
                 &TrackTags::title, "T\xC3\xA9st"},
        TextCase{"Utf16ByteOrderMarkOnly", Id3v2Builder().utf16Frame("TIT2", u""),
                 &TrackTags::title, ""},
        TextCase{"Utf16OddTrailingByteIsNoUnit",
                 Id3v2Builder().rawFrame("TIT2", {1, 0xFF, 0xFE, 'A', 0, 'B'}), &TrackTags::title,
                 "A"},
        TextCase{"Encoding2GivesEmpty", Id3v2Builder().rawFrame("TIT2", {2, 0xFE, 0xFF, 0, 'A'}),
                 &TrackTags::title, ""},
        TextCase{"Encoding3GivesEmpty", Id3v2Builder().rawFrame("TIT2", {3, 'A', 'B'}),
                 &TrackTags::title, ""},
        TextCase{"GenreReferenceKept", Id3v2Builder().textFrame("TCON", "(17)"), &TrackTags::genre,
                 "(17)"},
        TextCase{"GenreNameKept", Id3v2Builder().textFrame("TCON", "Rock"), &TrackTags::genre,
                 "Rock"},
        TextCase{"Artist", Id3v2Builder().textFrame("TPE1", "A"), &TrackTags::artist, "A"},
        TextCase{"Album", Id3v2Builder().textFrame("TALB", "B"), &TrackTags::album, "B"},
        TextCase{"Year", Id3v2Builder().textFrame("TYER", "1999"), &TrackTags::year, "1999"},
        TextCase{"Copyright", Id3v2Builder().textFrame("TCOP", "C"), &TrackTags::rightsNotice, "C"},
        TextCase{"Track", Id3v2Builder().textFrame("TRCK", "7/12"), &TrackTags::track, "7/12"},
        TextCase{"LinkDescription", Id3v2Builder().linkFrame("Home", "http://x"),
                 &TrackTags::linkDescription, "Home"},
        TextCase{"LaterFrameOfOneIdWins",
                 Id3v2Builder().textFrame("TIT2", "First").textFrame("TIT2", "Second"),
                 &TrackTags::title, "Second"},
        TextCase{"IdsCompareAllFourCharacters", Id3v2Builder().textFrame("TIT3", "Sub"),
                 &TrackTags::title, "V1 Title"}),
    [](const auto& row) { return std::string(row.param.name); });

struct WalkCase
{
    const char* name;
    Bytes tag;
    std::string expectedTitle;
    int expectedResult;
};

void PrintTo(const WalkCase& row, std::ostream* out)
{
    *out << row.name;
}

class FrameWalkTest : public ::testing::TestWithParam<WalkCase>
{
};

// Each row ends the walk somewhere or skips something; the title shows where it stopped.
TEST_P(FrameWalkTest, EndsWhereTheTagSays)
{
    test::TempTree tree;
    const auto path = tree.writeFile("a.mp3", join({GetParam().tag, test::audioBytes()}));
    ByteReader reader(path);
    TrackTags facts;
    EXPECT_EQ(readId3v2Tag(reader, facts), GetParam().expectedResult);
    EXPECT_EQ(facts.title, GetParam().expectedTitle);
}

/// Frame data that holds a whole TIT2 frame, which a walk must not read.
Bytes fakeTitleFrame()
{
    return Id3v2Builder().textFrame("TIT2", "Fake").padding(4).bytes();
}

INSTANTIATE_TEST_SUITE_P(
    Tags, FrameWalkTest,
    ::testing::Values(
        WalkCase{
            "PaddingEndsTheWalk",
            Id3v2Builder().textFrame("TIT2", "Real").padding(16).textFrame("TIT2", "Late").bytes(),
            "Real", 1},
        // The extended header's size field begins with a zero byte and reads as padding.
        WalkCase{"ExtendedHeaderEndsTheWalk",
                 Id3v2Builder().extendedHeader().textFrame("TIT2", "Hidden").bytes(), "", 1},
        WalkCase{"UnknownFramesAreSkippedBySize",
                 Id3v2Builder()
                     .textFrame("TIT2", "Real")
                     .rawFrame("PRIV", fakeTitleFrame())
                     .padding(4)
                     .bytes(),
                 "Real", 1},
        WalkCase{"ApicFramesAreSkippedBySize",
                 Id3v2Builder()
                     .textFrame("TIT2", "Real")
                     .pictureFrame(3, "image/jpeg", fakeTitleFrame())
                     .padding(4)
                     .bytes(),
                 "Real", 1},
        WalkCase{"ZeroFrameSizeEndsTheWalk",
                 Id3v2Builder()
                     .textFrame("TIT2", "Kept")
                     .rawFrame("TPE1", {}, 0)
                     .textFrame("TIT2", "Late")
                     .bytes(),
                 "Kept", 0},
        WalkCase{"NegativeFrameSizeEndsTheWalk",
                 Id3v2Builder()
                     .textFrame("TIT2", "Kept")
                     .rawFrame("TALB", {0, 'x'}, 0x80000000u)
                     .textFrame("TIT2", "Late")
                     .bytes(),
                 "Kept", 0},
        // Data sizes 5 + 5 reach the tag size 10: the second frame is the last one read.
        WalkCase{"DataSizesReachingTheTagSizeEndTheWalk",
                 Id3v2Builder()
                     .textFrame("TALB", "Albu")
                     .textFrame("TIT2", "Last")
                     .textFrame("TIT2", "Late")
                     .tagSizeField(10)
                     .bytes(),
                 "Last", 0},
        WalkCase{"Version4IsNotRead", Id3v2Builder(4).textFrame("TIT2", "Four").bytes(), "", 0},
        WalkCase{"Version2IsNotRead", Id3v2Builder(2).textFrame("TIT2", "Two").bytes(), "", 0},
        WalkCase{
            "LowerCaseMarkIsNotATag",
            {'i', 'd', '3', 3, 0, 0, 0, 0, 0, 20, 'T', 'I', 'T', '2', 0, 0, 0, 2, 0, 0, 0, 'x'},
            "",
            0}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(TrackTagsTest, Id3v2FramesReplaceTheId3v1FieldsTheyCarry)
{
    const auto facts =
        tagsOf(join({Id3v2Builder()
                         .textFrame("TIT2", "V2 Title")
                         .textFrame("TCON", "Trip Rock")
                         .padding(32)
                         .bytes(),
                     test::audioBytes(),
                     test::id3v1Block("V1 Title", "V1 Artist", "V1 Album", "1998", 5, 17)}));
    EXPECT_EQ(facts.title, "V2 Title");
    EXPECT_EQ(facts.artist, "V1 Artist");
    EXPECT_EQ(facts.album, "V1 Album");
    EXPECT_EQ(facts.year, "1998");
    EXPECT_EQ(facts.track, "\x05");
    EXPECT_EQ(facts.genre, "Trip Rock");
    EXPECT_EQ(facts.genreName, "Rock"); // no frame writes it; the description ignores it here
}

TEST(TrackTagsTest, NothingCarriesOverToTheNextFile)
{
    test::TempTree tree;
    const auto first = tree.writeFile(
        "1.mp3", join({Id3v2Builder().textFrame("TIT2", "One").textFrame("TRCK", "1").bytes(),
                       test::audioBytes(), test::id3v1Block("", "Artist", "", "", 1, 17)}));
    const auto second = tree.writeFile(
        "2.mp3", join({test::audioBytes(), test::id3v1Block("", "", "", "", 0, 255)}));
    const auto third = tree.writeFile("3.mp3", test::audioBytes());
    const TrackTags one = tagsOf(first);
    EXPECT_EQ(one.title, "One");
    const TrackTags two = tagsOf(second);
    EXPECT_EQ(two.title, "");
    EXPECT_EQ(two.artist, "");
    EXPECT_EQ(two.track, "");
    EXPECT_EQ(two.genre, "\xFF");
    EXPECT_EQ(two.genreName, "");
    EXPECT_EQ(tagsOf(third).genre, "");
    ByteReader missing("/nonexistent/song.mp3");
    EXPECT_EQ(readTrackTags(missing).genre, "");
}

// The error list asks for a new tag when artist and title both end with "?": the mark of
// UTF-16 characters the user's character set cannot show.
TEST(TrackTagsTest, Utf16CharactersTheLocaleLacksBecomeQuestionMarks)
{
    test::ScopedLocale locale({"C", "POSIX"});
    ASSERT_TRUE(locale.isSet());
    const auto facts = tagsOf(join({Id3v2Builder()
                                        .utf16Frame("TIT2", u"Song \u4e2d\u6587")
                                        .utf16Frame("TPE1", u"\u738b", Utf16Order::BigEndian)
                                        .bytes(),
                                    test::audioBytes()}));
    EXPECT_EQ(facts.title, "Song ??");
    EXPECT_EQ(facts.artist, "?");
}

} // namespace
} // namespace tagrelay
