#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace tagrelay {

namespace {
const auto programStart = std::chrono::steady_clock::now();
}

std::uint32_t tickCount()
{
    const auto elapsed = std::chrono::steady_clock::now() - programStart;
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

float tickSeconds()
{
    return static_cast<float>(tickCount()) / 1000.0f;
}

void sleepMs(int milliseconds)
{
    if (milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace tagrelay
