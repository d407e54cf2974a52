#pragma once

#include "picture/picture.h"
#include "platform/open_file.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tagrelay {

struct AnalysisOptions;
struct FolderContext;
struct WalkContext;

/// Everything the analysis of one picture found, for the walk to write.
struct PictureAnalysis
{
    PictureFacts facts; // zeros when the picture cannot be loaded
    std::vector<std::uint8_t> iconBytes;
    std::vector<std::string> errors; // entries for the list of files with errors
};

/// Analyses one JPEG or BMP picture from the open file: its width, height and depth when the
/// dimensions option is ticked (from the header alone), and its PNG icon when that option is
/// ticked (decoded at the icon's size). Touches nothing of the run.
[[nodiscard]] PictureAnalysis analysePicture(OpenFile file, const std::string& fullPath,
                                             const AnalysisOptions& options);

/// Writes an analysed picture: counts it, adds its entries to the list of files with errors,
/// its line to the folder's list when the dimensions option is ticked (0 x 0 pixel 0 Bit when
/// it could not be loaded) and its icon file. Nothing is shown and nothing polled.
void commitPicture(FolderContext& folder, const std::string& name, const PictureAnalysis& analysis,
                   WalkContext& walk);

/// Describes one JPEG or BMP picture on the walk's thread: analysePicture, then commitPicture.
void describePicture(FolderContext& folder, const std::string& name, OpenFile file,
                     WalkContext& walk);

} // namespace tagrelay
