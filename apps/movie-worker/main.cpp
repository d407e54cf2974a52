// tagrelay-movie-worker: plays the movies of a walk for the program that started it, so that
// media demuxers and decoders never run inside the program itself. It serves requests on
// file descriptor 3 (see movie/movie_protocol.h) until told to quit or until the program goes.
// It opens no file by name: each movie comes as an open descriptor with its Load request. It
// opens no display either: the pictures of a movie that is shown go to the program, which
// draws them. It runs confined (confinement.h), with the media framework cut down to the elements
// of AVI and MPEG movies (element_guard.h).

#include "confinement.h"
#include "element_guard.h"
#include "movie/descriptor_passing.h"
#include "movie/movie_protocol.h"
#include "movie_player.h"

#include <gst/gst.h>
#include <malloc.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>

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

/// The movie files handed over, in the order they came; each belongs to the next Load.
class HandedFiles
{
  public:
    HandedFiles() = default;
    HandedFiles(const HandedFiles&) = delete;
    HandedFiles& operator=(const HandedFiles&) = delete;
    ~HandedFiles()
    {
        for (const int file : m_files)
            ::close(file);
    }
    void add(const std::vector<int>& files)
    {
        m_files.insert(m_files.end(), files.begin(), files.end());
    }
    /// The next file, or -1 when the Load came without one.
    int take()
    {
        if (m_files.empty())
            return -1;
        const int file = m_files.front();
        m_files.pop_front();
        return file;
    }

  private:
    std::deque<int> m_files;
};

MovieMessage answerTo(const MovieMessage& request, MoviePlayer& player, HandedFiles& files)
{
    switch (request.kind) {
    case MessageKind::Load: {
        const int file = files.take();
        if (file < 0)
            return refusal("no movie file was handed over");
        auto result = player.load(file);
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
        // A shown movie's picture buffer rides with its Play.
        if (!player.play(request.shown != 0, request.shown != 0 ? files.take() : -1))
            return refusal("the movie does not play");
        return messageOf(MessageKind::Done);
    case MessageKind::Status: {
        const MovieReading reading = player.status(request.atMs);
        if (!reading.failure.empty())
            return refusal(reading.failure);
        if (reading.picture) {
            MovieMessage picture = messageOf(MessageKind::Picture);
            picture.sequence = reading.picture->sequence;
            picture.width = reading.picture->width;
            picture.height = reading.picture->height;
            picture.stride = reading.picture->stride;
            picture.timestampNs = reading.picture->timestampNs;
            if (!sendMessage(picture))
                return refusal("the program is gone");
        }
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
int serve(const Confinement& confinement)
{
    MoviePlayer player;
    MessageReader reader;
    HandedFiles files;
    std::array<std::uint8_t, 4096> chunk{};
    MovieMessage ready = messageOf(MessageKind::Ready);
    ready.version = movieProtocolVersion;
    ready.confinement = confinementByte(confinement);
    if (!sendMessage(ready))
        return 1;
    for (;;) {
        while (auto request = reader.next()) {
            if (request->kind == MessageKind::Quit)
                return 0;
            if (!sendMessage(answerTo(*request, player, files)))
                return 1;
        }
        if (reader.isBroken())
            return 3;
        std::vector<int> handed;
        const ssize_t got = receiveWithDescriptors(socketFd, chunk, handed);
        files.add(handed);
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
    const bool showsWindows = argc == 3 && std::strcmp(argv[2], movieWorkerWindowArgument) == 0;
    if (argc != 3 || std::strcmp(argv[1], movieWorkerServeArgument) != 0
        || (!showsWindows && std::strcmp(argv[2], movieWorkerUnseenArgument) != 0)) {
        std::fprintf(stderr, "tagrelay-movie-worker is started by Tagrelay, not by hand.\n");
        return 2;
    }
    Confinement confinement;
    // The worker reaches no display and no peer: it needs no network at all. A new namespace
    // can only be entered while the process has a single thread, so this comes first.
    confinement.ownNetwork = enterOwnNetwork();
    // Nor does it need to see any other process. The ids are looked up here, while the
    // process still holds the whole file system and a single thread.
    const UnusedIds unusedIds = findUnusedIds();
    confinement.ownProcesses = enterOwnProcesses(socketFd, unusedIds);

    // Decoder threads each get a malloc arena of their own by default, which reserves address
    // space the memory limit is better spent on.
    mallopt(M_ARENA_MAX, 2);
    gst_init(nullptr, nullptr);
    keepOnlyMovieElements();
    // Run by root, the worker gives up root before it touches a movie, once the framework has
    // read its registry from root's home (which the unused user may not read).
    // Like every layer, a refusal (a container without the right to change ids) leaves the
    // others in force; the Ready message says which are.
    const bool wasRoot = ::geteuid() == 0 || ::getuid() == 0;
    const bool noRootIds = dropRootFor(unusedIds);
    confinement.ownUser = wasRoot && noRootIds;
    const Confinement confined = confineWorker(showsWindows);
    confinement.noNewPrivileges = confined.noNewPrivileges;
    confinement.fileSystemAbi = confined.fileSystemAbi;
    confinement.socketPairsOnly = confined.socketPairsOnly;

    const int result = serve(confinement);
    gst_deinit();
    return result;
}
