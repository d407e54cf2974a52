#include "platform/tree_guard.h"
#include "scan/run_state.h"
#include "scan/walk.h"
#include "scan/walk_context.h"
#include "scan/walk_reporter.h"
#include "support/frame_bytes.h"
#include "support/id3_bytes.h"
#include "support/picture_bytes.h"
#include "support/support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>

namespace tagrelay {
namespace {

using test::readFileText;

constexpr uid_t otherUser = 65534; // nobody

/// A front end that calls a hook when a file is being analysed.
struct HookedReporter : WalkReporter
{
    std::function<void(const std::string&)> onAnalysing;
    void analysing(const std::string& fullPath) override
    {
        if (onAnalysing)
            onAnalysing(fullPath);
    }
};

/// The walk against links and moves that would take it out of the tree it was given: links are
/// judged by where they lead (found by the folders above the target, not by path text) and by
/// who planted them.
class TreeGuardWalkTest : public testing::Test
{
  protected:
    TreeGuardWalkTest()
    {
        run.settings.showTitle = run.settings.showPictureSize = run.settings.makePictureIcons = 1;
        run.settings.iconSize = 32;
    }

    void walk() { describeDirectory(tree.path(), 0, reporter, run); }
    std::string list(const std::string& folder = "") const
    {
        return readFileText(tree.path() + folder + "descript.ion");
    }
    bool hasError(const std::string& entry) const
    {
        return std::find(run.errors.begin(), run.errors.end(), entry) != run.errors.end();
    }
    /// A link at name in the tree, owned by owner.
    void link(const std::string& target, const std::string& name, uid_t owner) const
    {
        const std::string path = tree.path() + name;
        ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0) << name;
        ASSERT_EQ(::lchown(path.c_str(), owner, owner), 0) << name;
    }

    test::TempTree tree;
    test::TempTree outside;
    HookedReporter reporter;
    RunState run;
};

struct LinkCase
{
    const char* name;
    const char* entry;     // the link's name in the tree
    const char* target;    // where it leads: "outside:" + path, or a path in the tree
    bool byOtherUser;      // the link belongs to nobody, not to the user walking
    const char* wantLine;  // the list's line for the entry, or "" for none
    const char* refusedAs; // the path the refusal names, in the tree; "" for none
};

/// "hop/../" again and again, then end: a way of many names that stays in the tree.
const char* windingWay(int turns, const std::string& end)
{
    static std::map<std::string, std::string> ways;
    std::string& way = ways[std::to_string(turns) + end];
    if (way.empty()) {
        for (int i = 0; i < turns; ++i)
            way += "hop/../";
        way += end;
    }
    return way.c_str();
}

class TreeGuardLinkTest : public TreeGuardWalkTest, public testing::WithParamInterface<LinkCase>
{
};

TEST_P(TreeGuardLinkTest, FollowsALinkOnlyWhereItMayLead)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "links of another user need root to be made";
    const LinkCase& row = GetParam();
    outside.writeFile("private/secret.jpg", test::jpegFile(test::solidImage(64, 48, {9, 9, 9})));
    outside.writeFile("private/secret.mp3",
                      test::Id3v2Builder().textFrame("TIT2", "Secret").bytes());
    tree.writeFile("inside.jpg", test::jpegFile(test::solidImage(20, 10, {1, 2, 3})));
    tree.writeFile("hop/inner.jpg", test::jpegFile(test::solidImage(20, 10, {1, 2, 3})));
    // A link of nobody's in the tree, for chains that pass through it.
    link(outside.path() + "private/secret.jpg", "hop/theirs.jpg", otherUser);
    // And one that winds on for 603 names, for ways that go on through it.
    std::string winding;
    for (int i = 0; i < 300; ++i)
        winding += "../hop/";
    link(winding + "inner.jpg", "hop/winding.jpg", ::geteuid());
    std::string target = row.target;
    if (target.starts_with("outside:"))
        target = outside.path() + target.substr(8);
    link(target, row.entry, row.byOtherUser ? otherUser : ::geteuid());

