#pragma once

#include "settings/settings.h"
#include "tags/tag_versions.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tagrelay {

/// The heading of the list of files with errors.
inline constexpr const char* errorListTitle = "List of files with errors";

/// Everything one program run shares: the options, the count of described files, the start
/// time, the list of files with errors and the two flags of the end sequence. The shell owns
/// it and passes it by reference, so a test can make a fresh one.
struct RunState
{
    Settings settings;
    /// Which ID3v2 tags the walk reads. Only the command line changes it, for its run; it is
    /// no option of the window and never goes into the settings file.
    TagVersions tagVersions = TagVersions::Id3v23Only;
    std::int32_t fileCount = 0;
    float runStartSeconds = 0.0f; // tickSeconds() when the walk started
    /// The entries of the list of files with errors, in the order they were found (without
    /// the list's heading). The window shows them; the command line prints them.
    std::vector<std::string> errors;
    /// Folders whose list could not be written, or that could not be listed or entered: the
    /// walk did not do all it was asked to.
    std::int32_t incompleteFolders = 0;
    bool thankYouDue = false;
    /// Whether the walk asks the disk for the files it will read next while it analyses one.
    /// It changes no result, only the time a walk over files not yet in memory takes.
    bool readAhead = true;
    /// Whether the start folder may be reached through a link of another user (the command
    /// line's --follow-start-link); without it such a start is refused.
    bool followsStartLink = false;
    /// Threads that analyse MP3 files and pictures ahead of the walk; 0: one per processor
    /// core, 1: every file is analysed on the walk's own thread. The lists, the error list and
    /// what the front end is shown are the same whatever the number.
    int analysisWorkers = 0;
    /// The player of the run's movies (its worker process starts with the first movie and
    /// ends with the run).
    std::shared_ptr<class MovieSource> movieService;
    /// What earlier runs found in the files (tagrelay-cli --update): an unchanged file gets its
    /// line from here without being opened. None for a walk that analyses every file.
    std::shared_ptr<class OutcomeCache> descriptionCache;
    /// Set when a close request was taken at a polling point of the walk or the stream scan;
    /// from then on nothing more is read or written.
    bool closeRequested = false;
};

} // namespace tagrelay
