#include "platform/byte_reader.h"
#include "scan/run_state.h"
#include "scan/walk.h"
#include "support/frame_bytes.h"
#include "support/recording_reporter.h"
#include "support/support.h"
#include "tags/id3v2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace tagrelay {
namespace {

/// A 4 x 4 PNG picture, whole, for the taggers that read the picture they embed.
const std::vector<std::uint8_t> coverPng = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44,
    0x52, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x04, 0x08, 0x02, 0x00, 0x00, 0x00, 0x26,
    0x93, 0x09, 0x29, 0x00, 0x00, 0x00, 0x10, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0xf8,
    0xcf, 0xd0, 0x00, 0x47, 0x0c, 0xc4, 0x71, 0x00, 0x76, 0xa2, 0x17, 0xf1, 0x3a, 0xfb, 0x61,
    0xdd, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

/// A tagger run on song.mp3 in the walked folder ($in: an untagged MP3 made by lame, $cover: the
/// PNG), and the description it gets without and with the option (artist, album, title, genre).
struct TaggerCase
{
    const char* name;
    const char* check; // a shell test that the tool is there
    const char* command;
    bool hasCover;
    const char* without;
    const char* with;
};

void PrintTo(const TaggerCase& row, std::ostream* out)
{
    *out << row.name;
}

constexpr const char* mid3v2 =
    "cp \"$in\" song.mp3 && mid3v2 -a 'Ärtist' -A Album -t 'Títle' -g 17 "
    "-p \"$cover:Front:3:image/png\" song.mp3";

class TaggerWalkTest : public ::testing::TestWithParam<TaggerCase>
{
  protected:
    std::string describe(TagVersions versions)
    {
        test::RecordingReporter reporter;
        RunState run;
        run.settings.showArtist = run.settings.showAlbum = run.settings.showTitle = 1;
        run.settings.showGenre = 1;
        run.tagVersions = versions;
        describeDirectory(tree.path(), 0, reporter, run);
        return test::readFileText(tree.path() + "descript.ion");
    }

    test::ScopedLocale m_locale{{"C.UTF-8", "C.utf8"}};
    test::TempTree tools; // the untagged MP3 and the cover, outside the walked folder
    test::TempTree tree;
};

TEST_P(TaggerWalkTest, TheOptionReadsWhatTheTaggerWrote)
{
    const TaggerCase& row = GetParam();
    ASSERT_TRUE(m_locale.isSet());
    if (std::system((std::string(row.check) + " >/dev/null 2>&1").c_str()) != 0)
        GTEST_SKIP() << "needs " << row.check << " (scripts/install-deps installs it)";
    if (std::system("command -v lame >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "lame is not installed (scripts/install-deps installs it)";
    const auto wav = tools.writeFile("in.wav", test::toneWithNoiseWav(44100, 2, 1.0));
    const auto cover = tools.writeFile("cover.png", coverPng);
    const std::string in = tools.path() + "in.mp3";
    ASSERT_EQ(std::system(("lame --quiet -b 64 '" + wav + "' '" + in + "'").c_str()), 0);
    const std::string command = "cd '" + tree.path() + "' && in='" + in + "' cover='" + cover
                                + "' && " + row.command + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << row.command;

    EXPECT_EQ(describe(TagVersions::Id3v23Only),
              std::string("\"song.mp3\" ") + row.without + "\r\n");
    EXPECT_EQ(describe(TagVersions::All), std::string("\"song.mp3\" ") + row.with + "\r\n");
    ByteReader file(tree.path() + "song.mp3");
    const std::vector<std::uint8_t> frame = readTrackTags(file, TagVersions::All).coverFrame;
    if (!row.hasCover)
        return;
    EXPECT_TRUE(isFrontCoverFrame(frame));
    EXPECT_TRUE(frame.size() > coverPng.size()
                && std::equal(coverPng.begin(), coverPng.end(), frame.end() - std::ssize(coverPng)))
        << "the cover frame ends with the picture";
}

INSTANTIATE_TEST_SUITE_P(
    Taggers, TaggerWalkTest,
    ::testing::Values(
        TaggerCase{"Id3v2Version3", "command -v id3v2 && command -v lame",
                   "cp \"$in\" song.mp3 && id3v2 -a Band -A Album -t Song -g 17 song.mp3", false,
                   "Band - Album - Song - (17)", "Band - Album - Song - Rock"},
        TaggerCase{"Mid3v2Version4", "command -v mid3v2", mid3v2, true, " -  -  - ",
                   "Ärtist - Album - Títle - Rock"},
        TaggerCase{"MutagenVersion3", "/usr/bin/python3 -c 'import mutagen'",
                   "cp \"$in\" song.mp3 && mid3v2 -a 'Ärtist' -A Album -t 'Títle' -g Jazz "
                   "-p \"$cover:Front:3:image/png\" song.mp3 && /usr/bin/python3 -c "
                   "'import mutagen.id3 as m; m.ID3(\"song.mp3\").save(v2_version=3)'",
                   true, "Ärtist - Album - Títle - Jazz", "Ärtist - Album - Títle - Jazz"},
        TaggerCase{"FfmpegVersion4", "command -v ffmpeg",
                   "ffmpeg -loglevel error -i \"$in\" -i \"$cover\" -map 0 -map 1 -c copy "
                   "-metadata artist='Ärtist' -metadata album=Album -metadata title='Títle' "
                   "-metadata genre='(17)Hard Rock' -metadata:s:v comment='Cover (front)' song.mp3",
                   true, " -  -  - ", "Ärtist - Album - Títle - Hard Rock"},
        TaggerCase{"FfmpegVersion3", "command -v ffmpeg",
                   "ffmpeg -loglevel error -i \"$in\" -i \"$cover\" -map 0 -map 1 -c copy "
                   "-id3v2_version 3 -metadata artist='Ärtist' -metadata album=Album "
                   "-metadata title='Títle' -metadata genre=Jazz "
                   "-metadata:s:v comment='Cover (front)' song.mp3",
                   true, "Ärtist - Album - Títle - Jazz", "Ärtist - Album - Títle - Jazz"}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace tagrelay
