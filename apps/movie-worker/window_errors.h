#pragma once

namespace tagrelay {

/// Makes errors on the X11 connections of the video sinks harmless. Xlib's default handler ends
/// the process, so a movie window that another program destroys while the movie plays in it
/// would cut the measurement short; instead the drawing fails and the movie plays on unseen
/// to the end of its measurement. Call once, before any sink opens the display.
void keepPlayingOnWindowErrors();

} // namespace tagrelay
