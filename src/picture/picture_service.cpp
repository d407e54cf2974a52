#include "picture/picture_service.h"

#include "picture/bmp_reader.h"
#include "picture/byte_ranges.h"
#include "picture/heif_header.h"
#include "picture/ico_reader.h"
#include "picture/jpeg_codec.h"
#include "picture/library_decoders.h"
#include "picture/picture_headers.h"
#include "picture/png_codec.h"
#include "picture/resize.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <limits>

namespace tagrelay {

namespace {

enum class PictureKind { Bitmap, Icon, Decoded };

/// A reader of one format: a header check that reads no pixels, and the decoder.
struct PictureReader
{
    PictureKind kind;
    std::optional<PictureHeader> (*readHeader)(std::span<const std::uint8_t>);
    std::optional<RgbImage> (*decode)(std::span<const std::uint8_t>, PixelNeed);
    std::string_view name = {}; // in the entry of a build without the decoder
};

// The order the formats are tried in: the bitmap reader for "BM", the icon reader, then the
// decoders in their registry order (JPEG, PNG). The first whose header check passes decodes.
constexpr std::array<PictureReader, 4> pictureReaders{{
    {PictureKind::Bitmap, readBmpHeader, decodeBmp},
    {PictureKind::Icon, readIconHeader, decodeIcon},
    {PictureKind::Decoded, readJpegHeader, decodeJpeg},
    {PictureKind::Decoded, readPngHeader, decodePng},
}};

struct Recognised
{
    const PictureReader* reader = nullptr;
    PictureHeader header;
};

/// The extended set: the same first three, PNG from its IHDR alone (and loaded only when it
/// is whole, as a picture file of its own must be), then the formats whose
/// decoders are libraries this build may lack (a null decoder).
std::span<const PictureReader> extendedReaders()
{
    static const std::array<PictureReader, 8> readers{{
        pictureReaders[0],
        pictureReaders[1],
        pictureReaders[2],
        {PictureKind::Decoded, readPngIhdr, decodeWholePng, "PNG"},
        {PictureKind::Decoded, readGifHeader, gifDecoder(), "GIF"},
        {PictureKind::Decoded, readWebpHeader, webpDecoder(), "WebP"},
        {PictureKind::Decoded, readTiffHeader, tiffDecoder(), "TIFF"},
        {PictureKind::Decoded, readHeifHeader, heifDecoder(), "HEIF"},
    }};
    return readers;
}

std::span<const PictureReader> readersOf(PictureFormatSet set)
{
    return set == PictureFormatSet::Classic ? std::span<const PictureReader>(pictureReaders)
                                            : extendedReaders();
}

std::optional<Recognised> recognise(std::span<const std::uint8_t> bytes,
                                    PictureFormatSet set = PictureFormatSet::Classic)
{
    for (const PictureReader& reader : readersOf(set)) {
        if (const auto header = reader.readHeader(bytes))
            return Recognised{&reader, *header};
    }
    return std::nullopt;
}

/// The depth a picture reports: pictures kept in the display's format report the display's.
std::uint8_t depthOf(PictureKind kind, int bitsPerPixel, PictureOrigin origin,
                     std::uint8_t displayDepth)
{
    if (kind == PictureKind::Icon)
        return static_cast<std::uint8_t>(bitsPerPixel);
    if (origin == PictureOrigin::Memory || (kind == PictureKind::Bitmap && bitsPerPixel <= 8))
        return displayDepth;
    return static_cast<std::uint8_t>(bitsPerPixel);
}

PictureFacts factsOf(const Recognised& found, PictureOrigin origin, std::uint8_t displayDepth)
{
    return {static_cast<std::uint16_t>(found.header.width),
            static_cast<std::uint16_t>(found.header.height),
            depthOf(found.reader->kind, found.header.bitsPerPixel, origin, displayDepth)};
}

PictureHandle decodePicture(std::span<const std::uint8_t> bytes, PictureOrigin origin,
                            std::uint8_t displayDepth, PixelNeed need)
{
    const auto found = recognise(bytes);
    if (!found)
        return nullptr;
    auto image = found->reader->decode(bytes, need);
    if (!image)
        return nullptr;
    const PictureFacts facts = factsOf(*found, origin, displayDepth);
    return std::make_unique<Picture>(
        Picture{facts.width, facts.height, facts.depth, std::move(*image)});
}

// Picture headers sit at the start of the file: JPEG markers with their EXIF block, PNG chunks
// up to the pixel data, BMP headers with the palette. The facts read this much first and the
// whole file only when that was not enough.
constexpr std::size_t factsPrefixSize = 64 * 1024;

/// Up to limit bytes from the start of an open regular file, read with pread() (never mapped,
/// so a file that shrinks meanwhile gives a short read instead of a fault); the file's full
/// size in fileSize. Empty for anything but a regular file.
std::vector<std::uint8_t> readOpenFileStart(int fd, std::size_t limit, std::size_t& fileSize)
{
    fileSize = 0;
    std::vector<std::uint8_t> bytes;
    struct stat status
    {
    };
    // A file larger than any picture worth decoding is not read whole: it is no picture.
    if (fd < 0 || ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0
        || (limit >= static_cast<std::size_t>(largestPictureFile)
            && status.st_size > static_cast<off_t>(largestPictureFile)))
        return bytes;
    fileSize = static_cast<std::size_t>(status.st_size);
    bytes.resize(std::min(limit, fileSize));
    bytes.resize(readFileAt(fd, bytes.data(), bytes.size(), 0));
    return bytes;
}

std::vector<std::uint8_t> readWholeOpenFile(int fd)
{
    std::size_t fileSize = 0;
    return readOpenFileStart(fd, std::numeric_limits<std::size_t>::max(), fileSize);
}

bool hasWholeImage(const Picture& picture)
{
    return picture.image.width == picture.width && picture.image.height == picture.height
           && !picture.image.pixels.empty();
}

} // namespace

PictureFacts readPictureFacts(std::span<const std::uint8_t> bytes, PictureOrigin origin,
                              std::uint8_t displayDepth, PictureFormatSet set)
{
    const auto found = recognise(bytes, set);
    if (!found)
        return {};
    return factsOf(*found, origin, displayDepth);
}

PictureHandle loadPicture(std::span<const std::uint8_t> bytes, std::uint8_t displayDepth,
                          PixelNeed need)
{
    return decodePicture(bytes, PictureOrigin::File, displayDepth, need);
}

PictureHandle catchPicture(std::span<const std::uint8_t> bytes, std::uint8_t displayDepth,
                           PixelNeed need)
{
    return decodePicture(bytes, PictureOrigin::Memory, displayDepth, need);
}

PictureHandle loadPictureFile(const std::string& path, std::uint8_t displayDepth, PixelNeed need)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return nullptr;
    PictureHandle picture = loadPicture(readWholeOpenFile(fd), displayDepth, need);
    ::close(fd);
    return picture;
}

