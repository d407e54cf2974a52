#include "movie/movie_elements.h"

#include <gtest/gtest.h>

namespace tagrelay {
namespace {

struct ElementCase
{
    const char* factory;
    const char* klass; // as the media framework classifies it
    bool allowed;
};

class MovieElementsTest : public testing::TestWithParam<ElementCase>
{
};

TEST_P(MovieElementsTest, OnlyTheElementsOfAviAndMpegMoviesMayBeMade)
{
    EXPECT_EQ(isAllowedMovieElement(GetParam().factory, GetParam().klass), GetParam().allowed);
}

INSTANTIATE_TEST_SUITE_P(
    Factories, MovieElementsTest,
    testing::Values(
        // the player, the source that reads the handed-over file, the sinks
        ElementCase{"playbin", "Generic/Bin/Player", true},
        ElementCase{"appsrc", "Generic/Source", true}, ElementCase{"appsink", "Generic/Sink", true},
        ElementCase{"fakesink", "Sink", true},
        // sinks that would open a display or reach a sound server
        ElementCase{"ximagesink", "Sink/Video", false},
        ElementCase{"waylandsink", "Sink/Video", false},
        ElementCase{"pulsesink", "Sink/Audio", false},
        // the three containers, and the decoders and parsers of their streams
        ElementCase{"avidemux", "Codec/Demuxer", true},
        ElementCase{"mpegpsdemux", "Codec/Demuxer", true},
        ElementCase{"tsdemux", "Codec/Demuxer", true},
        ElementCase{"avdec_h264", "Codec/Decoder/Video", true},
        ElementCase{"mpg123audiodec", "Codec/Decoder/Audio", true},
        ElementCase{"opusdec", "Codec/Decoder/Audio/Converter", true},
        ElementCase{"h264parse", "Codec/Parser/Converter/Video", true},
        ElementCase{"mpegaudioparse", "Codec/Parser/Audio", true},
        ElementCase{"jpegdec", "Codec/Decoder/Image", true},
        // playlists and adaptive streams, which fetch other files and URLs
        ElementCase{"hlsdemux", "Codec/Demuxer/Adaptive", false},
        ElementCase{"hlsdemux2", "Codec/Demuxer/Adaptive", false},
        ElementCase{"dashdemux", "Codec/Demuxer/Adaptive", false},
        // sources that read files or the network by name
        ElementCase{"filesrc", "Source/File", false}, ElementCase{"fdsrc", "Source/File", false},
        ElementCase{"giosrc", "Source/File", false},
        ElementCase{"souphttpsrc", "Source/Network", false},
        ElementCase{"rtspsrc", "Source/Network", false},
        // other containers and what reads them
        ElementCase{"qtdemux", "Codec/Demuxer", false},
        ElementCase{"matroskademux", "Codec/Demuxer", false},
        ElementCase{"avdemux_ape", "Codec/Demuxer", false},
        ElementCase{"id3demux", "Codec/Demuxer/Metadata", false},
        // decoders that open devices, read subtitles or still pictures, and writers
        ElementCase{"vah264dec", "Codec/Decoder/Video/Hardware", false},
        ElementCase{"subparse", "Codec/Parser/Subtitle", false},
        ElementCase{"pngdec", "Codec/Decoder/Image", false},
        ElementCase{"rtph264depay", "Codec/Depayloader/Network/RTP", false},
        ElementCase{"x264enc", "Codec/Encoder/Video", false},
        ElementCase{"filesink", "Sink/File", false},
        ElementCase{"urisourcebin", "Generic/Bin/Source", false}),
    [](const testing::TestParamInfo<ElementCase>& row) {
        std::string name;
        for (const char* c = row.param.factory; *c != '\0'; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

} // namespace
} // namespace tagrelay
