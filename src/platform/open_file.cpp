#include "platform/open_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tagrelay {

OpenFile::~OpenFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

OpenFile& OpenFile::operator=(OpenFile&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.release();
    }
    return *this;
}

int OpenFile::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

OpenFile openRegularFileAt(int folderFd, const std::string& name)
{
    OpenFile file(::openat(folderFd, name.c_str(),
                           O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
    struct stat info
    {
    };
    if (file.isOpen() && (::fstat(file.fd(), &info) != 0 || !S_ISREG(info.st_mode)))
        return {};
    return file;
}

} // namespace tagrelay
