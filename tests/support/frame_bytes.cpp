#include "support/frame_bytes.h"

#include <cassert>
#include <cmath>
#include <cstring>

namespace tagrelay::test {

namespace {

// The builder keeps its own tables, so that a wrong entry in the program's tables is caught
// instead of copied.
constexpr std::array<int, 15> mpeg1Layer1 = {0,   32,  64,  96,  128, 160, 192, 224,
                                             256, 288, 320, 352, 384, 416, 448};
constexpr std::array<int, 15> mpeg1Layer2 = {0,   32,  48,  56,  64,  80,  96, 112,
                                             128, 160, 192, 224, 256, 320, 384};
constexpr std::array<int, 15> mpeg1Layer3 = {0,   32,  40,  48,  56,  64,  80, 96,
                                             112, 128, 160, 192, 224, 256, 320};
constexpr std::array<int, 15> lowRateLayer1 = {0,   32,  48,  56,  64,  80,  96, 112,
                                               128, 144, 160, 176, 192, 224, 256};
constexpr std::array<int, 15> lowRateLayer23 = {0,  8,  16, 24,  32,  40,  48, 56,
                                                64, 80, 96, 112, 128, 144, 160};

const std::array<int, 15>& bitrateTable(const FrameSpec& frameSpec)
{
    if (frameSpec.version == Mpeg::V1)
        return frameSpec.layer == 1   ? mpeg1Layer1
               : frameSpec.layer == 2 ? mpeg1Layer2
                                      : mpeg1Layer3;
    return frameSpec.layer == 1 ? lowRateLayer1 : lowRateLayer23;
}

int bitrateIndex(const FrameSpec& frameSpec)
{
    const auto& table = bitrateTable(frameSpec);
    for (std::size_t i = 0; i < table.size(); ++i)
        if (table[i] == frameSpec.kbps)
            return static_cast<int>(i);
    assert(false && "bitrate not in the table of this version and layer");
    return 0;
}

int rateIndex(const FrameSpec& frameSpec)
{
    constexpr std::array<std::array<int, 3>, 3> rates = {
        {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}}};
    const auto& ofVersion = rates[static_cast<std::size_t>(frameSpec.version)];
    for (std::size_t i = 0; i < ofVersion.size(); ++i)
        if (ofVersion[i] == frameSpec.rate)
            return static_cast<int>(i);
    assert(false && "rate not allowed for this version");
    return 0;
}

int samplesPerFrame(const FrameSpec& frameSpec)
{
    if (frameSpec.layer == 1)
        return 384;
    if (frameSpec.layer == 2 || frameSpec.version == Mpeg::V1)
        return 1152;
    return 576;
}

void put(std::vector<std::uint8_t>& out, const std::string& text)
{
    out.insert(out.end(), text.begin(), text.end());
}

void putU32BigEndian(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void putU16LittleEndian(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void putU32LittleEndian(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    putU16LittleEndian(out, value & 0xFFFF);
    putU16LittleEndian(out, value >> 16);
}

} // namespace

std::array<std::uint8_t, 4> frameHeader(const FrameSpec& frameSpec)
{
    const int versionBits = frameSpec.version == Mpeg::V1   ? 3
                            : frameSpec.version == Mpeg::V2 ? 2
                                                            : 0;
    const int layerBits = 4 - frameSpec.layer; // layer 1 is 11, layer 3 is 01
    const std::uint8_t b1 = static_cast<std::uint8_t>(0xE0 | versionBits << 3 | layerBits << 1
                                                      | (frameSpec.crc ? 0 : 1));
    const std::uint8_t b2 = static_cast<std::uint8_t>(
        bitrateIndex(frameSpec) << 4 | rateIndex(frameSpec) << 2 | (frameSpec.padding ? 2 : 0));
    const std::uint8_t b3 =
        static_cast<std::uint8_t>(static_cast<int>(frameSpec.channels) << 6 | 0x04);
    return {0xFF, b1, b2, b3};
}

std::int64_t frameLength(const FrameSpec& frameSpec)
{
    const std::int64_t slotBytes = frameSpec.layer == 1 ? 4 : 1;
    const std::int64_t slots =
        samplesPerFrame(frameSpec) / 8 / slotBytes * frameSpec.kbps * 1000 / frameSpec.rate
        + (frameSpec.padding ? 1 : 0);
    return slots * slotBytes;
}

FrameStream& FrameStream::id3v2Tag(const std::string& title, std::size_t padding)
{
    std::vector<std::uint8_t> body;
    put(body, "TIT2");
    putU32BigEndian(body, static_cast<std::uint32_t>(title.size() + 1));
    body.push_back(0); // flags
    body.push_back(0);
    body.push_back(0); // encoding: ISO-8859-1
    put(body, title);
    body.insert(body.end(), padding, 0);

    put(m_bytes, "ID3");
    m_bytes.push_back(3); // version 2.3
    m_bytes.push_back(0); // revision
    m_bytes.push_back(0); // flags
    const auto size = static_cast<std::uint32_t>(body.size());
    for (int shift = 21; shift >= 0; shift -= 7) // synchsafe: seven bits a byte
        m_bytes.push_back(static_cast<std::uint8_t>((size >> shift) & 0x7F));
    m_bytes.insert(m_bytes.end(), body.begin(), body.end());
    return *this;
}

FrameStream& FrameStream::raw(const std::vector<std::uint8_t>& bytes)
{
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    return *this;
}

FrameStream& FrameStream::frame(const FrameSpec& frameSpec)
{
    return rawHeaderFrame(frameHeader(frameSpec), frameSpec);
}

FrameStream& FrameStream::frames(int count, const FrameSpec& frameSpec)
{
    for (int i = 0; i < count; ++i)
        frame(frameSpec);
    return *this;
}

FrameStream& FrameStream::paddedFrames(int count, FrameSpec frameSpec)
{
    // Slots a frame should hold on average, in units of 1 / rate: the remainder builds up
    // until it is worth one more slot.
    const std::int64_t exact = static_cast<std::int64_t>(samplesPerFrame(frameSpec)) / 8
                               / (frameSpec.layer == 1 ? 4 : 1) * frameSpec.kbps * 1000;
    std::int64_t remainder = 0;
    for (int i = 0; i < count; ++i) {
        remainder += exact % frameSpec.rate;
        frameSpec.padding = remainder >= frameSpec.rate;
        if (frameSpec.padding)
            remainder -= frameSpec.rate;
        frame(frameSpec);
    }
    return *this;
}

FrameStream& FrameStream::bitrates(const std::vector<int>& kbps, const FrameSpec& frameSpec)
{
    for (const int value : kbps) {
        FrameSpec each = frameSpec;
        each.kbps = value;
        frame(each);
    }
    return *this;
}

FrameStream& FrameStream::rawHeaderFrame(const std::array<std::uint8_t, 4>& header,
                                         const FrameSpec& frameSpec)
{
    m_bytes.insert(m_bytes.end(), header.begin(), header.end());
    m_bytes.insert(m_bytes.end(),
                   static_cast<std::size_t>(std::max<std::int64_t>(frameLength(frameSpec) - 4, 0)),
                   0);
    return *this;
}

FrameStream& FrameStream::infoFrame(InfoTag tag, const FrameSpec& frameSpec)
{
    const std::size_t start = m_bytes.size();
    frame(frameSpec);
    const bool mono = frameSpec.channels == Channels::Mono;
    const std::size_t sideInformation =
        frameSpec.version == Mpeg::V1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    const std::size_t offset =
        tag == InfoTag::Vbri ? 36 : 4 + (frameSpec.crc ? 2 : 0) + sideInformation;
    const char* name = tag == InfoTag::Xing ? "Xing" : tag == InfoTag::Info ? "Info" : "VBRI";
    assert(start + offset + 4 <= m_bytes.size() && "information frame too short for its tag");
    std::memcpy(m_bytes.data() + start + offset, name, 4);
    return *this;
}

FrameStream& FrameStream::truncatedFrame(const FrameSpec& frameSpec, std::int64_t keep)
{
    frame(frameSpec);
    m_bytes.resize(m_bytes.size() - static_cast<std::size_t>(frameLength(frameSpec) - keep));
    return *this;
}

FrameStream& FrameStream::setByte(std::size_t offset, std::uint8_t value)
{
    assert(offset < m_bytes.size() && "byte not written yet");
    m_bytes[offset] = value;
    return *this;
}

FrameStream& FrameStream::id3v1Tag(const std::string& magic)
{
    std::vector<std::uint8_t> block(128, 0);
    std::memcpy(block.data(), magic.data(), std::min<std::size_t>(magic.size(), 128));
    return raw(block);
}

std::vector<std::uint8_t> toneWithNoiseWav(int rate, int channels, double seconds)
{
    const auto frames = static_cast<std::uint32_t>(rate * seconds);
    const std::uint32_t dataBytes = frames * static_cast<std::uint32_t>(channels) * 2;
    std::vector<std::uint8_t> out;
    put(out, "RIFF");
    putU32LittleEndian(out, 36 + dataBytes);
    put(out, "WAVEfmt ");
    putU32LittleEndian(out, 16);
    putU16LittleEndian(out, 1); // PCM
    putU16LittleEndian(out, static_cast<std::uint32_t>(channels));
    putU32LittleEndian(out, static_cast<std::uint32_t>(rate));
    putU32LittleEndian(out, static_cast<std::uint32_t>(rate * channels * 2));
    putU16LittleEndian(out, static_cast<std::uint32_t>(channels * 2));
    putU16LittleEndian(out, 16);
    put(out, "data");
    putU32LittleEndian(out, dataBytes);

    std::uint32_t noise = 12345;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const bool noisy = static_cast<int>(t * 2) % 2 == 1;
        for (int c = 0; c < channels; ++c) {
            noise = noise * 1103515245u + 12345u;
            const double random = static_cast<double>((noise >> 16) & 0x7FFF) / 16384.0 - 1.0;
            const double tone = 0.4 * std::sin(2 * M_PI * (440.0 + 110.0 * c) * t);
            const double value = noisy ? 0.3 * tone + 0.6 * random : tone;
            putU16LittleEndian(
                out, static_cast<std::uint16_t>(static_cast<std::int16_t>(value * 32000)));
        }
    }
    return out;
}

} // namespace tagrelay::test
