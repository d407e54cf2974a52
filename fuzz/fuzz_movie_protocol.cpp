// Fuzzes the two readings at the ends of the movie worker's socket. The messages: the bytes
// arrive in pieces whose sizes the input chooses, as they would from a socket, and every
// message taken must survive being written and read again unchanged. The control data that
// carries a movie's open file to the worker: the descriptors found must lie inside it, and a
// control message made of them must read back the same.
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

void checkStream(std::span<const std::uint8_t> stream, std::size_t pieceSize)
{
    tagrelay::MessageReader reader;
    std::size_t taken = 0;
    for (std::size_t at = 0; at < stream.size(); at += pieceSize) {
        reader.feed(stream.subspan(at, std::min(pieceSize, stream.size() - at)));
        while (auto message = reader.next()) {
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
