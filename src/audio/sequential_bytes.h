#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tagrelay {

class ByteReader;

/// A cursor that runs forward through a file in large reads, for the walks over a whole
/// stream (Ogg pages, ADTS frames, FLAC frame headers): what is asked for lies in one buffer,
/// so a page or a frame header is parsed in place. Its memory is bufferSize, whatever the file.
class SequentialBytes
{
  public:
    static constexpr std::size_t bufferSize = 256 * 1024;

    /// Starts at start and ends at end (both clamped to the file).
    SequentialBytes(ByteReader& file, std::int64_t start, std::int64_t end);

    /// Makes up to count bytes (at most bufferSize) lie at data(); returns how many do, fewer
    /// only at the end.
    std::size_t ensure(std::size_t count);
    const std::uint8_t* data() const { return m_buffer.data() + m_at; }
    std::size_t available() const { return m_length - m_at; }
    /// The file offset of data().
    std::int64_t position() const { return m_bufferStart + static_cast<std::int64_t>(m_at); }
    bool atEnd() const { return position() >= m_end; }
    /// Moves on by count bytes (not below zero); behind the buffer the file is not read.
    void advance(std::int64_t count);

  private:
    ByteReader& m_file;
    std::int64_t m_end;
    std::vector<std::uint8_t> m_buffer;
    std::int64_t m_bufferStart = 0;
    std::size_t m_at = 0;
    std::size_t m_length = 0;
};

} // namespace tagrelay
