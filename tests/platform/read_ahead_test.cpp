#include "platform/folder.h"
#include "platform/read_ahead.h"
#include "support/support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace tagrelay {
namespace {

/// Waits until the read-ahead has done count requests, for at most five seconds.
bool waitForDone(const ReadAhead& readAhead, std::uint64_t count)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (readAhead.done() < count) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Whatever stands under a name by the time a reader comes to it, nothing waits on it and
// nothing is read into the program.
TEST(ReadAheadTest, AnythingUnderTheNameIsPassedQuickly)
{
    test::TempTree tree;
    tree.writeFile("song.mp3", std::string(200000, 'x'));
    tree.writeFile("empty.mp3", "");
    tree.makeDir("folder.mp3");
    ASSERT_EQ(::mkfifo((tree.path() + "fifo.mp3").c_str(), 0600), 0);
    FolderResult result;
    const FolderHandle folder = openFolder(tree.path(), result);

    ReadAhead readAhead(2, 8);
    for (const char* name : {"song.mp3", "empty.mp3", "folder.mp3", "fifo.mp3", "gone.mp3"})
        EXPECT_TRUE(readAhead.request(folder.fd(), name, 64 * 1024)) << name;
    EXPECT_TRUE(waitForDone(readAhead, 5));
}

// A link put under a listed name is never followed: here it leads to a FIFO whose writer waits
// for a reader, and nobody comes.
TEST(ReadAheadTest, NoLinkIsFollowed)
{
    test::TempTree tree;
    test::TempTree outside;
    const std::string fifo = outside.path() + "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::symlink(fifo.c_str(), (tree.path() + "link.mp3").c_str()), 0);
    std::atomic<bool> writerOpened{false};
    std::thread writer([&] {
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        writerOpened = true;
        if (fd >= 0)
            ::close(fd);
    });
    FolderResult result;
    const FolderHandle folder = openFolder(tree.path(), result);
    {
        ReadAhead readAhead(1, 4);
        ASSERT_TRUE(readAhead.request(folder.fd(), "link.mp3", 64 * 1024));
        EXPECT_TRUE(waitForDone(readAhead, 1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(writerOpened) << "the read-ahead opened the FIFO through the link";
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    writer.join();
    ::close(reader);
}

TEST(ReadAheadTest, TheQueueIsBounded)
{
    test::TempTree tree;
    FolderResult result;
    const FolderHandle folder = openFolder(tree.path(), result);
    ReadAhead idle(0, 3); // no readers: nothing leaves the queue
    int queued = 0;
    for (int i = 0; i < 10; ++i)
        queued += idle.request(folder.fd(), "x.mp3", 1024) ? 1 : 0;
    EXPECT_EQ(queued, 0); // without a reader nothing is queued at all
    ReadAhead busy(1, 3);
    for (int i = 0; i < 100; ++i)
        (void)busy.request(folder.fd(), "x.mp3", 1024);
    EXPECT_TRUE(waitForDone(busy, 1));
}

} // namespace
} // namespace tagrelay
