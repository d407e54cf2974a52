#include "audio/sequential_bytes.h"

#include "platform/byte_reader.h"

#include <algorithm>
#include <cstring>
#include <span>

namespace tagrelay {

SequentialBytes::SequentialBytes(ByteReader& file, std::int64_t start, std::int64_t end)
    : m_file(file), m_end(std::clamp<std::int64_t>(end, 0, file.size())), m_buffer(bufferSize),
      m_bufferStart(std::clamp<std::int64_t>(start, 0, m_end))
{
}

std::size_t SequentialBytes::ensure(std::size_t count)
{
    count = std::min(count, bufferSize);
    if (available() >= count)
        return count;
    // The bytes not yet passed move to the front; the rest of the buffer is filled behind them.
    const std::size_t kept = available();
    std::memmove(m_buffer.data(), m_buffer.data() + m_at, kept);
    m_bufferStart += static_cast<std::int64_t>(m_at);
    m_at = 0;
    m_length = kept;
    const std::int64_t readFrom = m_bufferStart + static_cast<std::int64_t>(kept);
    const auto wanted = static_cast<std::size_t>(std::clamp<std::int64_t>(
        m_end - readFrom, 0, static_cast<std::int64_t>(bufferSize - kept)));
    if (wanted > 0) {
        m_file.seek(readFrom);
        m_length += m_file.readData(std::span<std::uint8_t>(m_buffer.data() + kept, wanted));
    }
    return std::min(count, available());
}

void SequentialBytes::advance(std::int64_t count)
{
    if (count <= 0)
        return;
    if (count <= static_cast<std::int64_t>(available())) {
        m_at += static_cast<std::size_t>(count);
        return;
    }
    m_bufferStart = std::min(position() + count, m_end);
    m_at = 0;
    m_length = 0;
}

} // namespace tagrelay
