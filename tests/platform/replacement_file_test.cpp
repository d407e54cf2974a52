#include "platform/folder.h"
#include "platform/replacement_file.h"
#include "support/support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <vector>

namespace tagrelay {
namespace {

using test::readFileText;
using test::TempTree;

/// A folder to make replacement files in, and one outside it that must never change.
class ReplacementFileTest : public testing::Test
{
  protected:
    ReplacementFileTest() : folder(openFolder(tree.path(), opened)) {}

    void link(const std::string& target, const std::string& name) const
    {
        ASSERT_EQ(::symlink(target.c_str(), (tree.path() + name).c_str()), 0) << name;
    }
    bool isLink(const std::string& name) const
    {
        return std::filesystem::is_symlink(tree.path() + name);
    }
    bool exists(const std::string& name) const
    {
        return std::filesystem::symlink_status(tree.path() + name).type()
               != std::filesystem::file_type::not_found;
    }
    /// Sets the file's (or link's) times two minutes back.
    void makeOld(const std::string& name) const
    {
        timespec times[2] = {};
        ::clock_gettime(CLOCK_REALTIME, &times[0]);
        times[0].tv_sec -= 120;
        times[1] = times[0];
        ASSERT_EQ(::utimensat(folder.fd(), name.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    }
    ino_t inodeOf(const std::string& name) const
    {
        struct stat info
        {
        };
        return ::fstatat(folder.fd(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 ? info.st_ino
                                                                                     : 0;
    }

    TempTree tree;
    TempTree outside;
    FolderResult opened;
    FolderHandle folder;
};

/// Names handed out in turn, then random ones.
TemporaryNameSource namesInTurn(std::vector<std::string> names)
{
    return [names = std::move(names), next = std::size_t{0}]() mutable {
        return next < names.size() ? names[next++] : randomTemporaryName();
    };
}

TEST_F(ReplacementFileTest, EntriesPlantedAtTemporaryNamesAreNeverFollowedNorWritten)
{
    const std::string precious = outside.writeFile("precious", "precious bytes\n");
    const std::string toLink = ".tagrelay-0000000000000001.tmp";
    const std::string toNothing = ".tagrelay-0000000000000002.tmp";
    const std::string toFile = ".tagrelay-0000000000000003.tmp";
    link(precious, toLink);
    link(outside.path() + "made-through-a-link", toNothing);
    tree.writeFile(toFile, "planted\n");

    FolderResult made;
    ReplacementFile file =
        ReplacementFile::create(folder.fd(), made, namesInTurn({toLink, toNothing, toFile}));
    ASSERT_TRUE(made.ok()) << made.reason;
    EXPECT_TRUE(isTemporaryFileName(file.temporaryName()));
    ASSERT_TRUE(file.replace(folder.fd(), "descript.ion", std::string_view("new list\r\n")).ok());

    EXPECT_EQ(readFileText(tree.path() + "descript.ion"), "new list\r\n");
    EXPECT_EQ(readFileText(precious), "precious bytes\n");
    EXPECT_FALSE(std::filesystem::exists(outside.path() + "made-through-a-link"));
    EXPECT_TRUE(isLink(toLink));
    EXPECT_TRUE(isLink(toNothing));
    EXPECT_EQ(readFileText(tree.path() + toFile), "planted\n");
}

TEST_F(ReplacementFileTest, AFolderFullOfPlantedNamesCannotTakeANewFile)
{
    FolderResult made;
    const ReplacementFile file = ReplacementFile::create(
        folder.fd(), made, [] { return std::string(".tagrelay-00000000000000ff.tmp"); });
    ASSERT_TRUE(made.ok());
    const ReplacementFile second = ReplacementFile::create(
        folder.fd(), made, [] { return std::string(".tagrelay-00000000000000ff.tmp"); });
    EXPECT_EQ(made.reason, "File exists");
    EXPECT_FALSE(second.exists());
}

TEST_F(ReplacementFileTest, ASuspendedFileIsTakenUpAgainOnlyWhileItIsStillThere)
{
    const std::string precious = outside.writeFile("precious", "precious bytes\n");
    // What somebody who can write the folder may leave under the name while it is given up.
    const std::vector<std::function<void(const std::string&)>> swaps = {
        [](const std::string&) {},
        [&](const std::string& name) { link(precious, name); },
        [&](const std::string& name) { tree.writeFile(name, "planted\n"); },
    };
    for (std::size_t swap = 0; swap < swaps.size(); ++swap) {
        FolderResult made;
        ReplacementFile file = ReplacementFile::create(folder.fd(), made);
        ASSERT_TRUE(made.ok());
        const std::string name = file.temporaryName();
        const ino_t temporary = inodeOf(name);
        file.suspend();
        EXPECT_FALSE(file.isOpen());
        if (swap != 0) {
            ASSERT_EQ(::unlinkat(folder.fd(), name.c_str(), 0), 0);
            swaps[swap](name);
        }

        ASSERT_TRUE(file.replace(folder.fd(), "descript.ion", std::string_view("list\r\n")).ok())
            << swap;

        EXPECT_EQ(readFileText(tree.path() + "descript.ion"), "list\r\n") << swap;
        EXPECT_EQ(readFileText(precious), "precious bytes\n") << swap;
        if (swap == 0) {
            EXPECT_EQ(inodeOf("descript.ion"), temporary);
        } else {
            EXPECT_TRUE(exists(name)) << swap; // somebody else's entry stays as it is
            EXPECT_EQ(isLink(name), swap == 1);
            ::unlinkat(folder.fd(), name.c_str(), 0);
        }
    }
}

TEST_F(ReplacementFileTest, TheNewFileKeepsTheOldOnesModeAndOwner)
{
    const bool root = ::geteuid() == 0;
    // Owner and group apart as well as together: a list of root's in a group's folder.
    const std::pair<uid_t, gid_t> owners[] = {{65534, 65534}, {0, 65534}, {65534, 0}, {0, 0}};
    for (const auto& [uid, gid] : owners) {
        const std::string path = tree.writeFile("descript.ion", "old\r\n");
        ASSERT_EQ(::chmod(path.c_str(), 0604), 0);
        if (root) {
            ASSERT_EQ(::chown(path.c_str(), uid, gid), 0);
        }

        ASSERT_TRUE(replaceFileAt(folder.fd(), "descript.ion", std::string_view("new\r\n")).ok());

        struct stat info
        {
        };
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0604u);
        if (root) {
            EXPECT_EQ(info.st_uid, uid) << uid << ":" << gid;
            EXPECT_EQ(info.st_gid, gid) << uid << ":" << gid;
        }
        EXPECT_EQ(readFileText(path), "new\r\n");
        if (!root)
            break;
    }
}

/// A temporary file is its creator's alone until it gets its final mode, just before it is
/// written, so nobody watching the folder can open it early and read a private list; the
/// final mode is the old list's, or for a new file what the file mode mask gives.
TEST_F(ReplacementFileTest, NothingIsReadableByOthersBeforeItsModeIsRight)
{
    FolderResult made;
    ReplacementFile file = ReplacementFile::create(folder.fd(), made);
    ASSERT_TRUE(made.ok());
    struct stat info
    {
    };
    ASSERT_EQ(::fstatat(folder.fd(), file.temporaryName().c_str(), &info, AT_SYMLINK_NOFOLLOW), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    file.discard(folder.fd());

    const std::string privateList = tree.writeFile("private/descript.ion", "secret\r\n");
    ASSERT_EQ(::chmod(privateList.c_str(), 0600), 0);
    // In a child: the file mode mask is the process's.
    const int status = test::inChild([&] {
        ::umask(027);
        FolderResult subOpened;
        const FolderHandle sub = openFolder(tree.path() + "private/", subOpened);
        struct stat written
        {
        };
        if (!replaceFileAt(sub.fd(), "descript.ion", std::string_view("new\r\n")).ok()
            || ::stat(privateList.c_str(), &written) != 0 || (written.st_mode & 07777) != 0600)
            return 1;
        if (!replaceFileAt(sub.fd(), "fresh.ico", std::string_view("icon")).ok()
            || ::fstatat(sub.fd(), "fresh.ico", &written, 0) != 0
            || (written.st_mode & 07777) != 0640)
            return 2;
        return 0;
    });
    EXPECT_EQ(status, 0) << "1: the private list's mode, 2: a new file's mode";
}

/// Runs a child that holds a replacement file of the folder open until told to end.
class LockHolder
{
  public:
    explicit LockHolder(int folderFd)
    {
        int names[2] = {-1, -1};
        if (::pipe(names) != 0 || ::pipe(m_end) != 0)
            return;
        m_child = ::fork();
        if (m_child == 0) {
            FolderResult made;
            const ReplacementFile file = ReplacementFile::create(folderFd, made);
            const std::string& name = file.temporaryName();
            (void)!::write(names[1], name.data(), name.size());
            ::close(names[1]);
            char end = 0;
            (void)!::read(m_end[0], &end, 1);
            ::_exit(0);
        }
        ::close(names[1]);
        char buffer[64] = {};
        const ssize_t got = ::read(names[0], buffer, sizeof buffer);
        m_name.assign(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
        ::close(names[0]);
    }
    ~LockHolder() { end(); }

    const std::string& name() const { return m_name; }
    void end()
    {
        if (m_child <= 0)
            return;
        (void)!::write(m_end[1], "x", 1);
        ::waitpid(m_child, nullptr, 0);
        m_child = -1;
    }

  private:
    pid_t m_child = -1;
    int m_end[2] = {-1, -1};
    std::string m_name;
};

TEST_F(ReplacementFileTest, OnlyLeftoversNobodyHoldsAreRemoved)
{
    const std::string precious = outside.writeFile("precious", "precious bytes\n");
    // Pid 1 is always alive: an earlier version's file under it was never removed, and a run
    // in a container, being pid 1 itself, could not make its own.
    const std::string earlier = ".tagrelay-1-0.tmp";
    const std::string killed = ".tagrelay-0123456789abcdef.tmp";
    const std::string fresh = ".tagrelay-fedcba9876543210.tmp";
    const std::string linked = ".tagrelay-00000000000000aa.tmp";
    // Names of the same shape that no run of this program made: a user's own notes.
    const std::vector<std::string> users = {".tagrelay-12-notes.tmp", ".tagrelay-notes-1.tmp",
                                            ".tagrelay-0123456789abcdeg.tmp",
                                            ".tagrelay-0123456789abcde.tmp", ".tagrelay--.tmp"};
    for (const std::string& name : users) {
        tree.writeFile(name, "my notes");
        makeOld(name);
        EXPECT_FALSE(isTemporaryFileName(name)) << name;
        removeStaleTemporaryFile(folder.fd(), name);
        EXPECT_TRUE(exists(name)) << name;
    }
    tree.writeFile(earlier, "half a list");
    tree.writeFile(killed, "half a list");
    tree.writeFile(fresh, "half a list");
    link(precious, linked);
    LockHolder live(folder.fd());
    ASSERT_TRUE(isTemporaryFileName(live.name())) << live.name();
    for (const std::string& name : {earlier, killed, linked, live.name()})
        makeOld(name);

    for (const std::string& name : {earlier, killed, fresh, linked, live.name()})
        removeStaleTemporaryFile(folder.fd(), name);

    EXPECT_FALSE(exists(earlier));
    EXPECT_FALSE(exists(killed));
    EXPECT_TRUE(exists(fresh));
    EXPECT_TRUE(isLink(linked));
    EXPECT_EQ(readFileText(precious), "precious bytes\n");
    EXPECT_TRUE(exists(live.name()));

    live.end();
    removeStaleTemporaryFile(folder.fd(), live.name());
    EXPECT_FALSE(exists(live.name()));
}

} // namespace
} // namespace tagrelay
