#include "tags/audio_start.h"

#include "platform/byte_reader.h"

namespace tagrelay {

namespace {

/// Where the audio may begin: behind an ID3v2 tag of version 2, 3 or 4 at offset 0 (its
/// 10-byte header, its synchsafe size and, for version 4, a footer its flags announce).
std::int64_t scanStartBehindTag(ByteReader& file)
{
    file.seek(0);
    const std::uint8_t i = file.readU8();
    const std::uint8_t d = file.readU8();
    const std::uint8_t three = file.readU8();
    const std::uint8_t version = file.readU8();
    if (i != 'I' || d != 'D' || three != '3' || version < 2 || version > 4)
        return 0;
    file.readU8(); // revision
    const std::uint8_t flags = file.readU8();
    std::int64_t size = 0;
    for (int k = 0; k < 4; ++k)
        size = size * 128 + file.readU8();
    std::int64_t start = 10 + size;
    if (version == 4 && isBitSet(flags, 4))
        start += 10;
    return start;
}

} // namespace

std::int64_t findAudioStart(ByteReader& file)
{
    if (!file.isOpen())
        return -1;
    file.seek(scanStartBehindTag(file));
    bool previousWasFF = false;
    while (!file.atEnd()) {
        const std::uint8_t byte = file.readU8();
        if (previousWasFF && isBitSet(byte, 7) && isBitSet(byte, 6) && isBitSet(byte, 5))
            return file.position() - 2;
        previousWasFF = byte == 0xFF;
    }
    return -1;
}

std::int64_t findAudioStart(const std::string& path)
{
    ByteReader file(path);
    return findAudioStart(file);
}

} // namespace tagrelay
