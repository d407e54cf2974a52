#include "scan/mp3_describer.h"

#include "mpeg/frame_header.h"
#include "mpeg/stream_scan.h"
#include "picture/cover_picture.h"
#include "platform/byte_reader.h"
#include "platform/read_ahead.h"
#include "scan/descriptions.h"
#include "scan/file_analysis.h"
#include "scan/folder_context.h"
#include "scan/run_state.h"
#include "scan/walk_context.h"
#include "scan/walk_reporter.h"
#include "tags/id3v2.h"
#include "tags/picture_frame.h"

namespace tagrelay {

namespace {

/// True when someone uses the file's cover: the front end shows it, or an icon file is made.
bool usesCover(const AnalysisOptions& options)
{
    return options.showsCovers || options.settings.makeMp3Icons != 0;
}

/// The cover of the file: squeezed to the cover area when the front end shows covers, and as
/// the JPEG icon file when that option is ticked. A cover that nothing shows and no icon needs
/// is never decoded.
void takeCover(const TrackTags& tags, const AnalysisOptions& options, Mp3Analysis& analysis)
{
    if (!usesCover(options))
        return;
    const bool writesIcon = options.settings.makeMp3Icons != 0;
    const PictureHandle cover =
        decodeCover(frontCoverPicture(tags.coverFrame), options.displayDepth);
    if (!cover)
        return;
    if (options.showsCovers) {
        analysis.hasCover = true;
        analysis.coverArea = coverAreaImage(*cover);
    }
    if (writesIcon)
        analysis.iconBytes = makeCoverIcon(*cover, options.settings.iconSize);
}

Mp3Shown shownFacts(const std::string& name, const Mp3Analysis& analysis, std::int32_t fileCount)
{
    const TrackFacts& facts = analysis.facts;
    Mp3Shown shown;
    shown.name = name;
    shown.artist = facts.artist;
    shown.title = facts.title;
    shown.bitrate = facts.bitrate;
    shown.genre = analysis.genreText;
    shown.channelMode = facts.channelMode;
    shown.playingTime = analysis.playingTime;
    shown.fileCount = fileCount;
    return shown;
}

} // namespace

bool needsNewTag(const std::string& artist, const std::string& title)
{
    return !artist.empty() && !title.empty() && artist.back() == '?' && title.back() == '?';
}

Mp3Analysis analyseMp3(OpenFile file, const std::string& fullPath, const AnalysisOptions& options,
                       AnalysisSink& sink)
{
    const Settings& settings = options.settings;
    Mp3Analysis analysis;
    TrackFacts& facts = analysis.facts;

    ByteReader reader(std::move(file), mpegReadWindow);
    reader.setSequentialReadAhead(options.readAhead != nullptr
                                  && !options.readAhead->findsFilesInMemory());
    static_cast<TrackTags&>(facts) = readTrackTags(
        reader, options.tagVersions, usesCover(options) ? CoverBytes::Keep : CoverBytes::PassOver);
    sink.analysing();
    analysis.genreText = resolveGenre(facts);

    const FirstFrame first = readFrameHeader(reader);
    static_cast<FrameFacts&>(facts) = first.facts;
    if (first.foundAudioStart && settings.showBitrate != 0)
        sink.scanStarted(reader.size());
    if (first.result == -1)
        sink.errorFound("frame header error : " + fullPath);
    if (first.result == 1 && !first.isFollowed)
        sink.errorFound("No MPEG audio frame found: " + fullPath);

    if (first.result == 0) {
        // Opened, but no frame of a stream found where the audio was looked for.
        const bool hasNoAudio = reader.isOpen() && !first.foundAudioStart;
        sink.errorFound((hasNoAudio ? "No MPEG audio frame found: " : "File Could Not be opened: ")
                        + fullPath);
    } else if (settings.showBitrate != 0 || settings.showPlaytime != 0) {
        const StreamScan scan = scanStream(
            reader, [&](std::int64_t done, std::int64_t) { return sink.scanProgress(done); });
        for (std::int32_t i = 0; i < scan.framesPastEnd; ++i)
            sink.errorFound("auch hier ein kleines Problem: " + fullPath);
        if (scan.framesPastEnd == 0 && scan.missesAudioEnd)
            sink.errorFound("auch hier ein kleines Problem: " + fullPath);
        facts.bitrate = scan.bitrate;
        facts.isVbr = scan.isVbr ? 1 : 0;
        if (scan.stopped) {
            analysis.stopped = true;
            return analysis; // nothing more is read
        }
        if (scan.walkedToEnd)
            sink.scanFinished();
        // A VBR file's bytes at its mean bitrate, cut to whole kbit/s, would miss by seconds.
        analysis.playingTime =
            facts.isVbr != 0 && facts.bitrate > 0 && facts.sampleRate > 0
                ? formFramesPlayingTime(scan.samples, scan.sampleRate)
                : formPlayingTime(facts.audioBytes, facts.bitrate, facts.sampleRate);
    }
    takeCover(facts, options, analysis);
    analysis.description =
        composeDescription(facts, settings, analysis.genreText, analysis.playingTime);
    return analysis;
}

void commitMp3(FolderContext& folder, const std::string& name, const Mp3Analysis& analysis,
               WalkContext& walk)
{
    const TrackFacts& facts = analysis.facts;
    if (needsNewTag(facts.artist, facts.title))
        walk.addError(folder.path + name + " please write a new id3 tag ");
    walk.reporter.mp3Shown(shownFacts(name, analysis, walk.run.fileCount));
    if (walk.reporter.showsCovers())
        walk.reporter.coverShown(analysis.hasCover ? &analysis.coverArea : nullptr);
    writeIconFile(folder, name, analysis.iconBytes, walk);
    walk.reporter.descriptionShown(analysis.description);
    folder.appendLine(descriptionLine(name, analysis.description));
    ++walk.run.fileCount;
    walk.stopRequestedAfterFile();
}

void describeMp3(FolderContext& folder, const std::string& name, OpenFile file, WalkContext& walk)
{
    const std::string fullPath = folder.path + name;
    DirectSink sink(walk, fullPath);
    const Mp3Analysis analysis =
        analyseMp3(std::move(file), fullPath, analysisOptionsOf(walk), sink);
    if (!analysis.stopped)
        commitMp3(folder, name, analysis, walk);
}

} // namespace tagrelay
