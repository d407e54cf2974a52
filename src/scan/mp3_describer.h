#pragma once

#include "picture/rgb_image.h"
#include "platform/open_file.h"
#include "scan/track_facts.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tagrelay {

class AnalysisSink;
struct AnalysisOptions;
struct FolderContext;
struct WalkContext;

/// The tag check: true when artist and title both end in "?", the mark that characters the
/// locale cannot show leave.
[[nodiscard]] bool needsNewTag(const std::string& artist, const std::string& title);

/// Everything the analysis of one MP3 file found, for the walk to show and write.
struct Mp3Analysis
{
    TrackFacts facts;
    std::string genreText;
    std::string playingTime;
    std::string description; // the ticked pieces, as the line carries them
    /// The front cover squeezed to the cover area, when the front end shows covers and the
    /// tag holds a decodable one.
    bool hasCover = false;
    RgbImage coverArea;
    /// The JPEG icon file's bytes, when that option is ticked and there is a cover.
    std::vector<std::uint8_t> iconBytes;
    /// The walk was asked to stop during the stream scan: nothing is to be written.
    bool stopped = false;
};

/// Analyses one MP3 file from the open file (one that is not open reads as empty): reads its
/// tags and first frame header, scans its stream when the bitrate or the playing time is
/// ticked, decodes the cover only when the front end shows covers or an icon is to be made,
/// and composes the description. Tells the sink as it goes; touches nothing of the run.
[[nodiscard]] Mp3Analysis analyseMp3(OpenFile file, const std::string& fullPath,
                                     const AnalysisOptions& options, AnalysisSink& sink);

/// Shows and writes an analysed MP3 file: the tag check, the facts, the cover, the icon file,
/// the description line and the count, then the polling point after the file.
void commitMp3(FolderContext& folder, const std::string& name, const Mp3Analysis& analysis,
               WalkContext& walk);

/// Describes one MP3 file of the folder on the walk's thread: analyseMp3 with its reports
/// shown at once, then commitMp3. A request to stop during the scan (run.closeRequested) ends
/// it at once, with nothing written for the file.
void describeMp3(FolderContext& folder, const std::string& name, OpenFile file, WalkContext& walk);

} // namespace tagrelay
