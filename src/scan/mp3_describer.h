#pragma once

#include "platform/open_file.h"

#include <string>

namespace tagrelay {

struct FolderContext;
struct WalkContext;

/// The tag check: true when artist and title both end in "?", the mark that characters the
/// locale cannot show leave.
[[nodiscard]] bool needsNewTag(const std::string& artist, const std::string& title);

/// Describes one MP3 file of the folder, read from the file the walk opened (one that is not
/// open reads as empty): reads its tags and first frame header, scans its
/// stream when the bitrate or the playing time is ticked, reports what it found (the file
/// being analysed, the scan's progress, the facts, the cover), writes its icon file when it
/// has a front cover and that option is ticked, appends its line to the folder's list and
/// counts it. A request to stop during the scan (run.closeRequested) ends it at once, with
/// nothing written for the file; one at the end of the file stops the walk after it.
void describeMp3(FolderContext& folder, const std::string& name, OpenFile file, WalkContext& walk);

} // namespace tagrelay
