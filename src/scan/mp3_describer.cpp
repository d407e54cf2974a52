#include "scan/mp3_describer.h"

#include "mpeg/frame_header.h"
#include "mpeg/stream_scan.h"
#include "picture/cover_picture.h"
#include "platform/byte_reader.h"
#include "platform/read_ahead.h"
#include "scan/descriptions.h"
#include "scan/folder_context.h"
#include "scan/run_state.h"
#include "scan/track_facts.h"
#include "scan/walk_context.h"
#include "scan/walk_reporter.h"
#include "tags/id3v2.h"
#include "tags/picture_frame.h"

namespace tagrelay {

namespace {

/// The cover step: shows the front cover squeezed to the cover area (or the empty mark without
/// one) when the front end shows covers, and writes the MP3 file's JPEG icon file when that
/// option is ticked. A cover that nothing shows and no icon needs is never decoded.
void showCover(FolderContext& folder, const std::string& name, const TrackTags& tags,
               WalkContext& walk)
{
    const bool shows = walk.reporter.showsCovers();
    const bool writesIcon = walk.run.settings.makeMp3Icons != 0;
    if (!shows && !writesIcon)
        return;
    const PictureHandle cover =
        decodeCover(frontCoverPicture(tags.coverFrame), walk.reporter.displayDepth());
    if (shows) {
        if (cover) {
            const RgbImage area = coverAreaImage(*cover);
            walk.reporter.coverShown(&area);
        } else {
            walk.reporter.coverShown(nullptr);
        }
    }
    if (cover && writesIcon)
        writeIconFile(folder, name, makeCoverIcon(*cover, walk.run.settings.iconSize), walk);
}

Mp3Shown shownFacts(const std::string& name, const TrackFacts& facts, const std::string& genre,
                    const std::string& playingTime, std::int32_t fileCount)
{
    Mp3Shown shown;
    shown.name = name;
    shown.artist = facts.artist;
    shown.title = facts.title;
    shown.bitrate = facts.bitrate;
    shown.genre = genre;
    shown.channelMode = facts.channelMode;
    shown.playingTime = playingTime;
    shown.fileCount = fileCount;
    return shown;
}

} // namespace

bool needsNewTag(const std::string& artist, const std::string& title)
{
    return !artist.empty() && !title.empty() && artist.back() == '?' && title.back() == '?';
}

void describeMp3(FolderContext& folder, const std::string& name, OpenFile file, WalkContext& walk)
{
    const std::string fullPath = folder.path + name;
    const Settings& settings = walk.run.settings;
    WalkReporter& reporter = walk.reporter;
    std::string playingTime;

    ByteReader reader(std::move(file), mpegReadWindow);
    reader.setSequentialReadAhead(walk.readAhead != nullptr
                                  && !walk.readAhead->findsFilesInMemory());
    TrackFacts facts;
    static_cast<TrackTags&>(facts) = readTrackTags(reader, walk.run.tagVersions);
    reporter.analysing(fullPath);
    const std::string genreText = resolveGenre(facts);

    const FirstFrame first = readFrameHeader(reader);
    static_cast<FrameFacts&>(facts) = first.facts;
    if (first.foundAudioStart && settings.showBitrate != 0)
        reporter.scanStarted(reader.size());
    if (first.result == -1)
        walk.addError("frame header error : " + fullPath);
    if (first.result == 1 && !first.isFollowed)
        walk.addError("No MPEG audio frame found: " + fullPath);

    if (first.result == 0) {
        walk.addError("File Could Not be opened: " + fullPath);
    } else if (settings.showBitrate != 0 || settings.showPlaytime != 0) {
        const StreamScan scan = scanStream(reader, [&](std::int64_t done, std::int64_t) {
            reporter.scanProgress(done);
            // The user may stop the walk during a long scan; it ends at once then.
            return reporter.goOn();
        });
        for (std::int32_t i = 0; i < scan.framesPastEnd; ++i)
            walk.addError("auch hier ein kleines Problem: " + fullPath);
        facts.bitrate = scan.bitrate;
        facts.isVbr = scan.isVbr ? 1 : 0;
        if (scan.stopped) {
            walk.run.closeRequested = true;
            return; // nothing more is read or written
        }
        if (scan.walkedToEnd)
            reporter.scanFinished();
        playingTime = formPlayingTime(facts.audioBytes, facts.bitrate, facts.sampleRate);
    }

    if (needsNewTag(facts.artist, facts.title))
        walk.addError(fullPath + " please write a new id3 tag ");
    reporter.mp3Shown(shownFacts(name, facts, genreText, playingTime, walk.run.fileCount));
    showCover(folder, name, facts, walk);

    const std::string description = composeDescription(facts, settings, genreText, playingTime);
    reporter.descriptionShown(description);
    folder.appendLine(descriptionLine(name, description));
    ++walk.run.fileCount;
    walk.stopRequestedAfterFile();
}

} // namespace tagrelay
