#include "audio/audio_track.h"

#include "platform/byte_reader.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tagrelay {

std::int64_t audioEndOf(ByteReader& file, std::int64_t start)
{
    constexpr std::int64_t id3v1Size = 128;
    std::int64_t end = file.size();
    if (end - id3v1Size >= start) {
        file.seek(end - id3v1Size);
        std::array<std::uint8_t, 3> tag{};
        file.readData(tag);
        if (std::memcmp(tag.data(), "TAG", 3) == 0)
            end -= id3v1Size;
    }
    return end;
}

void AudioTrack::addProblem(const std::string& text)
{
    if (problems.size() < maxProblems
        && std::find(problems.begin(), problems.end(), text) == problems.end())
        problems.push_back(text);
}

} // namespace tagrelay
