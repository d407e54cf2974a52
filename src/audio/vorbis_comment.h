#pragma once

#include "tags/tag_versions.h"
#include "tags/track_tags.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tagrelay {

/// Reads a Vorbis comment block (FLAC VORBIS_COMMENT, the Vorbis and Opus comment headers
/// behind their magic): the first ARTIST, ALBUM, TITLE and GENRE, field names compared without
/// regard to case, their UTF-8 values in the locale's character set; with CoverBytes::Keep the
/// first front cover of a METADATA_BLOCK_PICTURE field. Fields never read past the block.
/// \returns false when the block ends before its stated fields do (what was read is kept).
bool readVorbisComment(std::span<const std::uint8_t> block, CoverBytes covers, TrackTags& tags);

/// A FLAC PICTURE block (as in the FLAC stream and, base64-coded, in an Ogg comment).
struct PictureBlock
{
    std::uint32_t type = 0; // 3: the front cover
    std::span<const std::uint8_t> data;
};

/// Decodes a PICTURE block's fields; nothing when they run past its end.
[[nodiscard]] std::optional<PictureBlock> readPictureBlock(std::span<const std::uint8_t> block);

/// Stores a PICTURE block's picture as the tags' cover when it is a front cover and the tags
/// hold none yet. \returns whether it did.
bool takeFrontCover(std::span<const std::uint8_t> block, TrackTags& tags);

/// The bytes of base64 text (standard alphabet); it ends at "=" or at any other character.
[[nodiscard]] std::vector<std::uint8_t> decodeBase64(std::span<const std::uint8_t> text);

/// True when the bytes are well-formed UTF-8.
[[nodiscard]] bool isValidUtf8(std::span<const std::uint8_t> bytes);

/// A UTF-8 tag text in the locale's character set, cut at the longest text a tag gives.
[[nodiscard]] std::string utf8TagText(std::span<const std::uint8_t> bytes);

} // namespace tagrelay
