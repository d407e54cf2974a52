#pragma once

#include "picture/image_builder.h"
#include "picture/picture.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tagrelay {

/// Where picture bytes come from: a picture file of the walk (loadPicture) or a block of memory
/// such as a cover in a tag (catchPicture). It decides the depth a picture reports.
enum class PictureOrigin { File, Memory };

/// The formats pictures are saved in: JPEG for MP3 cover icons, PNG for picture icons.
enum class PictureFormat { Jpeg, Png };

/// The contents a picture file may have: those of .jpg and .bmp files (BMP, icon, JPEG, PNG),
/// or these and the formats the more-formats switch adds: GIF, WebP, TIFF and HEIF (HEIC and
/// AVIF), read from their headers by readers of our own and decoded by the system's libraries.
enum class PictureFormatSet { Classic, Extended };

/// Width, height and depth of a picture from its header alone, without decoding its pixels.
///
/// The format comes from the content, never from a name, tried in this order: a BMP ("BM"),
/// an icon file (its first image), then the decoders JPEG and PNG. The depth is:
/// - a BMP file: its bit count, but the display's depth for 1, 4 and 8 bits (palette bitmaps
///   are kept in the display's format);
/// - an icon: its first image's bit count, 32 for a PNG image;
/// - a JPEG file: 24 (greyscale and CMYK too); a PNG file: 32 with an alpha channel, else 24;
/// - any BMP, JPEG or PNG from memory: the display's depth.
///
/// \returns all zeros when the bytes hold no loadable picture: another format, a header the
/// readers reject, or a decompression bomb (a side over 65 535 pixels or more than 256
/// megapixels). Agrees with loadPicture and catchPicture on what is loadable.
///
/// The extended set reads PNG from its IHDR chunk alone and tries GIF, WebP, TIFF and HEIF
/// after PNG; each reports 32 bits with an alpha channel, else 24 (see picture_headers.h and
/// heif_header.h).
[[nodiscard]] PictureFacts readPictureFacts(std::span<const std::uint8_t> bytes,
                                            PictureOrigin origin, std::uint8_t displayDepth,
                                            PictureFormatSet set = PictureFormatSet::Classic);

/// Decodes a picture file's bytes (see readPictureFacts for the formats and depths).
///
/// With need.minSide > 0 the caller wants the picture only at that size or smaller (an icon,
/// the cover area): the pixels may then come smaller than the picture, never below minSide on
/// a side, which saves time and memory on large photos. Damage in the pixel data leaves the
/// rest black; the picture keeps the size its header gives.
///
/// \returns the picture, or none exactly when readPictureFacts gives zeros.
[[nodiscard]] PictureHandle loadPicture(std::span<const std::uint8_t> bytes,
                                        std::uint8_t displayDepth, PixelNeed need = wholePicture);

/// As loadPicture for bytes held in memory (an embedded cover): BMP, JPEG and PNG pictures
/// report the display's depth, icons their own.
[[nodiscard]] PictureHandle catchPicture(std::span<const std::uint8_t> bytes,
                                         std::uint8_t displayDepth, PixelNeed need = wholePicture);

/// loadPicture on a file's content, read whole with pread. A file that cannot be opened or
/// is empty gives none.
[[nodiscard]] PictureHandle loadPictureFile(const std::string& path, std::uint8_t displayDepth,
                                            PixelNeed need = wholePicture);

/// readPictureFacts on a file (PictureOrigin::File); zeros when it cannot be opened.
[[nodiscard]] PictureFacts readPictureFileFacts(const std::string& path, std::uint8_t displayDepth);
/// The same for a file the caller opened.
[[nodiscard]] PictureFacts readOpenPictureFacts(int fd, std::uint8_t displayDepth,
                                                PictureFormatSet set = PictureFormatSet::Classic);

/// The largest picture file read whole; a bigger one would cost its size in memory.
inline constexpr std::int64_t largestPictureFile = 256 * 1024 * 1024;

/// True for an open regular file larger than largestPictureFile.
[[nodiscard]] bool isLargerThanAnyPicture(int fd);

/// The whole content of a file the caller opened, read with pread; empty when it is not a
/// regular file, or is larger than largestPictureFile.
[[nodiscard]] std::vector<std::uint8_t> readOpenPictureFile(int fd);

/// isJpegCutShort for a file the caller opened: reads its last two bytes and, only when a JPEG
/// does not end in its end marker, the whole file (up to largestPictureFile).
[[nodiscard]] bool isCutShortPictureFile(int fd);

/// The facts of a picture, all zeros for none.
PictureFacts pictureFacts(const Picture* picture);

/// Stretches or squeezes the picture to width × height (the aspect ratio is not kept), each
/// new pixel the average of the area it covers. The depth stays. Asking for the picture's own
/// size changes nothing.
///
/// \returns false when a side is below 1 or above 65 535; the picture then has no pixels and
/// cannot be saved.
bool resizePicture(Picture& picture, int width, int height);

/// Encodes the picture's pixels as a whole file of the format, at the picture's width and
/// height: PNG as 8-bit RGB without interlace, filter type 0 on every row, zlib level 9 and
/// no other chunks; JPEG with the library's defaults at quality 70, 3 components.
///
/// \returns the bytes to write, or nothing when the picture has no pixels or the library
/// fails. Writing the file is the caller's job.
[[nodiscard]] std::vector<std::uint8_t> savePicture(const Picture& picture, PictureFormat format);

/// A picture file described and shrunk to its icon.
struct PictureIcon
{
    PictureFacts facts;                  // zeros when the picture cannot be loaded
    std::vector<std::uint8_t> iconBytes; // PNG, iconSize × iconSize; empty when not loadable
    /// A JPEG whose data ends inside the picture (isJpegCutShort): it gets no icon, which
    /// would show the missing part in grey.
    bool isCutShort = false;
    /// Extended set only: the header was read (facts hold it) but the pixels could not be
    /// decoded. The classic set gives zeros then.
    bool isUndecodable = false;
    /// Extended set only: the format's name when this build has no decoder for it (facts
    /// hold the header's, there is no icon).
    std::string_view missingDecoder;
};

/// The picture icon of a picture file's bytes: loads it for an icon of iconSize, takes its
/// facts, squeezes it to iconSize × iconSize and encodes it as PNG.
[[nodiscard]] PictureIcon makePictureIcon(std::span<const std::uint8_t> bytes,
                                          std::uint8_t displayDepth, int iconSize,
                                          PictureFormatSet set = PictureFormatSet::Classic);

/// Whether this build decodes the pixels of every format of the extended set (the Windows
/// build reads GIF, WebP, TIFF and HEIF headers only).
[[nodiscard]] bool hasEveryPictureDecoder();

} // namespace tagrelay
