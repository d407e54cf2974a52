#include "platform/read_ahead.h"

#include "platform/open_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>

namespace tagrelay {

namespace {

constexpr std::int64_t tailBytes = 128;

/// True when the first frame behind a leading ID3v2 tag holds the mark an encoder puts in the
/// first frame of a stream of variable bitrate. Only a guess of how much to read ahead:
/// nothing the walk finds depends on it. Reads a few kilobytes at most.
bool hasVbrMark(int fd, std::vector<char>& head)
{
    constexpr std::size_t probe = 4096;
    head.resize(probe);
    ssize_t got = ::pread(fd, head.data(), probe, 0);
    if (got < 10)
        return false;
    const auto byte = [&head](std::size_t i) { return static_cast<unsigned char>(head[i]); };
    if (head[0] == 'I' && head[1] == 'D' && head[2] == '3') {
        // Behind the tag (synchsafe size, and a footer when flagged) the audio starts.
        const std::int64_t size = (byte(6) & 0x7F) << 21 | (byte(7) & 0x7F) << 14
                                  | (byte(8) & 0x7F) << 7 | (byte(9) & 0x7F);
        const std::int64_t audio = 10 + size + ((byte(5) & 0x10) != 0 ? 10 : 0);
        if (audio + 64 > static_cast<std::int64_t>(probe)) {
            got = ::pread(fd, head.data(), probe, static_cast<off_t>(audio));
            if (got <= 0)
                return false;
        }
    }
    const std::string_view bytes(head.data(), static_cast<std::size_t>(got));
    return bytes.find("Xing") != std::string_view::npos
           || bytes.find("VBRI") != std::string_view::npos;
}

/// True when the file's first page is in the page cache. Asked through a mapping that is never
/// touched, so nothing is read and a file that shrinks meanwhile cannot fault.
bool isHeadInMemory(int fd, std::int64_t size)
{
    if (size <= 0)
        return false;
    const long page = ::sysconf(_SC_PAGESIZE);
    void* mapped = ::mmap(nullptr, static_cast<std::size_t>(page), PROT_READ, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED)
        return false;
    unsigned char resident = 0;
    const bool known = ::mincore(mapped, static_cast<std::size_t>(page), &resident) == 0;
    ::munmap(mapped, static_cast<std::size_t>(page));
    return known && (resident & 1) != 0;
}

} // namespace

void adviseWillNeed(int fd, std::int64_t offset, std::int64_t length)
{
    if (fd < 0 || length <= 0 || offset < 0)
        return;
    (void)::posix_fadvise(fd, static_cast<off_t>(offset), static_cast<off_t>(length),
                          POSIX_FADV_WILLNEED);
}

ReadAhead::ReadAhead(int threads, std::size_t depth) : m_depth(depth)
{
    for (int i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { serve(); });
}

ReadAhead::~ReadAhead()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
    for (const Request& request : m_queue)
        ::close(request.folderFd);
}

bool ReadAhead::request(int folderFd, const std::string& name, std::int64_t headBytes,
                        bool wholeIfVbr)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_queue.size() >= m_depth || m_threads.empty())
            return false;
    }
    const int copy = ::fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return false;
    {
        const std::lock_guard lock(m_mutex);
        m_queue.push_back({copy, name, headBytes, wholeIfVbr});
    }
    m_wake.notify_one();
    return true;
}

std::uint64_t ReadAhead::done() const
{
    const std::lock_guard lock(m_mutex);
    return m_done;
}

void ReadAhead::serve()
{
    std::vector<char> head;
    for (;;) {
        Request request;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping)
                return;
            request = std::move(m_queue.front());
            m_queue.pop_front();
        }
        // Opened as the walk opens files: never through a link (one put in the file's place
        // after the listing could lead anywhere), and without blocking, so a FIFO put there is
        // never waited on.
        OpenFile file = openRegularFileAt(request.folderFd, request.name);
        ::close(request.folderFd);
        const int fd = file.fd();
        if (file.isOpen()) {
            struct stat info
            {
            };
            if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)
                && isHeadInMemory(fd, static_cast<std::int64_t>(info.st_size))) {
                ++m_inMemoryInARow;
            } else if (S_ISREG(info.st_mode)) {
                m_inMemoryInARow = 0;
                const auto size = static_cast<std::int64_t>(info.st_size);
                adviseWillNeed(fd, 0, std::min(size, request.headBytes));
                if (size > request.headBytes)
                    adviseWillNeed(fd, size - tailBytes, tailBytes);
                if (request.wholeIfVbr && size > request.headBytes && hasVbrMark(fd, head))
                    adviseWillNeed(fd, request.headBytes, size - request.headBytes);
            }
        }
        const std::lock_guard lock(m_mutex);
        ++m_done;
    }
}

} // namespace tagrelay
