#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tagrelay {

/// Starts the disk on the parts of files the walk will read soon, so that many reads are in
/// flight while one file is analysed. A few threads of its own open each file, ask the kernel
/// to read its first bytes and its last 128 bytes into the page cache, and close it again; they
/// never read a byte into the program, so nothing the walk finds can change: a file that is
/// gone, has shrunk or has become a FIFO by the time the walk comes to it is read as it then
/// is. The queue is bounded, so memory stays flat.
class ReadAhead
{
  public:
    /// threads: readers at once (each waits for one file's metadata); depth: requests held.
    explicit ReadAhead(int threads = 4, std::size_t depth = 64);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    /// Queues the first headBytes and the last 128 bytes of the file name in the open folder;
    /// with wholeIfVbr, the whole file when its head names it a stream of variable bitrate
    /// (an encoder's "Xing" or "VBRI" mark), as a stream scan will read it to its end.
    /// Returns false (and queues nothing) when depth requests are already waiting.
    bool request(int folderFd, const std::string& name, std::int64_t headBytes,
                 bool wholeIfVbr = false);

    /// Requests done so far (for measurements and tests).
    std::uint64_t done() const;

    /// True when the last several files asked for were in memory already: then reading ahead
    /// only costs time.
    bool findsFilesInMemory() const { return m_inMemoryInARow.load() >= 16; }

  private:
    struct Request
    {
        int folderFd = -1; // a copy of the walk's descriptor, closed when done
        std::string name;
        std::int64_t headBytes = 0;
        bool wholeIfVbr = false;
    };

    void serve();

    std::size_t m_depth;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Request> m_queue;
    bool m_stopping = false;
    std::uint64_t m_done = 0;
    std::atomic<int> m_inMemoryInARow{0};
    std::vector<std::thread> m_threads;
};

/// Asks the kernel to read the byte range of an open file into the page cache without
/// waiting for it. Harmless on anything that is not a regular file.
void adviseWillNeed(int fd, std::int64_t offset, std::int64_t length);

} // namespace tagrelay
