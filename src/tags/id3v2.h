#pragma once

#include "tags/track_facts.h"

#include <cstdint>
#include <string>

namespace tagrelay {

class ByteReader;

/// Empties the tag part of facts (releasing a held picture), then reads the ID3v1 block and
/// the ID3v2.3 tag of the file, so that every ID3v2.3 frame present replaces the ID3v1 value
/// of its field. Missing or broken tags leave fields empty; nothing is reported.
void readTrackTags(ByteReader& file, TrackFacts& facts);
/// As above on a path; an empty path only empties the fields.
void readTrackTags(const std::string& path, TrackFacts& facts);

} // namespace tagrelay
