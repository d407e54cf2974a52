#include "formats/exact_duration.h"

#include "formats/movie_format.h"
#include "formats/mp3_description.h"

#include <limits>

namespace tagrelay {

namespace {

// Products of 64-bit values stay exact in 128 bits (GCC and Clang, also for Windows).
__extension__ typedef __int128 Wide;

bool isPositive(ExactDuration duration)
{
    return duration.ticks > 0 && duration.scale > 0;
}

/// numerator / denominator (both above zero) rounded to the nearest, a tie to the even
/// quotient, within the range of int64.
std::int64_t roundedQuotient(Wide numerator, Wide denominator)
{
    Wide quotient = numerator / denominator;
    const Wide twiceRest = 2 * (numerator % denominator);
    if (twiceRest > denominator || (twiceRest == denominator && quotient % 2 != 0))
        ++quotient;
    constexpr Wide highest = std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(quotient > highest ? highest : quotient);
}

} // namespace

std::int64_t roundedSeconds(ExactDuration duration)
{
    if (!isPositive(duration))
        return 0;
    return roundedQuotient(duration.ticks, duration.scale);
}

std::string exactPlayingTimeText(ExactDuration duration)
{
    return playingTimeText(roundedSeconds(duration));
}

std::int64_t roundedRate(std::int64_t count, ExactDuration duration)
{
    if (!isPositive(duration) || count <= 0)
        return 0;
    return roundedQuotient(static_cast<Wide>(count) * duration.scale, duration.ticks);
}

std::int64_t truncatedKilobitRate(std::int64_t payloadBytes, ExactDuration duration)
{
    if (!isPositive(duration) || payloadBytes <= 0)
        return 0;
    const Wide bits = static_cast<Wide>(payloadBytes) * 8;
    const Wide divisor = static_cast<Wide>(duration.ticks) * 1000;
    // Beyond 128 bits only for sizes and scales no file has: then near enough in floating point.
    constexpr Wide widest = ~(static_cast<Wide>(1) << 127);
    const Wide rate = bits <= widest / duration.scale
                          ? bits * duration.scale / divisor
                          : static_cast<Wide>(static_cast<long double>(bits)
                                              * static_cast<long double>(duration.scale)
                                              / static_cast<long double>(divisor));
    constexpr Wide highest = std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(rate > highest ? highest : rate);
}

std::string containerMovieDescription(std::int32_t width, std::int32_t height, std::int64_t frames,
                                      ExactDuration duration)
{
    return movieSizeText(height, width) + " - " + std::to_string(roundedRate(frames, duration))
           + " fps - " + exactPlayingTimeText(duration);
}

} // namespace tagrelay
