#pragma once

#include <string_view>

namespace tagrelay {

/// Whether the movie worker may make elements of a media framework factory, by its name and
/// its classification ("Codec/Decoder/Video"): the player's own plumbing, the sinks it plays
/// to, the demuxers of AVI and of MPEG program and transport streams, and the parsers and
/// decoders of audio and video. Everything else is refused: other containers, playlists and
/// adaptive streams (HLS, DASH), every source that reads a file or the network, subtitle,
/// picture and hardware decoders, encoders and muxers.
[[nodiscard]] bool isAllowedMovieElement(std::string_view factory, std::string_view klass);

} // namespace tagrelay
