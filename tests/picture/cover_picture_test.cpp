// How many pixels an MP3 file's front cover is decoded to: enough for the window's cover area
// (or a larger icon), never fewer, and no more than a reduced JPEG scale or block averaging
// needs to give; that the reduced pixels show the same cover as all of them; and that what a
// thread keeps of its last cover never gives one track another track's picture, area or icon.

#include "picture/cover_picture.h"
#include "picture/picture_service.h"
#include "picture/resize.h"
#include "support/picture_bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <thread>
#include <vector>

namespace tagrelay {
namespace {

using test::Bytes;
using test::Rgb;

/// A cover with detail at every scale: colour ramps crossed by a fine chequer.
RgbImage coverPicture(int width, int height)
{
    return test::paintedImage(width, height, [=](int x, int y) {
        const bool isDark = (x / 3 + y / 3) % 2 == 0;
        return Rgb{static_cast<std::uint8_t>(x * 200 / width + (isDark ? 0 : 50)),
                   static_cast<std::uint8_t>(y * 200 / height + (isDark ? 0 : 50)),
                   static_cast<std::uint8_t>(isDark ? 60 : 160)};
    });
}

double meanDifference(const RgbImage& a, const RgbImage& b)
{
    EXPECT_EQ(a.pixels.size(), b.pixels.size());
    double sum = 0;
    for (std::size_t i = 0; i < a.pixels.size() && i < b.pixels.size(); ++i)
        sum += std::abs(a.pixels[i] - b.pixels[i]);
    return sum / static_cast<double>(a.pixels.size());
}

struct KeptCase
{
    const char* name;
    int width;
    int height;
    bool isPng;
    int iconSize;
    int keptWidth; // the pixels the decoded cover holds
    int keptHeight;
};

class CoverPixelsTest : public testing::TestWithParam<KeptCase>
{
};

TEST_P(CoverPixelsTest, KeepsTheFewestPixelsTheCoverAreaOrIconNeeds)
{
    const KeptCase& c = GetParam();
    const RgbImage painted = coverPicture(c.width, c.height);
    const Bytes bytes = c.isPng ? test::pngFile(painted) : test::jpegFile(painted);
    const PictureHandle cover = decodeCover(bytes, noScreenDepth, c.iconSize);
    ASSERT_TRUE(cover);
    EXPECT_EQ(cover->width, c.width);
    EXPECT_EQ(cover->height, c.height);
    EXPECT_EQ(cover->image.width, c.keptWidth);
    EXPECT_EQ(cover->image.height, c.keptHeight);

    // What the window and the icon get from the reduced pixels is what all pixels give.
    const PictureHandle whole = catchPicture(bytes, noScreenDepth);
    ASSERT_TRUE(whole);
    const int side = std::max(coverAreaSide, c.iconSize);
    EXPECT_LT(meanDifference(resizeImage(cover->image, side, side),
                             resizeImage(whole->image, side, side)),
              3.0);
}

INSTANTIATE_TEST_SUITE_P(
    Cover, CoverPixelsTest,
    testing::Values(
        // JPEG covers decode at 1/2, 1/4 or 1/8 of each side, the smallest that keeps 150.
        KeptCase{"Jpeg700ShownAtAQuarter", 700, 700, false, 48, 175, 175},
        KeptCase{"Jpeg1199ShownAtAnEighthRoundsUpTo150", 1199, 1199, false, 0, 150, 150},
        KeptCase{"Jpeg1192ShownAtAQuarterNotBelow150", 1192, 1192, false, 0, 298, 298},
        KeptCase{"Jpeg500ShownAtAHalf", 500, 500, false, 32, 250, 250},
        KeptCase{"Jpeg120By100ShownWhole", 120, 100, false, 48, 120, 100},
        KeptCase{"JpegWideShownKeepsTheShortSide", 1400, 300, false, 48, 350, 150},
        KeptCase{"IconLargerThanTheAreaDecides", 700, 700, false, 200, 350, 350},
        // A PNG has no reduced scale: blocks of its rows are averaged as they arrive.
        KeptCase{"Png700ShownAveragesBlocksOfTwo", 700, 700, true, 48, 350, 350}),
    [](const auto& param) { return std::string(param.param.name); });

/// Everything the walk takes from one track's cover.
struct CoverWork
{
    bool hasCover = false;
    PictureFacts facts;
    RgbImage kept;
    RgbImage area;
    std::vector<std::uint8_t> iconBytes;
    PictureFacts factsAfterIcon;
    RgbImage keptAfterIcon;

    bool operator==(const CoverWork&) const = default;
};

bool operator==(const PictureFacts& a, const PictureFacts& b)
{
    return a.width == b.width && a.height == b.height && a.depth == b.depth;
}

bool operator==(const RgbImage& a, const RgbImage& b)
{
    return a.width == b.width && a.height == b.height && a.pixels == b.pixels;
}

CoverWork doCoverWork(const Bytes& bytes, std::uint8_t displayDepth, int iconSize)
{
    CoverWork work;
    PictureHandle cover = decodeCover(bytes, displayDepth, iconSize);
    if (!cover)
        return work;
    work.hasCover = true;
    work.facts = pictureFacts(cover.get());
    work.kept = cover->image;
    work.area = coverAreaImage(*cover);
    work.iconBytes = makeCoverIcon(*cover, std::min(iconSize, 70));
    work.factsAfterIcon = pictureFacts(cover.get());
    work.keptAfterIcon = cover->image;
    return work;
}

/// The same work on a thread of its own, which has seen no other cover.
CoverWork doCoverWorkFresh(const Bytes& bytes, std::uint8_t displayDepth, int iconSize)
{
    CoverWork work;
    std::thread([&] { work = doCoverWork(bytes, displayDepth, iconSize); }).join();
    return work;
}

TEST(CoverPictureTest, EachTrackGetsItsOwnCoverWhateverTheTrackBeforeHad)
{
    const Bytes jpeg = test::jpegFile(coverPicture(700, 700));
    const Bytes otherJpeg = test::jpegFile(test::solidImage(700, 700, {10, 200, 30}));
    const Bytes png = test::pngFile(coverPicture(300, 300));
    const Bytes gif{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0};
    struct Track
    {
        const Bytes* cover;
        std::uint8_t displayDepth;
        int iconSize;
    };
    // An album's tracks with one cover, then the changes a key of what is kept must notice.
    const std::vector<Track> tracks{{&jpeg, 32, 48}, {&jpeg, 32, 48}, {&otherJpeg, 32, 48},
                                    {&jpeg, 32, 48}, {&jpeg, 16, 48}, {&jpeg, 32, 200},
                                    {&jpeg, 32, 32}, {&gif, 32, 48},  {&gif, 32, 48},
                                    {&png, 32, 48},  {&png, 32, 32},  {&jpeg, 32, 48}};
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const Track& track = tracks[i];
        SCOPED_TRACE("track " + std::to_string(i + 1));
        const CoverWork expected =
            doCoverWorkFresh(*track.cover, track.displayDepth, track.iconSize);
        EXPECT_EQ(expected.hasCover, track.cover != &gif);
        EXPECT_TRUE(doCoverWork(*track.cover, track.displayDepth, track.iconSize) == expected);
    }
}

} // namespace
} // namespace tagrelay
