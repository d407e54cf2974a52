#include "scan/descriptions.h"

#include "scan/settings.h"
#include "scan/track_facts.h"

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

std::string twoDigitText(std::int64_t value)
{
    const std::string text = std::to_string(value);
    return text.size() == 1 ? "0" + text : text;
}

std::string elapsedTimeText(float nowSeconds, float startSeconds)
{
    return elapsedClockText(nowSeconds, startSeconds) + " Time elapsed";
}

std::string elapsedClockText(float nowSeconds, float startSeconds)
{
    const float elapsed = nowSeconds - startSeconds;
    const float hours = std::floor(elapsed / 60.0f / 60.0f);
    const float minutes = std::floor(elapsed / 60.0f - hours * 60.0f);
    const float seconds = std::floor(elapsed - minutes * 60.0f - hours * 3600.0f);
    return std::to_string(static_cast<long>(hours)) + ":" + twoDigitText(static_cast<long>(minutes))
           + ":" + twoDigitText(static_cast<long>(seconds));
}

bool isWritableName(std::string_view name)
{
    // Whatever a reader of the list could take for the end of a line: CR and LF, and what
    // Unicode-aware readers also split at (vertical tab, form feed, the file, group and record
    // separators, and in UTF-8 next line, line separator and paragraph separator).
    constexpr std::string_view lineBreaks[] = {
        "\r", "\n", "\v", "\f", "\x1C", "\x1D", "\x1E", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"};
    if (name.find('"') != std::string_view::npos)
        return false;
    for (const std::string_view lineBreak : lineBreaks) {
        if (name.find(lineBreak) != std::string_view::npos)
            return false;
    }
    return true;
}

std::string descriptionLine(std::string_view name, std::string_view description)
{
    std::string line;
    line.reserve(name.size() + description.size() + 5);
    line += '"';
    line += name;
    line += "\" ";
    for (const char c : description)
        line += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    line += "\r\n";
    return line;
}

} // namespace tagrelay
