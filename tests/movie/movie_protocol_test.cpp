#include "movie/movie_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tagrelay {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<MovieMessage> readAll(const Bytes& stream, std::size_t pieceSize,
                                  bool* broken = nullptr)
{
    MessageReader reader;
    std::vector<MovieMessage> messages;
    for (std::size_t at = 0; at < stream.size(); at += pieceSize) {
        const std::size_t size = std::min(pieceSize, stream.size() - at);
        reader.feed({stream.data() + at, size});
        while (auto message = reader.next())
            messages.push_back(*message);
    }
    if (broken)
        *broken = reader.isBroken();
    return messages;
}

TEST(MovieProtocolTest, PositionFrameHasItsDocumentedLayout)
{
    MovieMessage position = messageOf(MessageKind::Position);
    position.frame = 230;
    position.clockMs = 9200;
    position.untilMs = 9234;
    position.flags = positionEnded;
    EXPECT_EQ(encodeMessage(position), (Bytes{
                                           0x83,                               // kind: Position
                                           0x15, 0x00,                         // payload length 21
                                           0xE6, 0x00, 0x00, 0x00,             // frame 230
                                           0xF0, 0x23, 0,    0,    0, 0, 0, 0, // clock 9200 ms
                                           0x12, 0x24, 0,    0,    0, 0, 0, 0, // until 9234 ms
                                           0x01,                               // flags: ended
                                       }));
    MovieMessage status = messageOf(MessageKind::Status);
    status.atMs = statusNow;
    EXPECT_EQ(encodeMessage(status), (Bytes{
                                         0x04, // kind: Status
                                         0x08,
                                         0x00, // payload length 8
                                         0xFF,
                                         0xFF,
                                         0xFF,
                                         0xFF,
                                         0xFF,
                                         0xFF, // at -1: now
                                         0xFF,
                                         0xFF,
                                     }));
}

TEST(MovieProtocolTest, EveryKindSurvivesARoundTripInPiecesOfAnySize)
{
    std::vector<MovieMessage> sent;
    MovieMessage ready = messageOf(MessageKind::Ready);
    ready.version = movieProtocolVersion;
    ready.confinement = 0x37;
    MovieMessage load = messageOf(MessageKind::Load);
    MovieMessage play = messageOf(MessageKind::Play);
    play.shown = 1;
    MovieMessage picture = messageOf(MessageKind::Picture);
    picture.sequence = 0xFFFFFFFEu;
    picture.width = 320;
    picture.height = -240;
    picture.stride = 1280;
    picture.timestampNs = -1;
    MovieMessage loaded = messageOf(MessageKind::Loaded);
    loaded.width = -1;
    loaded.height = -1;
    loaded.length = 83940;
    MovieMessage refused = messageOf(MessageKind::Refused);
    refused.text = "a still picture, no movie";
    MovieMessage position = messageOf(MessageKind::Position);
    position.frame = -1;
    position.clockMs = 1234567;
    position.untilMs = 1234600;
    MovieMessage status = messageOf(MessageKind::Status);
    status.atMs = 13135;
    sent = {ready,
            load,
            play,
            status,
            messageOf(MessageKind::Stop),
            messageOf(MessageKind::Free),
            messageOf(MessageKind::Quit),
            loaded,
            refused,
            position,
            messageOf(MessageKind::Done),
            picture};

    Bytes stream;
    for (const MovieMessage& message : sent) {
        const Bytes frame = encodeMessage(message);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{7}, stream.size()})
        EXPECT_EQ(readAll(stream, piece), sent) << "pieces of " << piece;
}

