#pragma once

namespace tagrelay {

/// Lets the allocator keep freed memory for the next allocation instead of giving large blocks
/// back to the system at once. A walk allocates and frees buffers of a few hundred kilobytes
/// for every file (a cover picture's bytes and pixels); each block fresh from the system costs
/// a fault and a cleared page for every 4 KiB of it. Called once, at the program's start.
void keepFreedMemoryForReuse();

} // namespace tagrelay
