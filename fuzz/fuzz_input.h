#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace tagrelay::fuzz {

/// The fuzz input as a file the parsers can open by path. The parsers read through ByteReader,
/// which opens a path and reads with pread(), so each input is written into one in-memory file
/// (memfd) that lives as long as the process and is opened again through /proc/self/fd.
class InputFile
{
  public:
    InputFile()
    {
        m_fd = ::memfd_create("tagrelay-fuzz-input", MFD_CLOEXEC);
        if (m_fd < 0) {
            std::perror("memfd_create");
            std::abort();
        }
        m_path = "/proc/self/fd/" + std::to_string(m_fd);
    }

    ~InputFile() { ::close(m_fd); }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    /// Replaces the file's content with the input and returns the path to open.
    const std::string& hold(const std::uint8_t* data, std::size_t size)
    {
        if (::ftruncate(m_fd, 0) != 0 || !writeAll(data, size)) {
            std::perror("writing the fuzz input");
            std::abort();
        }
        return m_path;
    }

  private:
    bool writeAll(const std::uint8_t* data, std::size_t size)
    {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t wrote =
                ::pwrite(m_fd, data + done, size - done, static_cast<off_t>(done));
            if (wrote <= 0)
                return false;
            done += static_cast<std::size_t>(wrote);
        }
        return true;
    }

    int m_fd = -1;
    std::string m_path;
};

/// Stops the run with a message the fuzzer reports as a crash, for a result that breaks a
/// promise of the parser's interface (the sanitizers catch the memory faults by themselves).
[[noreturn]] inline void fail(const char* what)
{
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::abort();
}

} // namespace tagrelay::fuzz
