#pragma once

#include "platform/open_file.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tagrelay {

/// Reads a file through a window of bytes. Byte and integer reads past the end yield 0 and
/// leave the position at the end; data reads stop at the end. Nothing throws. A file that
/// cannot be opened, or that is not a regular file (a FIFO, a socket, a device), reads as
/// empty, and isOpen() says so. The open never blocks, so a FIFO named like a music file
/// cannot stall the caller. The file is read with pread(), never memory-mapped: a file that
/// shrinks while it is read only yields zeros, it cannot kill the process.
class ByteReader
{
  public:
    static constexpr std::size_t defaultWindowSize = 4096;

    explicit ByteReader(const std::string& path, std::size_t windowSize = defaultWindowSize);
    /// Opens name inside an open folder (a link is followed).
    ByteReader(int folderFd, const std::string& name, std::size_t windowSize = defaultWindowSize);
    /// Reads a file opened by the caller, taking it over; one that is not open or not a
    /// regular file reads as empty.
    explicit ByteReader(OpenFile file, std::size_t windowSize = defaultWindowSize);
    ~ByteReader();
    ByteReader(const ByteReader&) = delete;
    ByteReader& operator=(const ByteReader&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    std::int64_t size() const { return m_size; }
    std::int64_t position() const { return m_position; }
    bool atEnd() const { return m_position >= m_size; }

    /// Moves the position; clamped to 0..size().
    void seek(std::int64_t offset);
    /// Moves the position by delta bytes; clamped like seek().
    void skip(std::int64_t delta) { seek(m_position + delta); }

    std::uint8_t readU8();
    std::uint32_t readU32BigEndian() // missing bytes count as 0
    {
        // The stream scan reads a header word per frame: inside the current window it is four
        // bytes in a row.
        const std::int64_t offset = m_position - m_current->start;
        if (offset >= 0 && offset + 4 <= static_cast<std::int64_t>(m_current->length)) {
            const std::uint8_t* at = m_current->bytes.data() + offset;
            m_position += 4;
            m_current->lastUse = ++m_uses;
            return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16)
                   | (std::uint32_t{at[2]} << 8) | at[3];
        }
        return readU32BigEndianAcrossWindows();
    }
    std::uint32_t readU32LittleEndian(); // missing bytes count as 0
    /// Copies up to out.size() bytes; returns how many were there before the end.
    std::size_t readData(std::span<std::uint8_t> out);
    /// Reads min(count, bytes left) bytes into a new vector.
    std::vector<std::uint8_t> readBytes(std::int64_t count);

    /// Once the reads run on through the file window after window (a stream scan), asks the
    /// kernel to read well ahead of them, so the disk is busy while the frames are decoded.
    void setSequentialReadAhead(bool on) { m_readAhead = on; }

    /// Bytes fetched from the kernel and read calls made so far (for measurements).
    std::uint64_t bytesFetched() const { return m_bytesFetched; }
    std::uint64_t readCalls() const { return m_readCalls; }

  private:
    /// A window's bytes. Buffers are kept for the next reader on the same thread, so a walk
    /// over many files neither asks the system for fresh pages nor clears them for each file.
    class Buffer
    {
      public:
        explicit Buffer(std::size_t size);
        ~Buffer();
        Buffer(const Buffer&) = delete;
        Buffer& operator=(const Buffer&) = delete;

        std::uint8_t* data() const { return m_data.get(); }
        std::size_t size() const { return m_size; }

      private:
        std::unique_ptr<std::uint8_t[]> m_data;
        std::size_t m_size = 0;
    };

    struct Window
    {
        explicit Window(std::size_t size) : bytes(size) {}

        Buffer bytes;
        std::int64_t start = 0;
        std::size_t length = 0;
        std::uint64_t lastUse = 0;

        bool holds(std::int64_t offset) const
        {
            return offset >= start && offset < start + static_cast<std::int64_t>(length);
        }
    };

    std::uint32_t readU32BigEndianAcrossWindows();
    /// The window holding offset, filled from the file when none does; nullptr at the end.
    Window* windowAt(std::int64_t offset);
    std::size_t fetch(std::int64_t offset, std::uint8_t* out, std::size_t count);
    void adviseAhead(std::int64_t from, std::size_t windowSize);

    int m_fd = -1;
    std::int64_t m_size = 0;
    std::int64_t m_position = 0;
    Window m_windows[2];
    Window* m_current = &m_windows[0];
    std::uint64_t m_uses = 0;
    std::uint64_t m_bytesFetched = 0;
    std::uint64_t m_readCalls = 0;
    bool m_readAhead = false;
    std::int64_t m_lastFetchEnd = -1;
    std::int64_t m_advisedEnd = 0;
};

} // namespace tagrelay
