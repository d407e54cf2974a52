#include "platform/file_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tagrelay {

namespace {

int openRegularFileForWriting(const std::string& path, WriteMode mode)
{
    if (path.empty())
        return -1;
    int flags = O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    if (mode == WriteMode::Append)
        flags |= O_APPEND;
    // A link is followed only when it belongs to the user running the program, as a user may
    // keep the settings file elsewhere; one planted by somebody else in a folder they can
    // write (the program may run as root) is refused. When there is no link now, none that
    // appears before the open is followed either.
    struct stat link
    {
    };
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        if (link.st_uid != ::geteuid())
            return -1;
    } else {
        flags |= O_NOFOLLOW;
    }
    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0)
        return -1;
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    // Truncate only after the check, so opening a FIFO or device never empties anything.
    if (mode == WriteMode::CreateOrTruncate && ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return -1;
    }
    // O_NONBLOCK has no effect on writes to a regular file, so it can stay set.
    return fd;
}

} // namespace

FileWriter::FileWriter(const std::string& path, WriteMode mode)
    : m_fd(openRegularFileForWriting(path, mode))
{
    m_buffer.reserve(blockSize);
}

FileWriter::~FileWriter()
{
    close();
}

bool FileWriter::write(std::span<const std::uint8_t> bytes)
{
    if (m_fd < 0 || m_failed)
        return false;
    for (const std::uint8_t byte : bytes) {
        m_buffer.push_back(byte);
        if (m_buffer.size() == blockSize && !flush())
            return false;
    }
    return true;
}

bool FileWriter::write(std::string_view text)
{
    return write(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

bool FileWriter::writeI32LittleEndian(std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(bits & 0xFF), static_cast<std::uint8_t>((bits >> 8) & 0xFF),
        static_cast<std::uint8_t>((bits >> 16) & 0xFF), static_cast<std::uint8_t>(bits >> 24)};
    return write(std::span<const std::uint8_t>(bytes));
}

bool FileWriter::flush()
{
    std::size_t done = 0;
    while (done < m_buffer.size()) {
        const ssize_t wrote = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            m_failed = true;
            break;
        }
        done += static_cast<std::size_t>(wrote);
    }
    m_buffer.clear();
    return !m_failed;
}

bool FileWriter::close()
{
    if (m_fd < 0)
        return false;
    flush();
    if (::close(m_fd) != 0)
        m_failed = true;
    m_fd = -1;
    return !m_failed;
}

} // namespace tagrelay
