// The command-line program over trees that are damaged or built by a hostile user: every
// damaged file is named in the list of files with errors, nothing outside the tree is written,
// and memory does not grow with the depth of the tree.

#include "support/cli_runner.h"
#include "support/frame_bytes.h"
#include "support/id3_bytes.h"
#include "support/picture_bytes.h"
#include "support/support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

namespace tagrelay {
namespace {

using test::Bytes;
using test::TempTree;

Bytes randomBytes(std::size_t count, unsigned seed)
{
    std::mt19937 generator(seed);
    Bytes bytes(count);
    for (auto& byte : bytes)
        byte = static_cast<std::uint8_t>(generator());
    return bytes;
}

struct DamagedCase
{
    const char* name;
    const char* file;
    Bytes bytes;
    const char* entry; // the start of the error entry that names the file; "" for any entry
};

class CliDamagedFileTest : public testing::TestWithParam<DamagedCase>
{
};

TEST_P(CliDamagedFileTest, IsNamedInTheListOfFilesWithErrors)
{
    TempTree music, work, scratch;
    const DamagedCase& row = GetParam();
    const std::string path = music.writeFile(row.file, row.bytes);
    music.writeFile("good.mp3", test::FrameStream().paddedFrames(200, test::FrameSpec{}).bytes());

    const test::CliResult result = test::runCli(
        {"--title", "--bitrate", "--picture-size", music.path()}, work.path(), scratch.path());

    EXPECT_EQ(result.exitCode, 0) << "damaged files are facts, not failures of the walk";
    const std::string named = row.entry[0] == '\0' ? path : std::string(row.entry) + path;
    EXPECT_NE(result.out.find(named), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("1 entry in the list of files with errors"), std::string::npos)
        << result.out;
    // The line the damaged file gets stays as it always was.
    EXPECT_NE(test::readFileText(music.path() + "descript.ion").find("\"" + std::string(row.file)),
              std::string::npos);
}

Bytes headerThenNoise()
{
    Bytes bytes = test::FrameStream().paddedFrames(1, test::FrameSpec{}).bytes();
    const Bytes noise = randomBytes(4000, 7);
    bytes.resize(4); // the first frame's header alone
    bytes.insert(bytes.end(), noise.begin(), noise.end());
    // No second frame where the first would end.
    std::fill(bytes.begin() + 400, bytes.begin() + 430, std::uint8_t{0});
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Damaged, CliDamagedFileTest,
    testing::Values(DamagedCase{"RandomBytesAsMp3", "corrupt.mp3", randomBytes(20000, 1), ""},
                    DamagedCase{"OneHeaderThenNoise", "noise.mp3", headerThenNoise(),
                                "No MPEG audio frame found: "},
                    DamagedCase{"EmptyJpeg", "empty.jpg", {}, "Picture could not be loaded: "},
                    DamagedCase{"GarbageJpeg", "garbage.jpg", randomBytes(5000, 3),
                                "Picture could not be loaded: "}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(CliHostileTest, APictureTooLargeForAnIconKeepsItsLineAndIsNamed)
{
    TempTree music, work, scratch;
    const std::string path =
        music.writeFile("huge.jpg", test::jpegFile(test::solidImage(64, 48, {1, 2, 3})));
    // Sparse: 257 MiB on paper, a few blocks on disk.
    ASSERT_EQ(::truncate(path.c_str(), off_t{257} << 20), 0);

    const test::CliResult result = test::runCli({"--picture-size", "--picture-icons", music.path()},
                                                work.path(), scratch.path());

    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(test::readFileText(music.path() + "descript.ion"),
              "\"huge.jpg\" 64 x 48 pixel 24 Bit\r\n");
    EXPECT_NE(result.out.find("Picture too large for an icon (over 256 MiB): " + path),
              std::string::npos)
        << result.out;
    EXPECT_FALSE(std::filesystem::exists(path + ".ico"));
}

/// Removes a tree of any depth, folder by folder through descriptors (paths of a deep tree
/// are longer than the system takes).
void removeTree(int parentFd, const std::string& name)
{
    const int fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd >= 0) {
        for (const auto& entry :
             std::filesystem::directory_iterator("/proc/self/fd/" + std::to_string(fd))) {
            const std::string child = entry.path().filename().string();
            if (::unlinkat(fd, child.c_str(), 0) != 0)
                removeTree(fd, child);
        }
        ::close(fd);
    }
    ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR);
}

TEST(CliHostileTest, ATreeFourThousandDeepIsWalkedInLittleMemory)
{
    constexpr int depth = 4000;
    const std::string name(250, 'd');
    TempTree music, work, scratch;
    int fd = ::open(music.path().c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < depth && fd >= 0; ++level) {
        ASSERT_EQ(::mkdirat(fd, name.c_str(), 0755), 0) << level;
        const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    ASSERT_GE(fd, 0);
    const int song = ::openat(fd, "song.mp3", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(song, 0);
    ::close(song);

    const std::string outPath = scratch.path() + "out.txt";
    const pid_t child = test::startCli({music.path()}, work.path(), outPath, outPath + ".err");
    int status = 0;
    rusage usage{};
    ASSERT_EQ(::wait4(child, &status, 0, &usage), child);

    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << test::readFileText(outPath);
    EXPECT_LT(usage.ru_maxrss, 64 * 1024) << "peak memory in KiB";
    char list[64] = {};
    const int written = ::openat(fd, "descript.ion", O_RDONLY);
    ASSERT_GE(written, 0) << "the deepest folder has its list";
    EXPECT_EQ(::read(written, list, sizeof list), 13);
    EXPECT_STREQ(list, "\"song.mp3\" \r\n");
    ::close(written);
    ::close(fd);
    const int top = ::open(music.path().c_str(), O_RDONLY | O_DIRECTORY);
    removeTree(top, name);
    ::close(top);
}

TEST(CliHostileTest, ALinkIntoAnotherUsersMountNamespaceWritesNothingOutside)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to play the other user";
    TempTree root, work, scratch;
    const std::string tree = root.makeDir("tree");
    const std::string victim = root.makeDir("victim");
    root.writeFile("victim/pic.jpg", test::jpegFile(test::solidImage(20, 10, {1, 2, 3})));
    root.makeDir("tree/nstree/inner");
    ::chmod(root.path().c_str(), 0755);
    ::chown((tree + "nstree").c_str(), 65534, 65534);
    const std::string pidFile = scratch.path() + "pid";
    ::chmod(scratch.path().c_str(), 0777);

    // The other user mounts the victim folder over a folder of the tree in a namespace of
    // their own, then plants a link that reaches it through /proc/<pid>/root.
    const std::string start =
        "setpriv --reuid=65534 --regid=65534 --clear-groups unshare -Urm sh -c"
        " 'mount --bind "
        + victim + " " + tree + "nstree/inner && echo $$ > " + pidFile
        + " && exec sleep 60' >/dev/null 2>&1 &";
    ASSERT_EQ(std::system(start.c_str()), 0);
    std::string pid;
    for (int i = 0; i < 100 && pid.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pid = test::readFileText(pidFile);
    }
    if (pid.empty())
        GTEST_SKIP() << "the kernel refuses user and mount namespaces to other users here";
    while (!pid.empty() && (pid.back() == '\n'))
        pid.pop_back();
    const std::string esc = tree + "nstree/esc";
    const std::string target = "/proc/" + pid + "/root" + tree + "nstree/inner";
    ASSERT_EQ(::symlink(target.c_str(), esc.c_str()), 0);
    ASSERT_EQ(::lchown(esc.c_str(), 65534, 65534), 0);

    const test::CliResult result =
        test::runCli({"--picture-size", "--picture-icons", tree}, work.path(), scratch.path());
    ::kill(std::stoi(pid), SIGKILL);

    EXPECT_FALSE(std::filesystem::exists(victim + "descript.ion")) << result.out;
    EXPECT_FALSE(std::filesystem::exists(victim + "pic.jpg.ico"));
}

// Inode numbers repeat across file systems all the time: the first folder made on each new
// tmpfs gets the same one. A link of another user from the tree on one to a file on the other
// leads out of the tree, though the two folders' inodes are equal.
TEST(CliHostileTest, AFolderOfAnotherFileSystemWithTheSameInodeIsOutside)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to mount file systems";
    TempTree root, work;
    const test::Bytes tag = test::Id3v2Builder(3).textFrame("TPE1", "Secret Artist").bytes();
    root.writeFile("song.mp3",
                   test::join({tag, test::FrameStream().frames(60, test::FrameSpec{}).bytes()}));
    const std::string a = root.makeDir("a"), b = root.makeDir("b");
    const std::string out = root.path() + "out";
    const std::string script =
        "unshare -m sh -c 'mount --make-rprivate / && mount -t tmpfs t " + a
        + " && mount -t tmpfs t " + b + " && mkdir " + a + "music " + b + "secret && cp "
        + root.path() + "song.mp3 " + b + "secret/ && ln -s " + b + "secret/song.mp3 " + a
        + "music/song.mp3 && chown -h 65534:65534 " + a + "music/song.mp3 && stat -c %i " + a
        + "music " + b + "secret > " + out + ".inodes && cd " + work.path() + " && "
        + TAGRELAY_CLI_PATH + " --artist " + a + "music > " + out + ".log 2>&1; cat " + a
        + "music/descript.ion > " + out + ".list 2>/dev/null; true' 2>" + out + ".err";
    if (std::system(script.c_str()) != 0 || test::readFileText(out + ".inodes").empty())
        GTEST_SKIP() << "no mount namespace here: " << test::readFileText(out + ".err");
    const std::string inodes = test::readFileText(out + ".inodes");
    const auto lineEnd = inodes.find('\n');
    ASSERT_NE(lineEnd, std::string::npos);
    if (inodes.substr(0, lineEnd + 1) != inodes.substr(lineEnd + 1))
        GTEST_SKIP() << "the two folders got different inodes here: " << inodes;

    const std::string log = test::readFileText(out + ".log");
    EXPECT_EQ(test::readFileText(out + ".list").find("Secret"), std::string::npos) << log;
    EXPECT_NE(log.find("Link of another user leads out of the start folder, not followed"),
              std::string::npos)
        << log;
}

} // namespace
} // namespace tagrelay
