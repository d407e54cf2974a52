#include "platform/file_stamp.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>

namespace tagrelay {

namespace {

std::int64_t nanoseconds(const timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

std::int64_t clockNowNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return nanoseconds(now);
}

std::optional<StampReading> stampOf(const struct stat& info, std::int64_t readAtNs)
{
    if (!S_ISREG(info.st_mode))
        return std::nullopt;
    StampReading reading;
    reading.stamp.device = static_cast<std::uint64_t>(info.st_dev);
    reading.stamp.inode = static_cast<std::uint64_t>(info.st_ino);
    reading.stamp.size = static_cast<std::int64_t>(info.st_size);
    reading.stamp.modifiedNs = nanoseconds(info.st_mtim);
    reading.stamp.changedNs = nanoseconds(info.st_ctim);
    reading.readAtNs = readAtNs;
    return reading;
}

} // namespace

std::optional<StampReading> readStampAt(int folderFd, const std::string& name, LinkRule links)
{
    // The clock first: a change after it gives the file a change time after it as well.
    const std::int64_t readAt = clockNowNs();
    struct stat info
    {
    };
    const int flags = links == LinkRule::NoFollow ? AT_SYMLINK_NOFOLLOW : 0;
    if (::fstatat(folderFd, name.c_str(), &info, flags) != 0)
        return std::nullopt;
    return stampOf(info, readAt);
}

std::optional<StampReading> readStampOfFd(int fd)
{
    const std::int64_t readAt = clockNowNs();
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0)
        return std::nullopt;
    return stampOf(info, readAt);
}

bool isSettled(const StampReading& reading)
{
    return reading.stamp.changedNs <= reading.readAtNs - settleTimeNs
           && reading.stamp.modifiedNs <= reading.readAtNs - settleTimeNs;
}

} // namespace tagrelay
