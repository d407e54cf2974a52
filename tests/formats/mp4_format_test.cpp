#include "formats/mp4_format.h"
#include "settings/settings.h"
#include "support/support.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace tagrelay {
namespace {

/// The files every case reads, made once by the real encoders. A shell line per file, run in
/// the folder; a file whose maker is missing is skipped by its case.
const char* const makers[][2] = {
    // AAC at 10.497 s: the priming and padding left in give 10.54 s, another second.
    {"aac.m4a", "ffmpeg -f lavfi -i sine=frequency=440:duration=10.497 -ac 2 -c:a aac -b:a 96k"
                " -metadata artist=Artist -metadata album=Album -metadata title=Title"
                " -metadata genre=Jazz aac.m4a"},
    {"faststart.m4a", "ffmpeg -i aac.m4a -c copy -movflags +faststart faststart.m4a"},
    {"noedit.m4a", "ffmpeg -i aac.m4a -c copy -use_editlist 0 noedit.m4a"},
    // The same without the edit list, but with Apple's gapless note (512 priming and 512 padding
    // samples) and gnre 10, genre 9 (mutagen writes no gnre: its tempo box, renamed).
    {"smpb.m4a", "ffmpeg -i aac.m4a -c copy -use_editlist 0 smpb.m4a && /usr/bin/python3 -c \""
                 "from mutagen.mp4 import MP4, MP4FreeForm; f = MP4('smpb.m4a'); del f['\\xa9gen'];"
                 "f['tmpo'] = [10]; f['----:com.apple.iTunes:iTunSMPB'] = [MP4FreeForm("
                 "b' 00000000 00000200 00000200 0000000000071046')]; f.save();"
                 "b = open('smpb.m4a', 'rb').read(); b = b.replace(b'tmpo', b'gnre');"
                 "open('smpb.m4a', 'wb').write(b)\""},
    {"frag.m4a",
     "ffmpeg -f lavfi -i sine=duration=10.497 -c:a aac -movflags frag_keyframe+empty_moov"
     " frag.m4a"},
    // A tie: 12.5 s rounds to the even 12.
    {"alac.m4a",
     "ffmpeg -f lavfi -i sine=duration=12.5:sample_rate=48000 -ac 1 -c:a alac alac.m4a"},
    {"surround.m4a", "ffmpeg -f lavfi -i sine=duration=3 -ac 6 -c:a aac surround.m4a"},
    {"cover.m4a", "ffmpeg -f lavfi -i testsrc=size=200x200 -frames:v 1 c.jpg && ffmpeg -i aac.m4a"
                  " -i c.jpg -map 0 -map 1 -c copy -disposition:v attached_pic cover.m4a"},
    {"cut.m4a", "head -c 60000 faststart.m4a > cut.m4a"},
    {"nomoov.m4a", "head -c 60000 aac.m4a > nomoov.m4a"},
    {"random.m4a", "head -c 5000 /dev/urandom > random.m4a"},
    {"cfr.mp4", "ffmpeg -f lavfi -i testsrc=size=320x240:rate=25:duration=10 -c:v libx264"
                " -pix_fmt yuv420p cfr.mp4"},
    {"faststart.mp4", "ffmpeg -i cfr.mp4 -c copy -movflags +faststart faststart.mp4"},
    {"ntsc.mov", "ffmpeg -f lavfi -i testsrc=size=640x480:rate=30000/1001:duration=10 -c:v libx264"
                 " -pix_fmt yuv420p ntsc.mov"},
    {"sixty.m4v", "ffmpeg -f lavfi -i testsrc=size=160x120:rate=60:duration=5 -c:v libx264"
                  " -pix_fmt yuv420p -f mp4 sixty.m4v"},
    {"turned.mp4", "ffmpeg -i cfr.mp4 -c copy -metadata:s:v rotate=90 turned.mp4"},
    {"fragv.mp4", "ffmpeg -i cfr.mp4 -c copy -movflags frag_keyframe+empty_moov fragv.mp4"},
    // 4 s at 25 fps and 4 s at 50: 300 frames in 8 s.
    {"vfr.mp4", "for r in 25 50; do ffmpeg -f lavfi -i testsrc=size=320x240:rate=$r:duration=4"
                " -c:v libx264 -pix_fmt yuv420p -video_track_timescale 1000 p$r.mp4; done &&"
                " printf 'file p25.mp4\\nfile p50.mp4\\n' > l.txt && ffmpeg -f concat -i l.txt"
                " -c copy vfr.mp4"},
    {"cut.mp4", "head -c 30000 faststart.mp4 > cut.mp4"},
    {"nomoov.mp4", "head -c 30000 cfr.mp4 > nomoov.mp4"},
    {"audio.mp4", "cp aac.m4a audio.mp4"},
};

class Mp4FormatTest : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        folder = std::make_unique<test::TempTree>();
        for (const auto& maker : makers) {
            const std::string line =
                "cd '" + folder->path() + "' && (" + maker[1] + ") >/dev/null 2>&1";
            if (std::system(line.c_str()) != 0)
                std::filesystem::remove(folder->path() + maker[0]);
        }
    }
    static void TearDownTestSuite() { folder.reset(); }

    static std::string pathOf(const std::string& name) { return folder->path() + name; }

    static FileOutcome analyse(const FileFormat& format, const std::string& name,
                               const Settings& settings)
    {
        AnalysisOptions options;
        options.settings = settings;
        QuietSink sink;
        const std::string path = pathOf(name);
        return format.analyse(OpenFile(::open(path.c_str(), O_RDONLY | O_CLOEXEC)), path, options,
                              sink);
    }

    /// The sum of the audio packets' sizes, as ffprobe counts them.
    static std::int64_t packetBytes(const std::string& name)
    {
        const std::string line = "ffprobe -v error -select_streams a -show_entries packet=size"
                                 " -of csv=p=0 '"
                                 + pathOf(name) + "' | awk '{s+=$1} END {print s}'";
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(line.c_str(), "r"), ::pclose);
        long long bytes = 0;
        return pipe && std::fscanf(pipe.get(), "%lld", &bytes) == 1 ? bytes : -1;
    }

    static inline std::unique_ptr<test::TempTree> folder;
};

