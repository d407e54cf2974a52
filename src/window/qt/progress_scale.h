#pragma once

#include <algorithm>
#include <cstdint>

namespace tagrelay {

/// How many of a progress bar's pixels are filled for a value in a 64-bit range. File lengths
/// pass 2^31, so the range cannot go to the toolkit's int bar as it is: the bar gets its width
/// in pixels as its range and this count as its value. A value outside the range counts as its
/// nearest end; an empty or reversed range (maximum <= minimum) and a bar without width fill
/// nothing.
constexpr int progressPixels(std::int64_t minimum, std::int64_t maximum, std::int64_t value,
                             int pixels)
{
    if (maximum <= minimum || pixels <= 0)
        return 0;
    value = std::clamp(value, minimum, maximum);
    // Differences taken unsigned cannot overflow even across the whole 64-bit range; double
    // keeps 53 bits, far finer than any bar's pixels.
    const auto span = static_cast<std::uint64_t>(maximum) - static_cast<std::uint64_t>(minimum);
    const auto done = static_cast<std::uint64_t>(value) - static_cast<std::uint64_t>(minimum);
    if (done == span)
        return pixels;
    const double share = static_cast<double>(done) / static_cast<double>(span);
    return std::min(pixels - 1, static_cast<int>(share * pixels));
}

} // namespace tagrelay
