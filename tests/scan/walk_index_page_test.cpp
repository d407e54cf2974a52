#include "scan/run_state.h"
#include "scan/walk.h"
#include "support/frame_bytes.h"
#include "support/id3_bytes.h"
#include "support/recording_reporter.h"
#include "support/support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace tagrelay {
namespace {

using test::readFileText;

/// The walk with index pages: one beside each list, following the folder, never another's.
class WalkIndexPageTest : public testing::Test
{
  protected:
    void walk(int htmlIndex)
    {
        run = RunState();
        run.settings.showTitle = 1;
        run.settings.htmlIndex = htmlIndex;
        describeDirectory(tree.path(), 0, reporter, run);
    }
    std::string page(const std::string& folder) const
    {
        return readFileText(tree.path() + folder + "index.html");
    }
    /// What tells a written file from one left alone: its inode and modification time.
    std::pair<ino_t, std::int64_t> stampOf(const std::string& relative) const
    {
        struct stat info
        {
        };
        EXPECT_EQ(::lstat((tree.path() + relative).c_str(), &info), 0) << relative;
        return {info.st_ino, info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec};
    }
    unsigned modeOf(const std::string& relative) const
    {
        struct stat info
        {
        };
        EXPECT_EQ(::lstat((tree.path() + relative).c_str(), &info), 0) << relative;
        return info.st_mode & 0777;
    }
    bool hasError(const std::string& text) const
    {
        return std::find(run.errors.begin(), run.errors.end(), text) != run.errors.end();
    }

    test::TempTree tree;
    test::TempTree outside;
    test::RecordingReporter reporter;
    RunState run;
};

TEST_F(WalkIndexPageTest, APageFollowsItsFolderAndAnotherPageIsNeverTouched)
{
    const auto song = [](const std::string& title) {
        return test::FrameStream()
            .raw(test::Id3v2Builder().textFrame("TIT2", title).bytes())
            .frames(20, test::FrameSpec{})
            .bytes();
    };
    tree.writeFile("song.mp3", song("Song <b>"));
    tree.writeFile("sub/notes.txt", "kept");
    tree.writeFile("foreign/a.mp3", song("A"));
    tree.writeFile("foreign/index.html", "<html>mine</html>");
    tree.writeFile("linked/a.mp3", song("A"));
    const std::string precious = outside.writeFile("page.html", "precious");
    ASSERT_EQ(::symlink(precious.c_str(), (tree.path() + "linked/index.html").c_str()), 0);
    tree.writeFile("private/a.mp3", song("Secret"));
    tree.writeFile("private/descript.ion", "");
    ::chmod((tree.path() + "private/descript.ion").c_str(), 0600);
    const bool asRoot = ::geteuid() == 0;
    if (asRoot) {
        ASSERT_EQ(::lchown((tree.path() + "private/descript.ion").c_str(), 65534, 65534), 0);
    }
    for (const char* folder : {"", "sub", "private"})
        ::chmod((tree.path() + folder).c_str(), 0755);
    ::chmod((tree.path() + "sub").c_str(), 0711); // others may enter it, not list it

    walk(0);
    EXPECT_FALSE(std::filesystem::exists(tree.path() + "index.html"));
    EXPECT_TRUE(run.errors.empty());

    walk(1);
    EXPECT_NE(page("").find("<td>Song &lt;b&gt;</td>"), std::string::npos) << page("");
    EXPECT_NE(page("").find("<a href=\"sub/\">sub/</a>"), std::string::npos);
    EXPECT_NE(page("sub/").find("<a href=\"notes.txt\">"), std::string::npos);
    EXPECT_EQ(page("foreign/"), "<html>mine</html>");
    EXPECT_EQ(readFileText(precious), "precious");
    EXPECT_TRUE(hasError("index.html left as it is: " + tree.path()
                         + "foreign/index.html (not written by Tagrelay)"));
    EXPECT_TRUE(hasError("index.html left as it is: " + tree.path()
                         + "linked/index.html (not a regular file)"));
    EXPECT_EQ(run.errors.size(), 2u);
    EXPECT_EQ(run.incompleteFolders, 0);
    // Readable by no more users than the list it shows and the listing of its folder.
    EXPECT_EQ(modeOf("private/index.html"), 0600u);
    struct stat owner
    {
    };
    ASSERT_EQ(::lstat((tree.path() + "private/index.html").c_str(), &owner), 0);
    EXPECT_EQ(owner.st_uid, asRoot ? 65534u : ::geteuid());
    EXPECT_EQ(modeOf("sub/index.html"), modeOf("sub/descript.ion") & ~0044u);

    const auto top = stampOf("index.html");
    const auto sub = stampOf("sub/index.html");
    walk(1);
    EXPECT_EQ(stampOf("index.html"), top);
    EXPECT_EQ(stampOf("sub/index.html"), sub);
    // A file the list does not describe changes the folder, and so its page, not its list.
    const std::string listBefore = readFileText(tree.path() + "sub/descript.ion");
    tree.writeFile("sub/more.txt", "new");
    walk(1);
    EXPECT_EQ(readFileText(tree.path() + "sub/descript.ion"), listBefore);
    EXPECT_NE(page("sub/").find("<a href=\"more.txt\">"), std::string::npos);
    EXPECT_EQ(stampOf("index.html"), top);
}

} // namespace
} // namespace tagrelay
