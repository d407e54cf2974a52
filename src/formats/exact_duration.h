#pragma once

#include <cstdint>
#include <string>

namespace tagrelay {

/// A duration as a fraction of seconds, ticks / scale, as a container states it: exact, with
/// no rounding until a line is written. A scale of 0 or below makes it no duration at all.
struct ExactDuration
{
    std::int64_t ticks = 0;
    std::int64_t scale = 1;
};

/// Whole seconds, rounded to the nearest, a tie to the even second; 0 for no duration.
[[nodiscard]] std::int64_t roundedSeconds(ExactDuration duration);

/// "M:SS min" of the rounded seconds.
[[nodiscard]] std::string exactPlayingTimeText(ExactDuration duration);

/// count / duration rounded to a whole number, a tie to the even one; 0 for a duration that
/// is not above zero.
[[nodiscard]] std::int64_t roundedRate(std::int64_t count, ExactDuration duration);

/// payload bits / duration / 1000, truncated; 0 for a duration that is not above zero.
[[nodiscard]] std::int64_t truncatedKilobitRate(std::int64_t payloadBytes, ExactDuration duration);

/// "H x W pixel - R fps - M:SS min" for a movie described from its container: height first,
/// R the frames per second rounded as roundedRate.
[[nodiscard]] std::string containerMovieDescription(std::int32_t width, std::int32_t height,
                                                    std::int64_t frames, ExactDuration duration);

} // namespace tagrelay