bool isLargerThanAnyPicture(int fd)
{
    struct stat status
    {
    };
    return fd >= 0 && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)
           && status.st_size > static_cast<off_t>(largestPictureFile);
}

std::vector<std::uint8_t> readOpenPictureFile(int fd)
{
    return readWholeOpenFile(fd);
}

PictureFacts readPictureFileFacts(const std::string& path, std::uint8_t displayDepth)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return {};
    const PictureFacts facts = readOpenPictureFacts(fd, displayDepth);
    ::close(fd);
    return facts;
}

PictureFacts readOpenPictureFacts(int fd, std::uint8_t displayDepth, PictureFormatSet set)
{
    std::size_t fileSize = 0;
    const std::vector<std::uint8_t> start = readOpenFileStart(fd, factsPrefixSize, fileSize);
    if (start.size() == fileSize)
        return readPictureFacts(start, PictureOrigin::File, displayDepth, set);
    // A BMP's rows are checked against the file's size, which the start alone does not show.
    if (hasBmpSignature(start)) {
        const auto header = readBmpFileHeader(start, fileSize);
        if (!header)
            return {};
        return factsOf(Recognised{&pictureReaders[0], *header}, PictureOrigin::File, displayDepth);
    }
    if (hasIconSignature(start))
        return readPictureFacts(readWholeOpenFile(fd), PictureOrigin::File, displayDepth, set);
    if (set == PictureFormatSet::Extended) {
        // A TIFF directory or a HEIF meta box may lie anywhere in the file, after the pixel
        // data too: these readers ask for the places they need, and no other format starts
        // the way these do.
        const auto readers = extendedReaders();
        const auto byName = [&](std::string_view name) {
            return std::find_if(readers.begin(), readers.end(),
                                [&](const PictureReader& r) { return r.name == name; });
        };
        const bool isTiff = hasTiffSignature(start);
        if (isTiff || hasHeifSignature(start)) {
            FileRanges file(fd, fileSize, start);
            const auto header = isTiff ? readTiffHeaderFrom(file) : readHeifHeaderFrom(file);
            if (!header)
                return {};
            return factsOf(Recognised{&*byName(isTiff ? "TIFF" : "HEIF"), *header},
                           PictureOrigin::File, displayDepth);
        }
    }
    const PictureFacts facts = readPictureFacts(start, PictureOrigin::File, displayDepth, set);
    if (facts.width != 0)
        return facts;
    return readPictureFacts(readWholeOpenFile(fd), PictureOrigin::File, displayDepth, set);
}

