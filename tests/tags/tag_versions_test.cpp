#include "platform/byte_reader.h"
#include "support/id3_bytes.h"
#include "support/support.h"
#include "tags/genres.h"
#include "tags/id3v2.h"

#include <gtest/gtest.h>

namespace tagrelay {
namespace {

using test::Bytes;
using test::Id3v2Builder;
using test::join;
using test::synchsafe;
using test::unsynchronise;

/// Reads the tags of a file made of the tag and some audio.
TrackTags tagsOf(const Bytes& tag, TagVersions versions, CoverBytes covers = CoverBytes::Keep)
{
    test::TempTree tree;
    ByteReader reader(tree.writeFile("song.mp3", join({tag, test::audioBytes()})));
    return readTrackTags(reader, versions, covers);
}

/// The tags as read when no cover is wanted: the same, without the cover's bytes.
TrackTags withoutCover(TrackTags tags)
{
    tags.coverFrame.clear();
    tags.coverPictureStart = 0;
    return tags;
}

void expectSameTags(const TrackTags& read, const TrackTags& expected)
{
    EXPECT_EQ(read.title, expected.title);
    EXPECT_EQ(read.artist, expected.artist);
    EXPECT_EQ(read.album, expected.album);
    EXPECT_EQ(read.year, expected.year);
    EXPECT_EQ(read.genre, expected.genre);
    EXPECT_EQ(read.track, expected.track);
    EXPECT_EQ(read.rightsNotice, expected.rightsNotice);
    EXPECT_EQ(read.linkDescription, expected.linkDescription);
    EXPECT_EQ(read.genreName, expected.genreName);
    EXPECT_EQ(read.coverFrame, expected.coverFrame);
    EXPECT_EQ(read.coverPicture().size(), expected.coverPicture().size());
    EXPECT_TRUE(read == expected) << "a field the lines above do not name differs";
}

/// Picture bytes with what unsynchronisation changes: 0xFF before 0xE0, before 0x00, at the end.
const Bytes picture{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0xFF, 0x00, 0x42, 0xFF};
/// An APIC frame's data: Latin-1, "image/png", front cover, empty description, the picture.
const Bytes coverData =
    join({{0}, {'i', 'm', 'a', 'g', 'e', '/', 'p', 'n', 'g', 0, 3, 0}, picture});
const std::string longTitle(200, 'x'); // frame size 201: synchsafe 00 00 01 49, plain 329

/// An ID3v2.3 tag with the texts every case below carries, then what the case adds.
Id3v2Builder withTexts(Id3v2Builder tag)
{
    const bool v2 = tag.bytes()[3] == 2;
    return tag.textFrame(v2 ? "TP1" : "TPE1", "Artist").textFrame(v2 ? "TAL" : "TALB", "Album");
}

struct VersionCase
{
    const char* name;
    Bytes tag;              // version 2 or 4
    Bytes id3v23Equivalent; // the same facts in a version 3 tag
};

void PrintTo(const VersionCase& row, std::ostream* out)
{
    *out << row.name;
}

class TagVersionsTest : public ::testing::TestWithParam<VersionCase>
{
  protected:
    test::ScopedLocale m_locale{{"C.UTF-8", "C.utf8"}};
};

TEST_P(TagVersionsTest, ReadsAsItsId3v23EquivalentWithTheOption)
{
    ASSERT_TRUE(m_locale.isSet());
    const TrackTags equivalent = tagsOf(GetParam().id3v23Equivalent, TagVersions::All);
    ASSERT_EQ(equivalent.artist, "Artist");
    expectSameTags(tagsOf(GetParam().tag, TagVersions::All), equivalent);
}

TEST_P(TagVersionsTest, ReadsAsNoTagWithoutTheOption)
{
    expectSameTags(tagsOf(GetParam().tag, TagVersions::Id3v23Only), TrackTags{});
}

TEST_P(TagVersionsTest, PassesTheCoverOverAndReadsTheRestAlike)
{
    for (const Bytes& tag : {GetParam().tag, GetParam().id3v23Equivalent}) {
        expectSameTags(tagsOf(tag, TagVersions::All, CoverBytes::PassOver),
                       withoutCover(tagsOf(tag, TagVersions::All)));
        expectSameTags(tagsOf(tag, TagVersions::Id3v23Only, CoverBytes::PassOver),
                       withoutCover(tagsOf(tag, TagVersions::Id3v23Only)));
    }
}

Bytes v4(Id3v2Builder tag)
{
    return tag.bytes();
}

INSTANTIATE_TEST_SUITE_P(
    ByteBuilt, TagVersionsTest,
    ::testing::Values(
        VersionCase{
            "Version4Latin1AndCover",
            v4(withTexts(Id3v2Builder(4)).textFrame("TCON", "Rock").rawFrame("APIC", coverData)),
            v4(withTexts(Id3v2Builder(3)).textFrame("TCON", "Rock").rawFrame("APIC", coverData))},
        VersionCase{"Utf8",
                    v4(withTexts(Id3v2Builder(4)).rawFrame("TIT2", {3, 'T', 0xC3, 0xAD, 't'})),
                    v4(withTexts(Id3v2Builder(3)).textFrame("TIT2", "T\xEDt"))},
        VersionCase{"Utf16BigEndianWithoutMark",
                    v4(withTexts(Id3v2Builder(4)).rawFrame("TIT2", {2, 0, 'T', 0, 0xED, 0, 't'})),
                    v4(withTexts(Id3v2Builder(3)).utf16Frame("TIT2", u"T\u00EDt"))},
        VersionCase{"FirstOfSeveralStrings",
                    v4(withTexts(Id3v2Builder(4)).textFrame("TIT2", {"One\0Two", 7})),
                    v4(withTexts(Id3v2Builder(3)).textFrame("TIT2", "One"))},
        VersionCase{"SynchsafeFrameSize",
                    v4(withTexts(Id3v2Builder(4).textFrame("TIT2", longTitle))),
                    v4(withTexts(Id3v2Builder(3).textFrame("TIT2", longTitle)))},
        VersionCase{
            "UnsynchronisedFrame",
            v4(withTexts(Id3v2Builder(4)).flaggedFrame("APIC", 0x02, unsynchronise(coverData))),
            v4(withTexts(Id3v2Builder(3)).rawFrame("APIC", coverData))},
        VersionCase{"UnsynchronisedTag",
                    v4(withTexts(Id3v2Builder(4))
                           .unsynchronisedTag()
                           .rawFrame("APIC", unsynchronise(coverData))),
                    v4(withTexts(Id3v2Builder(3)).rawFrame("APIC", coverData))},
        VersionCase{
            "DataLengthIndicator",
            v4(withTexts(Id3v2Builder(4))
                   .flaggedFrame("APIC", 0x03,
                                 join({synchsafe(static_cast<std::uint32_t>(coverData.size())),
                                       unsynchronise(coverData)}))),
            v4(withTexts(Id3v2Builder(3)).rawFrame("APIC", coverData))},
        VersionCase{"ExtendedHeader", v4(withTexts(Id3v2Builder(4).extendedHeader())),
                    v4(withTexts(Id3v2Builder(3)))},
        VersionCase{"TdrcGivesTheYear",
                    v4(withTexts(Id3v2Builder(4)).textFrame("TDRC", "2004-05-06")),
                    v4(withTexts(Id3v2Builder(3)).textFrame("TYER", "2004"))},
        VersionCase{"NumberedGenre", v4(withTexts(Id3v2Builder(4)).textFrame("TCON", "17")),
                    v4(withTexts(Id3v2Builder(3)).textFrame("TCON", "Rock"))},
        VersionCase{
            "CoverWithUtf8Description",
            v4(withTexts(Id3v2Builder(4)).pictureFrame(3, "image/png", picture, "Front", 3)),
            v4(withTexts(Id3v2Builder(3)).pictureFrame(3, "image/png", picture, "Front", 0))},
        VersionCase{"Version2",
                    v4(withTexts(Id3v2Builder(2))
                           .textFrame("TT2", "Title")
                           .textFrame("TCO", "(17)Hard Rock")
                           .textFrame("TYE", "2004")
                           .textFrame("TRK", "3/9")
                           .rawFrame("PIC", join({{0, 'P', 'N', 'G', 3, 0}, picture}))),
                    v4(withTexts(Id3v2Builder(3))
                           .textFrame("TIT2", "Title")
                           .textFrame("TCON", "Hard Rock")
                           .textFrame("TYER", "2004")
                           .textFrame("TRCK", "3/9")
                           .pictureFrame(3, "image/png", picture))},
        VersionCase{"Version2UnsynchronisedJpeg",
                    v4(withTexts(Id3v2Builder(2))
                           .unsynchronisedTag()
                           .rawFrame("PIC", join({{0, 'J', 'P', 'G', 3, 0}, picture}))),
                    v4(withTexts(Id3v2Builder(3)).pictureFrame(3, "image/jpeg", picture))}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(TagVersionsLimitsTest, FramesBehindAPassedOverCoverAreRead)
{
    const Bytes tags[] = {
        Id3v2Builder(3).rawFrame("APIC", coverData).textFrame("TIT2", "Behind").bytes(),
        Id3v2Builder(4)
            .unsynchronisedTag()
            .rawFrame("APIC", unsynchronise(coverData))
            .textFrame("TIT2", "Behind")
            .bytes(),
        Id3v2Builder(2)
            .unsynchronisedTag()
            .rawFrame("PIC", join({{0, 'J', 'P', 'G', 3, 0}, picture}))
            .textFrame("TT2", "Behind")
            .bytes(),
    };
    for (const Bytes& tag : tags) {
        const TrackTags read = tagsOf(tag, TagVersions::All, CoverBytes::PassOver);
        EXPECT_EQ(read.title, "Behind");
        EXPECT_TRUE(read.coverFrame.empty());
    }
}

TEST(TagVersionsLimitsTest, AFrameNeverReadsPastItsTagsEnd)
{
    // The size says 100 bytes, the tag ends after 5: the audio behind it is no part of the title.
    const Bytes tag = Id3v2Builder(4).rawFrame("TIT2", {0, 'A', 'b', 'c', 'd'}, 100).bytes();
    EXPECT_EQ(tagsOf(tag, TagVersions::All).title, "Abcd");
}

TEST(TagVersionsLimitsTest, ALongTextIsCutAtTheTextCap)
{
    const std::string huge(3 * maxTextBytes, 'x');
    const auto title =
        tagsOf(Id3v2Builder(4).textFrame("TIT2", huge).bytes(), TagVersions::All).title;
    EXPECT_EQ(title.size(), static_cast<std::size_t>(maxTextBytes));
}

struct GenreCase
{
    const char* stored;
    const char* shown;
};

class NumberedGenreTest : public ::testing::TestWithParam<GenreCase>
{
};

TEST_P(NumberedGenreTest, ShowsTheNameOrTheRefinement)
{
    EXPECT_EQ(nameNumberedGenre(GetParam().stored), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Genres, NumberedGenreTest,
    ::testing::Values(GenreCase{"(17)", "Rock"}, GenreCase{"17", "Rock"}, GenreCase{"0", "Blues"},
                      GenreCase{"(147)", "Synthpop"}, GenreCase{"(17)Hard Rock", "Hard Rock"},
                      GenreCase{"(17)(79)", "Rock"}, GenreCase{"(RX)(17)", "Remix"},
                      GenreCase{"CR", "Cover"}, GenreCase{"(17)((Live))", "(Live))"},
                      GenreCase{"(148)", "(148)"}, GenreCase{"255", "255"},
                      GenreCase{"(Live)", "(Live)"}, GenreCase{"2Pac", "2Pac"},
                      GenreCase{"1234", "1234"}, GenreCase{"(17", "(17"}, GenreCase{"", ""}));

} // namespace
} // namespace tagrelay