/// A picture is read from the program's buffer only when every row lies inside it, whatever
/// the worker claims.
TEST(MovieProtocolTest, APictureIsTakenOnlyWhenItFitsTheBufferForTheMovie)
{
    const std::size_t buffer = pictureBufferBytes(320, 240);
    EXPECT_EQ(buffer, 320u * 240 * 4);
    EXPECT_EQ(pictureBufferBytes(0, 240), 0u);
    EXPECT_EQ(pictureBufferBytes(-1, -1), 0u);
    EXPECT_EQ(pictureBufferBytes(maxPictureSide + 1, 2), 0u);
    EXPECT_EQ(pictureBufferBytes(maxPictureSide, maxPictureSide), std::size_t{64} << 20);

    struct Case
    {
        const char* what;
        std::int32_t width, height, stride;
        std::size_t bufferBytes;
        bool fits;
    };
    const std::vector<Case> cases = {
        {"the movie's size, packed rows", 320, 240, 1280, buffer, true},
        {"padded rows in a larger buffer", 320, 240, 1284, buffer + 239 * 4, true},
        {"padded rows past the buffer", 320, 240, 1284, buffer, false},
        {"rows shorter than the width", 320, 240, 1276, buffer, false},
        {"a negative stride", 320, 240, -1280, buffer, false},
        {"the largest stride", 320, 240, INT32_MAX, buffer, false},
        {"another width", 640, 120, 2560, buffer, false},
        {"another height", 320, 239, 1280, buffer, false},
        {"a negative height", 320, -240, 1280, buffer, false},
    };
    for (const Case& c : cases) {
        MovieMessage picture = messageOf(MessageKind::Picture);
        picture.width = c.width;
        picture.height = c.height;
        picture.stride = c.stride;
        EXPECT_EQ(fitsPictureBuffer(picture, 320, 240, c.bufferBytes), c.fits) << c.what;
    }
    MovieMessage position = messageOf(MessageKind::Position);
    position.width = 320;
    position.height = 240;
    position.stride = 1280;
    EXPECT_FALSE(fitsPictureBuffer(position, 320, 240, buffer)) << "not a picture";
    // A movie too large to be shown has no buffer, so no picture fits.
    MovieMessage huge = messageOf(MessageKind::Picture);
    huge.width = 5000;
    huge.height = 1;
    huge.stride = 20000;
    EXPECT_FALSE(fitsPictureBuffer(huge, 5000, 1, std::size_t{1} << 30));
}

TEST(MovieProtocolTest, OverlongTextsAreCutToTheirLimits)
{
    MovieMessage refused = messageOf(MessageKind::Refused);
    refused.text = std::string(maxReasonBytes + 1, 'r');
    MovieMessage zero = messageOf(MessageKind::Refused);
    zero.text = std::string("no decoder\0for b.avi", 20);
    MovieMessage load = messageOf(MessageKind::Load);
    load.text = "a path is never sent: the file goes as a descriptor";

    Bytes stream;
    for (const MovieMessage& message : {refused, zero, load}) {
        const Bytes frame = encodeMessage(message);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    const auto read = readAll(stream, 4096);
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(read[0].text.size(), maxReasonBytes);
    EXPECT_EQ(read[1].text, "no decoder");
    EXPECT_EQ(read[2], messageOf(MessageKind::Load));
}

TEST(MovieProtocolTest, MalformedFramesBreakTheStreamForGood)
{
    const Bytes done = {0x84, 0x00, 0x00};
    const std::vector<std::pair<const char*, Bytes>> cases = {
        {"unknown kind", {0x42, 0x00, 0x00}},
        {"length past the limit", {0x82, 0x01, 0x01}}, // Refused of 257 bytes
        {"Position one byte short",
         {0x83, 0x14, 0x00, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"Status without its moment", {0x04, 0x00, 0x00}},
        {"Done with a payload", {0x84, 0x01, 0x00, 0x00}},
        {"Load with a path", {0x02, 0x05, 0x00, 'a', '.', 'a', 'v', 'i'}},
        {"Ready without its confinement", {0x01, 0x04, 0x00, 3, 0, 0, 0}},
        {"Play with a window id", {0x03, 0x08, 0x00, 1, 0, 0, 0, 0, 0, 0, 0}},
        {"Picture without its time",
         {0x85, 0x10, 0x00, 1, 0, 0, 0, 0x40, 1, 0, 0, 0xF0, 0, 0, 0, 0, 5, 0, 0}},
        // Found by the fuzzer: read in full, the reason would be written back cut short.
        {"Refused with a zero byte", {0x82, 0x04, 0x00, 'n', 'o', 0x00, 'm'}},
        {"Refused past its limit",
         [] {
             Bytes b = {0x82, 201, 0x00};
             b.resize(3 + 201, 'x');
             return b;
         }()},
    };
    for (const auto& [name, bytes] : cases) {
        Bytes stream = bytes;
        stream.insert(stream.end(), done.begin(), done.end()); // never read after the fault
        bool broken = false;
        EXPECT_TRUE(readAll(stream, 1, &broken).empty()) << name;
        EXPECT_TRUE(broken) << name;
    }
}

TEST(MovieProtocolTest, AnIncompleteFrameWaitsForItsRest)
{
    MessageReader reader;
    const Bytes frame = encodeMessage(messageOf(MessageKind::Done));
    reader.feed({frame.data(), 2});
    EXPECT_FALSE(reader.next());
    EXPECT_FALSE(reader.isBroken());
    EXPECT_EQ(reader.pendingBytes(), 2u);
    reader.feed({frame.data() + 2, 1});
    EXPECT_TRUE(reader.next());
    EXPECT_EQ(reader.pendingBytes(), 0u);
}

} // namespace
} // namespace tagrelay
