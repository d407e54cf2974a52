#pragma once

#include "shell/settings.h"
#include "tags/track_facts.h"

#include <cstdint>

namespace tagrelay {

/// Everything one program run shares: the options, the current MP3 file's facts, the count of
/// described files, the start time and the two flags of the end sequence. The shell owns it
/// and passes it by reference, so a test can make a fresh one.
struct RunState
{
    Settings settings;
    TrackFacts facts;
    std::int32_t fileCount = 0;
    float runStartSeconds = 0.0f; // tickSeconds() when the walk started
    bool thankYouDue = false;
    /// Set when a close request was taken at a polling point of the walk or the stream scan;
    /// from then on nothing more is read or written.
    bool closeRequested = false;
};

} // namespace tagrelay
