#include "scan/walk.h"

#include "mpeg/frame_header.h"
#include "mpeg/stream_scan.h"
#include "platform/byte_reader.h"
#include "platform/directory.h"
#include "platform/file_writer.h"
#include "scan/descriptions.h"
#include "scan/movies.h"
#include "scan/pictures.h"
#include "scan/progress.h"
#include "scan/run_state.h"
#include "tags/id3v2.h"
#include "tags/track_facts.h"
#include "window/window_layer.h"

#include <sys/stat.h>

#include <algorithm>
#include <vector>

namespace tagrelay {

namespace {

/// The MP3 readers share one open file per MP3 file; a large window keeps a whole tag, and a
/// long stretch of frames, in one read.
constexpr std::size_t mp3ReadWindow = 64 * 1024;

enum class FileKind { Other, Picture, Movie, Mp3 };

/// The kind of file by the last four characters of its name, lower-cased.
FileKind fileKindOf(const std::string& name)
{
    if (name.size() < 4)
        return FileKind::Other;
    std::string extension = name.substr(name.size() - 4);
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    if (extension == ".jpg" || extension == ".bmp")
        return FileKind::Picture;
    if (extension == ".avi" || extension == ".mpg")
        return FileKind::Movie;
    if (extension == ".mp3")
        return FileKind::Mp3;
    return FileKind::Other;
}

bool isDescriptionFileName(const std::string& name)
{
    const std::string wanted = descriptionFileName;
    return name.size() == wanted.size()
           && std::equal(name.begin(), name.end(), wanted.begin(), [](char a, char b) {
                  const auto lower = [](char c) {
                      return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
                  };
                  return lower(a) == lower(b);
              });
}

/// The folder's description file: an existing one under whatever case it was given, else the
/// lower-case name, so a folder never ends up with two of them.
std::string descriptionNameIn(const std::string& path)
{
    DirectoryListing listing(path);
    DirectoryEntry entry;
    std::string found;
    while (listing.next(entry)) {
        if (entry.name == descriptionFileName)
            return entry.name;
        if (found.empty() && isDescriptionFileName(entry.name))
            found = entry.name;
    }
    return found.empty() ? std::string(descriptionFileName) : found;
}

bool identityOf(const std::string& path, DirectoryIdentity& identity)
{
    struct stat info
    {
    };
    if (::stat(path.empty() ? "." : path.c_str(), &info) != 0)
        return false;
    identity = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
    return true;
}

class Walker
{
  public:
    Walker(WindowLayer& window, RunState& run) : m_window(window), m_run(run) {}

    void visit(const std::string& path, int depth);

  private:
    void describeMp3(const std::string& path, const std::string& name,
                     const std::string& descriptionPath);

