#include "formats/exact_duration.h"

#include "formats/movie_format.h"
#include "formats/mp3_description.h"

#include <limits>

namespace tagrelay {

namespace {

__extension__ using Wide = __int128;

/// The value, held at the int64 limit: a lying file's counts over a tiny duration.
std::int64_t held(Wide value)
{
    constexpr Wide limit = std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(value > limit ? limit : value);
}

/// numerator / denominator (denominator > 0, numerator >= 0) rounded, a tie to the even one.
std::int64_t roundedQuotient(Wide numerator, Wide denominator)
{
    const Wide whole = numerator / denominator;
    const Wide rest = numerator % denominator;
    const Wide twice = 2 * rest;
    if (twice > denominator || (twice == denominator && whole % 2 != 0))
        return held(whole + 1);
    return held(whole);
}

} // namespace

std::int64_t roundedSeconds(ExactDuration duration)
{
    if (duration.scale <= 0 || duration.ticks <= 0)
        return 0;
    return roundedQuotient(duration.ticks, duration.scale);
}

std::string exactPlayingTimeText(ExactDuration duration)
{
    return playingTimeText(roundedSeconds(duration));
}

std::int64_t roundedRate(std::int64_t count, ExactDuration duration)
{
    if (duration.scale <= 0 || duration.ticks <= 0 || count <= 0)
        return 0;
    return roundedQuotient(static_cast<Wide>(count) * duration.scale, duration.ticks);
}

std::int64_t truncatedKilobitRate(std::int64_t payloadBytes, ExactDuration duration)
{
    if (duration.scale <= 0 || duration.ticks <= 0 || payloadBytes <= 0)
        return 0;
    return held(static_cast<Wide>(payloadBytes) * 8 * duration.scale
                / (static_cast<Wide>(duration.ticks) * 1000));
}

std::string containerMovieDescription(std::int32_t width, std::int32_t height, std::int64_t frames,
                                      ExactDuration duration)
{
    return movieSizeText(height, width) + " - " + std::to_string(roundedRate(frames, duration))
           + " fps - " + exactPlayingTimeText(duration);
}

} // namespace tagrelay
