#include "movie/movie_service.h"

#include "platform/clock.h"

#include <algorithm>

namespace tagrelay {

namespace {

/// How far the movie's own clock moves per reading once nothing plays any more.
constexpr std::uint32_t idleClockStepMs = 1000;

} // namespace

MovieService::MovieService(MovieServiceOptions options) : m_options(std::move(options))
{
}

MovieService::~MovieService()
{
    m_worker.quit();
}

LoadResult MovieService::loadMovie(const std::string& path)
{
    if (m_loaded)
        freeMovie();
    m_failure.clear();
    m_refusal.clear();
    if (path.empty() || path.size() > maxPathBytes || path.find('\0') != std::string::npos) {
        m_refusal = "no usable file name";
        return LoadResult::NotAMovie;
    }
    if (!m_worker.isRunning()) {
        if (m_options.workerPath.empty())
            m_options.workerPath = findMovieWorker();
        if (!m_worker.start(m_options.workerPath, m_options.memoryLimitBytes,
                            m_options.startTimeoutMs)) {
            m_failure = m_worker.failure();
            return LoadResult::PlayerFailed;
        }
    }

    MovieMessage load = messageOf(MessageKind::Load);
    load.text = path;
    const auto answer = ask(load, m_options.loadTimeoutMs);
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
    play.windowId = windowId;
    const auto answer = ask(play, m_options.loadTimeoutMs);
    if (!answer || answer->kind != MessageKind::Done)
        return false;
    m_playing = windowId != 0 ? Playing::InWindow : Playing::OnOwnClock;
    m_ended = false;
    m_playStartTick = tagrelay::tickCount();
    m_ownClock = m_playStartTick;
    return true;
}

std::int32_t MovieService::movieStatus()
{
    m_hasClockOfStatus = false;
    if (!m_loaded || m_playing == Playing::No || m_ended)
        return 0;
    const auto answer = ask(messageOf(MessageKind::Status), m_options.answerTimeoutMs);
    if (m_playing == Playing::OnOwnClock) {
        // The movie runs on unhindered between two requests, so the clock reading that follows
        // a frame reading is taken from the same answer: a frame and its moment form one
        // sample, as they do on a real clock.
        m_clockOfStatus = ownClockFrom(answer);
        m_hasClockOfStatus = true;
    }
    if (!answer || answer->kind != MessageKind::Position)
        return 0;
    if ((answer->flags & positionEnded) != 0) {
        m_ended = true;
        return 0;
    }
    return answer->frame;
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
    if (m_hasClockOfStatus) {
        m_hasClockOfStatus = false;
        return m_clockOfStatus;
    }
    return ownClockNow();
}

void MovieService::sleep(int milliseconds)
{
    if (m_playing != Playing::OnOwnClock) {
        sleepMs(milliseconds);
        return;
    }
    const std::uint32_t until =
        ownClockNow() + static_cast<std::uint32_t>(std::max(milliseconds, 0));
    while (static_cast<std::int32_t>(until - ownClockNow()) > 0) {
    }
}

std::uint32_t MovieService::ownClockNow()
{
    m_hasClockOfStatus = false;
    if (m_ended || !m_loaded || !m_worker.isRunning()) {
        m_ownClock += idleClockStepMs;
        return m_ownClock;
    }
    return ownClockFrom(ask(messageOf(MessageKind::Status), m_options.answerTimeoutMs));
}

std::uint32_t MovieService::ownClockFrom(const std::optional<MovieMessage>& answer)
{
    if (!answer || answer->kind != MessageKind::Position || (answer->flags & positionEnded) != 0) {
        m_ended = true;
        m_ownClock += idleClockStepMs;
        return m_ownClock;
    }
    const std::uint32_t realMs = tagrelay::tickCount() - m_playStartTick;
    const auto movieMs = static_cast<std::uint32_t>(
        std::clamp<std::int64_t>(answer->clockMs, 0, std::int64_t{24} * 3600 * 1000));
    m_ownClock = std::max(m_ownClock, m_playStartTick + std::max(realMs, movieMs));
    return m_ownClock;
}

std::optional<MovieMessage> MovieService::ask(const MovieMessage& request, int timeoutMs)
{
    auto answer = m_worker.ask(request, timeoutMs);
    if (!answer) {
        m_failure = m_worker.failure();
        forgetMovie();
    }
    return answer;
}

void MovieService::forgetMovie()
{
    m_loaded = false;
    m_width = 0;
    m_height = 0;
    m_length = 0;
    // A measurement on the movie's own clock may still be reading it; it now only moves on.
    m_ended = true;
}

} // namespace tagrelay
