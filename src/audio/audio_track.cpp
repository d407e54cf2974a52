#include "audio/audio_track.h"

#include <algorithm>

namespace tagrelay {

void AudioTrack::addProblem(const std::string& text)
{
    if (problems.size() < maxProblems
        && std::find(problems.begin(), problems.end(), text) == problems.end())
        problems.push_back(text);
}

} // namespace tagrelay
