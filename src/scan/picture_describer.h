#pragma once

#include "platform/open_file.h"

#include <string>

namespace tagrelay {

struct FolderContext;
struct WalkContext;

/// Describes one JPEG or BMP picture of the folder, read from the file the walk opened: counts it,
/// adds its width, height and depth to the folder's list when that option is ticked (0 x 0 pixel 0
/// Bit when the picture cannot be loaded), and writes its PNG icon file (name + ".ico") when that
/// option is ticked. Nothing is shown and nothing polled.
void describePicture(FolderContext& folder, const std::string& name, OpenFile file,
                     WalkContext& walk);

} // namespace tagrelay
