#include "scan/run_state.h"
#include "scan/walk.h"
#include "support/picture_bytes.h"
#include "support/recording_reporter.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace tagrelay {
namespace {

using test::readFileText;

/// The pictures of the more-formats switch in a walk: without the switch the lists are those
/// of a tree without them, byte for byte; with it each gets its line, its icon and its entry.
class WalkMorePicturesTest : public testing::Test
{
  protected:
    void walk()
    {
        std::filesystem::remove(tree.path() + "descript.ion");
        run = RunState{};
        run.settings = settings;
        describeDirectory(tree.path(), 0, reporter, run);
    }
    std::string list() const { return readFileText(tree.path() + "descript.ion"); }
    bool make(const std::string& command) const
    {
        return std::system(
                   ("cd '" + tree.path() + "' && (" + command + ") >/dev/null 2>&1").c_str())
               == 0;
    }
    std::size_t iconCount() const
    {
        const auto entries = std::filesystem::directory_iterator(tree.path());
        return static_cast<std::size_t>(
            std::count_if(begin(entries), end(entries),
                          [](const auto& e) { return e.path().extension() == ".ico"; }));
    }

    test::TempTree tree;
    test::RecordingReporter reporter;
    Settings settings;
    RunState run;
};

TEST_F(WalkMorePicturesTest, TheSwitchAloneAddsTheLinesIconsAndEntriesOfTheNewPictures)
{
    const RgbImage wide = test::solidImage(90, 30, {200, 30, 30});
    tree.writeFile("photo.jpg", test::jpegFile(wide));
    tree.writeFile("flat.bmp", test::bmpFile(wide));
    settings.showPictureSize = settings.makePictureIcons = 1;
    settings.iconSize = 32;
    walk();
    const std::string before = list();
    ASSERT_FALSE(before.empty());

    if (!make("/usr/bin/convert -size 90x30 xc:red PNG24:r.png && cp r.png shot.png && "
              "cp r.png png-inside.webp && /usr/bin/convert r.png anim0.gif && "
              "gifsicle anim0.gif anim0.gif > anim.gif && rm anim0.gif && "
              "cwebp -quiet r.png -o lossy.webp && heif-enc r.png -o phone.heic && "
              "avifenc r.png photo.avif && /usr/bin/convert r.png scan.tif && "
              "cp photo.jpg copy.JPEG && rm r.png && head -c 3000 /dev/urandom > noise.heif && "
              "head -c -20 phone.heic > cut.heic"))
        GTEST_SKIP() << "ImageMagick or an encoder is missing (scripts/install-deps)";
    walk();
    EXPECT_EQ(list(), before) << "without the switch nothing changes";
    EXPECT_EQ(iconCount(), 2u);
    EXPECT_EQ(run.fileCount, 2);

    settings.moreFormats = 1;
    walk();
    const std::string lines = list();
    for (const char* line :
         {"\"photo.jpg\" 90 x 30 pixel 24 Bit\r\n", "\"shot.png\" 90 x 30 pixel 24 Bit\r\n",
          "\"png-inside.webp\" 90 x 30 pixel 24 Bit\r\n", "\"anim.gif\" 90 x 30 pixel 24 Bit\r\n",
          "\"lossy.webp\" 90 x 30 pixel 24 Bit\r\n", "\"phone.heic\" 90 x 30 pixel 24 Bit\r\n",
          "\"photo.avif\" 90 x 30 pixel 24 Bit\r\n", "\"scan.tif\" 90 x 30 pixel 24 Bit\r\n",
          "\"copy.JPEG\" 90 x 30 pixel 24 Bit\r\n", "\"noise.heif\" 0 x 0 pixel 0 Bit\r\n",
          "\"cut.heic\" 90 x 30 pixel 24 Bit\r\n"})
        EXPECT_NE(lines.find(line), std::string::npos) << line << " in\n" << lines;
    EXPECT_EQ(run.fileCount, 12);
    // All but the two that cannot be loaded get their icon.
    EXPECT_EQ(iconCount(), 10u);
    std::vector<std::string> errors = run.errors; // in the folder's order
    std::sort(errors.begin(), errors.end());
    EXPECT_EQ(errors, (std::vector<std::string>{
                          "Picture could not be loaded: " + tree.path() + "cut.heic",
                          "Picture could not be loaded: " + tree.path() + "noise.heif"}));
}

} // namespace
} // namespace tagrelay
