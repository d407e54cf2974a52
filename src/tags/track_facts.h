#pragma once

#include "media/picture.h"

#include <cstdint>
#include <string>

namespace tagrelay {

/// The facts gathered for the current MP3 file. One record serves the whole run and is
/// refilled for every file: the tag readers reset and fill the tag part, the frame header
/// decoder the frame part, the stream scan the bitrate part.
struct TrackFacts
{
    // Tag part (ID3v2.3 frames replace the ID3v1 values). Texts in the locale's character set.
    std::string title;
    std::string artist;
    std::string album;
    std::string year;
    std::string genre; // TCON as stored, or the ID3v1 genre byte as a one-byte text
    std::string linkDescription;
    std::string rightsNotice;
    std::string track;
    PictureHandle picture; // the front cover, when the tag holds one
    std::string genreName; // the genre table's name for the ID3v1 genre byte

    // Frame part: the first frame header.
    std::int64_t audioStart = 0;
    std::int64_t audioBytes = 0;
    std::uint8_t mpegVersion = 0;
    std::uint8_t layer = 0;
    std::int16_t headerBitrate = 0;
    std::uint8_t copyrightFlag = 0;
    std::uint8_t originalFlag = 0;
    std::int32_t sampleRate = 0;
    std::string modeExtension;
    std::string emphasis;
    std::string channelMode;

    // Stream part.
    std::int16_t bitrate = 0; // kbit/s shown for the file
    std::uint8_t isVbr = 0;
};

} // namespace tagrelay
