// A stand-in for tagrelay-movie-worker that speaks the protocol without any media framework
// and misbehaves on request, chosen by the movie's file name:
//   crash-at-load.avi    aborts when asked to load
//   hang-at-load.avi     never answers the load
//   garbage-at-load.avi  answers the load with bytes that are no message
//   hog-at-load.avi      asks for 2 GiB of memory at load (dies under the worker's limit)
//   crash-playing.avi    loads, then aborts at the first status request
//   fail-playing.avi     loads, then refuses the status from 2 s on, as a movie that stops
//                        playing with an error
//   anything else        a 320 x 240 movie of 250 frames at 25 frames per second: the status
//                        at a moment is the frame shown then, as the real worker answers an
//                        unseen movie
#include "movie/movie_protocol.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace tagrelay;

void sendMessage(const MovieMessage& message)
{
    const auto bytes = encodeMessage(message);
    if (::send(movieWorkerSocketFd, bytes.data(), bytes.size(), MSG_NOSIGNAL)
        != static_cast<ssize_t>(bytes.size()))
        std::exit(1);
}

bool endsWith(const std::string& text, const char* tail)
{
    const std::size_t length = std::strlen(tail);
    return text.size() >= length && text.compare(text.size() - length, length, tail) == 0;
}

} // namespace

int main()
{
    MovieMessage ready = messageOf(MessageKind::Ready);
    ready.version = movieProtocolVersion;
    sendMessage(ready);

    MessageReader reader;
    std::array<std::uint8_t, 4096> chunk{};
    std::string movie;
    for (;;) {
        const ssize_t got = ::recv(movieWorkerSocketFd, chunk.data(), chunk.size(), 0);
        if (got <= 0)
            return 0;
        reader.feed({chunk.data(), static_cast<std::size_t>(got)});
        while (auto request = reader.next()) {
            MovieMessage answer = messageOf(MessageKind::Done);
            switch (request->kind) {
            case MessageKind::Load:
                movie = request->text;
                if (endsWith(movie, "crash-at-load.avi"))
                    std::abort();
                if (endsWith(movie, "hang-at-load.avi"))
                    for (;;)
                        ::pause();
                if (endsWith(movie, "garbage-at-load.avi")) {
                    const char garbage[] = "\x7f\xff\xffnot a message";
                    if (::write(movieWorkerSocketFd, garbage, sizeof garbage) < 0)
                        return 1;
                    continue;
                }
                if (endsWith(movie, "hog-at-load.avi")) {
                    std::vector<char> hog(std::size_t{2} << 30, 1);
                    answer = messageOf(MessageKind::Refused);
                    answer.text = "had " + std::to_string(hog.size()) + " bytes";
                    break;
                }
                answer = messageOf(MessageKind::Loaded);
                answer.width = 320;
                answer.height = 240;
                answer.length = 250;
                break;
            case MessageKind::Status: {
                if (endsWith(movie, "crash-playing.avi"))
                    std::abort();
                if (endsWith(movie, "fail-playing.avi") && request->atMs >= 2000) {
                    answer = messageOf(MessageKind::Refused);
                    answer.text = "internal data stream error";
                    break;
                }
                const std::int64_t frame = std::max<std::int64_t>(request->atMs, 0) / 40;
                answer = messageOf(MessageKind::Position);
                answer.clockMs = request->atMs;
                answer.frame = static_cast<std::int32_t>(frame);
                answer.untilMs = (frame + 1) * 40;
                answer.flags = frame >= 250 ? positionEnded : 0;
                break;
            }
            case MessageKind::Quit:
                return 0;
            default:
                break;
            }
            sendMessage(answer);
        }
        if (reader.isBroken())
            return 3;
    }
}
