#pragma once

namespace tagrelay {

class WindowLayer;
struct RunState;

/// The program after its services started: reads the settings, opens the main window with its
/// option panel, runs the option loop, and on the start button saves the settings, asks for
/// the start directory and walks it; then the end sequence.
///
/// \returns the exit code (0) once the user closed a window at the end; the caller shuts down.
int runProgram(WindowLayer& window, RunState& run);

} // namespace tagrelay
