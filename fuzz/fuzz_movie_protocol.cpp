// Fuzzes the reading of the movie worker's answers: the bytes arrive in pieces whose sizes
// the input chooses, as they would from a socket, and every message taken must survive being
// written and read again unchanged.

#include "fuzz_input.h"
#include "movie/movie_protocol.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte sets the piece size (1 to 256 bytes); the rest is the stream.
    const std::size_t pieceSize = std::size_t{data[0]} + 1;
    const std::span<const std::uint8_t> stream(data + 1, size - 1);

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
    return 0;
}
