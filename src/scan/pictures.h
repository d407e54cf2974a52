#pragma once

#include <string>

namespace tagrelay {

class WindowLayer;
struct FolderContext;
struct RunState;
struct TrackFacts;

/// Describes one JPEG or BMP picture of the folder: counts it, and adds its width, height and
/// depth to the folder's list when that option is ticked (0 x 0 pixel 0 Bit when the picture
/// cannot be loaded). Shows nothing and does not poll.
void describePicture(FolderContext& folder, const std::string& name, RunState& run);

/// The cover step of an MP3 file: draws the cover (or the empty mark) into the picture area.
void showCover(const TrackFacts& facts, WindowLayer& window, RunState& run);

} // namespace tagrelay
