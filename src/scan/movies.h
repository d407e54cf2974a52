#pragma once

#include <string>

namespace tagrelay {

class WindowLayer;
struct RunState;

/// Describes one AVI or MPEG movie with its size, measured frame rate and playing time. A
/// movie that cannot be loaded is passed over without a line. Polls for a close request
/// after loading and after its line was written.
void describeMovie(const std::string& fullPath, const std::string& name,
                   const std::string& descriptionPath, WindowLayer& window, RunState& run);

} // namespace tagrelay
