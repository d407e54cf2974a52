#include "audio/adts_reader.h"
#include "audio/flac_reader.h"
#include "audio/ogg_reader.h"
#include "audio/wav_reader.h"
#include "platform/byte_reader.h"
#include "support/id3_bytes.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>

namespace tagrelay {
namespace {

using Reader = std::function<AudioTrack(ByteReader&, const AudioReadOptions&)>;

bool hasTool(const std::string& name)
{
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

AudioTrack readWith(const Reader& reader, const std::string& path,
                    CoverBytes covers = CoverBytes::Keep, bool walks = true)
{
    ByteReader file(path);
    AudioReadOptions options;
    options.covers = covers;
    options.walksStream = walks;
    return reader(file, options);
}

/// A file a real encoder made from a tone whose length lies at a rounding boundary, and the
/// exact duration its samples give.
struct EncoderCase
{
    const char* name;
    const char* tool;
    /// The shell command; IN is the tone (a WAV file), OUT the file to make.
    const char* command;
    int rate;
    int channels;
    double seconds;
    Reader reader;
    std::int64_t ticks; // samples of the exact duration; 0: ADTS, checked against ffprobe
    std::int64_t scale;
    std::int32_t wantedChannels;
    bool isVbr;
};

class AudioEncoderTest : public ::testing::TestWithParam<EncoderCase>
{
  protected:
    test::ScopedLocale locale{{"C.UTF-8"}};
    std::string encode(const EncoderCase& row)
    {
        const std::string in = tree.path() + "in.wav";
        const std::string out = tree.path() + "out";
        const std::string tone = "sox -n -r " + std::to_string(row.rate) + " -c "
                                 + std::to_string(row.channels) + " -b 16 '" + in + "' synth "
                                 + std::to_string(row.seconds) + " sine 440 2>/dev/null";
        std::string command = row.command;
        for (const auto& [name, value] : {std::pair{"IN", in}, std::pair{"OUT", out}})
            for (auto at = command.find(name); at != std::string::npos; at = command.find(name))
                command.replace(at, std::strlen(name), "'" + value + "'");
        if (std::system(tone.c_str()) != 0
            || std::system((command + " >/dev/null 2>&1").c_str()) != 0)
            return {};
        return out;
    }

    test::TempTree tree;
};

TEST_P(AudioEncoderTest, GivesTheExactDurationChannelsAndKind)
{
    const EncoderCase& row = GetParam();
    if (!hasTool(row.tool) || !hasTool("sox"))
        GTEST_SKIP() << row.tool << " or sox is not installed (scripts/install-deps installs them)";
    const std::string path = encode(row);
    ASSERT_FALSE(path.empty()) << row.command;
    const auto size = static_cast<std::int64_t>(test::readFileBytes(path).size());
    const AudioTrack track = readWith(row.reader, path);
    EXPECT_TRUE(track.problems.empty()) << track.problems.front();
    std::int64_t ticks = row.ticks;
    if (ticks == 0) {
        // ADTS: every frame is 1024 samples; ffprobe counts the frames.
        const std::string count = tree.path() + "count";
        ASSERT_EQ(
            std::system(("ffprobe -v error -count_packets -show_entries stream=nb_read_packets "
                         "-of csv=p=0 '"
                         + path + "' > '" + count + "'")
                            .c_str()),
            0);
        ticks = std::stoll(test::readFileText(count)) * 1024;
        EXPECT_EQ(track.payloadBytes, size);
    }
    EXPECT_EQ(track.durationTicks, ticks);
    EXPECT_EQ(track.durationScale, row.scale);
    EXPECT_EQ(track.channels, row.wantedChannels);
    EXPECT_EQ(track.isVbr, row.isVbr);
    EXPECT_GT(track.payloadBytes, 0);
    EXPECT_LE(track.payloadBytes, size);
    // Without the walk the tags stand as they are, and no duration is guessed where only the
    // walk gives it.
    const AudioTrack headers = readWith(row.reader, path, CoverBytes::Keep, false);
    EXPECT_EQ(headers.tags, track.tags);
    EXPECT_EQ(headers.channels, track.channels);
}

const Reader flac = readFlac;
const Reader ogg = readOgg;
const Reader wav = readWav;
const Reader adts = readAdts;

// The lengths lie where a truncated or an estimated length shows another second: 10.497 s
// at 48 kHz with Opus' 312 pre-skip samples counted is 10.5035 s (0:11); 11.5 s is a tie that
// rounds to 0:12 where cutting gives 0:11; 9.5 s rounds to the even 0:10.
INSTANTIATE_TEST_SUITE_P(
    Encoders, AudioEncoderTest,
    ::testing::Values(
        EncoderCase{"FlacStereo", "flac", "flac -s -o OUT IN", 44100, 2, 10.497, flac, 462918,
                    44100, 2, true},
        EncoderCase{"FlacMonoTie", "flac", "flac -s -o OUT IN", 8000, 1, 11.5, flac, 92000, 8000, 1,
                    true},
        EncoderCase{"FlacSixChannels", "flac", "flac -s --channel-map=none -o OUT IN", 48000, 6,
                    2.0, flac, 96000, 48000, 6, true},
        EncoderCase{"Vorbis", "oggenc", "oggenc -Q -o OUT IN", 44100, 2, 11.5, ogg, 507150, 44100,
                    2, true},
        EncoderCase{"VorbisMono", "oggenc", "oggenc -Q -o OUT IN", 22050, 1, 10.497, ogg, 231459,
                    22050, 1, true},
        EncoderCase{"Opus", "opusenc", "opusenc --quiet IN OUT", 48000, 2, 10.497, ogg, 503856,
                    48000, 2, true},
        EncoderCase{"OpusHardCbr", "opusenc", "opusenc --quiet --hard-cbr --bitrate 64 IN OUT",
                    48000, 1, 9.5, ogg, 456000, 48000, 1, false},
        EncoderCase{"WavPcm", "sox", "sox IN -t wav OUT", 8000, 1, 9.5, wav, 76000, 8000, 1, false},
        EncoderCase{"WavRf64", "ffmpeg", "ffmpeg -v error -y -i IN -rf64 always -f wav OUT", 44100,
                    2, 10.5, wav, 463050, 44100, 2, false},
        // The fact chunk's count: ffmpeg counts the samples of whole ADPCM blocks.
        EncoderCase{"WavMsAdpcm", "ffmpeg", "ffmpeg -v error -y -i IN -c:a adpcm_ms -f wav OUT",
                    44100, 2, 10.497, wav, 463496, 44100, 2, false},
        EncoderCase{"AdtsAac", "ffmpeg", "ffmpeg -v error -y -i IN -c:a aac -f adts OUT", 44100, 2,
                    10.497, adts, 0, 44100, 2, true}),
    [](const auto& row) { return std::string(row.param.name); });

/// Runs the shell command; false when it failed.
bool run(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

class AudioTagsTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        for (const char* tool : {"sox", "flac", "oggenc", "opusenc", "ffmpeg"})
            if (!hasTool(tool))
                GTEST_SKIP() << tool << " is not installed";
        in = tree.path() + "in.wav";
        ASSERT_TRUE(run("sox -n -r 8000 -c 1 -b 16 '" + in + "' synth 1.25 sine 440"));
        cover = test::readFileBytes(writeCover());
    }
    std::string writeCover()
    {
        const std::string path = tree.path() + "cover.jpg";
        EXPECT_TRUE(run("convert -size 8x8 xc:red '" + path + "'"));
        return path;
    }

    test::ScopedLocale locale{{"C.UTF-8"}};
    test::TempTree tree;
    std::string in;
    std::vector<std::uint8_t> cover;
};

TEST_F(AudioTagsTest, VorbisCommentsGiveTheFirstValueOfEachFieldInAnyCaseAndTheFrontCover)
{
    const std::string c = tree.path() + "cover.jpg";
    const std::string f = tree.path() + "t.flac";
    ASSERT_TRUE(run("flac -s -o '" + f
                    + "' --tag=artist=Bänd --tag=ARTIST=Second --tag=Album=Disc "
                      "--tag=TITLE=Song --tag=GENRE=Jazz --picture='4||||"
                    + c + "' --picture='" + c + "' '" + in + "'"));
    const std::string o = tree.path() + "t.opus";
    ASSERT_TRUE(run("opusenc --quiet --artist Bänd --artist Second --album Disc --title Song "
                    "--genre Jazz --picture '"
                    + c + "' '" + in + "' '" + o + "'"));
    const std::string v = tree.path() + "t.ogg";
    ASSERT_TRUE(run("oggenc -Q -c artist=Bänd -c ARTIST=Second -l Disc -t Song -G Jazz -o '" + v
                    + "' '" + in + "'"));
    for (const auto& [path, reader] : {std::pair{f, flac}, std::pair{o, ogg}, std::pair{v, ogg}}) {
        SCOPED_TRACE(path);
        const AudioTrack track = readWith(reader, path);
        EXPECT_EQ(track.tags.artist, "Bänd");
        EXPECT_EQ(track.tags.album, "Disc");
        EXPECT_EQ(track.tags.title, "Song");
        EXPECT_EQ(track.tags.genre, "Jazz");
        const auto picture = track.tags.coverPicture();
        if (path != v) {
            EXPECT_EQ(std::vector<std::uint8_t>(picture.begin(), picture.end()), cover);
        }
        EXPECT_TRUE(readWith(reader, path, CoverBytes::PassOver).tags.coverFrame.empty());
    }
}

TEST_F(AudioTagsTest, AChainedOggIsOneTrackWithTheTagsOfItsFirstStream)
{
    const std::string a = tree.path() + "a.opus";
    const std::string b = tree.path() + "b.ogg";
    const std::string c = tree.path() + "c.opus";
    ASSERT_TRUE(run("opusenc --quiet --title First '" + in + "' '" + a + "'"));
    ASSERT_TRUE(run("oggenc -Q -t Second -o '" + b + "' '" + in + "'"));
    ASSERT_TRUE(run("sox '" + in + "' -r 48000 '" + tree.path() + "in48.wav' trim 0 0.5"));
    ASSERT_TRUE(run("opusenc --quiet --title Third '" + tree.path() + "in48.wav' '" + c + "'"));
    const std::string chained = tree.writeFile(
        "chained.ogg",
        test::join({test::readFileBytes(a), test::readFileBytes(b), test::readFileBytes(c)}));
    const AudioTrack track = readWith(ogg, chained);
    EXPECT_TRUE(track.problems.empty());
    EXPECT_EQ(track.tags.title, "First");
    // 1.25 s of Opus, 1.25 s of Vorbis at 8000 Hz and 0.5 s of Opus: 3 s in all.
    ASSERT_GT(track.durationScale, 0);
    EXPECT_EQ(track.durationTicks * 1000 / track.durationScale, 3000);
    EXPECT_EQ(track.durationTicks % (track.durationScale / 1000), 0);
    const std::int64_t parts = readWith(ogg, a).payloadBytes + readWith(ogg, b).payloadBytes
                               + readWith(ogg, c).payloadBytes;
    EXPECT_EQ(track.payloadBytes, parts);
}

TEST_F(AudioTagsTest, WavInfoIsUtf8OrLatin1AndAnId3ChunkWins)
{
    // fmt (PCM, mono, 8000 Hz, 16 bits), data, LIST/INFO and, in the second file, an id3 chunk.
    const auto chunk = [](std::string_view id, const test::Bytes& data) {
        test::Bytes bytes(id.begin(), id.end());
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<std::uint8_t>(data.size() >> (8 * i)));
        bytes.insert(bytes.end(), data.begin(), data.end());
        if (data.size() % 2 != 0)
            bytes.push_back(0);
        return bytes;
    };
    const auto text = [](std::string_view t) { return test::Bytes(t.begin(), t.end()); };
    const test::Bytes fmt = {1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x80, 0x3E, 0, 0, 2, 0, 16, 0};
    const test::Bytes info =
        test::join({text("INFO"), chunk("IART", text("B\xE4nd")),
                    chunk("INAM", text("S\xC3\xB6ng\0")), chunk("IGNR", text("Jazz"))});
    const auto wavFile = [&](const test::Bytes& extra) {
        const test::Bytes body = test::join({text("WAVE"), chunk("fmt ", fmt), chunk("LIST", info),
                                             chunk("data", test::Bytes(16000, 0)), extra});
        return test::join({chunk("RIFF", body)});
    };
    const AudioTrack plain = readWith(wav, tree.writeFile("info.wav", wavFile({})));
    EXPECT_EQ(plain.tags.artist, "Bänd"); // not UTF-8: ISO-8859-1
    EXPECT_EQ(plain.tags.title, "Söng");  // UTF-8
    EXPECT_EQ(plain.tags.genre, "Jazz");
    EXPECT_EQ(plain.durationTicks, 8000);
    EXPECT_EQ(plain.payloadBytes, 16000);
    const test::Bytes id3 =
        test::Id3v2Builder().textFrame("TPE1", "Tagged").textFrame("TCON", "(8)").bytes();
    const AudioTrack tagged = readWith(wav, tree.writeFile("id3.wav", wavFile(chunk("id3 ", id3))));
    EXPECT_EQ(tagged.tags.artist, "Tagged");
    EXPECT_EQ(tagged.tags.title, "Söng");
    EXPECT_EQ(tagged.tags.genre, "(8)");
    EXPECT_TRUE(tagged.tagsAreId3);
}

TEST_F(AudioTagsTest, AdtsTakesTheId3v2TagInFront)
{
    const std::string a = tree.path() + "a.aac";
    ASSERT_TRUE(run("ffmpeg -v error -y -i '" + in + "' -c:a aac -f adts '" + a + "'"));
    const test::Bytes tag = test::Id3v2Builder().textFrame("TIT2", "Song").padding(100).bytes();
    const std::vector<std::uint8_t> stream = test::readFileBytes(a);
    const std::string tagged = tree.writeFile("tagged.aac", test::join({tag, stream}));
    const AudioTrack plain = readWith(adts, a);
    const AudioTrack track = readWith(adts, tagged);
    EXPECT_TRUE(track.problems.empty());
    EXPECT_EQ(track.tags.title, "Song");
    EXPECT_EQ(track.durationTicks, plain.durationTicks);
    EXPECT_EQ(track.payloadBytes, static_cast<std::int64_t>(stream.size()));
}

TEST_F(AudioTagsTest, DamagedFilesGiveWhatCouldBeReadAndNameTheDamage)
{
    const std::string f = tree.path() + "t.flac";
    const std::string o = tree.path() + "t.opus";
    const std::string a = tree.path() + "t.aac";
    ASSERT_TRUE(run("flac -s --tag=TITLE=Song -o '" + f + "' '" + in + "'"));
    ASSERT_TRUE(run("opusenc --quiet --title Song '" + in + "' '" + o + "'"));
    ASSERT_TRUE(run("ffmpeg -v error -y -i '" + in + "' -c:a aac -f adts '" + a + "'"));
    const auto bytesOf = [](const std::string& p) { return test::readFileBytes(p); };

    // A FLAC stream that states no length has its frames counted.
    std::vector<std::uint8_t> unstated = bytesOf(f);
    unstated[21] &= 0xF0;
    std::fill(unstated.begin() + 22, unstated.begin() + 26, 0);
    const AudioTrack counted = readWith(flac, tree.writeFile("unstated.flac", unstated));
    EXPECT_EQ(counted.durationTicks, 10000);
    EXPECT_TRUE(counted.problems.empty());

    std::mt19937 random(7);
    std::vector<std::uint8_t> noise(20000);
    for (auto& b : noise)
        b = static_cast<std::uint8_t>(random());
    const std::string noisePath = tree.writeFile("noise.bin", noise);

    struct Damage
    {
        const char* name;
        Reader reader;
        std::vector<std::uint8_t> bytes;
        const char* problem;
        const char* title; // what could still be read
    };
    const auto cut = [&](const std::string& p, double part) {
        std::vector<std::uint8_t> b = bytesOf(p);
        b.resize(static_cast<std::size_t>(static_cast<double>(b.size()) * part));
        return b;
    };
    const std::vector<Damage> cases = {
        {"flac cut in its metadata", flac, cut(f, 0.01), "truncated metadata block", "Song"},
        {"flac noise", flac, noise, "no FLAC stream marker", ""},
        // The stream states its length; its last frame is gone or lacks its end.
        {"flac cut in its frames", flac, cut(f, 0.6), "cut short, its frames end early", "Song"},
        {"flac cut in its last frame", flac,
         [&] {
             std::vector<std::uint8_t> b = bytesOf(f);
             b.resize(b.size() - 3);
             return b;
         }(),
         "cut short, its frames end early", "Song"},
        {"opus cut", ogg, cut(o, 0.6), "truncated page", "Song"},
        {"ogg noise", ogg, noise, "no Ogg page at the start", ""},
        {"aac cut", adts, cut(a, 0.5), "truncated frame", ""},
        {"aac noise", adts, noise, "no ADTS frame found", ""},
        {"wav noise", wav, noise, "no RIFF WAVE header", ""},
        {"wav cut", wav, cut(in, 0.5), "truncated data chunk", ""},
    };
    for (const Damage& row : cases) {
        SCOPED_TRACE(row.name);
        const AudioTrack track = readWith(row.reader, tree.writeFile("damaged", row.bytes));
        EXPECT_NE(std::find(track.problems.begin(), track.problems.end(), row.problem),
                  track.problems.end())
            << (track.problems.empty() ? "no problem" : track.problems.front());
        EXPECT_EQ(track.tags.title, row.title);
    }
    // What a cut WAV file still holds is its duration.
    const AudioTrack half = readWith(wav, tree.writeFile("half.wav", cut(in, 0.5)));
    EXPECT_EQ(half.durationTicks, (static_cast<std::int64_t>(cut(in, 0.5).size()) - 44) / 2);
}

} // namespace
} // namespace tagrelay
