#pragma once

#include <string>

namespace tagrelay {

class WindowLayer;
struct FolderContext;
struct RunState;
struct TrackFacts;

/// Describes one JPEG or BMP picture of the folder: counts it, adds its width, height and
/// depth to the folder's list when that option is ticked (0 x 0 pixel 0 Bit when the picture
/// cannot be loaded), and writes its PNG icon file (name + ".ico") when that option is ticked.
/// The window is asked only for the screen's depth; nothing is shown and nothing polled.
void describePicture(FolderContext& folder, const std::string& name, WindowLayer& window,
                     RunState& run);

/// Decodes the front cover the tags carry (facts.coverFrame) into facts.picture, at the
/// screen's depth; without one facts.picture is empty.
void takeCover(TrackFacts& facts, const WindowLayer& window);

/// The cover step of an MP3 file: draws the cover into the picture area (or the empty mark
/// without one), shrinks it to the icon size and writes it as the MP3 file's JPEG icon file
/// (name + ".ico") when that option is ticked.
void showCover(FolderContext& folder, const std::string& name, TrackFacts& facts,
               WindowLayer& window, RunState& run);

} // namespace tagrelay
