#pragma once

#include <string>

namespace tagrelay {

class WindowLayer;
struct RunState;

/// Opens the main window with an empty progress display and the list of files with errors
/// under its heading, as the window program has it when the walk starts.
void openWalkWindow(WindowLayer& window, const std::string& title);

/// The walk as the window program runs it: the window's front end draws its reports into
/// the window and takes its close requests from the window's events.
void describeDirectory(const std::string& path, int depth, WindowLayer& window, RunState& run);

} // namespace tagrelay
