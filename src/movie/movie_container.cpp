#include "movie/movie_container.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace tagrelay {

namespace {

// Chunks looked at in an AVI header before the reader gives up on it: real headers have a few
// dozen, and every chunk read costs a seek.
constexpr int maxAviChunks = 4096;
constexpr int maxAviDepth = 4;
// Where MPEG headers and time stamps are looked for: the start and the end of the file.
constexpr std::int64_t mpegHeadBytes = std::int64_t{1} << 20;
constexpr std::int64_t mpegTailBytes = std::int64_t{1} << 20;
constexpr std::uint64_t timeStampWrap = std::uint64_t{1} << 33;

std::uint32_t fourCc(const char (&text)[5])
{
    return std::uint32_t{static_cast<unsigned char>(text[0])}
           | (std::uint32_t{static_cast<unsigned char>(text[1])} << 8)
           | (std::uint32_t{static_cast<unsigned char>(text[2])} << 16)
           | (std::uint32_t{static_cast<unsigned char>(text[3])} << 24);
}

std::uint32_t u32At(const std::vector<std::uint8_t>& bytes, std::size_t offset)
{
    if (offset + 4 > bytes.size())
        return 0;
    return std::uint32_t{bytes[offset]} | (std::uint32_t{bytes[offset + 1]} << 8)
           | (std::uint32_t{bytes[offset + 2]} << 16) | (std::uint32_t{bytes[offset + 3]} << 24);
}

std::int32_t magnitude(std::uint32_t value)
{
    const auto signedValue = static_cast<std::int32_t>(value);
    if (signedValue == INT32_MIN)
        return 0;
    return signedValue < 0 ? -signedValue : signedValue;
}

struct AviHeaders
{
    bool hasMain = false;
    std::uint32_t microSecondsPerFrame = 0;
    std::uint32_t totalFrames = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool hasVideo = false;
    std::uint32_t scale = 0;
    std::uint32_t rate = 0;
    std::uint32_t length = 0;
    std::int32_t formatWidth = 0;
    std::int32_t formatHeight = 0;
    std::uint32_t openDmlFrames = 0;
    int chunksSeen = 0;
};

/// Reads the chunks from the file's position up to end, going into the header lists.
void readAviChunks(ByteReader& file, std::int64_t end, int depth, AviHeaders& headers,
                   bool& inVideoStream)
{
    while (file.position() + 8 <= end && headers.chunksSeen++ < maxAviChunks) {
        const std::uint32_t id = file.readU32LittleEndian();
        const std::int64_t size = file.readU32LittleEndian();
        const std::int64_t start = file.position();
        const std::int64_t next = std::min(end, start + size + (size & 1));
        if (id == fourCc("LIST") && size >= 4 && depth < maxAviDepth) {
            const std::uint32_t type = file.readU32LittleEndian();
            if (type == fourCc("movi") || type == fourCc("INFO"))
                return; // the frames follow: every header came before them
            bool videoHere = false;
            readAviChunks(file, next, depth + 1, headers,
                          type == fourCc("strl") ? videoHere : inVideoStream);
        } else if (id == fourCc("avih") && !headers.hasMain) {
            const std::vector<std::uint8_t> main = file.readBytes(std::min<std::int64_t>(size, 56));
            headers.hasMain = true;
            headers.microSecondsPerFrame = u32At(main, 0);
            headers.totalFrames = u32At(main, 16);
            headers.width = u32At(main, 32);
            headers.height = u32At(main, 36);
        } else if (id == fourCc("strh") && !headers.hasVideo) {
            const std::vector<std::uint8_t> stream =
                file.readBytes(std::min<std::int64_t>(size, 56));
            if (u32At(stream, 0) == fourCc("vids")) {
                headers.hasVideo = true;
                inVideoStream = true;
                headers.scale = u32At(stream, 20);
                headers.rate = u32At(stream, 24);
                headers.length = u32At(stream, 32);
            }
        } else if (id == fourCc("strf") && inVideoStream && headers.formatWidth == 0) {
            const std::vector<std::uint8_t> format =
                file.readBytes(std::min<std::int64_t>(size, 40));
            headers.formatWidth = magnitude(u32At(format, 4));
            headers.formatHeight = magnitude(u32At(format, 8));
            inVideoStream = false;
        } else if (id == fourCc("dmlh")) {
            headers.openDmlFrames = file.readU32LittleEndian();
        }
        if (next <= start && size != 0)
            return;
        file.seek(next);
    }
}

double aviFrameRate(const AviHeaders& headers)
{
    if (headers.scale != 0 && headers.rate != 0)
        return static_cast<double>(headers.rate) / static_cast<double>(headers.scale);
    if (headers.microSecondsPerFrame != 0)
        return 1'000'000.0 / static_cast<double>(headers.microSecondsPerFrame);
    return 0.0;
}

std::int32_t dimension(std::int32_t fromFormat, std::uint32_t fromMain)
{
    if (fromFormat > 0)
        return fromFormat;
    return fromMain > 0 && fromMain <= 0x7FFFFFFF ? static_cast<std::int32_t>(fromMain) : 0;
}

/// The bytes of the file from offset, at most count of them.
std::vector<std::uint8_t> bytesAt(ByteReader& file, std::int64_t offset, std::int64_t count)
{
    file.seek(offset);
    return file.readBytes(std::min(count, file.size() - file.position()));
}

bool isStartCode(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return at + 4 <= bytes.size() && bytes[at] == 0 && bytes[at + 1] == 0 && bytes[at + 2] == 1;
}

/// The PTS of the PES packet starting at `at` (its start code), or nothing when it has none.
std::optional<std::uint64_t> packetTimeStamp(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    std::size_t field = at + 6; // behind the start code and the packet length
    if (field + 3 > bytes.size())
        return std::nullopt;
    if ((bytes[field] & 0xC0) == 0x80) {
        // MPEG-2: '10' flags, then PTS_DTS_flags in the top bits of the next byte.
        if ((bytes[field + 1] & 0x80) == 0)
            return std::nullopt;
        field += 3;
    } else {
        // MPEG-1: up to 16 stuffing bytes, an optional buffer size ('01'), then '0010' or
        // '0011' before the PTS.
        int stuffing = 0;
        while (field < bytes.size() && bytes[field] == 0xFF && stuffing++ < 16)
            ++field;
        if (field < bytes.size() && (bytes[field] & 0xC0) == 0x40)
            field += 2;
        if (field >= bytes.size() || (bytes[field] & 0xE0) != 0x20)
            return std::nullopt;
    }
    if (field + 5 > bytes.size())
        return std::nullopt;
    return mpegTimeStamp(std::span<const std::uint8_t, 5>(bytes.data() + field, 5));
}

bool isVideoPacket(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return isStartCode(bytes, at) && (bytes[at + 3] & 0xF0) == 0xE0;
}

std::optional<std::uint64_t> firstTimeStamp(const std::vector<std::uint8_t>& bytes)
{
    for (std::size_t at = 0; at + 4 <= bytes.size(); ++at) {
        if (isVideoPacket(bytes, at)) {
            if (const auto stamp = packetTimeStamp(bytes, at))
                return stamp;
        }
    }
    return std::nullopt;
}

std::optional<std::uint64_t> lastTimeStamp(const std::vector<std::uint8_t>& bytes)
{
    for (std::size_t at = bytes.size() >= 4 ? bytes.size() - 4 : 0; at-- > 0;) {
        if (isVideoPacket(bytes, at)) {
            if (const auto stamp = packetTimeStamp(bytes, at))
                return stamp;
        }
    }
    return std::nullopt;
}

} // namespace

