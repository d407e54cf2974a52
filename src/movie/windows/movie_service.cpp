#include "movie/movie_service.h"

#include "movie/movie_container.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>

namespace tagrelay {

// Windows has no movie player for the program to drive: a movie is "played" on its own clock
// at the rate its container names, so the walk's measurement finds that rate, and its size and
// length come from the container's headers.

MovieService::MovieService(MovieServiceOptions options) : m_options(std::move(options))
{
}

MovieService::~MovieService() = default;

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
    ByteReader reader{OpenFile(::dup(file))};
    if (!reader.isOpen()) {
        m_refusal = "the file cannot be read";
        return LoadResult::NotAMovie;
    }
    const ContainerReading reading = readMovieContainer(reader);
    if (!reading.facts) {
        m_refusal = reading.refusal;
        return LoadResult::NotAMovie;
    }
    m_loaded = true;
    m_width = reading.facts->width;
    m_height = reading.facts->height;
    m_length = std::max<std::int64_t>(reading.facts->frames, 0);
    // A movie whose length is not known has no rate to be measured either: its line gives the
    // size alone.
    m_framesPerSecond = m_length > 0 ? reading.facts->framesPerSecond : 0.0;
    m_playing = Playing::No;
    m_ended = false;
    return LoadResult::Loaded;
}

bool MovieService::playMovie(std::uint64_t)
{
    if (!m_loaded)
        return false;
    m_playing = Playing::OnOwnClock;
    m_ended = false;
    m_ownClock = 0;
    m_frame = 0;
    return true;
}

std::int32_t MovieService::movieStatus()
{
    if (m_playing == Playing::No || m_ended)
        return 0;
    const std::int32_t frame = ownClockStatus();
    ++m_ownClock;
    return frame;
}

std::int32_t MovieService::ownClockStatus()
{
    const double frame = std::floor(static_cast<double>(m_ownClock) * m_framesPerSecond / 1000.0);
    if (frame >= static_cast<double>(m_length)) {
        m_ended = true;
        m_playing = Playing::No;
        return 0;
    }
    m_frame = static_cast<std::int32_t>(frame);
    return m_frame;
}

void MovieService::stopMovie()
{
    m_playing = Playing::No;
    m_ended = false;
    m_ownClock = 0;
}

void MovieService::freeMovie()
{
    stopMovie();
    forgetMovie();
}

std::uint32_t MovieService::tickCount()
{
    return m_ownClock++;
}

void MovieService::sleep(int milliseconds)
{
    if (milliseconds > 0)
        m_ownClock += static_cast<std::uint32_t>(milliseconds);
}

void MovieService::forgetMovie()
{
    m_loaded = false;
    m_width = 0;
    m_height = 0;
    m_length = 0;
    m_framesPerSecond = 0.0;
}

} // namespace tagrelay
