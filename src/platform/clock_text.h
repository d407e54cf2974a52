#pragma once

#include <cstdint>
#include <string>

namespace tagrelay {

/// The decimal value with "0" put in front when it has one digit: 7 gives 07, 12 gives 12.
std::string twoDigitText(std::int64_t value);

/// "H:MM:SS" for the seconds since start, both single-precision seconds.
std::string elapsedClockText(float nowSeconds, float startSeconds);

/// "H:MM:SS Time elapsed", as the progress display shows it.
std::string elapsedTimeText(float nowSeconds, float startSeconds);

} // namespace tagrelay