ContainerReading readAviContainer(ByteReader& file)
{
    ContainerReading reading;
    file.seek(0);
    const std::uint32_t riff = file.readU32LittleEndian();
    const std::int64_t riffSize = file.readU32LittleEndian();
    if (riff != fourCc("RIFF") || file.readU32LittleEndian() != fourCc("AVI ")) {
        reading.refusal = "not an AVI file";
        return reading;
    }
    AviHeaders headers;
    bool inVideoStream = false;
    readAviChunks(file, std::min(file.size(), riffSize + 8), 0, headers, inVideoStream);
    if (!headers.hasMain) {
        reading.refusal = "no AVI main header";
        return reading;
    }
    ContainerFacts facts;
    if (headers.hasVideo) {
        facts.width = dimension(headers.formatWidth, headers.width);
        facts.height = dimension(headers.formatHeight, headers.height);
        facts.framesPerSecond = aviFrameRate(headers);
        facts.frames = headers.openDmlFrames != 0 ? headers.openDmlFrames
                       : headers.length != 0      ? headers.length
                                                  : headers.totalFrames;
    }
    reading.facts = facts;
    return reading;
}

ContainerReading readMpegContainer(ByteReader& file)
{
    ContainerReading reading;
    const std::vector<std::uint8_t> head = bytesAt(file, 0, mpegHeadBytes);
    std::size_t first = 0;
    while (first < head.size() && first < 64 && head[first] == 0 && !isStartCode(head, first))
        ++first;
    const bool isStream =
        isStartCode(head, first) && (head[first + 3] == 0xBA || head[first + 3] == 0xB3);
    if (!isStream) {
        reading.refusal = "not an MPEG stream";
        return reading;
    }
    ContainerFacts facts;
    for (std::size_t at = first; at + 8 <= head.size(); ++at) {
        if (isStartCode(head, at) && head[at + 3] == 0xB3) {
            // 12 bits of width, 12 of height, 4 of aspect ratio, 4 of frame rate.
            facts.width = (head[at + 4] << 4) | (head[at + 5] >> 4);
            facts.height = ((head[at + 5] & 0x0F) << 8) | head[at + 6];
            facts.framesPerSecond = mpegFrameRates[head[at + 7] & 0x0F];
            break;
        }
    }
    const auto start = firstTimeStamp(head);
    const std::int64_t tailStart = std::max<std::int64_t>(0, file.size() - mpegTailBytes);
    const auto end = lastTimeStamp(bytesAt(file, tailStart, mpegTailBytes));
    if (start && end && facts.framesPerSecond > 0.0) {
        const std::uint64_t ticks = (*end + timeStampWrap - *start) % timeStampWrap;
        // The last stamp opens the last frame, which lasts a frame more.
        facts.frames = static_cast<std::int64_t>(std::llround(static_cast<double>(ticks) / 90000.0
                                                              * facts.framesPerSecond))
                       + 1;
    }
    reading.facts = facts;
    return reading;
}

ContainerReading readMovieContainer(ByteReader& file)
{
    file.seek(0);
    if (file.readU32LittleEndian() == fourCc("RIFF"))
        return readAviContainer(file);
    ContainerReading reading = readMpegContainer(file);
    if (!reading.facts)
        reading.refusal = "not an AVI or MPEG movie";
    return reading;
}

} // namespace tagrelay
