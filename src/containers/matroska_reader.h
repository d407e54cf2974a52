#pragma once

#include "platform/byte_reader.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tagrelay {

/// What stopped a Matroska reading from being whole, the first thing found.
enum class MatroskaTrouble {
    None,
    NotMatroska, // no EBML header of a Matroska or WebM document at the start
    CutShort,    // the file ends inside an element
    Damaged,     // an element that cannot be, or more elements than any movie has
};

/// The first video track's entry (TrackType 1).
struct MatroskaVideoTrack
{
    std::uint64_t number = 0;
    std::int32_t pixelWidth = 0;
    std::int32_t pixelHeight = 0;
    std::int32_t displayWidth = 0; // 0: not given
    std::int32_t displayHeight = 0;
    std::int64_t defaultDurationNs = 0; // 0: not given
};

/// The facts of a Matroska or WebM file, from its elements alone: frames are never decoded,
/// block payloads never read, and linked segments or other files never looked at.
struct MatroskaFacts
{
    std::string docType;
    std::int64_t timestampScale = 1000000; // nanoseconds per timestamp unit
    /// The Segment Info Duration in timestamp units.
    std::optional<double> segmentDuration;
    std::optional<MatroskaVideoTrack> video;
    /// The video track's frames: its blocks, a laced block counting each frame it holds.
    std::int64_t frames = 0;
    /// The largest video block timestamp plus that block's BlockDuration, else its frames'
    /// DefaultDuration, in nanoseconds.
    std::optional<std::int64_t> blocksEndNs;
    /// The movie's duration in nanoseconds: the Segment Duration when the clusters were read to
    /// their end, else blocksEndNs.
    std::optional<std::int64_t> durationNs;
    MatroskaTrouble trouble = MatroskaTrouble::None;
    /// What is wrong, for people; empty without trouble.
    std::string troubleText;
};

/// The frames of a laced block from the block's data after its flags byte: the lace count
/// byte plus one, its frame sizes checked to fit the data. lacing is bits 1-2 of the flags.
struct LaceReading
{
    std::int64_t frames = 1;
    bool fits = true;
};
[[nodiscard]] LaceReading readLacing(ByteReader& file, int lacing, std::int64_t end);

/// Reads a Matroska or WebM file from its start: the EBML header, the first Segment's Info
/// and Tracks, and every Cluster's block headers. Segments and Clusters of unknown size (live
/// and piped files) end where an element that cannot be inside them starts.
[[nodiscard]] MatroskaFacts readMatroska(ByteReader& file);

} // namespace tagrelay
