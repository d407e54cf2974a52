#include "picture/picture_service.h"
#include "picture/png_codec.h"
#include "support/picture_bytes.h"
#include "support/support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <random>

namespace tagrelay {
namespace {

using test::Bytes;

/// Pictures made by the real encoders in a temporary folder: q.png is 64 × 48 in four
/// quadrants (red, green / blue, white), qa.png the same at half opacity, black.png all black.
class EncodedPictures
{
  public:
    EncodedPictures()
    {
        const std::string quadrants = "/usr/bin/convert \\( xc:red xc:lime +append \\) "
                                      "\\( xc:blue xc:white +append \\) -append -filter point "
                                      "-resize 64x48! ";
        m_ready = run(quadrants + "PNG24:q.png")
                  && run(quadrants
                         + "-alpha set -channel A "
                           "-evaluate set 50% +channel "
                           "PNG32:qa.png")
                  && run("/usr/bin/convert -size 64x48 xc:black PNG24:black.png")
                  && run("/usr/bin/convert q.png q.gif && /usr/bin/convert black.png black.gif")
                  && run("/usr/bin/convert q.png -compress none q.tif");
    }

    bool isReady() const { return m_ready; }
    test::TempTree& tree() { return m_tree; }
    /// Runs the command in the folder; the bytes of its file "out", empty when it failed.
    Bytes make(const std::string& command) const
    {
        std::remove((m_tree.path() + "out").c_str());
        if (!run(command))
            return {};
        return test::readFileBytes(m_tree.path() + "out");
    }
    bool run(const std::string& command) const
    {
        return std::system(
                   ("cd '" + m_tree.path() + "' && (" + command + ") >/dev/null 2>&1").c_str())
               == 0;
    }

  private:
    test::TempTree m_tree;
    bool m_ready = false;
};

/// Writes the irot box into a heif-enc picture of q.png: its primary item (2, the grid) gets a
/// rotation by 90 degrees listed before its ispe. The pixi box (16 bytes) of the primary item
/// becomes an irot box of the same size, and the item's two associations trade places, so no
/// offset in the file moves.
bool rotateHeifEncOutput(Bytes& heic)
{
    static constexpr std::array<std::uint8_t, 8> pixi = {0, 0, 0, 16, 'p', 'i', 'x', 'i'};
    // ipma entry: item 2, two associations: ispe (index 3), essential pixi (index 4).
    static constexpr std::array<std::uint8_t, 5> entry = {0x00, 0x02, 0x02, 0x03, 0x84};
    const auto box = std::search(heic.begin(), heic.end(), pixi.begin(), pixi.end());
    const auto associations = std::search(heic.begin(), heic.end(), entry.begin(), entry.end());
    if (box == heic.end() || associations == heic.end())
        return false;
    static constexpr std::array<std::uint8_t, 16> irot = {0, 0, 0, 16, 'i', 'r', 'o', 't', 1};
    std::copy(irot.begin(), irot.end(), box);
    associations[3] = 0x84;
    associations[4] = 0x03;
    return true;
}

/// The HEIF file with a box of padding bytes between its ftyp box and the rest, so that its
/// meta box lies that far into the file (as when a writer puts it after the media data).
Bytes withPaddingBeforeMeta(const Bytes& heif, std::uint32_t padding)
{
    const std::size_t ftyp = (std::size_t{heif[0]} << 24) | (std::size_t{heif[1]} << 16)
                             | (std::size_t{heif[2]} << 8) | heif[3];
    Bytes moved(heif.begin(), heif.begin() + static_cast<std::ptrdiff_t>(ftyp));
    const std::array<std::uint8_t, 8> box = {static_cast<std::uint8_t>(padding >> 24),
                                             static_cast<std::uint8_t>(padding >> 16),
                                             static_cast<std::uint8_t>(padding >> 8),
                                             static_cast<std::uint8_t>(padding),
                                             'm',
                                             'd',
                                             'a',
                                             't'};
    moved.insert(moved.end(), box.begin(), box.end());
    moved.resize(moved.size() + padding - box.size());
    moved.insert(moved.end(), heif.begin() + static_cast<std::ptrdiff_t>(ftyp), heif.end());
    return moved;
}

/// The little-endian TIFF with its PlanarConfiguration entry turned into a second ImageWidth
/// of 1 pixel (as damaged files have it; libtiff keeps the first).
Bytes withSecondWidth(Bytes tiff)
{
    const auto u16 = [&](std::size_t at) {
        return std::size_t{tiff[at]} | std::size_t{tiff[at + 1]} << 8;
    };
    const std::size_t directory = u16(4) | u16(6) << 16;
    for (std::size_t i = 0; i < u16(directory); ++i) {
        const std::size_t entry = directory + 2 + i * 12;
        if (u16(entry) == 284) {
            tiff[entry] = 0;
            tiff[entry + 1] = 1;
        }
    }
    return tiff;
}

struct EncodedCase
{
    const char* what;
    const char* command; // writes "out"
    int width;
    int height;
    int depth;
    bool keepsColours; // the icon shows the four quadrants
};

/// The icon's colour at the middle of one of its quarters.
test::Rgb quadrantOf(const RgbImage& icon, int column, int row)
{
    return test::pixelAt(icon, icon.width / 4 + column * icon.width / 2,
                         icon.height / 4 + row * icon.height / 2);
}

bool isNear(test::Rgb got, test::Rgb wanted)
{
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::abs(int{got[i]} - int{wanted[i]}) > 40)
            return false;
    }
    return true;
}

