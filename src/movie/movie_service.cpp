#include "movie/movie_service.h"

#include "platform/clock.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace tagrelay {

MovieService::MovieService(MovieServiceOptions options) : m_options(std::move(options))
{
    m_worker.setPictureHandler(
        [this](const MovieMessage& picture) { return takePicture(picture); });
}

MovieService::~MovieService()
{
    m_worker.quit();
    releasePictureBuffer();
}

LoadResult MovieService::loadMovie(int file)
{
    if (m_loaded)
        freeMovie();
    m_failure.clear();
    m_refusal.clear();
    struct stat status = {};
    if (file < 0 || ::fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) {
        m_refusal = "not a regular file";
        return LoadResult::NotAMovie;
    }
    if (!m_worker.isRunning()) {
        if (m_options.workerPath.empty())
            m_options.workerPath = findMovieWorker();
        if (!m_worker.start(m_options.workerPath, m_options.showsWindows,
                            m_options.memoryLimitBytes, m_options.startTimeoutMs)) {
            m_failure = m_worker.failure();
            return LoadResult::PlayerFailed;
        }
    }

    const auto answer = ask(messageOf(MessageKind::Load), m_options.loadTimeoutMs, file);
    if (!answer)
        return LoadResult::PlayerFailed;
    if (answer->kind == MessageKind::Refused) {
        m_refusal = answer->text;
        return LoadResult::NotAMovie;
    }
    if (answer->kind != MessageKind::Loaded) {
        m_worker.quit();
        m_failure = "movie player answered a load out of turn";
        return LoadResult::PlayerFailed;
    }
    m_loaded = true;
    m_width = answer->width;
    m_height = answer->height;
    m_length = std::max<std::int64_t>(answer->length, 0);
    m_playing = Playing::No;
    m_ended = false;
    return LoadResult::Loaded;
}

bool MovieService::playMovie(std::uint64_t windowId)
{
    if (!m_loaded)
        return false;
    MovieMessage play = messageOf(MessageKind::Play);
    play.shown = windowId != 0 ? 1 : 0;
    const int buffer = windowId != 0 ? makePictureBuffer() : -1;
    const auto answer = ask(play, m_options.loadTimeoutMs, buffer);
    if (buffer >= 0)
        ::close(buffer);
    if (!answer || answer->kind != MessageKind::Done)
        return false;
    m_playing = windowId != 0 ? Playing::InWindow : Playing::OnOwnClock;
    m_ended = false;
    m_ownClock = 0;
    m_frame = 0;
    m_frameUntilMs = 0;
    return true;
}

std::int32_t MovieService::movieStatus()
{
    if (!m_loaded || m_playing == Playing::No || m_ended)
        return 0;
    if (m_playing == Playing::OnOwnClock)
        return ownClockStatus();
    MovieMessage status = messageOf(MessageKind::Status);
    status.atMs = statusNow;
    const auto answer = ask(status, m_options.answerTimeoutMs);
    if (!answer || !takePosition(*answer))
        return 0;
    return answer->frame;
}

std::int32_t MovieService::ownClockStatus()
{
    if (m_ownClock < m_frameUntilMs)
        return m_frame;
    MovieMessage status = messageOf(MessageKind::Status);
    status.atMs = m_ownClock;
    const auto answer = ask(status, m_options.answerTimeoutMs);
    if (!answer || !takePosition(*answer))
        return 0;
    m_frame = answer->frame;
    m_frameUntilMs = answer->untilMs;
    return m_frame;
}

bool MovieService::takePosition(const MovieMessage& answer)
{
    if (answer.kind == MessageKind::Refused) {
        // The movie stopped playing before its end: the measurement is cut short.
        m_ended = true;
        m_failure = "stopped playing: " + answer.text;
        return false;
    }
    if (answer.kind != MessageKind::Position || (answer.flags & positionEnded) != 0) {
        m_ended = true;
        return false;
    }
    return true;
}

int MovieService::makePictureBuffer()
{
    releasePictureBuffer();
    const std::size_t bytes = pictureBufferBytes(m_width, m_height);
    if (!m_options.showPicture || bytes == 0)
        return -1;
    // The worker may write the pictures but never change the size: a buffer that shrank under
    // the program's mapping would fault it.
    const int buffer = ::memfd_create("tagrelay-pictures", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (buffer < 0)
        return -1;
    void* mapped = MAP_FAILED;
    if (::ftruncate(buffer, static_cast<off_t>(bytes)) == 0
        && ::fcntl(buffer, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) == 0)
        mapped = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, buffer, 0);
    if (mapped == MAP_FAILED) {
        ::close(buffer);
        return -1;
    }
    m_pictures = static_cast<const std::uint8_t*>(mapped);
    m_pictureBytes = bytes;
    m_pictureSequence = 0;
    return buffer;
}

void MovieService::releasePictureBuffer()
{
    if (m_pictures != nullptr)
        ::munmap(const_cast<std::uint8_t*>(m_pictures), m_pictureBytes);
    m_pictures = nullptr;
    m_pictureBytes = 0;
    m_pictureSequence = 0;
}

bool MovieService::takePicture(const MovieMessage& picture)
{
    if (m_pictures == nullptr || picture.sequence <= m_pictureSequence
        || !fitsPictureBuffer(picture, m_width, m_height, m_pictureBytes))
        return false;
    m_pictureSequence = picture.sequence;
    m_options.showPicture(
        {{m_pictures, m_pictureBytes}, picture.width, picture.height, picture.stride});
    return true;
}

void MovieService::stopMovie()
{
    if (!m_loaded)
        return;
    ask(messageOf(MessageKind::Stop), m_options.answerTimeoutMs);
    m_playing = Playing::No;
}

void MovieService::freeMovie()
{
    if (!m_loaded)
        return;
    ask(messageOf(MessageKind::Free), m_options.answerTimeoutMs);
    forgetMovie();
    m_playing = Playing::No;
}

std::uint32_t MovieService::tickCount()
{
    if (m_playing != Playing::OnOwnClock)
        return tagrelay::tickCount();
    return m_ownClock++;
}

void MovieService::sleep(int milliseconds)
{
    if (m_playing != Playing::OnOwnClock) {
        sleepMs(milliseconds);
        return;
    }
    m_ownClock += static_cast<std::uint32_t>(std::max(milliseconds, 0));
}

std::optional<MovieMessage> MovieService::ask(const MovieMessage& request, int timeoutMs,
                                              int descriptor)
{
    auto answer = m_worker.ask(request, timeoutMs, descriptor);
    if (!answer) {
        m_failure = m_worker.failure();
        forgetMovie();
    }
    return answer;
}

void MovieService::forgetMovie()
{
    releasePictureBuffer();
    m_loaded = false;
    m_width = 0;
    m_height = 0;
    m_length = 0;
    // A measurement on the movie's own clock may still be reading it; it now only moves on.
    m_ended = true;
}

} // namespace tagrelay
