#include "platform/memory_reuse.h"

#include <malloc.h>

namespace tagrelay {

void keepFreedMemoryForReuse()
{
    // Blocks up to the largest cover taken come from the heap, and a heap shrinks only when
    // this much is free at its top: what a walk holds at once is a few files' worth.
    mallopt(M_MMAP_THRESHOLD, 16 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
}

} // namespace tagrelay