TEST(MorePicturesTest, EncoderOutputGivesItsSizeAndDepthAndAnIconOfItsFirstFrame)
{
    const EncodedPictures pictures;
    if (!pictures.isReady()
        || !pictures.run("command -v cwebp img2webp heif-enc avifenc tiffcp gifsicle"))
        GTEST_SKIP() << "ImageMagick or an encoder is missing (scripts/install-deps)";
    ASSERT_TRUE(hasEveryPictureDecoder());
    const std::vector<EncodedCase> cases = {
        {"PNG RGB", "cp q.png out", 64, 48, 24, true},
        {"PNG 16-bit RGB", "/usr/bin/convert q.png PNG48:out", 64, 48, 24, true},
        {"PNG grey", "/usr/bin/convert q.png -colorspace Gray -define png:color-type=0 PNG:out", 64,
         48, 24, false},
        {"PNG grey + alpha",
         "/usr/bin/convert qa.png -colorspace Gray -define png:color-type=4 PNG:out", 64, 48, 32,
         false},
        {"PNG palette", "/usr/bin/convert q.png PNG8:out", 64, 48, 24, true},
        {"PNG palette + tRNS", "/usr/bin/convert qa.png PNG8:out", 64, 48, 24, false},
        {"PNG RGBA", "cp qa.png out", 64, 48, 32, true},
        {"GIF", "cp q.gif out", 64, 48, 24, true},
        {"GIF transparent colour", "/usr/bin/convert qa.png GIF:out", 64, 48, 24, false},
        {"GIF animated", "gifsicle --delay 10 q.gif black.gif > out", 64, 48, 24, true},
        {"WebP lossy (VP8)", "cwebp -quiet -q 95 q.png -o out", 64, 48, 24, true},
        {"WebP lossless (VP8L)", "cwebp -quiet -lossless q.png -o out", 64, 48, 24, true},
        {"WebP lossless alpha", "cwebp -quiet -lossless qa.png -o out", 64, 48, 32, true},
        {"WebP lossy alpha (VP8X)", "cwebp -quiet -q 95 qa.png -o out", 64, 48, 32, true},
        {"WebP animated", "img2webp -loop 0 -lossless q.png black.png -o out", 64, 48, 24, true},
        {"TIFF", "cp q.tif out", 64, 48, 24, true},
        {"TIFF big-endian LZW", "/usr/bin/convert q.png -endian MSB -compress lzw TIFF:out", 64, 48,
         24, true},
        {"TIFF unassociated alpha", "/usr/bin/convert qa.png -compress zip TIFF:out", 64, 48, 32,
         true},
        {"TIFF associated alpha", "/usr/bin/convert qa.png -define tiff:alpha=associated TIFF:out",
         64, 48, 32, false},
        {"TIFF unspecified extra sample",
         "/usr/bin/convert qa.png -define tiff:alpha=unspecified TIFF:out", 64, 48, 24, false},
        {"BigTIFF", "tiffcp -8 q.tif out", 64, 48, 24, true},
        {"TIFF tiled", "tiffcp -t -w 16 -l 16 q.tif out", 64, 48, 24, true},
        {"HEIC (a grid of tiles)", "heif-enc -q 90 q.png -o out.heic && mv out.heic out", 64, 48,
         24, true},
        {"HEIC alpha", "heif-enc -q 90 qa.png -o out.heic && mv out.heic out", 64, 48, 32, true},
        {"HEIC with a thumbnail (the icon's source)",
         "heif-enc -q 90 -t 60 q.png -o out.heic && mv out.heic out", 64, 48, 24, true},
        {"AVIF", "avifenc q.png out.avif && mv out.avif out", 64, 48, 24, true},
        {"AVIF alpha", "avifenc qa.png out.avif && mv out.avif out", 64, 48, 32, true},
        {"AVIF turned 90 degrees", "avifenc --irot 1 q.png out.avif && mv out.avif out", 48, 64, 24,
         false},
        {"JPEG", "/usr/bin/convert q.png JPEG:out", 64, 48, 24, true},
    };
    for (const EncodedCase& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes bytes = pictures.make(c.command);
        ASSERT_FALSE(bytes.empty()) << c.command;
        const PictureFacts facts =
            readPictureFacts(bytes, PictureOrigin::File, 32, PictureFormatSet::Extended);
        EXPECT_EQ(facts.width, c.width);
        EXPECT_EQ(facts.height, c.height);
        EXPECT_EQ(facts.depth, c.depth);

        const PictureIcon icon = makePictureIcon(bytes, 32, 40, PictureFormatSet::Extended);
        EXPECT_EQ(icon.facts.width, facts.width);
        EXPECT_EQ(icon.facts.depth, facts.depth);
        EXPECT_FALSE(icon.isUndecodable);
        const auto image = decodePng(icon.iconBytes, wholePicture);
        ASSERT_TRUE(image.has_value());
        EXPECT_EQ(image->width, 40);
        EXPECT_EQ(image->height, 40);
        if (c.keepsColours) {
            // The first frame, top row first, not mirrored; alpha dropped, colours kept.
            EXPECT_TRUE(isNear(quadrantOf(*image, 0, 0), {255, 0, 0}));
            EXPECT_TRUE(isNear(quadrantOf(*image, 1, 0), {0, 255, 0}));
            EXPECT_TRUE(isNear(quadrantOf(*image, 0, 1), {0, 0, 255}));
            EXPECT_TRUE(isNear(quadrantOf(*image, 1, 1), {255, 255, 255}));
        }
    }
}

