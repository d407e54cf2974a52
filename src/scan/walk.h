#pragma once

#include <string>

namespace tagrelay {

class WindowLayer;
struct RunState;

/// Visits the directory at path (ending in "/"; empty for the current directory) and every
/// directory below it, depth first: empties or creates its description file, describes each
/// MP3 file, picture and movie in it with one line, and descends into each sub-directory as it
/// meets it. Returns when the tree is done, or at once, with run.closeRequested set, when a
/// close request was taken at a polling point.
void describeDirectory(const std::string& path, int depth, WindowLayer& window, RunState& run);

} // namespace tagrelay
