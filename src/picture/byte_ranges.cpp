#include "picture/byte_ranges.h"

#include <unistd.h>

#include <cerrno>

namespace tagrelay {

std::size_t readFileAt(int fd, std::uint8_t* out, std::size_t count, std::uint64_t offset)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got =
            ::pread(fd, out + done, count - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

std::span<const std::uint8_t> FileRanges::read(std::uint64_t offset, std::size_t count)
{
    if (offset >= m_size)
        return {};
    count = static_cast<std::size_t>(std::min<std::uint64_t>(count, m_size - offset));
    if (offset + count <= m_start.size())
        return m_start.subspan(static_cast<std::size_t>(offset), count);
    m_buffer.resize(count);
    return std::span<const std::uint8_t>(m_buffer).first(
        readFileAt(m_fd, m_buffer.data(), count, offset));
}

} // namespace tagrelay
