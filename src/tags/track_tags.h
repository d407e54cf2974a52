#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
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
    /// Where the picture bytes start in coverFrame, found when the frame was read.
    std::size_t coverPictureStart = 0;

    /// The cover's picture bytes; empty when the tag has no front cover.
    std::span<const std::uint8_t> coverPicture() const
    {
        return std::span<const std::uint8_t>(coverFrame)
            .subspan(coverFrame.empty() ? 0 : coverPictureStart);
    }
    friend bool operator==(const TrackTags&, const TrackTags&) = default;
};

} // namespace tagrelay
