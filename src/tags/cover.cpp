#include "tags/cover.h"

namespace tagrelay {

// FIXME: cover pictures are not decoded yet; every APIC frame is passed over.
void readPictureFrame(ByteReader& /*file*/, std::string_view /*frameId*/,
                      std::int32_t /*frameSize*/, TrackFacts& /*facts*/)
{
}

} // namespace tagrelay
