#include "formats/mp4_format.h"

#include "formats/movie_format.h"
#include "formats/mp3_description.h"
#include "formats/mp3_format.h"
#include "formats/track_facts.h"
#include "picture/cover_picture.h"
#include "platform/byte_reader.h"
#include "tags/genres.h"
#include "tags/tag_text.h"

#include <array>
#include <limits>

namespace tagrelay {

namespace {

/// Raise with every change to what an M4A file's line, entries or icon are made of.
constexpr int m4aFormatVersion = 1;
/// Raise with every change to what an MP4 movie's line or entries are made of.
constexpr int mp4FormatVersion = 1;

constexpr std::array<std::string_view, 1> m4aExtensions = {".m4a"};
constexpr std::array<std::string_view, 3> mp4Extensions = {".mp4", ".m4v", ".mov"};

/// The boxes are small and scattered (moov at either end, a moof per fragment): a small
/// window wastes nothing on the media data between them.
constexpr std::size_t isoReadWindow = 16 * 1024;

std::string tagText(const std::string& stored)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(stored.data());
    return decodeTagText(static_cast<std::uint8_t>(TextEncoding::Utf8), {bytes, stored.size()});
}

std::string channelModeText(std::int32_t channels)
{
    if (channels <= 0)
        return {};
    if (channels == 1)
        return "Mono";
    if (channels == 2)
        return "Stereo";
    return std::to_string(channels) + " Channels";
}

__extension__ using Wide = __int128;

constexpr std::int64_t maxTicks = std::numeric_limits<std::int64_t>::max();

std::int64_t positiveOr(std::int64_t value, std::int64_t fallback)
{
    return value > 0 ? value : fallback;
}

} // namespace

std::optional<ExactDuration> isoTrackDuration(const IsoFacts& facts, const IsoTrack& track)
{
    if (facts.isFragmented) {
        if (facts.hasFragmentDuration && facts.fragmentDuration > 0 && facts.movieTimescale > 0)
            return ExactDuration{facts.fragmentDuration, facts.movieTimescale};
        // The samples in moov (none with an empty moov) and those of the fragments.
        if (track.fragmentDuration > 0 && track.mediaTimescale > 0
            && track.sampleTableDuration <= maxTicks - track.fragmentDuration)
            return ExactDuration{track.sampleTableDuration + track.fragmentDuration,
                                 track.mediaTimescale};
    }
    if (track.hasEditList && track.editDuration > 0 && facts.movieTimescale > 0)
        return ExactDuration{track.editDuration, facts.movieTimescale};
    if (track.mediaTimescale <= 0)
        return std::nullopt;
    const std::int64_t media = positiveOr(track.mediaDuration, track.sampleTableDuration);
    if (media <= 0)
        return std::nullopt;
    if (track.handler == fourCc("soun") && facts.hasGaplessInfo) {
        // The priming and padding count samples at the sampling rate; mdhd counts in its own
        // scale (nearly always the same).
        const std::int64_t rate = positiveOr(track.sampleRate, track.mediaTimescale);
        const Wide ticks =
            static_cast<Wide>(media) * rate
            - (static_cast<Wide>(facts.priming) + facts.padding) * track.mediaTimescale;
        const Wide scale = static_cast<Wide>(track.mediaTimescale) * rate;
        if (ticks > 0 && ticks <= maxTicks && scale <= maxTicks)
            return ExactDuration{static_cast<std::int64_t>(ticks),
                                 static_cast<std::int64_t>(scale)};
    }
    return ExactDuration{media, track.mediaTimescale};
}

std::vector<std::string> isoDamageEntries(const IsoFacts& facts, const std::string& fullPath)
{
    std::vector<std::string> entries;
    if (!facts.isIsoFile)
        entries.push_back("No MP4 boxes found: " + fullPath);
    else if (!facts.hasMovie)
        entries.push_back((facts.isCut ? "MP4 file cut short before its moov box: "
                                       : "MP4 file without a moov box: ")
                          + fullPath);
    else if (facts.isCut)
        entries.push_back("MP4 file cut short: " + fullPath);
    if (facts.hitLimit)
        entries.push_back("MP4 boxes beyond the reader's limits: " + fullPath);
    return entries;
}

std::span<const std::string_view> M4aFileFormat::extensions() const
{
    return m4aExtensions;
}

std::string M4aFileFormat::cacheKey(const LineOptions& options) const
{
    std::string key = "m4a " + std::to_string(m4aFormatVersion) + mp3OptionsKey(options);
    key += "; codeset " + options.codeset;
    return key;
}

