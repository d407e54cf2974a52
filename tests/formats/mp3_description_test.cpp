#include "formats/mp3_description.h"
#include "formats/mp3_format.h"
#include "formats/track_facts.h"
#include "lists/list_line.h"
#include "platform/clock_text.h"
#include "settings/settings_file.h"

#include <gtest/gtest.h>

namespace tagrelay {
namespace {

struct ComposeCase
{
    const char* name;
    Settings settings;
    const char* expected;
};

Settings ticked(std::initializer_list<std::int32_t Settings::*> fields)
{
    Settings settings;
    for (auto field : fields)
        settings.*field = 1;
    return settings;
}

class ComposeDescriptionTest : public testing::TestWithParam<ComposeCase>
{
};

TEST_P(ComposeDescriptionTest, JoinsTickedPiecesInTheirFixedOrder)
{
    TrackFacts facts;
    facts.artist = "A";
    facts.album = "X";
    facts.title = "T";
    facts.bitrate = 192;
    facts.channelMode = "Joint Stereo";
    EXPECT_EQ(composeDescription(facts, GetParam().settings, "Rock", "3:11 min"),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Pieces, ComposeDescriptionTest,
    testing::Values(
        ComposeCase{"ArtistTitleBitrate",
                    ticked({&Settings::showArtist, &Settings::showTitle, &Settings::showBitrate}),
                    "A - T - 192 kbs CBR"},
        ComposeCase{"Nothing", Settings{}, ""},
        ComposeCase{"AlbumBeforeTitle", ticked({&Settings::showTitle, &Settings::showAlbum}),
                    "X - T"},
        ComposeCase{"All",
                    ticked({&Settings::showArtist, &Settings::showAlbum, &Settings::showTitle,
                            &Settings::showBitrate, &Settings::showAudioMode,
                            &Settings::showPlaytime, &Settings::showGenre}),
                    "A - X - T - 192 kbs CBR - Joint Stereo - 3:11 min - Rock"},
        ComposeCase{"IconOptionsAddNothing",
                    ticked({&Settings::makeMp3Icons, &Settings::showPictureSize}), ""}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(ComposeDescriptionTest, EmptyPiecesKeepTheirSeparators)
{
    TrackFacts facts;
    facts.album = "X";
    EXPECT_EQ(
        composeDescription(facts, ticked({&Settings::showArtist, &Settings::showAlbum}), "", ""),
        " - X");
    facts.isVbr = 1;
    facts.bitrate = -1;
    EXPECT_EQ(composeDescription(facts, ticked({&Settings::showBitrate}), "", ""), "-1 kbs VBR");
    EXPECT_EQ(composeDescription(TrackFacts{}, ticked({&Settings::showBitrate}), "", ""),
              "0 kbs CBR");
}

struct PlayingTimeCase
{
    std::int64_t audioBytes;
    std::int32_t bitrate;
    std::int32_t sampleRate;
    const char* expected;
};

class PlayingTimeTest : public testing::TestWithParam<PlayingTimeCase>
{
};

TEST_P(PlayingTimeTest, FormsMinutesAndPaddedSeconds)
{
    const auto& c = GetParam();
    EXPECT_EQ(formPlayingTime(c.audioBytes, c.bitrate, c.sampleRate), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Times, PlayingTimeTest,
                         testing::Values(PlayingTimeCase{4'000'000, 128, 44100, "4:10 min"},
                                         PlayingTimeCase{4'000'000, 192, 44100, "2:46 min"},
                                         PlayingTimeCase{144'000, 128, 44100, "0:09 min"},
                                         PlayingTimeCase{72'048'000, 128, 44100, "75:03 min"},
                                         // Files past 2 GiB keep a true time: 3 GiB at 320 kbit/s.
                                         PlayingTimeCase{3LL * 1024 * 1024 * 1024, 320, 44100,
                                                         "1342:10 min"},
                                         PlayingTimeCase{-400'000, 128, 44100, " ? "},
                                         PlayingTimeCase{4'000'000, 0, 44100, ""},
                                         PlayingTimeCase{4'000'000, -1, 44100, ""},
                                         PlayingTimeCase{4'000'000, 128, 0, ""}));

TEST(ResolveGenreTest, OneByteGenresShowTheirNameOrABlank)
{
    TrackFacts facts;
    EXPECT_EQ(resolveGenre(facts), "");
    facts.genre = std::string(1, '\x11');
    facts.genreName = "Rock";
    EXPECT_EQ(resolveGenre(facts), "Rock");
    facts.genreName.clear();
    EXPECT_EQ(resolveGenre(facts), " ");
    facts.genre = "(17)";
    EXPECT_EQ(resolveGenre(facts), "(17)");
    facts.genre = "Trip-Hop";
    facts.genreName = "Rock";
    EXPECT_EQ(resolveGenre(facts), "Trip-Hop");
}

TEST(DescriptionLineTest, QuotesTheNameAndKeepsTheLineOne)
{
    EXPECT_EQ(descriptionLine("song.mp3", ""), "\"song.mp3\" \r\n");
    EXPECT_EQ(descriptionLine("a b.mp3", "A - T"), "\"a b.mp3\" A - T\r\n");
    EXPECT_EQ(descriptionLine("x.mp3", "line\r\nbreak\ttab"), "\"x.mp3\" line  break tab\r\n");
    EXPECT_EQ(descriptionLine("\xC3\xA9.mp3", "caf\xC3\xA9"), "\"\xC3\xA9.mp3\" caf\xC3\xA9\r\n");
    EXPECT_TRUE(isWritableName("it's fine.mp3"));
    EXPECT_FALSE(isWritableName("say \"hi\".mp3"));
    EXPECT_FALSE(isWritableName("two\nlines.mp3"));
    EXPECT_FALSE(isWritableName("cr\r.mp3"));
    // What Unicode-aware line readers split at would forge a line for another file.
    for (const char* name : {"v\v.mp3", "f\f.mp3", "rs\x1E.mp3", "nel\xC2\x85.mp3",
                             "ls\xE2\x80\xA8.mp3", "ps\xE2\x80\xA9.mp3"})
        EXPECT_FALSE(isWritableName(name)) << name;
    EXPECT_TRUE(isWritableName("tab\there \xC3\xA4.mp3"));
}

TEST(ProgressTextTest, ElapsedTimeAndTagCheck)
{
    EXPECT_EQ(elapsedTimeText(100.0f + 187.0f, 100.0f), "0:03:07 Time elapsed");
    EXPECT_EQ(elapsedTimeText(3725.5f, 0.0f), "1:02:05 Time elapsed");
    EXPECT_EQ(elapsedTimeText(5.0f, 5.0f), "0:00:00 Time elapsed");
    EXPECT_EQ(elapsedTimeText(36000.0f + 59.0f, 0.0f), "10:00:59 Time elapsed");

    EXPECT_TRUE(needsNewTag("???", "??"));
    EXPECT_TRUE(needsNewTag("Bj?rk?", "J?ga?"));
    EXPECT_FALSE(needsNewTag("Artist", "Title?"));
    EXPECT_FALSE(needsNewTag("", "?"));
    EXPECT_FALSE(needsNewTag("?", ""));
}

} // namespace
} // namespace tagrelay
