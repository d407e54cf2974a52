#pragma once

// What every audio reader promises on any bytes, checked by the audio fuzz programs: the
// payload lies inside the file, a duration is never negative, the narrowest read window reads
// the same track, and passing the cover over changes nothing but the cover.

#include "audio/audio_track.h"
#include "fuzz_input.h"
#include "platform/byte_reader.h"

#include <clocale>

namespace tagrelay::fuzz {

template <typename Reader>
int checkAudioReader(const std::uint8_t* data, std::size_t size, Reader read)
{
    static InputFile input;
    const std::string& path = input.hold(data, size);
    AudioReadOptions options;
    options.covers = CoverBytes::Keep;
    ByteReader wide(path);
    const AudioTrack track = read(wide, options);
    if (track.payloadBytes < 0 || track.payloadBytes > static_cast<std::int64_t>(size))
        fail("the payload lies outside the file");
    if (track.durationTicks < 0 || track.durationScale < 0)
        fail("a negative duration");
    if (track.tags.coverPicture().size() > size)
        fail("a cover larger than the file");

    ByteReader narrow(path, 1);
    const AudioTrack again = read(narrow, options);
    if (again.tags != track.tags || again.payloadBytes != track.payloadBytes
        || again.durationTicks != track.durationTicks || again.problems != track.problems)
        fail("the narrow read window reads another track");

    options.covers = CoverBytes::PassOver;
    ByteReader plain(path);
    AudioTrack withoutCover = read(plain, options);
    if (!withoutCover.tags.coverFrame.empty())
        fail("a cover read although covers are passed over");
    withoutCover.tags.coverFrame = track.tags.coverFrame;
    withoutCover.tags.coverPictureStart = track.tags.coverPictureStart;
    if (withoutCover.tags != track.tags)
        fail("passing the cover over changed the tags");

    options.walksStream = false;
    ByteReader headers(path);
    (void)read(headers, options);
    return 0;
}

} // namespace tagrelay::fuzz
