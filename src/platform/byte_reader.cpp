#include "platform/byte_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tagrelay {

namespace {

/// Opens a path for reading without blocking and keeps it only when it is a regular file.
int openRegularFileForReading(const std::string& path)
{
    if (path.empty())
        return -1;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

} // namespace

ByteReader::ByteReader(const std::string& path, std::size_t windowSize)
    : m_window(std::max<std::size_t>(windowSize, 16))
{
    m_fd = openRegularFileForReading(path);
    if (m_fd < 0)
        return;
    struct stat info
    {
    };
    if (::fstat(m_fd, &info) == 0)
        m_size = static_cast<std::int64_t>(info.st_size);
}

ByteReader::~ByteReader()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void ByteReader::seek(std::int64_t offset)
{
    m_position = std::clamp<std::int64_t>(offset, 0, m_size);
}

std::size_t ByteReader::fetch(std::int64_t offset, std::uint8_t* out, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        ++m_readCalls;
        const ssize_t got = ::pread(m_fd, out + done, count - done,
                                    static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    m_bytesFetched += done;
    return done;
}

bool ByteReader::fillWindowAt(std::int64_t offset)
{
    if (m_fd < 0 || offset >= m_size)
        return false;
    const auto wanted = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(m_window.size()), m_size - offset));
    const std::size_t got = fetch(offset, m_window.data(), wanted);
    // A file that shrank after it was opened reads as zeros up to the size seen at the open.
    std::memset(m_window.data() + got, 0, wanted - got);
    m_windowStart = offset;
    m_windowLength = wanted;
    return true;
}

std::uint8_t ByteReader::readU8()
{
    if (m_position >= m_size)
        return 0;
    if (m_position < m_windowStart
        || m_position >= m_windowStart + static_cast<std::int64_t>(m_windowLength)) {
        if (!fillWindowAt(m_position))
            return 0;
    }
    const std::uint8_t value = m_window[static_cast<std::size_t>(m_position - m_windowStart)];
    ++m_position;
    return value;
}

std::uint16_t ByteReader::readU16BigEndian()
{
    const auto high = readU8();
    const auto low = readU8();
    return static_cast<std::uint16_t>((high << 8) | low);
}

std::uint32_t ByteReader::readU32BigEndian()
{
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value = (value << 8) | readU8();
    return value;
}

std::uint32_t ByteReader::readU32LittleEndian()
{
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(readU8()) << (8 * i);
    return value;
}

std::size_t ByteReader::readData(std::span<std::uint8_t> out)
{
    const auto count = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(out.size()), m_size - m_position));
    std::size_t done = 0;
    while (done < count) {
        const bool inWindow =
            m_position >= m_windowStart
            && m_position < m_windowStart + static_cast<std::int64_t>(m_windowLength);
        if (!inWindow && count - done >= m_window.size()) {
            // Large reads (a cover picture) go straight into the caller's buffer.
            const std::size_t got = fetch(m_position, out.data() + done, count - done);
            std::memset(out.data() + done + got, 0, count - done - got);
            m_position += static_cast<std::int64_t>(count - done);
            return count;
        }
        if (!inWindow && !fillWindowAt(m_position))
            break;
        const auto offset = static_cast<std::size_t>(m_position - m_windowStart);
        const std::size_t take = std::min(count - done, m_windowLength - offset);
        std::memcpy(out.data() + done, m_window.data() + offset, take);
        done += take;
        m_position += static_cast<std::int64_t>(take);
    }
    return done;
}

std::vector<std::uint8_t> ByteReader::readBytes(std::int64_t count)
{
    const std::int64_t available = std::clamp<std::int64_t>(count, 0, m_size - m_position);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(available));
    readData(bytes);
    return bytes;
}

} // namespace tagrelay
