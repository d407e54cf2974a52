#pragma once

#include <string>

namespace tagrelay {

class WalkReporter;
struct RunState;

/// The name of the description file the walk writes in a folder where none exists yet. The web
/// file servers on this system look for it in lower case.
inline constexpr const char* descriptionFileName = "descript.ion";

/// Visits the directory at path (ending in "/"; empty for the current directory) and every
/// directory below it, depth first: describes each MP3 file, picture and movie in it with one
/// line, and descends into each sub-directory as it meets it, reporting to the front end as it
/// goes. When a folder is done its description file is renewed (or created): the new lines
/// replace those of the files described, and the lines of other entries stay (mergeList).
/// Returns when the tree is done, or at once, with run.closeRequested set, when the front end
/// asked to stop at a polling point; the folders being described then keep the old lines of
/// the entries not reached.
void describeDirectory(const std::string& path, int depth, WalkReporter& reporter, RunState& run);

} // namespace tagrelay
