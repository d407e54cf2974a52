#include "platform/memory_reuse.h"

namespace tagrelay {

void keepFreedMemoryForReuse()
{
    // The Windows heap keeps freed blocks for reuse by itself.
}

} // namespace tagrelay
