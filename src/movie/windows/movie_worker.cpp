#include "movie/movie_worker.h"

namespace tagrelay {

// The Windows program reads movies from their containers (movie_service.cpp beside this); it
// starts no worker.

std::string findMovieWorker()
{
    return {};
}

MovieWorker::~MovieWorker() = default;

bool MovieWorker::start(const std::string&, bool, std::uint64_t, int)
{
    m_failure = "no movie player on Windows";
    return false;
}

std::optional<MovieMessage> MovieWorker::ask(const MovieMessage&, int, int)
{
    return std::nullopt;
}

void MovieWorker::quit()
{
}

} // namespace tagrelay
