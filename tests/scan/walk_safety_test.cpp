#include "platform/folder.h"
#include "platform/replacement_file.h"
#include "scan/run_state.h"
#include "scan/walk.h"
#include "support/frame_bytes.h"
#include "support/id3_bytes.h"
#include "support/recording_reporter.h"
#include "support/support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>

namespace tagrelay {
namespace {

using test::inChild;

using test::readFileText;

/// The walk over trees a hostile user could make in a shared folder, as root or not: nothing
/// is written outside the tree or through a link, no list is lost, nothing passes in silence.
class WalkSafetyTest : public testing::Test
{
  protected:
    void walk() { describeDirectory(tree.path(), 0, reporter, run); }
    std::string list(const std::string& folder = "") const
    {
        return readFileText(tree.path() + folder + "descript.ion");
    }
    /// The entries of the error list that start with prefix.
    std::vector<std::string> errors(const std::string& prefix) const
    {
        std::vector<std::string> found;
        for (const auto& entry : run.errors) {
            if (entry.rfind(prefix, 0) == 0)
                found.push_back(entry);
        }
        return found;
    }
    void link(const std::string& target, const std::string& name) const
    {
        ASSERT_EQ(::symlink(target.c_str(), (tree.path() + name).c_str()), 0) << name;
    }

    test::TempTree tree;
    test::TempTree outside;
    test::RecordingReporter reporter;
    RunState run;
};

TEST_F(WalkSafetyTest, AListThatIsALinkIsNeverWrittenThrough)
{
    const std::string precious = outside.writeFile("v", "precious\n");
    tree.writeFile("t/a.mp3", "x");
    link(precious, "t/descript.ion");
    tree.writeFile("d/a.mp3", "x");
    link(outside.path() + "created-by-the-walk", "d/descript.ion");
    tree.writeFile("p/descript.ion", "\"old.mp3\" kept\r\n");
    tree.writeFile("p/sub/a.mp3", "x");
    link("../descript.ion", "p/sub/descript.ion");

    walk();

    EXPECT_EQ(readFileText(precious), "precious\n");
    EXPECT_FALSE(std::filesystem::exists(outside.path() + "created-by-the-walk"));
    EXPECT_EQ(list("p/"), "");
    for (const char* folder : {"t/", "d/", "p/sub/"}) {
        EXPECT_EQ(errors("descript.ion is not a regular file, folder not described: " + tree.path()
                         + folder)
                      .size(),
                  1u)
            << folder;
    }
    EXPECT_EQ(run.incompleteFolders, 3);
}

TEST_F(WalkSafetyTest, AListThatIsAFolderOrAFifoIsReported)
{
    tree.writeFile("dir/descript.ion/inner.mp3", "x");
    tree.makeDir("fifo");
    ASSERT_EQ(::mkfifo((tree.path() + "fifo/descript.ion").c_str(), 0600), 0);
    tree.writeFile("fifo/a.mp3", "x");

    walk();

    EXPECT_EQ(errors("descript.ion is not a regular file").size(), 2u);
    // The folder under the refused name is still described itself.
    EXPECT_EQ(list("dir/descript.ion/"), "\"inner.mp3\" \r\n");
}

TEST_F(WalkSafetyTest, LinksOutOfTheTreeAndIntoTheSystemAreNotEntered)
{
    outside.writeFile("elsewhere/a.mp3", "x");
    link(outside.path() + "elsewhere", "away");
    link("/dev", "dev");
    link("/proc", "proc");

    walk();

    EXPECT_FALSE(std::filesystem::exists(outside.path() + "elsewhere/descript.ion"));
    EXPECT_FALSE(std::filesystem::exists("/dev/descript.ion"));
    EXPECT_EQ(
        errors("Folder link leads out of the start folder, not entered: " + tree.path() + "away/")
            .size(),
        1u);
    // The system's folders are named as such, or (where /dev is a plain tmpfs, as in some
    // containers) as lying outside the tree.
    EXPECT_EQ(run.errors.size(), 3u);
    EXPECT_EQ(errors("Folder of the system, not entered: " + tree.path() + "proc/").size(), 1u);
    EXPECT_EQ(run.fileCount, 0);
}

TEST_F(WalkSafetyTest, SystemFoldersAreRecognised)
{
    for (const char* path : {"/proc", "/sys", "/dev/pts"}) {
        FolderResult result;
        const FolderHandle folder = openFolder(path, result);
        if (!folder.isOpen())
            continue;
        EXPECT_TRUE(isSystemFileSystem(folder.fd())) << path;
    }
    FolderResult result;
    const FolderHandle own = openFolder(tree.path(), result);
    EXPECT_FALSE(isSystemFileSystem(own.fd()));
}

TEST_F(WalkSafetyTest, FanningLinksDescribeEachFolderOnce)
{
    // d0 .. d16, each holding a file and two links to the next: 2^16 ways down.
    constexpr int depth = 16;
    for (int i = 0; i <= depth; ++i)
        tree.writeFile("d" + std::to_string(i) + "/song.mp3", "x");
    for (int i = 0; i < depth; ++i) {
        const std::string next = "../d" + std::to_string(i + 1);
        link(next, "d" + std::to_string(i) + "/a");
        link(next, "d" + std::to_string(i) + "/b");
    }

    walk();

    EXPECT_EQ(run.fileCount, depth + 1);
    for (int i = 0; i <= depth; ++i)
        EXPECT_EQ(list("d" + std::to_string(i) + "/"), "\"song.mp3\" \r\n") << i;
}

TEST_F(WalkSafetyTest, AFullDiskKeepsTheOldListAndSaysSo)
{
    const std::string old = "\"old.mp3\" the list before\r\n";
    tree.writeFile("descript.ion", old);
    for (int i = 0; i < 50; ++i)
        tree.writeFile("song" + std::to_string(i) + ".mp3", "x");

    // The limit on file size stands in for a full disk: the new list does not fit.
    const int code = inChild([this] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100, 100};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 3;
        RunState childRun;
        test::RecordingReporter childReporter;
        describeDirectory(tree.path(), 0, childReporter, childRun);
        const bool reported =
            childRun.incompleteFolders == 1
            && childRun.errors.back().rfind("descript.ion could not be written: ", 0) == 0;
        return reported ? 0 : 4;
    });