bool isCutShortPictureFile(int fd)
{
    std::size_t fileSize = 0;
    const std::vector<std::uint8_t> start = readOpenFileStart(fd, 2, fileSize);
    if (!hasJpegSignature(start) || fileSize < 4)
        return false;
    std::array<std::uint8_t, 2> last{};
    if (::pread(fd, last.data(), last.size(), static_cast<off_t>(fileSize - last.size()))
            == static_cast<ssize_t>(last.size())
        && last[0] == 0xFF && last[1] == 0xD9)
        return false;
    return isJpegCutShort(readWholeOpenFile(fd));
}

PictureFacts pictureFacts(const Picture* picture)
{
    if (picture == nullptr)
        return {};
    return {picture->width, picture->height, picture->depth};
}

bool resizePicture(Picture& picture, int width, int height)
{
    if (width == picture.width && height == picture.height && hasWholeImage(picture))
        return true;
    picture.image = resizeImage(picture.image, width, height);
    if (picture.image.pixels.empty())
        return false;
    picture.width = static_cast<std::uint16_t>(width);
    picture.height = static_cast<std::uint16_t>(height);
    return true;
}

std::vector<std::uint8_t> savePicture(const Picture& picture, PictureFormat format)
{
    // Pixels loaded for an icon may still be larger or smaller than the picture's size.
    if (!hasWholeImage(picture)) {
        Picture whole = picture;
        if (!resizePicture(whole, picture.width, picture.height))
            return {};
        return savePicture(whole, format);
    }
    return format == PictureFormat::Png ? encodePng(picture.image) : encodeJpeg(picture.image);
}

namespace {

/// The extended set keeps the header's facts when the pixels cannot be had.
PictureIcon makeExtendedIcon(std::span<const std::uint8_t> bytes, std::uint8_t displayDepth,
                             int iconSize)
{
    PictureIcon icon;
    const auto found = recognise(bytes, PictureFormatSet::Extended);
    if (!found)
        return icon;
    icon.facts = factsOf(*found, PictureOrigin::File, displayDepth);
    if (found->reader->decode == nullptr) {
        icon.missingDecoder = found->reader->name;
        return icon;
    }
    auto image = found->reader->decode(bytes, PixelNeed{iconSize});
    if (!image) {
        icon.isUndecodable = true;
        return icon;
    }
    Picture picture{icon.facts.width, icon.facts.height, icon.facts.depth, std::move(*image)};
    icon.isCutShort = isJpegCutShort(bytes);
    if (!icon.isCutShort && resizePicture(picture, iconSize, iconSize))
        icon.iconBytes = savePicture(picture, PictureFormat::Png);
    return icon;
}

} // namespace

bool hasEveryPictureDecoder()
{
    const auto readers = extendedReaders();
    return std::all_of(readers.begin(), readers.end(),
                       [](const PictureReader& reader) { return reader.decode != nullptr; });
}

PictureIcon makePictureIcon(std::span<const std::uint8_t> bytes, std::uint8_t displayDepth,
                            int iconSize, PictureFormatSet set)
{
    if (set == PictureFormatSet::Extended)
        return makeExtendedIcon(bytes, displayDepth, iconSize);
    PictureHandle picture = loadPicture(bytes, displayDepth, PixelNeed{iconSize});
    PictureIcon icon;
    icon.facts = pictureFacts(picture.get());
    icon.isCutShort = picture && isJpegCutShort(bytes);
    if (picture && !icon.isCutShort && resizePicture(*picture, iconSize, iconSize))
        icon.iconBytes = savePicture(*picture, PictureFormat::Png);
    return icon;
}

} // namespace tagrelay
