// Fuzzes the two readings at the ends of the movie worker's socket. The messages: the bytes
// arrive in pieces whose sizes the input chooses, as they would from a socket, and every
// message taken must survive being written and read again unchanged. The control data that
// carries a movie's open file to the worker: the descriptors found must lie inside it, and a
// control message made of them must read back the same. The pictures: each Picture taken is
// checked against the buffer the program would have made for the movie of the last Loaded, as
// the program checks it, and one that fits is read in full from a buffer of exactly that
// size (the address sanitizer sees any byte past it).
//
// Input: byte 0 the piece size - 1, byte 1 the length of the control data that follows, then
// the control data, then the stream.

#include "fuzz_input.h"
#include "movie/descriptor_passing.h"
#include "movie/movie_protocol.h"

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace {

void checkControl(std::span<const std::uint8_t> control)
{
    const std::vector<int> found = tagrelay::descriptorsIn(control);
    if (found.size() * sizeof(int) > control.size())
        tagrelay::fuzz::fail("more descriptors than the control data holds");
    if (found.empty())
        return;
    std::vector<std::uint8_t> again(CMSG_SPACE(found.size() * sizeof(int)), 0);
    cmsghdr header{};
    header.cmsg_level = SOL_SOCKET;
    header.cmsg_type = SCM_RIGHTS;
    header.cmsg_len = CMSG_LEN(found.size() * sizeof(int));
    std::memcpy(again.data(), &header, sizeof header);
    std::memcpy(again.data() + CMSG_LEN(0), found.data(), found.size() * sizeof(int));
    if (tagrelay::descriptorsIn(again) != found)
        tagrelay::fuzz::fail("descriptors read do not survive writing and reading");
}

/// Picture buffers larger than this are checked by their arithmetic alone, not allocated.
constexpr std::size_t maxReadBuffer = std::size_t{4} << 20;

void checkPicture(const tagrelay::MovieMessage& picture, std::int32_t width, std::int32_t height)
{
    const std::size_t bytes = tagrelay::pictureBufferBytes(width, height);
    if (!tagrelay::fitsPictureBuffer(picture, width, height, bytes))
        return;
    const auto row = static_cast<std::size_t>(width) * 4;
    const auto stride = static_cast<std::size_t>(picture.stride);
    if (picture.width != width || picture.height != height || stride < row
        || stride * static_cast<std::size_t>(height - 1) + row > bytes)
        tagrelay::fuzz::fail("a picture taken does not lie inside its buffer");
    if (bytes > maxReadBuffer)
        return;
    const std::vector<std::uint8_t> buffer(bytes, 1);
    std::size_t sum = 0;
    for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y)
        sum += buffer[y * stride + row - 1] + buffer[y * stride];
    if (sum != 2 * static_cast<std::size_t>(height))
        tagrelay::fuzz::fail("a picture read wrong bytes");
}

void checkStream(std::span<const std::uint8_t> stream, std::size_t pieceSize)
{
    tagrelay::MessageReader reader;
    std::size_t taken = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    for (std::size_t at = 0; at < stream.size(); at += pieceSize) {
        reader.feed(stream.subspan(at, std::min(pieceSize, stream.size() - at)));
        while (auto message = reader.next()) {
            if (message->kind == tagrelay::MessageKind::Loaded) {
                width = message->width;
                height = message->height;
            }
            if (message->kind == tagrelay::MessageKind::Picture)
                checkPicture(*message, width, height);
            const auto frame = tagrelay::encodeMessage(*message);
            taken += frame.size();
            tagrelay::MessageReader again;
            again.feed(frame);
            const auto reread = again.next();
            if (!reread || !(*reread == *message) || again.pendingBytes() != 0)
                tagrelay::fuzz::fail("a message read does not survive writing and reading");
        }
        if (reader.pendingBytes() > tagrelay::frameHeaderBytes + tagrelay::maxPayload + pieceSize)
            tagrelay::fuzz::fail("the reader holds more than one piece and one frame");
    }
    if (taken > stream.size())
        tagrelay::fuzz::fail("more bytes taken than were fed");
    if (reader.isBroken() && reader.next())
        tagrelay::fuzz::fail("a broken stream still yields messages");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::size_t pieceSize = std::size_t{data[0]} + 1;
    const std::size_t controlSize = std::min<std::size_t>(data[1], size - 2);
    checkControl({data + 2, controlSize});
    checkStream({data + 2 + controlSize, size - 2 - controlSize}, pieceSize);
    return 0;
}