    EXPECT_EQ(code, 0);
    EXPECT_EQ(list(), old);
    for (const auto& entry : std::filesystem::directory_iterator(tree.path()))
        EXPECT_FALSE(isTemporaryFileName(entry.path().filename().string())) << entry.path();
}

TEST_F(WalkSafetyTest, AReplacedListKeepsItsModeAndAStaleTemporaryFileGoes)
{
    const std::string path = tree.writeFile("descript.ion", "old\r\n");
    ::chmod(path.c_str(), 0640);
    tree.writeFile("a.mp3", "x");
    // Left by a walk that was killed a while ago: nobody holds it, and it is old.
    const std::string stale = tree.writeFile(".tagrelay-4194305-0.tmp", "half a list");
    const timespec longAgo[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, stale.c_str(), longAgo, 0), 0);

    walk();

    EXPECT_EQ(list(), "\"a.mp3\" \r\n");
    struct stat info
    {
    };
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_FALSE(std::filesystem::exists(tree.path() + ".tagrelay-4194305-0.tmp"));
}

TEST_F(WalkSafetyTest, TwoWalksAtOnceEachLeaveAWholeList)
{
    for (int i = 0; i < 300; ++i)
        tree.writeFile("sub/" + std::to_string(i) + ".mp3", "x");
    const auto walkOnce = [this] {
        RunState own;
        test::RecordingReporter ownReporter;
        describeDirectory(tree.path(), 0, ownReporter, own);
        return own.incompleteFolders;
    };
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(walkOnce());
    EXPECT_EQ(walkOnce(), 0);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const std::string written = list("sub/");
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 300);
}

TEST_F(WalkSafetyTest, AnAbandonedWalkPutsItsLinesSoFarInPlace)
{
    // On the walk's own thread the scan asks the front end for every frame: polls count files.
    run.analysisWorkers = 1;
    tree.writeFile("descript.ion", "\"old.mp3\" gone\r\n");
    for (int i = 0; i < 5; ++i)
        tree.writeFile(std::to_string(i) + ".mp3", "x");
    reporter.stopAtPoll = 3;

    walk();

    EXPECT_TRUE(run.closeRequested);
    const std::string written = list();
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 3); // a poll after each file
}

/// A stop is seen at every entry and folder, not only at the files the walk describes: in a
/// deep tree of folders and other files it ends the walk at once.
TEST_F(WalkSafetyTest, AStopIsSeenInATreeWithNothingToDescribe)
{
    class SignalledReporter : public test::RecordingReporter
    {
      public:
        void entryStarted() override { ++entries; }
        bool isStopRequested() const override { return entries >= 5; }
        int entries = 0;
    };
    std::string folder;
    for (int i = 0; i < 200; ++i) {
        folder += "d/";
        tree.writeFile(folder + "notes.txt", "x");
    }
    SignalledReporter signalled;
    describeDirectory(tree.path(), 0, signalled, run);
    EXPECT_TRUE(run.closeRequested);
    EXPECT_EQ(signalled.entries, 5);
}

