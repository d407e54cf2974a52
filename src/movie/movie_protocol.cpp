#include "movie/movie_protocol.h"

#include <algorithm>

namespace tagrelay {

namespace {

void putU8(std::vector<std::uint8_t>& out, std::uint8_t value)
{
    out.push_back(value);
}

void putLittleEndian(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

/// Reads little-endian integers from a payload; a read past the end marks it short.
class PayloadReader
{
  public:
    explicit PayloadReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    std::uint64_t take(std::size_t bytes)
    {
        if (m_bytes.size() - m_position < bytes) {
            m_short = true;
            m_position = m_bytes.size();
            return 0;
        }
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            value |= std::uint64_t{m_bytes[m_position + i]} << (8 * i);
        m_position += bytes;
        return value;
    }

    /// True when every byte was read and no read ran short.
    bool isExact() const { return !m_short && m_position == m_bytes.size(); }

  private:
    std::span<const std::uint8_t> m_bytes;
    std::size_t m_position = 0;
    bool m_short = false;
};

/// The text as sent: cut at a zero byte and at the limit.
std::string boundedText(const std::string& text, std::size_t limit)
{
    const std::size_t zero = text.find('\0');
    return text.substr(0, std::min({zero, text.size(), limit}));
}

bool isKnownKind(std::uint8_t kind)
{
    switch (static_cast<MessageKind>(kind)) {
    case MessageKind::Ready:
    case MessageKind::Load:
    case MessageKind::Play:
    case MessageKind::Status:
    case MessageKind::Stop:
    case MessageKind::Free:
    case MessageKind::Quit:
    case MessageKind::Loaded:
    case MessageKind::Refused:
    case MessageKind::Position:
    case MessageKind::Done:
    case MessageKind::Picture:
        return true;
    }
    return false;
}

} // namespace

std::vector<std::uint8_t> encodeMessage(const MovieMessage& message)
{
    std::vector<std::uint8_t> payload;
    switch (message.kind) {
    case MessageKind::Ready:
        putLittleEndian(payload, message.version, 4);
        putU8(payload, message.confinement);
        break;
    case MessageKind::Play:
        putU8(payload, message.shown);
        break;
    case MessageKind::Status:
        putLittleEndian(payload, static_cast<std::uint64_t>(message.atMs), 8);
        break;
    case MessageKind::Loaded:
        putLittleEndian(payload, static_cast<std::uint32_t>(message.width), 4);
        putLittleEndian(payload, static_cast<std::uint32_t>(message.height), 4);
        putLittleEndian(payload, static_cast<std::uint64_t>(message.length), 8);
        break;
    case MessageKind::Refused: {
        const std::string reason = boundedText(message.text, maxReasonBytes);
        payload.assign(reason.begin(), reason.end());
        break;
    }
    case MessageKind::Position:
        putLittleEndian(payload, static_cast<std::uint32_t>(message.frame), 4);
        putLittleEndian(payload, static_cast<std::uint64_t>(message.clockMs), 8);
        putLittleEndian(payload, static_cast<std::uint64_t>(message.untilMs), 8);
        putU8(payload, message.flags);
        break;
    case MessageKind::Picture:
        putLittleEndian(payload, message.sequence, 4);
        putLittleEndian(payload, static_cast<std::uint32_t>(message.width), 4);
        putLittleEndian(payload, static_cast<std::uint32_t>(message.height), 4);
        putLittleEndian(payload, static_cast<std::uint32_t>(message.stride), 4);
        putLittleEndian(payload, static_cast<std::uint64_t>(message.timestampNs), 8);
        break;
    case MessageKind::Load:
    case MessageKind::Stop:
    case MessageKind::Free:
    case MessageKind::Quit:
    case MessageKind::Done:
        break;
    }

    std::vector<std::uint8_t> frame;
    frame.reserve(frameHeaderBytes + payload.size());
    putU8(frame, static_cast<std::uint8_t>(message.kind));
    putLittleEndian(frame, payload.size(), 2);
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

std::optional<MovieMessage> decodePayload(std::uint8_t kind, std::span<const std::uint8_t> payload)
{
    if (!isKnownKind(kind) || payload.size() > maxPayload)
        return std::nullopt;
    MovieMessage message;
    message.kind = static_cast<MessageKind>(kind);
    PayloadReader reader(payload);
    switch (message.kind) {
    case MessageKind::Ready:
        message.version = static_cast<std::uint32_t>(reader.take(4));
        message.confinement = static_cast<std::uint8_t>(reader.take(1));
        break;
    case MessageKind::Play:
        message.shown = static_cast<std::uint8_t>(reader.take(1));
        break;
    case MessageKind::Status:
        message.atMs = static_cast<std::int64_t>(reader.take(8));
        break;
    case MessageKind::Loaded:
        message.width = static_cast<std::int32_t>(reader.take(4));
        message.height = static_cast<std::int32_t>(reader.take(4));
        message.length = static_cast<std::int64_t>(reader.take(8));
        break;
    case MessageKind::Refused:
        // A zero byte would end the text early: a writer of this protocol never sends one.
        if (payload.size() > maxReasonBytes
            || std::find(payload.begin(), payload.end(), 0) != payload.end())
            return std::nullopt;
        message.text.assign(payload.begin(), payload.end());
        return message;
    case MessageKind::Position:
        message.frame = static_cast<std::int32_t>(reader.take(4));
        message.clockMs = static_cast<std::int64_t>(reader.take(8));
        message.untilMs = static_cast<std::int64_t>(reader.take(8));
        message.flags = static_cast<std::uint8_t>(reader.take(1));
        break;
    case MessageKind::Picture:
        message.sequence = static_cast<std::uint32_t>(reader.take(4));
        message.width = static_cast<std::int32_t>(reader.take(4));
        message.height = static_cast<std::int32_t>(reader.take(4));
        message.stride = static_cast<std::int32_t>(reader.take(4));
        message.timestampNs = static_cast<std::int64_t>(reader.take(8));
        break;
    case MessageKind::Load:
    case MessageKind::Stop:
    case MessageKind::Free:
    case MessageKind::Quit:
    case MessageKind::Done:
        break;
    }
    if (!reader.isExact())
        return std::nullopt;
    return message;
}

std::size_t pictureBufferBytes(std::int32_t width, std::int32_t height)
{
    if (width <= 0 || height <= 0 || width > maxPictureSide || height > maxPictureSide)
        return 0;
    return static_cast<std::size_t>(std::int64_t{width} * height * picturePixelBytes);
}

bool fitsPictureBuffer(const MovieMessage& picture, std::int32_t width, std::int32_t height,
                       std::size_t bufferBytes)
{
    if (picture.kind != MessageKind::Picture || picture.width != width || picture.height != height
        || pictureBufferBytes(width, height) == 0)
        return false;
    // All in 64 bits: the sides are at most maxPictureSide, the stride at most 2^31.
    const std::int64_t row = std::int64_t{width} * picturePixelBytes;
    if (picture.stride < row)
        return false;
    const std::int64_t needed = std::int64_t{picture.stride} * (height - 1) + row;
    return needed <= static_cast<std::int64_t>(bufferBytes);
}

void MessageReader::feed(std::span<const std::uint8_t> bytes)
{
    if (m_broken)
        return;
    if (m_start > 0) {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_start));
        m_start = 0;
    }
    m_buffer.insert(m_buffer.end(), bytes.begin(), bytes.end());
}

std::optional<MovieMessage> MessageReader::next()
{
    if (m_broken)
        return std::nullopt;
    const std::size_t available = m_buffer.size() - m_start;
    if (available < frameHeaderBytes)
        return std::nullopt;
    const std::uint8_t* header = m_buffer.data() + m_start;
    const std::size_t length = std::size_t{header[1]} | (std::size_t{header[2]} << 8);
    if (!isKnownKind(header[0]) || length > maxPayload) {
        m_broken = true;
        return std::nullopt;
    }
    if (available < frameHeaderBytes + length)
        return std::nullopt;
    auto message = decodePayload(header[0], {header + frameHeaderBytes, length});
    if (!message) {
        m_broken = true;
        return std::nullopt;
    }
    m_start += frameHeaderBytes + length;
    if (m_start == m_buffer.size()) {
        m_buffer.clear();
        m_start = 0;
    }
    return message;
}

} // namespace tagrelay
