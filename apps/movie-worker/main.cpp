// tagrelay-movie-worker: plays the movies of a walk for the program that started it, so that
// media demuxers and decoders never run inside the program itself. It serves requests on
// file descriptor 3 (see media/movie_protocol.h) until told to quit or until the program goes.

#include "movie/movie_protocol.h"
#include "movie_player.h"
#include "window_errors.h"

#include <gst/gst.h>
#include <malloc.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

using namespace tagrelay;

constexpr int socketFd = movieWorkerSocketFd;

bool sendMessage(const MovieMessage& message)
{
    const auto bytes = encodeMessage(message);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t sent =
            ::send(socketFd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

MovieMessage refusal(const std::string& reason)
{
    MovieMessage message = messageOf(MessageKind::Refused);
    message.text = reason;
    return message;
}

MovieMessage answerTo(const MovieMessage& request, MoviePlayer& player)
{
    switch (request.kind) {
    case MessageKind::Load: {
        auto result = player.load(request.text);
        if (const auto* reason = std::get_if<std::string>(&result))
            return refusal(*reason);
        const auto& facts = std::get<MovieFacts>(result);
        MovieMessage loaded = messageOf(MessageKind::Loaded);
        loaded.width = facts.width;
        loaded.height = facts.height;
        loaded.length = facts.length;
        return loaded;
    }
    case MessageKind::Play:
        if (!player.play(request.windowId))
            return refusal("the movie does not play");
        return messageOf(MessageKind::Done);
    case MessageKind::Status: {
        const MovieReading reading = player.status(request.atMs);
        if (!reading.failure.empty())
            return refusal(reading.failure);
        MovieMessage position = messageOf(MessageKind::Position);
        position.frame = reading.frame;
        position.clockMs = reading.clockMs;
        position.untilMs = reading.untilMs;
        position.flags = reading.ended ? positionEnded : std::uint8_t{0};
        return position;
    }
    case MessageKind::Stop:
        player.stop();
        return messageOf(MessageKind::Done);
    case MessageKind::Free:
        player.free();
        return messageOf(MessageKind::Done);
    default:
        return refusal("not a request");
    }
}

/// Serves requests until Quit, the end of the connection or a broken stream.
int serve()
{
    MoviePlayer player;
    MessageReader reader;
    std::array<std::uint8_t, 4096> chunk{};
    MovieMessage ready = messageOf(MessageKind::Ready);
    ready.version = movieProtocolVersion;
    if (!sendMessage(ready))
        return 1;
    for (;;) {
        while (auto request = reader.next()) {
            if (request->kind == MessageKind::Quit)
                return 0;
            if (!sendMessage(answerTo(*request, player)))
                return 1;
        }
        if (reader.isBroken())
            return 3;
        const ssize_t got = ::recv(socketFd, chunk.data(), chunk.size(), 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return 0;
        reader.feed({chunk.data(), static_cast<std::size_t>(got)});
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 || std::strcmp(argv[1], movieWorkerServeArgument) != 0) {
        std::fprintf(stderr, "tagrelay-movie-worker is started by Tagrelay, not by hand.\n");
        return 2;
    }
    // Decoder threads each get a malloc arena of their own by default, which reserves address
    // space the memory limit is better spent on.
    mallopt(M_ARENA_MAX, 2);
    keepPlayingOnWindowErrors();
    gst_init(nullptr, nullptr);
    const int result = serve();
    gst_deinit();
    return result;
}
