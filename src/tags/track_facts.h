#pragma once

#include "media/picture.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tagrelay {

/// What the tags of one MP3 file say. ID3v2.3 frames replace the ID3v1 values. Texts are in
/// the locale's character set.
struct TrackTags
{
    std::string title;
    std::string artist;
    std::string album;
    std::string year;
    std::string genre; // TCON as stored, or the ID3v1 genre byte as a one-byte text
    std::string linkDescription;
    std::string rightsNotice;
    std::string track;
    std::string genreName; // the genre table's name for the ID3v1 genre byte
    /// The data of the tag's last front-cover picture frame (encoding, MIME type, picture
    /// type, description and picture bytes), empty when the tag has none.
    std::vector<std::uint8_t> coverFrame;
};

/// What the first frame header at the audio start says.
struct FrameFacts
{
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
};

/// Everything known about one MP3 file, built by the walk from the readers' results for that
/// file: its tags, its first frame, the stream scan's bitrate and the decoded cover.
struct TrackFacts : TrackTags, FrameFacts
{
    std::int16_t bitrate = 0; // kbit/s shown for the file
    std::uint8_t isVbr = 0;
    PictureHandle picture; // the front cover, when the tag holds a decodable one
};

} // namespace tagrelay