    walk();

    const std::string entryPath = tree.path() + row.entry;
    const std::string listed = list();
    const std::string quoted = std::string("\"") + row.entry + "\"";
    if (row.wantLine[0] == '\0')
        EXPECT_EQ(listed.find(quoted), std::string::npos) << listed;
    else
        EXPECT_NE(listed.find(quoted + " " + row.wantLine + "\r\n"), std::string::npos) << listed;
    const std::string refusal =
        "Link of another user leads out of the start folder, not followed: ";
    // The link of nobody's that chains pass through is refused wherever they start.
    EXPECT_TRUE(hasError(refusal + tree.path() + "hop/theirs.jpg"));
    const auto refusals =
        std::count_if(run.errors.begin(), run.errors.end(),
                      [&](const std::string& e) { return e.starts_with(refusal + entryPath); });
    if (row.refusedAs[0] == '\0') {
        EXPECT_EQ(refusals, 0);
    } else {
        EXPECT_TRUE(hasError(refusal + tree.path() + row.refusedAs))
            << testing::PrintToString(run.errors);
        EXPECT_FALSE(std::filesystem::exists(entryPath + ".ico"));
    }
    EXPECT_FALSE(std::filesystem::exists(outside.path() + "private/descript.ion"));
}

INSTANTIATE_TEST_SUITE_P(
    Links, TreeGuardLinkTest,
    testing::Values(LinkCase{"AnotherUsersPictureLinkOut", "leak.jpg", "outside:private/secret.jpg",
                             true, "", "leak.jpg"},
                    LinkCase{"AnotherUsersMp3LinkOut", "leak.mp3", "outside:private/secret.mp3",
                             true, "", "leak.mp3"},
                    LinkCase{"AnotherUsersFolderLinkOut", "away", "outside:private", true, "",
                             "away/"},
                    LinkCase{"OwnPictureLinkOutIsRead", "mine.jpg", "outside:private/secret.jpg",
                             false, "64 x 48 pixel 24 Bit", ""},
                    LinkCase{"AnotherUsersLinkInsideTheTree", "same.jpg", "inside.jpg", true,
                             "20 x 10 pixel 24 Bit", ""},
                    LinkCase{"AnotherUsersRelativeLinkInside", "up.jpg", "hop/../hop/inner.jpg",
                             true, "20 x 10 pixel 24 Bit", ""},
                    LinkCase{"OwnLinkThroughAnotherUsersLinkOut", "chain.jpg", "hop/theirs.jpg",
                             false, "", "chain.jpg"},
                    // Judged by the folders of the walk it meets, however many names it takes,
                    // up to the 1024 names followed for one entry; past them, as a file that
                    // cannot be opened.
                    LinkCase{"AnotherUsersLongWayInside", "long.jpg",
                             windingWay(300, "hop/inner.jpg"), true, "20 x 10 pixel 24 Bit", ""},
                    LinkCase{"AnotherUsersWayTooLong", "endless.jpg",
                             windingWay(300, "hop/winding.jpg"), true, "0 x 0 pixel 0 Bit", ""}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(TreeGuardWalkTest, AFolderMovedOutOfTheTreeDuringTheWalkIsNotWritten)
{
    // The folder itself, or a folder two levels above it: that move leaves every step below
    // it as it was, and is seen once the whole chain is checked again.
    for (const std::string moved : {"album", "outer"}) {
        const std::string folder = moved == "album" ? "album/" : "outer/mid/album/";
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
            tree.writeFile(folder + name, test::jpegFile(test::solidImage(20, 10, {1, 2, 3})));
        const std::string movedTo = outside.path() + moved;
        bool done = false;
        // Pictures show nothing, so the move is made when the walk asks about an entry.
        struct MovingReporter : WalkReporter
        {
            std::function<void()> onEntry;
            void entryStarted() override { onEntry(); }
        } mover;
        int entries = 0;
        const int moveAt = moved == "album" ? 3 : 5;
        mover.onEntry = [&] {
            if (++entries == moveAt && !done) {
                std::this_thread::sleep_for(chainCheckInterval + std::chrono::milliseconds(50));
                done = std::rename((tree.path() + moved).c_str(), movedTo.c_str()) == 0;
            }
        };
        RunState walkRun = run;
        describeDirectory(tree.path(), 0, mover, walkRun);

        ASSERT_TRUE(done) << moved;
        const std::string movedFolder = outside.path() + folder;
        EXPECT_FALSE(std::filesystem::exists(movedFolder + "descript.ion")) << moved;
        const auto errors = walkRun.errors;
        EXPECT_NE(std::find(errors.begin(), errors.end(),
                            "Folder changed during the walk, not described further: " + tree.path()
                                + folder),
                  errors.end())
            << moved;
        // Icon files made before the move stay; none is made after it.
        int icons = 0;
        for (const auto& entry : std::filesystem::directory_iterator(movedFolder))
            icons += entry.path().extension() == ".ico" ? 1 : 0;
        EXPECT_LE(icons, 1) << moved;
        EXPECT_GE(walkRun.incompleteFolders, 1) << moved;
    }
}

TEST_F(TreeGuardWalkTest, AFolderSwappedForALinkDuringTheWalkIsReadThroughWhatWasEntered)
{
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
        tree.writeFile(std::string("album/") + name,
                       test::jpegFile(test::solidImage(20, 10, {1, 2, 3})));
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
        outside.writeFile(std::string("secret/") + name,
                          test::jpegFile(test::solidImage(77, 55, {1, 2, 3})));
    // While the walk is in the folder, its name is taken over by a link to a folder outside.
    struct SwappingReporter : WalkReporter
    {
        std::function<void()> onEntry;
        void entryStarted() override { onEntry(); }
    } swapper;
    int entries = 0;
    bool swapped = false;
    swapper.onEntry = [&] {
        if (++entries != 3 || swapped)
            return;
        swapped =
            std::rename((tree.path() + "album").c_str(), (tree.path() + "kept").c_str()) == 0
            && ::symlink((outside.path() + "secret").c_str(), (tree.path() + "album").c_str()) == 0;
    };
    run.analysisWorkers = 1;
    describeDirectory(tree.path(), 0, swapper, run);

    ASSERT_TRUE(swapped);
    const std::string kept = list("kept/");
    EXPECT_EQ(kept.find("77 x 55"), std::string::npos) << kept;
    EXPECT_NE(kept.find("\"c.jpg\" 20 x 10 pixel 24 Bit"), std::string::npos) << kept;
    EXPECT_FALSE(std::filesystem::exists(outside.path() + "secret/descript.ion"));
    EXPECT_FALSE(std::filesystem::exists(outside.path() + "secret/c.jpg.ico"));
}

TEST_F(TreeGuardWalkTest, OfTwoListsTheChosenIsRefilledAndTheOtherNamed)
{
    tree.writeFile("DESCRIPT.ION", "\"a.jpg\" old\r\n");
    tree.writeFile("Descript.ion", "\"a.jpg\" older\r\n");
    tree.writeFile("a.jpg", test::jpegFile(test::solidImage(20, 10, {1, 2, 3})));

    walk();

    // The names sort the same way whatever the file system's order: the first of the listing
    // is chosen, so which one that is depends on the file system; exactly one is refilled.
    const std::string upper = readFileText(tree.path() + "DESCRIPT.ION");
    const std::string mixed = readFileText(tree.path() + "Descript.ion");
    const std::string fresh = "\"a.jpg\" 20 x 10 pixel 24 Bit\r\n";
    EXPECT_TRUE((upper == fresh) != (mixed == fresh)) << upper << mixed;
    const std::string stale = upper == fresh ? "Descript.ion" : "DESCRIPT.ION";
    EXPECT_TRUE(hasError("Second description file, left as it was: " + tree.path() + stale));
}

} // namespace
} // namespace tagrelay