TEST(MorePicturesTest, AHeicRotationListedBeforeItsExtentSwapsTheSides)
{
    const EncodedPictures pictures;
    Bytes heic = pictures.make("heif-enc -q 90 q.png -o out.heic && mv out.heic out");
    if (!pictures.isReady() || heic.empty())
        GTEST_SKIP() << "ImageMagick or heif-enc is missing (scripts/install-deps)";
    // heif-enc lists the 64 × 64 tile's ispe first; the primary item is the 64 × 48 grid.
    ASSERT_TRUE(rotateHeifEncOutput(heic));
    const PictureFacts facts =
        readPictureFacts(heic, PictureOrigin::File, 32, PictureFormatSet::Extended);
    EXPECT_EQ(facts.width, 48);
    EXPECT_EQ(facts.height, 64);
    EXPECT_EQ(facts.depth, 24);
    const PictureIcon icon = makePictureIcon(heic, 32, 32, PictureFormatSet::Extended);
    EXPECT_EQ(icon.facts.width, 48);
    const auto image = decodePng(icon.iconBytes, wholePicture);
    ASSERT_TRUE(image.has_value());
    // Turned anticlockwise: green (top right) is now at the top left.
    EXPECT_TRUE(isNear(quadrantOf(*image, 0, 0), {0, 255, 0}));
    EXPECT_TRUE(isNear(quadrantOf(*image, 1, 1), {0, 0, 255}));
}