    WindowLayer& m_window;
    RunState& m_run;
    std::vector<DirectoryIdentity> m_descent; // the folders from the start down to this one
};

void Walker::visit(const std::string& path, int depth)
{
    DirectoryIdentity identity;
    if (!identityOf(path, identity))
        return;
    // A link or mount that leads back into the current descent would repeat it for ever, and
    // would empty a description file that an outer visit is still filling.
    if (std::find(m_descent.begin(), m_descent.end(), identity) != m_descent.end()) {
        addError(m_run, m_window, "Folder loop not entered again: " + path);
        return;
    }

    const std::string descriptionPath = path + descriptionNameIn(path);
    if (!createEmptyFile(descriptionPath))
        return; // an unwritable folder is passed over with everything below it

    DirectoryListing listing(path);
    if (!listing.isOpen())
        return;
    m_descent.push_back(identity);

    DirectoryEntry entry;
    while (!m_run.closeRequested && listing.next(entry)) {
        if (m_window.hasGadget(scanProgressBar))
            m_window.freeGadget(scanProgressBar);

        if (entry.kind == EntryKind::Directory) {
            if (entry.name != "." && entry.name != "..")
                visit(path + entry.name + "/", depth + 1);
            continue;
        }
        if (entry.kind != EntryKind::File)
            continue; // FIFOs, sockets and devices are never opened
        const FileKind kind = fileKindOf(entry.name);
        if (kind == FileKind::Other)
            continue;
        if (kind == FileKind::Movie && m_run.settings.showMovieInfo == 0)
            continue;
        const std::string fullPath = path + entry.name;
        if (!isWritableName(entry.name)) {
            addError(m_run, m_window, "Name cannot be written to Descript.ion: " + fullPath);
            continue;
        }
        switch (kind) {
        case FileKind::Picture:
            describePicture(fullPath, entry.name, descriptionPath, m_run);
            break;
        case FileKind::Movie:
            describeMovie(fullPath, entry.name, descriptionPath, m_window, m_run);
            break;
        case FileKind::Mp3:
            describeMp3(path, entry.name, descriptionPath);
            break;
        case FileKind::Other:
            break;
        }
    }
    m_descent.pop_back();
}

void Walker::describeMp3(const std::string& path, const std::string& name,
                         const std::string& descriptionPath)
{
    const std::string fullPath = path + name;
    const Settings& settings = m_run.settings;
    std::string playingTime;

    ByteReader file(fullPath, mp3ReadWindow);
    TrackFacts facts;
    static_cast<TrackTags&>(facts) = readTrackTags(file);
    showAnalysing(m_window, fullPath);
    const std::string genreText = resolveGenre(facts);

    const FirstFrame first = readFrameHeader(file);
    static_cast<FrameFacts&>(facts) = first.facts;
    if (first.foundAudioStart && settings.showBitrate != 0)
        showScanProgressBar(m_window, file.size());
    if (first.result == -1)
        addError(m_run, m_window, "frame header error : " + fullPath);

    if (first.result == 0) {
        addError(m_run, m_window, "File Could Not be opened: " + fullPath);
    } else if (settings.showBitrate != 0 || settings.showPlaytime != 0) {
        const bool showsBar = m_window.hasGadget(scanProgressBar);
        const StreamScan scan = scanStream(file, [&](std::int64_t done, std::int64_t) {
            if (showsBar)
                m_window.setProgressValue(scanProgressBar, done);
            // The user may close the window during a long scan; the walk ends at once then.
            return m_window.pollEvent().kind != EventKind::CloseWindow;
        });
        for (std::int32_t i = 0; i < scan.framesPastEnd; ++i)
            addError(m_run, m_window, "auch hier ein kleines Problem: " + fullPath);
        facts.bitrate = scan.bitrate;
        facts.isVbr = scan.isVbr ? 1 : 0;
        if (scan.stopped) {
            m_run.closeRequested = true;
            return; // nothing more is read or written
        }
        if (scan.walkedToEnd) {
            m_window.freeGadget(analysingField);
            m_window.freeGadget(scanProgressBar);
        }
        playingTime = formPlayingTime(facts.audioBytes, facts.bitrate, facts.sampleRate);
    }

    if (needsNewTag(facts.artist, facts.title))
        addError(m_run, m_window, fullPath + " please write a new id3 tag ");
    showMp3Facts(m_window, m_run, facts, name, genreText, playingTime);
    showCover(facts, m_window, m_run);

    const std::string description = composeDescription(facts, settings, genreText, playingTime);
    showPreview(m_window, description);
    appendToFile(descriptionPath, descriptionLine(name, description));
    ++m_run.fileCount;
    drainEvents(m_window, m_run);
}

} // namespace

void drainEvents(WindowLayer& window, RunState& run)
{
    for (int round = 0; round < 2; ++round) {
        for (Event event = window.pollEvent(); event.kind != EventKind::None;
             event = window.pollEvent()) {
            if (event.kind == EventKind::CloseWindow) {
                run.closeRequested = true;
                return;
            }
        }
    }
}

void describeDirectory(const std::string& path, int depth, WindowLayer& window, RunState& run)
{
    Walker walker(window, run);
    walker.visit(path, depth);
}

} // namespace tagrelay
