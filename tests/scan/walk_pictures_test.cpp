#include "scan/run_state.h"
#include "scan/walk.h"
#include "support/frame_bytes.h"
#include "support/id3_bytes.h"
#include "support/picture_bytes.h"
#include "support/recording_reporter.h"
#include "support/support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace tagrelay {
namespace {

using test::readFileBytes;
using test::readFileText;

/// The walk over pictures and MP3 files with covers: the lines, the icon files and the cover
/// area, with the options a user ticks.
class WalkPicturesTest : public testing::Test
{
  protected:
    /// As the window program shows them: covers drawn, on a screen of 32 bits per pixel.
    WalkPicturesTest()
    {
        reporter.covers = true;
        reporter.depth = 32;
    }

    void walk() { describeDirectory(tree.path(), 0, reporter, run); }
    std::string list() const { return readFileText(tree.path() + "descript.ion"); }
    bool hasIcon(const std::string& name) const
    {
        return std::filesystem::exists(tree.path() + name + ".ico");
    }
    std::string mp3WithCover(const std::string& name, const test::Bytes& cover,
                             std::uint8_t pictureType = 3)
    {
        const auto tag = test::Id3v2Builder()
                             .textFrame("TIT2", name)
                             .pictureFrame(pictureType, "image/jpeg", cover)
                             .bytes();
        return tree.writeFile(name, test::FrameStream().raw(tag).frames(20, {}).bytes());
    }

    test::TempTree tree;
    test::RecordingReporter reporter;
    RunState run;
};

TEST_F(WalkPicturesTest, PicturesGetTheirSizeLineAndAPngIconOfTheChosenSize)
{
    const RgbImage wide = test::solidImage(300, 100, {200, 30, 30});
    tree.writeFile("photo.JPG", test::jpegFile(wide));
    tree.writeFile("flat.bmp", test::bmpFile(wide));
    tree.writeFile("png-inside.jpg", test::pngFile(wide));
    tree.writeFile("broken.jpg", "no picture here");
    run.settings.showPictureSize = run.settings.makePictureIcons = 1;
    run.settings.iconSize = 48;

    walk();

    const std::string lines = list();
    for (const char* line :
         {"\"photo.JPG\" 300 x 100 pixel 24 Bit\r\n", "\"flat.bmp\" 300 x 100 pixel 24 Bit\r\n",
          "\"png-inside.jpg\" 300 x 100 pixel 24 Bit\r\n", "\"broken.jpg\" 0 x 0 pixel 0 Bit\r\n"})
        EXPECT_NE(lines.find(line), std::string::npos) << line << " in\n" << lines;
    EXPECT_EQ(run.fileCount, 4);
    for (const char* name : {"photo.JPG", "flat.bmp", "png-inside.jpg"}) {
        const auto chunks = test::pngChunks(readFileBytes(tree.path() + name + ".ico"));
        ASSERT_FALSE(chunks.empty()) << name;
        // IHDR: width and height 48, bit depth 8, colour type 2.
        EXPECT_EQ(std::string(chunks.front().type.data(), 4), "IHDR") << name;
        EXPECT_EQ(chunks.front().data[3], 48) << name;
        EXPECT_EQ(chunks.front().data[7], 48) << name;
        EXPECT_EQ(chunks.front().data[9], 2) << name;
    }
    EXPECT_FALSE(hasIcon("broken.jpg"));

    // A second walk replaces the icons and never describes them.
    walk();
    EXPECT_EQ(list(), lines);
    EXPECT_EQ(run.fileCount, 8);
}

TEST_F(WalkPicturesTest, ACoverIsShownAndWrittenAsAJpegIconOnlyWhenAsked)
{
    const test::Bytes cover = test::jpegFile(test::solidImage(500, 300, {10, 200, 10}));
    mp3WithCover("front.mp3", cover);
    mp3WithCover("back.mp3", cover, 4);
    tree.writeFile("back.mp3.ico", "an icon of an earlier run");
    run.settings.makeMp3Icons = 1;
    run.settings.iconSize = 32;

    walk();

    const auto icon = test::readBackJpeg(readFileBytes(tree.path() + "front.mp3.ico"));
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->width, 32);
    EXPECT_EQ(icon->height, 32);
    EXPECT_EQ(icon->components, 3);
    // No front cover: no icon, and the old one stays untouched.
    EXPECT_EQ(readFileText(tree.path() + "back.mp3.ico"), "an icon of an earlier run");
    // Each MP3 file shows its cover place: the front cover squeezed to it, or none.
    std::vector<std::string> covers = reporter.withPrefix("cover");
    const std::vector<std::string> none = reporter.withPrefix("no cover");
    covers.insert(covers.end(), none.begin(), none.end());
    EXPECT_EQ(covers, (std::vector<std::string>{"cover 150x150", "no cover"}));

    std::filesystem::remove(tree.path() + "front.mp3.ico");
    run.settings.makeMp3Icons = 0;
    walk();
    EXPECT_FALSE(hasIcon("front.mp3"));
}

TEST_F(WalkPicturesTest, AnIconNameThatIsALinkIsNeverWrittenThrough)
{
    test::TempTree outside;
    const std::string precious = outside.writeFile("precious", "keep me");
    tree.writeFile("a.jpg", test::jpegFile(test::solidImage(20, 20, {1, 2, 3})));
    ASSERT_EQ(::symlink(precious.c_str(), (tree.path() + "a.jpg.ico").c_str()), 0);
    run.settings.makePictureIcons = 1;
    run.settings.iconSize = 50;

    walk();

    EXPECT_EQ(readFileText(precious), "keep me");
    ASSERT_EQ(run.errors.size(), 1u);
    EXPECT_EQ(run.errors[0],
              "Icon file could not be written: " + tree.path() + "a.jpg.ico (not a regular file)");
}

} // namespace
} // namespace tagrelay