Settings audioSettings()
{
    Settings s;
    s.moreFormats = 1;
    s.showArtist = s.showAlbum = s.showTitle = s.showBitrate = s.showAudioMode = 1;
    s.showPlaytime = s.showGenre = 1;
    return s;
}

struct AudioCase
{
    const char* name;
    const char* lineStart;  // up to the bitrate
    const char* lineEnd;    // behind " kbs "
    ExactDuration duration; // the truth the bitrate is computed over; 0 ticks: none checked
    const char* error;      // the start of the one error entry expected, or nullptr
};

TEST_F(Mp4FormatTest, AudioLinesTakeTheEditListThenTheGaplessNoteThenMdhd)
{
    const AudioCase cases[] = {
        // The edit list, in the mvhd scale (ms).
        {"aac.m4a",
         "Artist - Album - Title - ",
         "VBR - Stereo - 0:10 min - Jazz",
         {10497, 1000},
         nullptr},
        {"faststart.m4a",
         "Artist - Album - Title - ",
         "VBR - Stereo - 0:10 min - Jazz",
         {10497, 1000},
         nullptr},
        // No edit list: mdhd with its 1024 priming samples.
        {"noedit.m4a",
         "Artist - Album - Title - ",
         "VBR - Stereo - 0:11 min - Jazz",
         {463942, 44100},
         nullptr},
        {"smpb.m4a",
         "Artist - Album - Title - ",
         "VBR - Stereo - 0:10 min - Metal",
         {462918, 44100},
         nullptr},
        // No mehd: the fragments' durations, the priming with them.
        {"frag.m4a", " -  -  - ", "VBR - Mono - 0:11 min - ", {463942, 44100}, nullptr},
        {"alac.m4a", " -  -  - ", "VBR - Mono - 0:12 min - ", {600000, 48000}, nullptr},
        {"surround.m4a", " -  -  - ", "VBR - 6 Channels - 0:03 min - ", {}, nullptr},
        {"cut.m4a",
         "Artist - Album - Title - ",
         "VBR - Stereo - 0:10 min - Jazz",
         {},
         "MP4 file cut short: "},
        {"nomoov.m4a",
         " -  -  - 0",
         "CBR -  -  - ",
         {},
         "MP4 file cut short before its moov box: "},
        {"random.m4a", " -  -  - 0", "CBR -  -  - ", {}, "No MP4 boxes found: "},
    };
    const M4aFileFormat format;
    for (const AudioCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (!std::filesystem::exists(pathOf(c.name)))
            GTEST_SKIP() << c.name << ": ffmpeg or mutagen missing (scripts/install-deps)";
        const FileOutcome outcome = analyse(format, c.name, audioSettings());
        ASSERT_TRUE(outcome.description.has_value());
        const std::string& line = *outcome.description;
        EXPECT_EQ(line.rfind(c.lineStart, 0), 0u) << line;
        EXPECT_TRUE(line.ends_with(std::string(" kbs ") + c.lineEnd)) << line;
        if (c.duration.ticks > 0) {
            const std::int64_t kbs = truncatedKilobitRate(packetBytes(c.name), c.duration);
            EXPECT_EQ(line, c.lineStart + std::to_string(kbs) + " kbs " + c.lineEnd);
        }
        if (c.error == nullptr) {
            EXPECT_TRUE(outcome.errors.empty()) << outcome.errors.front();
        } else {
            ASSERT_EQ(outcome.errors.size(), 1u);
            EXPECT_EQ(outcome.errors[0], c.error + pathOf(c.name));
        }
        EXPECT_TRUE(outcome.counted);
    }
}

