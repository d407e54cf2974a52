#pragma once

#include <cstdint>

namespace tagrelay {

/// Milliseconds since the program started, from a monotonic clock. Counting from the start
/// keeps the values small, so seconds held as a float stay exact to the millisecond for hours.
std::uint32_t tickCount();

/// Seconds since the program started, as the single-precision number the run's times use.
float tickSeconds();

/// Waits the given number of milliseconds.
void sleepMs(int milliseconds);

} // namespace tagrelay
