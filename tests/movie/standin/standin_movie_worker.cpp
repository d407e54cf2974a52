// A stand-in for tagrelay-movie-worker that speaks the protocol without any media framework
// and misbehaves on request, chosen by the first bytes of the movie file handed over:
//   crash-at-load        aborts when asked to load
//   hang-at-load         never answers the load
//   garbage-at-load      answers the load with bytes that are no message
//   hog-at-load          asks for 2 GiB of memory at load (dies under the worker's limit)
//   crash-playing        loads, then aborts at the first status request
//   fail-playing         loads, then refuses the status from 2 s on, as a movie that stops
//                        playing with an error
//   picture-playing      shown, copies a picture into the program's buffer at each status
//                        (every byte its sequence number) and announces it; it first tries
//                        to shrink the buffer, and aborts if that works
//   picture-oversize     ... announces pictures whose rows run past the buffer
//   picture-again        ... announces the same picture over and over
//   picture-flood        ... announces two pictures before each answer
//   anything else        a 320 x 240 movie of 250 frames at 25 frames per second: the status
//                        at a moment is the frame shown then, as the real worker answers an
//                        unseen movie
#include "movie/descriptor_passing.h"
#include "movie/movie_protocol.h"

#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

bool startsWith(const std::string& text, const char* head)
{
    return text.rfind(head, 0) == 0;
}

/// The first bytes of the handed-over file, which name the behaviour; empty without a file.
std::string behaviourOf(std::vector<int>& files)
{
    if (files.empty())
        return {};
    const int file = files.front();
    files.erase(files.begin());
    std::array<char, 64> head{};
    const ssize_t got = ::pread(file, head.data(), head.size(), 0);
    ::close(file);
    return got > 0 ? std::string(head.data(), static_cast<std::size_t>(got)) : std::string();
}

} // namespace

int main()
{
    MovieMessage ready = messageOf(MessageKind::Ready);
    ready.version = movieProtocolVersion;
    sendMessage(ready);

    MessageReader reader;
    std::array<std::uint8_t, 4096> chunk{};
    std::vector<int> files;
    std::string movie;
    int buffer = -1;
    std::uint32_t pictures = 0;
    for (;;) {
        const ssize_t got = receiveWithDescriptors(movieWorkerSocketFd, chunk, files);
        if (got <= 0)
            return 0;
        reader.feed({chunk.data(), static_cast<std::size_t>(got)});
        while (auto request = reader.next()) {
            MovieMessage answer = messageOf(MessageKind::Done);
            switch (request->kind) {
            case MessageKind::Load:
                movie = behaviourOf(files);
                if (startsWith(movie, "crash-at-load"))
                    std::abort();
                if (startsWith(movie, "hang-at-load"))
                    for (;;)
                        ::pause();
                if (startsWith(movie, "garbage-at-load")) {
                    const char garbage[] = "\x7f\xff\xffnot a message";
                    if (::write(movieWorkerSocketFd, garbage, sizeof garbage) < 0)
                        return 1;
                    continue;
                }
                if (startsWith(movie, "hog-at-load")) {
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
            case MessageKind::Play:
                if (request->shown != 0 && !files.empty()) {
                    buffer = files.front();
                    files.erase(files.begin());
                }
                pictures = 0;
                break;
            case MessageKind::Status: {
                if (startsWith(movie, "crash-playing"))
                    std::abort();
                if (startsWith(movie, "picture") && buffer >= 0) {
                    if (::ftruncate(buffer, 0) == 0)
                        std::abort();
                    struct stat status = {};
                    ::fstat(buffer, &status);
                    const auto size = static_cast<std::size_t>(status.st_size);
                    void* pixels = ::mmap(nullptr, size, PROT_WRITE, MAP_SHARED, buffer, 0);
                    if (pixels == MAP_FAILED)
                        std::exit(1);
                    ++pictures;
                    std::memset(pixels, static_cast<int>(pictures & 0xFF), size);
                    ::munmap(pixels, size);
                    MovieMessage picture = messageOf(MessageKind::Picture);
                    picture.sequence = startsWith(movie, "picture-again") ? 1 : pictures;
                    picture.width = 320;
                    picture.height = 240;
                    picture.stride = startsWith(movie, "picture-oversize") ? 1284 : 1280;
                    sendMessage(picture);
                    if (startsWith(movie, "picture-flood")) {
                        picture.sequence = ++pictures;
                        sendMessage(picture);
                    }
                }
                if (startsWith(movie, "fail-playing") && request->atMs >= 2000) {
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
