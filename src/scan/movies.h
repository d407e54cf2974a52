#pragma once

#include <string>

namespace tagrelay {

class WindowLayer;
struct FolderContext;
struct RunState;

/// Describes one AVI or MPEG movie with its size, measured frame rate and playing time. A
/// movie that cannot be loaded is passed over without a line. Polls for a close request
/// after loading and after its line was written.
void describeMovie(FolderContext& folder, const std::string& name, WindowLayer& window,
                   RunState& run);

} // namespace tagrelay
