#include "platform/byte_reader.h"

#include "platform/read_ahead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tagrelay {

namespace {

/// Opens a path for reading without blocking and keeps it only when it is a regular file.
/// O_NONBLOCK has no effect on reads of a regular file, so it can stay set.
int openRegularFileForReading(int folderFd, const std::string& path, std::int64_t& size)
{
    if (path.empty())
        return -1;
    const int fd = ::openat(folderFd, path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    size = static_cast<std::int64_t>(info.st_size);
    return fd;
}

/// Window buffers given back on this thread, waiting for the next reader.
struct SpareBuffers
{
    static constexpr std::size_t kept = 4;
    std::unique_ptr<std::uint8_t[]> buffers[kept];
    std::size_t sizes[kept] = {};
    std::size_t count = 0;
};

thread_local SpareBuffers t_spare;

std::size_t windowSizeFor(std::size_t asked)
{
    return std::max<std::size_t>(asked, 16);
}

} // namespace

ByteReader::Buffer::Buffer(std::size_t size) : m_size(size)
{
    SpareBuffers& spare = t_spare;
    for (std::size_t i = 0; i < spare.count; ++i) {
        if (spare.sizes[i] != size)
            continue;
        m_data = std::move(spare.buffers[i]);
        --spare.count;
        spare.buffers[i] = std::move(spare.buffers[spare.count]);
        spare.sizes[i] = spare.sizes[spare.count];
        return;
    }
    // Not cleared: a window's bytes are read only where a fetch has written them.
    m_data.reset(new std::uint8_t[size]);
}

ByteReader::Buffer::~Buffer()
{
    SpareBuffers& spare = t_spare;
    if (!m_data || spare.count == SpareBuffers::kept)
        return;
    spare.buffers[spare.count] = std::move(m_data);
    spare.sizes[spare.count] = m_size;
    ++spare.count;
}

ByteReader::ByteReader(const std::string& path, std::size_t windowSize)
    : ByteReader(AT_FDCWD, path, windowSize)
{
}

ByteReader::ByteReader(int folderFd, const std::string& name, std::size_t windowSize)
    : m_windows{Window(windowSizeFor(windowSize)), Window(windowSizeFor(windowSize))}
{
    m_fd = openRegularFileForReading(folderFd, name, m_size);
}

ByteReader::ByteReader(OpenFile file, std::size_t windowSize)
    : m_windows{Window(windowSizeFor(windowSize)), Window(windowSizeFor(windowSize))}
{
    struct stat info
    {
    };
    if (!file.isOpen() || ::fstat(file.fd(), &info) != 0 || !S_ISREG(info.st_mode))
        return;
    m_size = static_cast<std::int64_t>(info.st_size);
    m_fd = file.release();
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

void ByteReader::adviseAhead(std::int64_t from, std::size_t windowSize)
{
    // Sixteen windows ahead, renewed when half of them have been read.
    const auto span = static_cast<std::int64_t>(16 * windowSize);
    if (from + span / 2 <= m_advisedEnd)
        return;
    const std::int64_t start = std::max(from, m_advisedEnd);
    const std::int64_t end = std::min(m_size, from + span);
    adviseWillNeed(m_fd, start, end - start);
    m_advisedEnd = end;
}

ByteReader::Window* ByteReader::windowAt(std::int64_t offset)
{
    if (m_current->holds(offset))
        return m_current;
    Window* other = m_current == &m_windows[0] ? &m_windows[1] : &m_windows[0];
    if (!other->holds(offset)) {
        if (m_fd < 0 || offset >= m_size)
            return nullptr;
        Window& refill = m_windows[0].lastUse <= m_windows[1].lastUse ? m_windows[0] : m_windows[1];
        const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(
            static_cast<std::int64_t>(refill.bytes.size()), m_size - offset));
        if (m_readAhead && offset == m_lastFetchEnd)
            adviseAhead(offset + static_cast<std::int64_t>(wanted), refill.bytes.size());
        const std::size_t got = fetch(offset, refill.bytes.data(), wanted);
        m_lastFetchEnd = offset + static_cast<std::int64_t>(wanted);
        // A file that shrank after it was opened reads as zeros up to the size seen at the open.
        std::memset(refill.bytes.data() + got, 0, wanted - got);
        refill.start = offset;
        refill.length = wanted;
        other = &refill;
    }
    m_current = other;
    m_current->lastUse = ++m_uses;
    return m_current;
}

std::uint8_t ByteReader::readU8()
{
    if (m_position >= m_size)
        return 0;
    const Window* window = windowAt(m_position);
    if (window == nullptr)
        return 0;
    const std::uint8_t value =
        window->bytes.data()[static_cast<std::size_t>(m_position - window->start)];
    ++m_position;
    return value;
}

std::uint32_t ByteReader::readU32BigEndianAcrossWindows()
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
        const bool held = m_windows[0].holds(m_position) || m_windows[1].holds(m_position);
        if (!held && count - done >= m_current->bytes.size()) {
            // Large reads (a cover picture) go straight into the caller's buffer.
            const std::size_t got = fetch(m_position, out.data() + done, count - done);
            std::memset(out.data() + done + got, 0, count - done - got);
            m_position += static_cast<std::int64_t>(count - done);
            return count;
        }
        const Window* window = windowAt(m_position);
        if (window == nullptr)
            break;
        const auto offset = static_cast<std::size_t>(m_position - window->start);
        const std::size_t take = std::min(count - done, window->length - offset);
        std::memcpy(out.data() + done, window->bytes.data() + offset, take);
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