TEST_F(Mp4FormatTest, TheCoverBecomesTheIconOnlyWithTheIconOption)
{
    if (!std::filesystem::exists(pathOf("cover.m4a")))
        GTEST_SKIP() << "ffmpeg missing";
    Settings settings = audioSettings();
    EXPECT_TRUE(analyse(M4aFileFormat(), "cover.m4a", settings).iconBytes.empty());
    settings.makeMp3Icons = 1;
    settings.iconSize = 32;
    const FileOutcome outcome = analyse(M4aFileFormat(), "cover.m4a", settings);
    ASSERT_GE(outcome.iconBytes.size(), 3u);
    EXPECT_EQ(outcome.iconBytes[0], 0xFF); // a JPEG
    EXPECT_EQ(outcome.iconBytes[1], 0xD8);
    EXPECT_EQ(analyse(M4aFileFormat(), "aac.m4a", settings).iconBytes.size(), 0u);
}

TEST_F(Mp4FormatTest, MovieLinesCountTheFramesOverTheExactDuration)
{
    const struct
    {
        const char* name;
        const char* line;  // nullptr: no line
        const char* error; // the one error entry's start, or nullptr
    } cases[] = {
        {"cfr.mp4", "240 x 320 pixel - 25 fps - 0:10 min", nullptr},
        {"faststart.mp4", "240 x 320 pixel - 25 fps - 0:10 min", nullptr},
        {"ntsc.mov", "480 x 640 pixel - 30 fps - 0:10 min", nullptr},
        {"sixty.m4v", "120 x 160 pixel - 60 fps - 0:05 min", nullptr},
        {"turned.mp4", "320 x 240 pixel - 25 fps - 0:10 min", nullptr},
        {"fragv.mp4", "240 x 320 pixel - 25 fps - 0:10 min", nullptr},
        // 37.5 fps: a tie, to the even 38.
        {"vfr.mp4", "240 x 320 pixel - 38 fps - 0:08 min", nullptr},
        {"cut.mp4", "240 x 320 pixel - 25 fps - 0:10 min", "MP4 file cut short: "},
        {"nomoov.mp4", nullptr, "MP4 file cut short before its moov box: "},
        {"audio.mp4", nullptr, "No video track found: "},
        {"random.m4a", nullptr, "No MP4 boxes found: "},
    };
    Settings settings;
    settings.moreFormats = 1;
    settings.showMovieInfo = 1;
    const Mp4MovieFileFormat format;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!std::filesystem::exists(pathOf(c.name)))
            GTEST_SKIP() << "ffmpeg missing (scripts/install-deps)";
        const FileOutcome outcome = analyse(format, c.name, settings);
        if (c.line == nullptr) {
            EXPECT_FALSE(outcome.description.has_value());
            EXPECT_FALSE(outcome.counted);
        } else {
            EXPECT_EQ(outcome.description.value_or("none"), c.line);
            EXPECT_TRUE(outcome.counted);
        }
        if (c.error == nullptr) {
            EXPECT_TRUE(outcome.errors.empty()) << outcome.errors.front();
        } else {
            ASSERT_EQ(outcome.errors.size(), 1u);
            EXPECT_EQ(outcome.errors[0], c.error + pathOf(c.name));
        }
    }
}

TEST(Mp4FormatSwitchTest, DescribedOnlyWithTheSwitchAndForMoviesTheMovieOption)
{
    Settings settings;
    settings.showMovieInfo = 1;
    EXPECT_FALSE(M4aFileFormat().isDescribed(settings));
    EXPECT_FALSE(Mp4MovieFileFormat().isDescribed(settings));
    settings.moreFormats = 1;
    EXPECT_TRUE(M4aFileFormat().isDescribed(settings));
    EXPECT_TRUE(Mp4MovieFileFormat().isDescribed(settings));
    settings.showMovieInfo = 0;
    EXPECT_FALSE(Mp4MovieFileFormat().isDescribed(settings));
}

} // namespace
} // namespace tagrelay
