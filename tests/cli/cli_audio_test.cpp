#include "support/cli_runner.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace tagrelay {
namespace {

using test::TempTree;

bool run(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

/// A tree of real FLAC, Ogg, Opus, WAV and ADTS files with a list that others wrote, walked
/// by the program with and without the more-formats switch.
class CliAudioTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        for (const char* tool : {"sox", "flac", "oggenc", "opusenc", "ffmpeg", "convert"})
            if (!run(std::string("command -v ") + tool))
                GTEST_SKIP() << tool << " is not installed";
        const std::string m = music.path();
        const std::string in = scratch.path() + "in.wav";
        const std::string cover = scratch.path() + "cover.jpg";
        ASSERT_TRUE(run("sox -n -r 44100 -c 2 -b 16 '" + in + "' synth 10.5 sine 440"));
        ASSERT_TRUE(run("convert -size 16x16 xc:blue '" + cover + "'"));
        ASSERT_TRUE(
            run("flac -s --tag=ARTIST=Band --tag=TITLE=Song --tag=ALBUM=Disc --tag=GENRE=Jazz "
                "--picture='"
                + cover + "' -o '" + m + "a.flac' '" + in + "'"));
        ASSERT_TRUE(run("oggenc -Q -a Band -t Song -o '" + m + "b.ogg' '" + in + "'"));
        ASSERT_TRUE(
            run("opusenc --quiet --artist Band --title Song '" + in + "' '" + m + "c.opus'"));
        ASSERT_TRUE(run("sox '" + in + "' -t wav '" + m + "d.wav'"));
        ASSERT_TRUE(run("ffmpeg -v error -y -i '" + in + "' -c:a aac -f adts '" + m + "e.aac'"));
        music.writeFile("z.wav", "no audio at all, only text");
        oldList = "a.flac an old FLAC line\r\nd.wav an old WAV line\r\nz.wav written by hand\r\n";
        music.writeFile("descript.ion", oldList);
    }

    test::CliResult walk(const std::vector<std::string>& extra)
    {
        std::vector<std::string> arguments = {"--artist",  "--album",      "--title",
                                              "--bitrate", "--audio-mode", "--playtime",
                                              "--genre",   "--mp3-icons"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        arguments.push_back(music.path());
        return test::runCli(arguments, work.path(), scratch.path());
    }

    TempTree work;
    TempTree music;
    TempTree scratch;
    std::string oldList;
};

TEST_F(CliAudioTest, TheSwitchAloneBringsTheLinesTheIconAndTheEntries)
{
    const test::CliResult without = walk({});
    ASSERT_EQ(without.exitCode, 0) << without.err;
    // The old lines stay as they were written, byte for byte (in the walk's order of entries).
    const std::string kept = test::readFileText(music.path() + "descript.ion");
    EXPECT_EQ(kept.size(), oldList.size()) << kept;
    for (const std::string line :
         {"a.flac an old FLAC line\r\n", "d.wav an old WAV line\r\n", "z.wav written by hand\r\n"})
        EXPECT_NE(kept.find(line), std::string::npos) << kept;
    EXPECT_FALSE(std::filesystem::exists(music.path() + "a.flac.ico"));

    const test::CliResult with = walk({"--more-formats"});
    ASSERT_EQ(with.exitCode, 0) << with.err;
    const std::string list = test::readFileText(music.path() + "descript.ion");
    // 10.5 s is a tie: 0:10, the even second. Vorbis at 44.1 kHz and FLAC are VBR; PCM is CBR.
    for (const std::string line :
         {"\"a.flac\" Band - Disc - Song - ", " kbs VBR - Stereo - 0:10 min - Jazz\r\n",
          "\"b.ogg\" Band -  - Song - ", "\"c.opus\" Band -  - Song - ",
          "\"d.wav\"  -  -  - 1411 kbs CBR - Stereo - 0:10 min - \r\n", "\"e.aac\"  -  -  - "})
        EXPECT_NE(list.find(line), std::string::npos) << line << " in\n" << list;
    EXPECT_EQ(list.find("an old"), std::string::npos) << list;
    EXPECT_NE(list.find("\"z.wav\"  -  -  - 0 kbs CBR -  -  - \r\n"), std::string::npos) << list;
    EXPECT_NE(with.out.find("WAV file damaged (no RIFF WAVE header): " + music.path() + "z.wav"),
              std::string::npos)
        << with.out;
    EXPECT_TRUE(std::filesystem::exists(music.path() + "a.flac.ico"));

    // The description cache gives the same list again.
    const std::string cached = list;
    ASSERT_EQ(walk({"--more-formats", "--update"}).exitCode, 0);
    ASSERT_EQ(walk({"--more-formats", "--update"}).exitCode, 0);
    EXPECT_EQ(test::readFileText(music.path() + "descript.ion"), cached);
}

} // namespace
} // namespace tagrelay
