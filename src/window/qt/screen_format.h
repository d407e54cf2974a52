#pragma once

namespace tagrelay {

/// Bits per pixel of the bitmap format a screen of this colour depth keeps its pictures in,
/// on window systems that do not say: 1, 4, 8 and 16 bits are stored as they are, anything
/// deeper (24 bits of colour, 30 of deep colour) in 32. 0 for a depth of 0 or less.
int bitsPerPixelOfDepth(int depth);

/// Bits per pixel of the primary screen's own bitmap format, which pictures held for showing
/// report as their depth. On X this is the pixel format the server announced for the screen's
/// depth (32 for the usual depth-24 TrueColor visual, 24 on the rare server that packs such
/// pixels in three bytes); elsewhere it follows from the screen's depth. 0 when there is no
/// screen. Needs a QGuiApplication.
int screenBitsPerPixel();

} // namespace tagrelay
