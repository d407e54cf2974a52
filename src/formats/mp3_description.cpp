#include "formats/mp3_description.h"

#include "formats/track_facts.h"
#include "platform/clock_text.h"
#include "settings/settings.h"

#include <cmath>

namespace tagrelay {

std::string resolveGenre(const TrackFacts& facts)
{
    if (facts.genre.size() == 1)
        return facts.genreName.size() > 1 ? facts.genreName : std::string(" ");
    return facts.genre;
}

std::string formPlayingTime(std::int64_t audioBytes, std::int32_t bitrate, std::int32_t sampleRate)
{
    if (bitrate <= 0 || sampleRate <= 0)
        return {};
    const double exact = static_cast<double>(audioBytes) * 8.0 / (bitrate * 1000.0);
    return playingTimeText(static_cast<std::int64_t>(std::trunc(exact)));
}

std::string formFramesPlayingTime(std::int64_t samples, std::int32_t sampleRate)
{
    if (sampleRate <= 0)
        return {};
    return playingTimeText(samples / sampleRate);
}

std::string playingTimeText(std::int64_t total)
{
    if (total < 0)
        return " ? ";
    const auto minutes = static_cast<std::int64_t>(std::trunc(static_cast<double>(total) / 60.0));
    const std::int64_t seconds = total - 60 * minutes;
    return std::to_string(minutes) + ":" + twoDigitText(seconds) + " min";
}

std::string composeDescription(const TrackFacts& facts, const Settings& settings,
                               const std::string& genreText, const std::string& playingTime)
{
    std::string text;
    const auto append = [&text](std::int32_t ticked, const std::string& piece) {
        if (ticked != 0)
            text += " - " + piece;
    };
    append(settings.showArtist, facts.artist);
    append(settings.showAlbum, facts.album);
    append(settings.showTitle, facts.title);
    append(settings.showBitrate,
           std::to_string(facts.bitrate) + (facts.isVbr != 0 ? " kbs VBR" : " kbs CBR"));
    append(settings.showAudioMode, facts.channelMode);
    append(settings.showPlaytime, playingTime);
    append(settings.showGenre, genreText);
    return text.size() < 3 ? std::string() : text.substr(3);
}

} // namespace tagrelay
