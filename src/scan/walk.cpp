#include "scan/walk.h"

#include "mpeg/frame_header.h"
#include "platform/directory.h"
#include "platform/folder.h"
#include "platform/read_ahead.h"
#include "scan/descriptions.h"
#include "scan/folder_context.h"
#include "scan/list_renewal.h"
#include "scan/movie_describer.h"
#include "scan/mp3_describer.h"
#include "scan/picture_describer.h"
#include "scan/run_state.h"
#include "scan/walk_context.h"
#include "scan/walk_reporter.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace tagrelay {

namespace {

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
std::string descriptionNameIn(const std::vector<DirectoryEntry>& entries)
{
    std::string found;
    for (const DirectoryEntry& entry : entries) {
        if (entry.name == descriptionFileName)
            return entry.name;
        if (found.empty() && isDescriptionFileName(entry.name))
            found = entry.name;
    }
    return found.empty() ? std::string(descriptionFileName) : found;
}

/// Folders held open at once: the start folder and the deepest few of the descent. Folders
/// above them are opened again on the way back up, so any depth works with a few descriptors.
constexpr std::size_t openFolderLimit = 16;

/// One folder of the current descent.
struct Level
{
    std::string name; // in its parent folder; empty for the start folder
    DirectoryIdentity identity;
    FolderHandle handle;
    FolderContext context;
    std::vector<DirectoryEntry> entries;
    std::size_t next = 0;
    std::size_t readAheadNext = 0; // the first entry not yet handed to the read-ahead
    std::string listName;
    bool describesFiles = true; // false when its description file is refused
};

class Walker
{
  public:
    Walker(WalkReporter& reporter, RunState& run) : m_run(run), m_walk{run, reporter} {}

    void walk(const std::string& path);

  private:
    void addError(const std::string& text) { m_walk.addError(text); }
    void addFolderError(const std::string& text)
    {
        addError(text);
        ++m_run.incompleteFolders;
    }
    bool enter(FolderHandle handle, const std::string& name, const std::string& path);
    void finishDeepest();
    bool reopen(std::size_t index);
    void limitOpenFolders();
    /// Whether the walk describes a file of this name with the run's options: the old lines
    /// of such files are its own, replaced by what it writes now, or dropped.
    bool isDescribedKind(const DirectoryEntry& entry) const;
    void describeEntry(Level& level, const DirectoryEntry& entry);
    void readAheadOf(Level& level);

