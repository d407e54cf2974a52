#pragma once

#include <cstdint>
#include <string>

namespace tagrelay {

/// A duration as a fraction of seconds: ticks / scale (scale > 0), exact.
struct ExactDuration
{
    std::int64_t ticks = 0;
    std::int64_t scale = 1;
};

/// Whole seconds, rounded to the nearest, a tie to the even second.
std::int64_t roundedSeconds(ExactDuration duration);
/// "M:SS min" of roundedSeconds (playingTimeText of mp3_description.h).
std::string exactPlayingTimeText(ExactDuration duration);
/// count / duration rounded to a whole number, a tie to the even one; 0 for a zero duration.
std::int64_t roundedRate(std::int64_t count, ExactDuration duration);
/// payload bits / duration / 1000, truncated (128-bit arithmetic); 0 for a zero duration.
std::int64_t truncatedKilobitRate(std::int64_t payloadBytes, ExactDuration duration);
/// "H x W pixel - R fps - M:SS min" for a movie read from its container (height first, as
/// movieSizeText); R = roundedRate(frames, duration).
std::string containerMovieDescription(std::int32_t width, std::int32_t height, std::int64_t frames,
                                      ExactDuration duration);

} // namespace tagrelay