/// A start path through another user's link is refused unless the run allows it; links of
/// root's and the user's own are followed.
TEST_F(WalkSafetyTest, AStartThroughAnotherUsersLinkIsRefused)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to plant a link of another user";
    tree.writeFile("real/a.mp3", "x");
    const std::string share = tree.makeDir("share");
    ASSERT_EQ(::symlink((tree.path() + "real").c_str(), (share + "link").c_str()), 0);
    ASSERT_EQ(::lchown((share + "link").c_str(), 65534, 65534), 0);
    ASSERT_EQ(::symlink((tree.path() + "real").c_str(), (tree.path() + "own").c_str()), 0);

    describeDirectory(share + "link/", 0, reporter, run);
    EXPECT_EQ(run.errors,
              std::vector<std::string>{"Folder could not be entered: " + share + "link/ (" + share
                                       + "link is a link of another user)"});
    EXPECT_FALSE(std::filesystem::exists(tree.path() + "real/descript.ion"));

    RunState allowed;
    allowed.followsStartLink = true;
    describeDirectory(share + "link/", 0, reporter, allowed);
    EXPECT_EQ(allowed.incompleteFolders, 0);
    EXPECT_TRUE(std::filesystem::exists(tree.path() + "real/descript.ion"));

    RunState own;
    describeDirectory(tree.path() + "own/", 0, reporter, own);
    EXPECT_EQ(own.incompleteFolders, 0);
}

TEST_F(WalkSafetyTest, DepthAndPathLengthAreLimitedByMemoryAlone)
{
    // Deeper than the open-file limit the walk gets, and a path far over 4096 bytes.
    constexpr int depth = 60;
    const std::string name(200, 'n');
    // Made through folder handles: the paths are longer than the system takes in one piece.
    FolderResult result;
    FolderHandle folder = openFolder(tree.path(), result);
    for (int i = 0; i < depth; ++i) {
        ASSERT_EQ(::mkdirat(folder.fd(), name.c_str(), 0755), 0) << i;
        folder = openFolderAt(folder.fd(), name, result);
        ASSERT_TRUE(folder.isOpen());
        if (i == depth / 2 || i == depth - 1) {
            ASSERT_TRUE(replaceFileAt(folder.fd(), "song.mp3", std::string_view("x")).ok());
        }
    }

    const int code = inChild([this] {
        const rlimit limit{40, 40};
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
            return 3;
        RunState childRun;
        test::RecordingReporter childReporter;
        describeDirectory(tree.path(), 0, childReporter, childRun);
        return childRun.fileCount == 2 && childRun.incompleteFolders == 0 ? 0 : 4;
    });
    EXPECT_EQ(code, 0);

    folder = openFolder(tree.path(), result);
    for (int i = 0; i < depth; ++i)
        folder = openFolderAt(folder.fd(), name, result);
    const int fd = ::openat(folder.fd(), "descript.ion", O_RDONLY);
    ASSERT_GE(fd, 0);
    char bytes[64] = {};
    EXPECT_EQ(::read(fd, bytes, sizeof bytes), 13);
    ::close(fd);
    EXPECT_EQ(std::string(bytes), "\"song.mp3\" \r\n");
}

TEST_F(WalkSafetyTest, FoldersThatCannotBeEnteredOrWrittenAreReported)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to drop to another user";
    tree.writeFile("closed/a.mp3", "x");
    tree.writeFile("readonly/a.mp3", "x");
    ::chmod(tree.path().c_str(), 0777);
    ::chmod((tree.path() + "closed").c_str(), 0300);
    ::chmod((tree.path() + "readonly").c_str(), 0555);

    const int code = inChild([this] {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            return 3;
        RunState childRun;
        test::RecordingReporter childReporter;
        describeDirectory(tree.path(), 0, childReporter, childRun);
        const auto has = [&](const std::string& text) {
            return std::find(childRun.errors.begin(), childRun.errors.end(), text)
                   != childRun.errors.end();
        };
        const bool listed =
            has("Folder could not be entered: " + tree.path() + "closed/ (Permission denied)");
        const bool written = has("Folder cannot be written, not described: " + tree.path()
                                 + "readonly/ (Permission denied)");
        return listed && written && childRun.incompleteFolders == 2 ? 0 : 4;
    });
    EXPECT_EQ(code, 0);
}

TEST_F(WalkSafetyTest, HugeFilesCostLittleTimeAndMemory)
{
    // A 200 MB title frame and a 20 GB file of zeros, both sparse: neither may be read whole
    // nor held.
    const auto title = tree.writeFile(
        "title.mp3",
        test::Id3v2Builder().rawFrame("TIT2", {0, 'B', 'i', 'g'}, 200 * 1024 * 1024).bytes());
    const auto zeros = tree.writeFile("zeros.mp3", "");
    if (::truncate(title.c_str(), 210LL * 1024 * 1024) != 0
        || ::truncate(zeros.c_str(), 20LL * 1024 * 1024 * 1024) != 0)
        GTEST_SKIP() << "no sparse files here";
    run.settings.showTitle = run.settings.showBitrate = 1;
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);

    walk();

    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 32 * 1024);
    EXPECT_EQ(errors("No MPEG audio frame found: ").size(), 2u);
    EXPECT_NE(list().find("\"title.mp3\" Big - 0 kbs CBR\r\n"), std::string::npos);
}

} // namespace
} // namespace tagrelay
