#include "cache/description_cache.h"
#include "cache/description_cache_record.h"
#include "platform/file_stamp.h"
#include "scan/outcome_cache.h"
#include "support/support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>

namespace tagrelay {
namespace {

struct ErrorEntriesCase
{
    const char* name;
    std::vector<std::string> entries; // naming /old/a.mp3
    /// The entries once the file is at /new/b.mp3; nothing when they cannot be cached.
    std::optional<std::vector<std::string>> moved;
};

class ErrorEntriesTest : public testing::TestWithParam<ErrorEntriesCase>
{
};

TEST_P(ErrorEntriesTest, FollowTheFileOrAreRefused)
{
    const auto& row = GetParam();
    const auto bytes = encodeErrorEntries(row.entries, "/old/a.mp3");
    ASSERT_EQ(bytes.has_value(), row.moved.has_value());
    if (bytes) {
        EXPECT_EQ(decodeErrorEntries(*bytes, "/new/b.mp3"), row.moved);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Entries, ErrorEntriesTest,
    testing::Values(
        ErrorEntriesCase{"None", {}, std::vector<std::string>{}},
        ErrorEntriesCase{
            "PathAtTheEnd",
            {"frame header error : /old/a.mp3", "auch hier ein kleines Problem: /old/a.mp3"},
            std::vector<std::string>{"frame header error : /new/b.mp3",
                                     "auch hier ein kleines Problem: /new/b.mp3"}},
        ErrorEntriesCase{"PathAtTheStart",
                         {"/old/a.mp3 please write a new id3 tag "},
                         std::vector<std::string>{"/new/b.mp3 please write a new id3 tag "}},
        ErrorEntriesCase{"NoPathAndAnEmptyEntry",
                         {"no path here", ""},
                         std::vector<std::string>{"no path here", ""}},
        ErrorEntriesCase{"PathTwice", {"/old/a.mp3 and /old/a.mp3"}, std::nullopt},
        ErrorEntriesCase{"PathTwiceInARow", {"/old/a.mp3/old/a.mp3"}, std::nullopt},
        ErrorEntriesCase{
            "ZeroByteOutsideThePath", {std::string("bad\0 /old/a.mp3", 15)}, std::nullopt},
        ErrorEntriesCase{"MarkByteOutsideThePath", {"bad\1 /old/a.mp3"}, std::nullopt}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ErrorEntriesDecodeTest, RefusesBytesTheEncoderNeverMakes)
{
    EXPECT_FALSE(decodeErrorEntries("no end", "/p"));
    EXPECT_FALSE(decodeErrorEntries(std::string("\1 twice \1\0", 10), "/p"));
    EXPECT_EQ(decodeErrorEntries(std::string("a\0\1\0", 4), "/p"),
              (std::vector<std::string>{"a", "/p"}));
}

TEST(FileStampTest, ReadsRegularFilesOnlyAndTrustsThemOnceSettled)
{
    test::TempTree tree;
    tree.writeFile("a.mp3", "12345");
    ASSERT_EQ(::symlink("a.mp3", (tree.path() + "link.mp3").c_str()), 0);
    ASSERT_EQ(::mkfifo((tree.path() + "fifo.mp3").c_str(), 0600), 0);
    const int folder = ::open(tree.path().c_str(), O_DIRECTORY | O_RDONLY);
    ASSERT_GE(folder, 0);

    const auto file = readStampAt(folder, "a.mp3", LinkRule::NoFollow);
    ASSERT_TRUE(file);
    struct stat info
    {
    };
    ASSERT_EQ(::stat((tree.path() + "a.mp3").c_str(), &info), 0);
    EXPECT_EQ(file->stamp.inode, info.st_ino);
    EXPECT_EQ(file->stamp.size, 5);
    EXPECT_EQ(file->stamp.changedNs, info.st_ctim.tv_sec * 1'000'000'000LL + info.st_ctim.tv_nsec);
    EXPECT_EQ(readStampAt(folder, "link.mp3", LinkRule::Follow)->stamp, file->stamp);
    EXPECT_FALSE(readStampAt(folder, "link.mp3", LinkRule::NoFollow));
    EXPECT_FALSE(readStampAt(folder, "fifo.mp3", LinkRule::Follow));
    EXPECT_FALSE(readStampAt(folder, "missing.mp3", LinkRule::Follow));

    // An icon is in place while it is the very file written; a link to it is not.
    CachedFile cached;
    EXPECT_TRUE(isIconInPlace(folder, "b.mp3", cached)) << "no icon was written";
    tree.writeFile("b.mp3.ico", "icon");
    cached.icon = readStampAt(folder, "b.mp3.ico", LinkRule::NoFollow)->stamp;
    EXPECT_TRUE(isIconInPlace(folder, "b.mp3", cached));
    ASSERT_EQ(::rename((tree.path() + "a.mp3").c_str(), (tree.path() + "b.mp3.ico").c_str()), 0);
    EXPECT_FALSE(isIconInPlace(folder, "b.mp3", cached)) << "replaced";
    ASSERT_EQ(::symlink("b.mp3.ico", (tree.path() + "c.mp3.ico").c_str()), 0);
    const auto linked = readStampAt(folder, "c.mp3.ico", LinkRule::Follow);
    ASSERT_TRUE(linked);
    cached.icon = linked->stamp;
    EXPECT_FALSE(isIconInPlace(folder, "c.mp3", cached)) << "a link";
    ::close(folder);

    // Just written: a change within the file system's time step would not show.
    EXPECT_FALSE(isSettled(*file));
    StampReading later = *file;
    later.readAtNs = file->stamp.changedNs + settleTimeNs;
    EXPECT_TRUE(isSettled(later));
}

TEST(DefaultCachePlaceTest, IsMadeForTheUserAloneUnderXdgCacheHome)
{
    test::TempTree tree;
    const char* oldXdg = std::getenv("XDG_CACHE_HOME");
    const std::string kept = oldXdg != nullptr ? oldXdg : "";
    ::setenv("XDG_CACHE_HOME", (tree.path() + "xdg/cache").c_str(), 1);
    const std::string path = defaultDescriptionCachePath();
    ::setenv("XDG_CACHE_HOME", "relative/is/ignored", 1);
    const std::string fromHome = defaultDescriptionCachePath();
    if (oldXdg != nullptr)
        ::setenv("XDG_CACHE_HOME", kept.c_str(), 1);
    else
        ::unsetenv("XDG_CACHE_HOME");
    EXPECT_EQ(path, tree.path() + "xdg/cache/tagrelay/descriptions.sqlite");
    EXPECT_TRUE(fromHome.ends_with("/.cache/tagrelay/descriptions.sqlite")) << fromHome;

    std::vector<std::string> warnings;
    {
        DescriptionCacheSetup setup;
        setup.path = path;
        setup.makesFolders = true;
        DescriptionCache cache(setup, [&](const std::string& text) { warnings.push_back(text); });
        EXPECT_TRUE(cache.isOn());
    }
    EXPECT_TRUE(warnings.empty());
    const auto modeOf = [](const std::string& name) {
        struct stat info
        {
        };
        return ::stat(name.c_str(), &info) == 0 ? info.st_mode & 07777 : 0u;
    };
    EXPECT_EQ(modeOf(tree.path() + "xdg"), 0700u);
    EXPECT_EQ(modeOf(tree.path() + "xdg/cache/tagrelay"), 0700u);
    EXPECT_EQ(modeOf(path), 0600u);
}

/// The cache's place is judged on the way there as the tree is: as root, another user's link
/// on the way (here XDG_CACHE_HOME under a shared folder, leading to a folder of root's) is
/// refused before anything is made behind it; links of root's and of the user's own are taken.
TEST(CachePlaceTest, AnotherUsersLinkOnTheWayIsNotFollowed)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to plant a link of another user";
    test::TempTree tree;
    const std::string rootsFolder = tree.makeDir("roots");
    const std::string share = tree.makeDir("share");
    ASSERT_EQ(::chown(share.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::symlink(rootsFolder.c_str(), (share + "evil").c_str()), 0);
    ASSERT_EQ(::lchown((share + "evil").c_str(), 65534, 65534), 0);
    ASSERT_EQ(::symlink(rootsFolder.c_str(), (tree.path() + "own").c_str()), 0);

    const CachePlace refused = prepareCachePlace(share + "evil/tagrelay/descriptions.sqlite", true);
    EXPECT_EQ(refused.unsafeReason, "the folder " + share + "evil is a link of another user");
    EXPECT_FALSE(std::filesystem::exists(rootsFolder + "tagrelay"));

    const CachePlace taken =
        prepareCachePlace(tree.path() + "own/tagrelay/descriptions.sqlite", true);
    EXPECT_EQ(taken.unsafeReason, "");
    EXPECT_TRUE(std::filesystem::exists(rootsFolder + "tagrelay/descriptions.sqlite"));
}

} // namespace
} // namespace tagrelay
