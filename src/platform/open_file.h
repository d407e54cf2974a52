#pragma once

#include <string>

namespace tagrelay {

/// An open file or folder that closes itself.
class OpenFile
{
  public:
    OpenFile() = default;
    explicit OpenFile(int fd) : m_fd(fd) {}
    ~OpenFile();
    OpenFile(OpenFile&& other) noexcept : m_fd(other.release()) {}
    OpenFile& operator=(OpenFile&& other) noexcept;
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    /// Hands the descriptor over to the caller, who closes it.
    int release();

  private:
    int m_fd = -1;
};

/// Opens the entry name of an open folder for reading, never through a link: a link, a FIFO
/// or a device under the name is refused without blocking, and only a regular file is
/// returned. Not open when that fails.
[[nodiscard]] OpenFile openRegularFileAt(int folderFd, const std::string& name);

} // namespace tagrelay