FileOutcome M4aFileFormat::analyse(OpenFile file, const std::string& fullPath,
                                   const AnalysisOptions& options, AnalysisSink& sink) const
{
    const Settings& settings = options.settings;
    FileOutcome outcome;
    ByteReader reader(std::move(file), isoReadWindow);
    const bool isOpen = reader.isOpen();
    const IsoFacts boxes =
        readIsoFile(reader, usesCover(options) ? IsoCover::Keep : IsoCover::PassOver);
    sink.analysing();

    TrackFacts facts;
    facts.artist = tagText(boxes.artist);
    facts.album = tagText(boxes.album);
    facts.title = tagText(boxes.title);
    if (!boxes.genre.empty()) {
        facts.genre = tagText(boxes.genre);
    } else if (boxes.genreNumber > 0) {
        // gnre holds an ID3v1 genre number + 1: shown as an MP3 file's genre byte is.
        facts.genre = std::string(1, static_cast<char>(boxes.genreNumber - 1));
        facts.genreName = genreNameFor(boxes.genreNumber - 1);
    }
    const std::string genreText = resolveGenre(facts);

    std::string playingTime;
    if (!isOpen) {
        outcome.tellError(sink, "File Could Not be opened: " + fullPath);
    } else {
        for (const std::string& entry : isoDamageEntries(boxes, fullPath))
            outcome.tellError(sink, entry);
        const IsoTrack* track = boxes.firstTrack(fourCc("soun"));
        if (track == nullptr && boxes.hasMovie)
            outcome.tellError(sink, "No audio track found: " + fullPath);
        if (track != nullptr) {
            facts.channelMode = channelModeText(track->channels);
            facts.sampleRate = static_cast<std::int32_t>(track->sampleRate);
            if (const std::optional<ExactDuration> duration = isoTrackDuration(boxes, *track)) {
                playingTime = exactPlayingTimeText(*duration);
                facts.bitrate = static_cast<std::int16_t>(
                    std::min<std::int64_t>(truncatedKilobitRate(track->sampleBytes, *duration),
                                           std::numeric_limits<std::int16_t>::max()));
            }
            facts.isVbr = track->sizesEqual ? 0 : 1;
        }
    }

    takeCover(boxes.cover, options, outcome);
    finishTrackOutcome(outcome, facts, settings, genreText, playingTime, fullPath);
    return outcome;
}

std::span<const std::string_view> Mp4MovieFileFormat::extensions() const
{
    return mp4Extensions;
}

std::string Mp4MovieFileFormat::cacheKey(const LineOptions& /*options*/) const
{
    // The line is made of the boxes alone: no option shapes it once the movie is described.
    return "mp4 " + std::to_string(mp4FormatVersion);
}

FileOutcome Mp4MovieFileFormat::analyse(OpenFile file, const std::string& fullPath,
                                        const AnalysisOptions& /*options*/,
                                        AnalysisSink& sink) const
{
    FileOutcome outcome;
    ByteReader reader(std::move(file), isoReadWindow);
    if (!reader.isOpen()) {
        outcome.tellError(sink, movieLoadFailureLine(fullPath, "the file could not be opened"));
        return outcome;
    }
    const IsoFacts boxes = readIsoFile(reader, IsoCover::PassOver);
    sink.analysing();
    for (const std::string& entry : isoDamageEntries(boxes, fullPath))
        outcome.tellError(sink, entry);
    const IsoTrack* track = boxes.firstTrack(fourCc("vide"));
    if (track == nullptr) {
        if (boxes.hasMovie)
            outcome.tellError(sink, "No video track found: " + fullPath);
        return outcome;
    }
    const std::int32_t width = track->isTurned ? track->height : track->width;
    const std::int32_t height = track->isTurned ? track->width : track->height;
    const ExactDuration duration = isoTrackDuration(boxes, *track).value_or(ExactDuration{});
    const std::string description =
        containerMovieDescription(width, height, track->sampleCount, duration);

    MovieRows rows;
    rows.filename = "Filename: " + std::string(entryNameOf(fullPath));
    rows.size = movieSizeText(height, width);
    rows.fps = "fps: " + std::to_string(roundedRate(track->sampleCount, duration));
    rows.playingTime = exactPlayingTimeText(duration);
    rows.preview = description;
    outcome.shown.movie = rows;
    outcome.shown.description = description;
    outcome.description = description;
    outcome.counted = true;
    return outcome;
}

} // namespace tagrelay