    RunState& m_run;
    WalkContext m_walk;
    std::vector<std::unique_ptr<Level>> m_levels;
    std::set<DirectoryIdentity> m_described; // every real folder is described once a walk
    std::string m_treeRoot;                  // the start folder's real path, ending in "/"
    std::optional<ReadAhead> m_readAhead;
    std::uint64_t m_readAheadSkipped = 0;
};

/// While the files asked for are in memory, one look in this many goes to the read-ahead.
constexpr std::uint64_t readAheadProbeEvery = 16;

/// MP3 files ahead of the one being analysed whose first bytes are asked for.
constexpr std::size_t readAheadFiles = 32;

void Walker::walk(const std::string& path)
{
    FolderResult opened;
    FolderHandle start = openFolder(path, opened);
    if (!start.isOpen()) {
        addFolderError("Folder could not be entered: " + path + " (" + opened.reason + ")");
        return;
    }
    m_treeRoot = realPathOfFd(start.fd());
    if (m_run.readAhead) {
        m_readAhead.emplace();
        m_walk.readAhead = &*m_readAhead;
    }
    if (!enter(std::move(start), {}, path))
        return;

    while (!m_levels.empty()) {
        Level& level = *m_levels.back();
        if (m_run.closeRequested || level.next >= level.entries.size()) {
            // A finished folder, or one the user abandoned: its new lines go into its list,
            // where entries not reached keep their old ones.
            finishDeepest();
            continue;
        }
        readAheadOf(level);
        const DirectoryEntry entry = level.entries[level.next++];
        m_walk.reporter.entryStarted();
        if (entry.kind != EntryKind::Directory) {
            if (level.describesFiles && isDescribedKind(entry)) {
                describeEntry(level, entry);
                level.context.finishEntry(level.next - 1, m_run.closeRequested);
            }
            continue;
        }
        const std::string childPath = level.context.path + entry.name + "/";
        FolderResult result;
        FolderHandle child = openFolderAt(level.handle.fd(), entry.name, result);
        if (!child.isOpen()) {
            addFolderError("Folder could not be entered: " + childPath + " (" + result.reason
                           + ")");
            continue;
        }
        enter(std::move(child), entry.name, childPath);
    }
}

/// Checks a folder before it is described and puts it on the descent. False when it is not
/// to be described: met before, outside the tree, a system folder, or one that cannot be
/// listed or written (each but the second with a line in the error list).
bool Walker::enter(FolderHandle handle, const std::string& name, const std::string& path)
{
    DirectoryIdentity identity;
    if (!identityOfFd(handle.fd(), identity)) {
        addFolderError("Folder could not be entered: " + path);
        return false;
    }
    // A link or mount that leads back into the current descent would repeat it for ever, and
    // would replace a description file that an outer visit is still filling.
    for (const auto& level : m_levels) {
        if (level->identity == identity) {
            addError("Folder loop not entered again: " + path);
            return false;
        }
    }
    // Links that fan out reach the same folder many times; it is described once.
    if (m_described.count(identity) != 0)
        return false;
    if (isSystemFileSystem(handle.fd())) {
        addError("Folder of the system, not entered: " + path);
        return false;
    }
    if (!m_treeRoot.empty()) {
        const std::string real = realPathOfFd(handle.fd());
        if (!real.empty() && !real.starts_with(m_treeRoot)) {
            addError("Folder link leads out of the start folder, not entered: " + path);
            return false;
        }
    }
    m_described.insert(identity);

    FolderResult listed;
    std::vector<DirectoryEntry> entries = listFolder(handle.fd(), listed);
    if (!listed.ok()) {
        addFolderError("Folder could not be listed: " + path + " (" + listed.reason + ")");
        return false;
    }
    // The list is written only when the folder is done; a folder that cannot take a new file
    // is passed over with everything below it, as a read-only medium would be.
    const FolderResult writable = checkWritable(handle.fd());
    if (!writable.ok()) {
        addFolderError("Folder cannot be written, not described: " + path + " (" + writable.reason
                       + ")");
        return false;
    }

    auto level = std::make_unique<Level>();
    level->name = name;
    level->identity = identity;
    level->listName = descriptionNameIn(entries);
    EntryKind listKind = EntryKind::File;
    if (kindAt(handle.fd(), level->listName, listKind) && listKind != EntryKind::File) {
        addFolderError(level->listName + " is not a regular file, folder not described: " + path);
        level->describesFiles = false;
    }
    for (const DirectoryEntry& entry : entries)
        removeStaleTemporaryFile(handle.fd(), entry.name);
    level->context.fd = handle.fd();
    level->context.path = path;
    level->handle = std::move(handle);
    level->entries = std::move(entries);
    m_levels.push_back(std::move(level));
    limitOpenFolders();
    return true;
}

/// Writes the deepest folder's list and leaves it for the folder above.
void Walker::finishDeepest()
{
    Level& level = *m_levels.back();
    if (level.describesFiles && reopen(m_levels.size() - 1)) {
        const FolderResult written =
            renewList(level.handle.fd(), level.listName, level.entries, level.context.described);
        if (!written.ok())
            addFolderError(level.listName + " could not be written: " + level.context.path
                           + level.listName + " (" + written.reason + ")");
    }
    FolderHandle left = std::move(level.handle);
    m_levels.pop_back();
    if (m_levels.empty())
        return;
    Level& parent = *m_levels.back();
    if (!parent.handle.isOpen() && left.isOpen()) {
        // The way back up is usually "..": one step instead of the whole chain.
        FolderResult result;
        FolderHandle up = openFolderAt(left.fd(), "..", result);
        DirectoryIdentity identity;
        if (up.isOpen() && identityOfFd(up.fd(), identity) && identity == parent.identity) {
            parent.handle = std::move(up);
            parent.context.fd = parent.handle.fd();
        }
    }
    if (!reopen(m_levels.size() - 1))
        parent.next = parent.entries.size();
}

/// Makes sure the folder at index of the descent is open, opening it again name by name from
/// the nearest open folder above it when needed. Each step is checked to be the same folder
/// as before: a folder replaced during the walk is not described further.
bool Walker::reopen(std::size_t index)
{
    Level& level = *m_levels[index];
    if (level.handle.isOpen())
        return true;
    std::size_t from = index;
    while (from > 0 && !m_levels[from - 1]->handle.isOpen())
        --from;
    if (from == 0)
        return false; // the start folder is always open; nothing to open from otherwise
    FolderHandle current;
    for (std::size_t i = from; i <= index; ++i) {
        FolderResult result;
        const int parentFd = i == from ? m_levels[from - 1]->handle.fd() : current.fd();
        FolderHandle next = openFolderAt(parentFd, m_levels[i]->name, result);
        DirectoryIdentity identity;
        if (!next.isOpen() || !identityOfFd(next.fd(), identity)
            || !(identity == m_levels[i]->identity)) {
            addFolderError("Folder changed during the walk, not described further: "
                           + m_levels[i]->context.path);
            level.describesFiles = false;
            return false;
        }
        current = std::move(next);
    }
    level.handle = std::move(current);
    level.context.fd = level.handle.fd();
    return true;
}

void Walker::readAheadOf(Level& level)
{
    if (!m_readAhead || !level.handle.isOpen())
        return;
    const std::size_t until = std::min(level.entries.size(), level.next + readAheadFiles);
    level.readAheadNext = std::max(level.readAheadNext, level.next);
    const bool scansStreams = m_run.settings.showBitrate != 0 || m_run.settings.showPlaytime != 0;
    for (; level.readAheadNext < until; ++level.readAheadNext) {
        const DirectoryEntry& entry = level.entries[level.readAheadNext];
        if (entry.kind != EntryKind::File || fileKindOf(entry.name) != FileKind::Mp3)
            continue;
        // On a tree that is in memory already the requests only cost time; one file in a
        // while is still asked for, to notice when the walk reaches files that are not.
        if (m_readAhead->findsFilesInMemory() && ++m_readAheadSkipped % readAheadProbeEvery != 0)
            continue;
        if (!m_readAhead->request(level.handle.fd(), entry.name, mpegReadWindow, scansStreams))
            return; // the queue is full: asked again at the next file
    }
}

void Walker::limitOpenFolders()
{
    std::size_t open = 0;
    for (const auto& level : m_levels)
        open += level->handle.isOpen() ? 1 : 0;
    for (std::size_t i = 1; open > openFolderLimit && i + 1 < m_levels.size(); ++i) {
        if (m_levels[i]->handle.isOpen()) {
            m_levels[i]->handle.close();
            m_levels[i]->context.fd = -1;
            --open;
        }
    }
}

bool Walker::isDescribedKind(const DirectoryEntry& entry) const
{
    const FileKind kind = fileKindOf(entry.name);
    return kind != FileKind::Other
           && (kind != FileKind::Movie || m_run.settings.showMovieInfo != 0);
}

void Walker::describeEntry(Level& level, const DirectoryEntry& entry)
{
    const FileKind kind = fileKindOf(entry.name);
    const std::string fullPath = level.context.path + entry.name;
    if (!isWritableName(entry.name)) {
        addError("Name cannot be written to Descript.ion: " + fullPath);
        return;
    }
    if (entry.kind == EntryKind::Other) {
        // A FIFO, socket or device under a music or picture name is never opened.
        addError("File Could Not be opened: " + fullPath);
        return;
    }
    switch (kind) {
    case FileKind::Picture:
        describePicture(level.context, entry.name, m_walk);
        break;
    case FileKind::Movie:
        describeMovie(level.context, entry.name, m_walk);
        break;
    case FileKind::Mp3:
        describeMp3(level.context, entry.name, m_walk);
        break;
    case FileKind::Other:
        break;
    }
}

} // namespace

void describeDirectory(const std::string& path, int /*depth*/, WalkReporter& reporter,
                       RunState& run)
{
    Walker walker(reporter, run);
    walker.walk(path);
}

} // namespace tagrelay
