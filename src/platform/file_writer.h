#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tagrelay {

/// How a FileWriter opens its file.
enum class WriteMode {
    /// Create the file, or empty an existing one.
    CreateOrTruncate,
    /// Open the file (creating it when missing) and write behind its current end.
    Append,
};

/// Writes a regular file through a 4096-byte buffer; the buffer reaches the disk at the latest
/// on close() or destruction. A path that is not a regular file (a FIFO, a directory) is
/// refused without blocking, and so is a symbolic link that belongs to another user. Nothing
/// throws; isOpen() and the results say what worked.
class FileWriter
{
  public:
    static constexpr std::size_t blockSize = 4096;

    FileWriter(const std::string& path, WriteMode mode);
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    /// Buffers the bytes; false when an earlier or this write failed.
    bool write(std::span<const std::uint8_t> bytes);
    bool write(std::string_view text);
    bool writeI32LittleEndian(std::int32_t value);
    /// Flushes and closes; false when any write since the open failed.
    bool close();

  private:
    bool flush();

    int m_fd = -1;
    bool m_failed = false;
    std::vector<std::uint8_t> m_buffer;
};

} // namespace tagrelay
