#include "platform/clock_text.h"

#include <cmath>

namespace tagrelay {

std::string twoDigitText(std::int64_t value)
{
    const std::string text = std::to_string(value);
    return text.size() == 1 ? "0" + text : text;
}

std::string elapsedTimeText(float nowSeconds, float startSeconds)
{
    return elapsedClockText(nowSeconds, startSeconds) + " Time elapsed";
}

std::string elapsedClockText(float nowSeconds, float startSeconds)
{
    const float elapsed = nowSeconds - startSeconds;
    const float hours = std::floor(elapsed / 60.0f / 60.0f);
    const float minutes = std::floor(elapsed / 60.0f - hours * 60.0f);
    const float seconds = std::floor(elapsed - minutes * 60.0f - hours * 3600.0f);
    return std::to_string(static_cast<long>(hours)) + ":" + twoDigitText(static_cast<long>(minutes))
           + ":" + twoDigitText(static_cast<long>(seconds));
}

} // namespace tagrelay
