#pragma once

#include <gst/gst.h>

namespace tagrelay {

/// Takes every element factory the movie player has no business with out of this process's
/// view of the media framework's registry (isAllowedMovieElement), so that nothing can make
/// them: no playlist or adaptive-stream demuxer, no source that reads a file or the network.
/// Call once, after gst_init and before any pipeline is made.
void keepOnlyMovieElements();

/// Lets the decoders that the player builds inside itself pick only allowed factories, also
/// ones a plugin registers again when it is loaded.
void guardAutoplugging(GstElement* player);

} // namespace tagrelay
