#pragma once

#include <string>

namespace tagrelay {

class WindowLayer;
struct RunState;
struct TrackFacts;

/// Describes one JPEG or BMP picture: counts it, and appends its width, height and depth to the
/// folder's description file when that option is ticked (0 x 0 pixel 0 Bit when the picture
/// cannot be loaded). Shows nothing and does not poll.
void describePicture(const std::string& fullPath, const std::string& name,
                     const std::string& descriptionPath, RunState& run);

/// The cover step of an MP3 file: draws the cover (or the empty mark) into the picture area.
void showCover(const TrackFacts& facts, WindowLayer& window, RunState& run);

} // namespace tagrelay