TEST(MorePicturesTest, FactsFarIntoAFileAreReadFromTheirPlaceAsFromTheWholeFile)
{
    EncodedPictures pictures;
    if (!pictures.isReady() || !pictures.run("command -v heif-enc avifenc tiffcp"))
        GTEST_SKIP() << "ImageMagick or an encoder is missing (scripts/install-deps)";
    // Noise, so that the pixels fill far more than the start the facts read first; ImageMagick
    // writes a TIFF's directory after them.
    ASSERT_TRUE(pictures.run("/usr/bin/convert -size 400x300 xc:gray +noise Random PNG24:n.png"
                             " && /usr/bin/convert n.png -alpha set PNG32:na.png"));
    const Bytes heic = pictures.make("heif-enc -q 90 na.png -o out.heic && mv out.heic out");
    const Bytes avif = pictures.make("avifenc n.png out.avif && mv out.avif out");
    ASSERT_FALSE(heic.empty() || avif.empty());
    struct FarCase
    {
        const char* what;
        Bytes bytes;
        int width;
        int height;
        int depth;
    };
    const Bytes tiff = pictures.make("/usr/bin/convert n.png -compress none TIFF:out");
    const Bytes farHeic = withPaddingBeforeMeta(heic, 200 * 1024);
    const std::vector<FarCase> cases = {
        {"TIFF", tiff, 400, 300, 24},
        {"TIFF alpha, big-endian",
         pictures.make("/usr/bin/convert na.png -endian MSB -compress none TIFF:out"), 400, 300,
         32},
        {"BigTIFF", pictures.make("/usr/bin/convert n.png -compress none TIFF64:out"), 400, 300,
         24},
        {"BigTIFF big-endian",
         pictures.make("/usr/bin/convert n.png -compress none n.tif && tiffcp -8 -B n.tif out"),
         400, 300, 24},
        {"TIFF cut before its directory", Bytes(tiff.begin(), tiff.end() - 100), 0, 0, 0},
        {"TIFF listing ImageWidth twice", withSecondWidth(tiff), 400, 300, 24},
        {"HEIC alpha, meta box after 200 KiB", farHeic, 400, 300, 32},
        {"AVIF, meta box after 100 KiB", withPaddingBeforeMeta(avif, 100 * 1024), 400, 300, 24},
        {"HEIC, cut inside the meta box",
         Bytes(farHeic.begin(), farHeic.begin() + 200 * 1024 + 200), 0, 0, 0},
    };
    for (const FarCase& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_GT(c.bytes.size(), 64u * 1024u);
        const std::string path = pictures.tree().writeFile("far", c.bytes);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const PictureFacts fromFile = readOpenPictureFacts(fd, 32, PictureFormatSet::Extended);
        ::close(fd);
        const PictureFacts fromBytes =
            readPictureFacts(c.bytes, PictureOrigin::File, 32, PictureFormatSet::Extended);
        EXPECT_EQ(fromFile.width, c.width);
        EXPECT_EQ(fromFile.height, c.height);
        EXPECT_EQ(fromFile.depth, c.depth);
        EXPECT_EQ(fromBytes.width, fromFile.width);
        EXPECT_EQ(fromBytes.depth, fromFile.depth);
    }
}

TEST(MorePicturesTest, DamagedPicturesKeepWhatTheirHeaderGaveAndNeverCrash)
{
    const EncodedPictures pictures;
    if (!pictures.isReady() || !pictures.run("command -v cwebp heif-enc avifenc gifsicle"))
        GTEST_SKIP() << "ImageMagick or an encoder is missing (scripts/install-deps)";
    std::mt19937 random(31);
    for (const char* command :
         {"cp q.png out", "cp q.gif out", "cwebp -quiet q.png -o out",
          "cwebp -quiet -lossless qa.png -o out", "heif-enc q.png -o out.heic && mv out.heic out",
          "avifenc qa.png out.avif && mv out.avif out",
          "/usr/bin/convert q.png -compress lzw TIFF:out",
          "img2webp -loop 0 q.png black.png -o out"}) {
        SCOPED_TRACE(command);
        const Bytes whole = pictures.make(command);
        ASSERT_FALSE(whole.empty());
        const PictureFacts wholeFacts =
            readPictureFacts(whole, PictureOrigin::File, 32, PictureFormatSet::Extended);
        for (const std::size_t kept : {whole.size() * 3 / 4, whole.size() / 2, std::size_t{40}}) {
            const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(kept));
            const PictureIcon icon = makePictureIcon(cut, 32, 32, PictureFormatSet::Extended);
            // The header's facts or none: a cut file never reports another size.
            if (icon.facts.width != 0) {
                EXPECT_EQ(icon.facts.width, wholeFacts.width);
                EXPECT_EQ(icon.facts.depth, wholeFacts.depth);
            }
            // And never an icon: a picture whose data ends early is not loaded.
            EXPECT_TRUE(icon.iconBytes.empty()) << kept << " of " << whole.size();
            EXPECT_TRUE(icon.facts.width == 0 || icon.isUndecodable) << kept;
        }
        // Flipped bytes inside the data.
        for (int round = 0; round < 20; ++round) {
            Bytes damaged = whole;
            for (int flip = 0; flip < 8; ++flip)
                damaged[random() % damaged.size()] ^= static_cast<std::uint8_t>(1 + random() % 255);
            (void)makePictureIcon(damaged, 32, 32, PictureFormatSet::Extended);
        }
    }
    // The cut HEIC keeps its meta box, which comes before the media data.
    const Bytes heic = pictures.make("heif-enc q.png -o out.heic && mv out.heic out");
    const PictureIcon cut = makePictureIcon(std::span(heic).first(heic.size() - 20), 32, 32,
                                            PictureFormatSet::Extended);
    EXPECT_EQ(cut.facts.width, 64);
    EXPECT_TRUE(cut.isUndecodable);
    EXPECT_TRUE(cut.iconBytes.empty());
    Bytes noise(4000);
    std::generate(noise.begin(), noise.end(), [&] { return static_cast<std::uint8_t>(random()); });
    EXPECT_EQ(makePictureIcon(noise, 32, 32, PictureFormatSet::Extended).facts.width, 0);
}

} // namespace
} // namespace tagrelay
