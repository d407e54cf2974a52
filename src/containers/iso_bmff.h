#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tagrelay {

class ByteReader;

/// A four-character box or handler type as the big-endian number of its bytes.
constexpr std::uint32_t fourCc(const char (&text)[5])
{
    return (std::uint32_t{static_cast<unsigned char>(text[0])} << 24)
           | (std::uint32_t{static_cast<unsigned char>(text[1])} << 16)
           | (std::uint32_t{static_cast<unsigned char>(text[2])} << 8)
           | std::uint32_t{static_cast<unsigned char>(text[3])};
}

/// What the boxes of one track say.
struct IsoTrack
{
    std::uint32_t trackId = 0;
    std::uint32_t handler = 0; // hdlr handler type: 'soun', 'vide', ...
    /// tkhd width and height (the integer part of 16.16), and whether the matrix turns the
    /// picture by 90 or 270 degrees.
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool isTurned = false;
    /// mdhd
    std::int64_t mediaTimescale = 0;
    std::int64_t mediaDuration = 0;
    /// elst: the sum of all entries' segment durations (empty edits too), in the mvhd scale.
    bool hasEditList = false;
    std::int64_t editDuration = 0;
    /// stts: the sum of the sample durations, in the mdhd scale.
    std::int64_t sampleTableDuration = 0;
    /// The first sample description: its type ('mp4a', 'alac', 'avc1', ...), and for audio its
    /// channels and sampling rate.
    std::uint32_t codec = 0;
    std::int32_t channels = 0;
    std::int64_t sampleRate = 0;
    /// Samples of the moov tables and of all fragments together, their bytes, and whether
    /// every sample has the same size.
    std::int64_t sampleCount = 0;
    std::int64_t sampleBytes = 0;
    bool sizesEqual = true;
    std::int64_t commonSize = -1; // the size every sample had so far; -1 before the first
    /// The sum of the fragments' sample durations, in the mdhd scale.
    std::int64_t fragmentDuration = 0;
    /// trex defaults for the fragments.
    std::uint32_t defaultDuration = 0;
    std::uint32_t defaultSize = 0;
};

/// Everything read from an ISO base media file (MP4, M4A, MOV). Tag texts are the bytes as
/// stored (UTF-8 for well-formed files).
struct IsoFacts
{
    bool isIsoFile = false; // the file starts with a box of a known top-level type
    bool hasMovie = false;  // a moov box was found
    bool isCut = false;     // a box claims more bytes than the file holds
    bool hitLimit = false;  // a size, depth or count limit stopped the walk
    std::int64_t movieTimescale = 0;
    std::int64_t movieDuration = 0;
    bool isFragmented = false; // mvex was found
    bool hasFragmentDuration = false;
    std::int64_t fragmentDuration = 0; // mehd, in the mvhd scale
    std::vector<IsoTrack> tracks;

    std::string artist;
    std::string album;
    std::string title;
    std::string genre;
    std::int32_t genreNumber = 0;    // gnre: an ID3v1 genre number + 1; 0 for none
    std::vector<std::uint8_t> cover; // the first covr picture (JPEG or PNG)
    bool hasGaplessInfo = false;     // iTunSMPB
    std::int64_t priming = 0;
    std::int64_t padding = 0;

    /// The first track of the handler type; nullptr for none.
    const IsoTrack* firstTrack(std::uint32_t handler) const;
};

/// Hard limits of the walk: a hostile file cannot make it allocate or loop without bound.
inline constexpr int isoMaxDepth = 12;
inline constexpr std::size_t isoMaxTracks = 64;
inline constexpr std::int64_t isoMaxBoxes = 1'000'000;     // boxes visited in one file
inline constexpr std::int64_t isoMaxCoverBytes = 16 << 20; // a larger cover is left out
inline constexpr std::int64_t isoMaxTagBytes = 4096;       // of one tag text

enum class IsoCover : std::uint8_t { Keep, PassOver };

/// Walks the boxes of the file: the top level to the end (moov before or after mdat, every
/// moof), reading mdat's header only. Data references to other files are never followed.
[[nodiscard]] IsoFacts readIsoFile(ByteReader& file, IsoCover cover);

/// The priming and padding of an iTunSMPB text (" 00000000 00000840 000001CC ..."): the second
/// and third hexadecimal words. False when the text has no such words.
[[nodiscard]] bool parseGaplessInfo(const std::string& text, std::int64_t& priming,
                                    std::int64_t& padding);

} // namespace tagrelay
