#pragma once

#include "tags/tag_versions.h"
#include "tags/track_tags.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tagrelay {

/// Called now and then while a reader walks a stream, with the bytes done; false stops it.
using AudioProgress = std::function<bool(std::int64_t bytesDone)>;

/// What a reader is asked for.
struct AudioReadOptions
{
    TagVersions tagVersions = TagVersions::Id3v23Only;
    CoverBytes covers = CoverBytes::PassOver;
    /// Whether the duration and the payload are wanted where only a walk over the whole
    /// stream gives them (Ogg, ADTS, a FLAC stream that does not state its length).
    bool walksStream = true;
    AudioProgress progress;
};

/// What a reader found in one audio file. Texts are in the locale's character set; the cover
/// is a picture's bytes in tags.coverFrame from tags.coverPictureStart (TrackTags::coverPicture).
struct AudioTrack
{
    TrackTags tags;
    /// The genre came from an ID3 tag: a one-byte genre stands for an ID3v1 genre number.
    bool tagsAreId3 = false;
    std::int32_t sampleRate = 0;
    std::int32_t channels = 0;
    /// The exact duration, durationTicks / durationScale seconds; a scale of 0: not known.
    std::int64_t durationTicks = 0;
    std::int64_t durationScale = 0;
    /// The bytes of the audio payload, as each format counts them.
    std::int64_t payloadBytes = 0;
    /// False when every audio packet has the same size.
    bool isVbr = true;
    /// What is wrong with the file, a short phrase each, in the order found.
    std::vector<std::string> problems;
    /// The progress callback asked to stop.
    bool stopped = false;

    /// Adds a problem unless it is already there (a damaged stream repeats itself).
    void addProblem(const std::string& text);
};

/// The most bytes of one metadata block or header packet a reader holds (a comment block
/// with an embedded cover); a larger one is passed over.
inline constexpr std::int64_t maxHeldBlockBytes = 16 * 1024 * 1024;

class ByteReader;

/// Where a stream's audio ends: at the end of the file, or before an ID3v1 block there, when
/// the block does not reach back before start.
[[nodiscard]] std::int64_t audioEndOf(ByteReader& file, std::int64_t start);

/// The most problems kept for one file.
inline constexpr std::size_t maxProblems = 8;

} // namespace tagrelay
