#include "formats/mp3_format.h"

#include "formats/mp3_description.h"
#include "formats/track_facts.h"
#include "mpeg/frame_header.h"
#include "mpeg/stream_scan.h"
#include "picture/cover_picture.h"
#include "platform/byte_reader.h"
#include "platform/read_ahead.h"
#include "tags/id3v2.h"

#include <array>

namespace tagrelay {

namespace {

/// Raise with every change to what an MP3 file's line, entries or icon are made of.
constexpr int mp3FormatVersion = 2;

constexpr std::array<std::string_view, 1> mp3Extensions = {".mp3"};

} // namespace

bool usesCover(const AnalysisOptions& options)
{
    return options.showsCovers || options.settings.makeMp3Icons != 0;
}

void takeCover(const TrackTags& tags, const AnalysisOptions& options, FileOutcome& outcome)
{
    if (usesCover(options))
        takeCover(tags.coverPicture(), options, outcome);
}

void takeCover(std::span<const std::uint8_t> picture, const AnalysisOptions& options,
               FileOutcome& outcome)
{
    if (!usesCover(options) || picture.empty())
        return;
    const PictureHandle cover = decodeCover(picture, options.displayDepth);
    if (!cover)
        return;
    if (options.showsCovers)
        outcome.shown.coverArea = coverAreaImage(*cover);
    if (options.settings.makeMp3Icons != 0)
        outcome.iconBytes = makeCoverIcon(*cover, options.settings.iconSize);
}

Mp3Shown shownFacts(std::string_view name, const TrackFacts& facts, const std::string& genreText,
                    const std::string& playingTime)
{
    Mp3Shown shown;
    shown.name = name;
    shown.artist = facts.artist;
    shown.title = facts.title;
    shown.bitrate = facts.bitrate;
    shown.genre = genreText;
    shown.channelMode = facts.channelMode;
    shown.playingTime = playingTime;
    return shown;
}

std::string mp3OptionsKey(const LineOptions& options)
{
    const Settings& s = options.settings;
    // The seven facts and the icon option, one flag a character in the option panel's order.
    std::string key = "; flags ";
    for (const std::int32_t flag : {s.showArtist, s.showAlbum, s.showTitle, s.showBitrate,
                                    s.showAudioMode, s.showPlaytime, s.showGenre, s.makeMp3Icons})
        key += flag != 0 ? '1' : '0';
    // Only the icon is made from the cover, at its size and the screen's depth.
    if (s.makeMp3Icons != 0)
        key += "; icon size " + std::to_string(s.iconSize) + "; display depth "
               + std::to_string(options.displayDepth);
    return key;
}

void finishTrackOutcome(FileOutcome& outcome, const TrackFacts& facts, const Settings& settings,
                        const std::string& genreText, const std::string& playingTime,
                        std::string_view fullPath)
{
    const std::string description = composeDescription(facts, settings, genreText, playingTime);
    outcome.shown.mp3 = shownFacts(entryNameOf(fullPath), facts, genreText, playingTime);
    outcome.shown.hasCoverPlace = true;
    outcome.shown.description = description;
    outcome.description = description;
    outcome.counted = true;
}

bool needsNewTag(const std::string& artist, const std::string& title)
{
    return !artist.empty() && !title.empty() && artist.back() == '?' && title.back() == '?';
}

std::span<const std::string_view> Mp3FileFormat::extensions() const
{
    return mp3Extensions;
}

std::string Mp3FileFormat::cacheKey(const LineOptions& options) const
{
    std::string key = "mp3 " + std::to_string(mp3FormatVersion) + mp3OptionsKey(options);
    key += options.tagVersions == TagVersions::All ? "; all tag versions" : "; ID3v2.3 only";
    key += "; codeset " + options.codeset;
    return key;
}

ReadAheadWish Mp3FileFormat::readAhead(const Settings& settings) const
{
    // The tags and the first frames lie in the first window; a stream scan reads on to the end.
    return {mpegReadWindow, settings.showBitrate != 0 || settings.showPlaytime != 0};
}

FileOutcome Mp3FileFormat::analyse(OpenFile file, const std::string& fullPath,
                                   const AnalysisOptions& options, AnalysisSink& sink) const
{
    const Settings& settings = options.settings;
    FileOutcome outcome;
    TrackFacts facts;

    ByteReader reader(std::move(file), mpegReadWindow);
    reader.setSequentialReadAhead(options.readAhead != nullptr
                                  && !options.readAhead->findsFilesInMemory());
    static_cast<TrackTags&>(facts) = readTrackTags(
        reader, options.tagVersions, usesCover(options) ? CoverBytes::Keep : CoverBytes::PassOver);
    sink.analysing();
    const std::string genreText = resolveGenre(facts);

    const FirstFrame first = readFrameHeader(reader);
    static_cast<FrameFacts&>(facts) = first.facts;
    if (first.foundAudioStart && settings.showBitrate != 0)
        sink.scanStarted(reader.size());
    if (first.result == -1)
        outcome.tellError(sink, "frame header error : " + fullPath);
    if (first.result == 1 && !first.isFollowed)
        outcome.tellError(sink, "No MPEG audio frame found: " + fullPath);

    std::string playingTime;
    if (first.result == 0) {
        // Opened, but no frame of a stream found where the audio was looked for.
        const bool hasNoAudio = reader.isOpen() && !first.foundAudioStart;
        outcome.tellError(
            sink,
            (hasNoAudio ? "No MPEG audio frame found: " : "File Could Not be opened: ") + fullPath);
    } else if (settings.showBitrate != 0 || settings.showPlaytime != 0) {
        // The scan starts where the first frame was found: the audio start is searched once.
        const StreamScan scan =
            scanStreamFrom(reader, first.audioStart, [&](std::int64_t done, std::int64_t) {
                return sink.scanProgress(done);
            });
        for (std::int32_t i = 0; i < scan.framesPastEnd; ++i)
            outcome.tellError(sink, "auch hier ein kleines Problem: " + fullPath);
        if (scan.framesPastEnd == 0 && scan.missesAudioEnd)
            outcome.tellError(sink, "auch hier ein kleines Problem: " + fullPath);
        facts.bitrate = scan.bitrate;
        facts.isVbr = scan.isVbr ? 1 : 0;
        if (scan.stopped) {
            outcome.stopped = true;
            return outcome; // nothing more is read
        }
        if (scan.walkedToEnd)
            sink.scanFinished();
        // A VBR file's bytes at its mean bitrate, cut to whole kbit/s, would miss by seconds.
        playingTime = facts.isVbr != 0 && facts.bitrate > 0 && facts.sampleRate > 0
                          ? formFramesPlayingTime(scan.samples, scan.sampleRate)
                          : formPlayingTime(facts.audioBytes, facts.bitrate, facts.sampleRate);
    }
    takeCover(facts, options, outcome);
    finishTrackOutcome(outcome, facts, settings, genreText, playingTime, fullPath);
    if (needsNewTag(facts.artist, facts.title))
        outcome.errors.push_back(fullPath + " please write a new id3 tag ");
    return outcome;
}

} // namespace tagrelay
