#include "formats/audio_format.h"

#include "audio/adts_reader.h"
#include "audio/flac_reader.h"
#include "audio/ogg_reader.h"
#include "audio/wav_reader.h"
#include "formats/exact_duration.h"
#include "formats/mp3_description.h"
#include "formats/mp3_format.h"
#include "formats/track_facts.h"
#include "platform/byte_reader.h"
#include "platform/read_ahead.h"

#include <algorithm>
#include <array>

namespace tagrelay {

namespace {

/// Raise with every change to what these files' lines, entries or icons are made of.
constexpr int audioFormatVersion = 1;

constexpr std::array<std::string_view, 1> flacExtensions = {".flac"};
constexpr std::array<std::string_view, 3> oggExtensions = {".ogg", ".oga", ".opus"};
constexpr std::array<std::string_view, 1> wavExtensions = {".wav"};
constexpr std::array<std::string_view, 1> adtsExtensions = {".aac"};

/// The headers and the tags in front lie in the first window; walks read on in their own.
constexpr std::size_t audioReadWindow = 64 * 1024;

/// What the user is told is wrong, by container.
std::string_view kindText(AudioContainer container)
{
    switch (container) {
    case AudioContainer::Flac:
        return "FLAC";
    case AudioContainer::Ogg:
        return "Ogg";
    case AudioContainer::Wav:
        return "WAV";
    case AudioContainer::Adts:
        return "AAC";
    }
    return "";
}

/// Whether the container's facts for the bitrate and the playing time need a walk to the end.
bool walksToEnd(AudioContainer container)
{
    return container == AudioContainer::Ogg || container == AudioContainer::Adts;
}

bool usesTagVersions(AudioContainer container)
{
    return container == AudioContainer::Wav || container == AudioContainer::Adts;
}

AudioTrack readTrack(AudioContainer container, ByteReader& reader, const AudioReadOptions& options)
{
    switch (container) {
    case AudioContainer::Flac:
        return readFlac(reader, options);
    case AudioContainer::Ogg:
        return readOgg(reader, options);
    case AudioContainer::Wav:
        return readWav(reader, options);
    case AudioContainer::Adts:
        return readAdts(reader, options);
    }
    return {};
}

} // namespace

std::string channelModeText(std::int32_t channels)
{
    if (channels == 1)
        return "Mono";
    if (channels == 2)
        return "Stereo";
    if (channels > 2)
        return std::to_string(channels) + " Channels";
    return {};
}

std::string_view AudioFileFormat::name() const
{
    switch (m_container) {
    case AudioContainer::Flac:
        return "flac";
    case AudioContainer::Ogg:
        return "ogg";
    case AudioContainer::Wav:
        return "wav";
    case AudioContainer::Adts:
        return "aac";
    }
    return "";
}

std::span<const std::string_view> AudioFileFormat::extensions() const
{
    switch (m_container) {
    case AudioContainer::Flac:
        return flacExtensions;
    case AudioContainer::Ogg:
        return oggExtensions;
    case AudioContainer::Wav:
        return wavExtensions;
    case AudioContainer::Adts:
        return adtsExtensions;
    }
    return {};
}

std::string AudioFileFormat::cacheKey(const LineOptions& options) const
{
    const Settings& s = options.settings;
    // Files that are not described are never looked up.
    if (!isDescribed(s))
        return std::string(name()) + " not described";
    // The lines are made as MP3 lines are, from the same options.
    std::string key =
        std::string(name()) + " " + std::to_string(audioFormatVersion) + mp3OptionsKey(options);
    if (usesTagVersions(m_container))
        key += options.tagVersions == TagVersions::All ? "; all tag versions" : "; ID3v2.3 only";
    key += "; codeset " + options.codeset;
    return key;
}

ReadAheadWish AudioFileFormat::readAhead(const Settings& settings) const
{
    const bool walks = settings.showBitrate != 0 || settings.showPlaytime != 0;
    return {audioReadWindow, walksToEnd(m_container) && walks};
}

FileOutcome AudioFileFormat::analyse(OpenFile file, const std::string& fullPath,
                                     const AnalysisOptions& options, AnalysisSink& sink) const
{
    const Settings& settings = options.settings;
    FileOutcome outcome;
    ByteReader reader(std::move(file), audioReadWindow);
    const bool walks = settings.showBitrate != 0 || settings.showPlaytime != 0;
    reader.setSequentialReadAhead(walks && options.readAhead != nullptr
                                  && !options.readAhead->findsFilesInMemory());

    AudioReadOptions readOptions;
    readOptions.tagVersions = options.tagVersions;
    readOptions.covers = usesCover(options) ? CoverBytes::Keep : CoverBytes::PassOver;
    readOptions.walksStream = walks;
    if (walks && walksToEnd(m_container)) {
        sink.scanStarted(reader.size());
        readOptions.progress = [&sink](std::int64_t done) { return sink.scanProgress(done); };
    }
    const AudioTrack track = readTrack(m_container, reader, readOptions);
    sink.analysing();
    if (track.stopped) {
        outcome.stopped = true;
        return outcome;
    }
    if (walks && walksToEnd(m_container))
        sink.scanFinished();
    for (const std::string& problem : track.problems)
        outcome.tellError(sink, std::string(kindText(m_container)) + " file damaged (" + problem
                                    + "): " + fullPath);

    TrackFacts facts;
    static_cast<TrackTags&>(facts) = track.tags;
    facts.sampleRate = track.sampleRate;
    facts.channelMode = channelModeText(track.channels);
    const ExactDuration duration{track.durationTicks, track.durationScale};
    const std::int64_t kilobits = truncatedKilobitRate(track.payloadBytes, duration);
    facts.bitrate = static_cast<std::int16_t>(std::clamp<std::int64_t>(kilobits, 0, INT16_MAX));
    facts.isVbr = track.isVbr ? 1 : 0;
    const std::string genreText = track.tagsAreId3 ? resolveGenre(facts) : facts.genre;
    const std::string playingTime =
        track.durationScale > 0 ? exactPlayingTimeText(duration) : std::string();

    takeCover(facts, options, outcome);
    finishTrackOutcome(outcome, facts, settings, genreText, playingTime, fullPath);
    return outcome;
}

} // namespace tagrelay
