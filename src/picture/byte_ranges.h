#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tagrelay {

/// The bytes of a picture as a header reader asks for them, place by place. A reader whose
/// facts may lie anywhere in the file (a TIFF directory written after the pixels, a HEIF meta
/// box after the media data) reads those places alone instead of the whole file.
class ByteRanges
{
  public:
    virtual ~ByteRanges() = default;

    /// The size of the whole file.
    [[nodiscard]] virtual std::uint64_t size() const = 0;
    /// The count bytes at offset, fewer when the file ends first, none past its end or when
    /// the read fails. The bytes stay valid until the next read.
    [[nodiscard]] virtual std::span<const std::uint8_t> read(std::uint64_t offset,
                                                             std::size_t count) = 0;
};

/// The ranges of bytes held in memory.
class MemoryRanges final : public ByteRanges
{
  public:
    explicit MemoryRanges(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    std::uint64_t size() const override { return m_bytes.size(); }
    std::span<const std::uint8_t> read(std::uint64_t offset, std::size_t count) override
    {
        if (offset >= m_bytes.size())
            return {};
        const auto at = static_cast<std::size_t>(offset);
        return m_bytes.subspan(at, std::min(count, m_bytes.size() - at));
    }

  private:
    std::span<const std::uint8_t> m_bytes;
};

/// An open file read by place: from its start when the caller has read that already, else
/// with pread() into a buffer that the next read reuses (never mapped: a file that shrinks
/// meanwhile reads short). A read asks for no more than the file holds from its offset.
class FileRanges final : public ByteRanges
{
  public:
    /// size is the file's; start, its first bytes read already, outlives the ranges.
    FileRanges(int fd, std::uint64_t size, std::span<const std::uint8_t> start)
        : m_fd(fd), m_size(size), m_start(start)
    {
    }

    std::uint64_t size() const override { return m_size; }
    std::span<const std::uint8_t> read(std::uint64_t offset, std::size_t count) override;

  private:
    int m_fd;
    std::uint64_t m_size;
    std::span<const std::uint8_t> m_start;
    std::vector<std::uint8_t> m_buffer;
};

/// Reads count bytes at offset with pread(), again after an interruption; returns how many
/// were read, fewer when the file ends first or a read fails.
std::size_t readFileAt(int fd, std::uint8_t* out, std::size_t count, std::uint64_t offset);

} // namespace tagrelay
