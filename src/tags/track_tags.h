#pragma once

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

} // namespace tagrelay
