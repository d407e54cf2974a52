#include "scan/walk.h"

#include "formats/format_table.h"
#include "lists/index_page_renewal.h"
#include "lists/list_line.h"
#include "lists/list_renewal.h"
#include "platform/directory.h"
#include "platform/file_stamp.h"
#include "platform/folder.h"
#include "platform/read_ahead.h"
#include "platform/replacement_file.h"
#include "platform/tree_guard.h"
#include "scan/analysis_pool.h"
#include "scan/direct_sink.h"
#include "scan/folder_context.h"
#include "scan/outcome_cache.h"
#include "scan/run_state.h"
#include "scan/walk_context.h"
#include "scan/walk_reporter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <thread>
#include <tuple>
#include <vector>

namespace tagrelay {

namespace {

/// The row of the format table a file name belongs to; nullptr for a file the walk leaves alone.
const FileFormat* formatOf(const std::string& name)
{
    const auto place = formatPlaceOf(name);
    return place ? fileFormats()[*place] : nullptr;
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
/// lower-case name, so a folder never ends up with two of them. Other names of the same kind
/// (a folder that already has two) go to others.
std::string descriptionNameIn(const std::vector<DirectoryEntry>& entries,
                              std::vector<std::string>& others)
{
    std::vector<std::string> found;
    for (const DirectoryEntry& entry : entries) {
        if (isDescriptionFileName(entry.name))
            found.push_back(entry.name);
    }
    if (found.empty())
        return descriptionFileName;
    auto chosen = std::find(found.begin(), found.end(), std::string(descriptionFileName));
    if (chosen == found.end())
        chosen = found.begin();
    const std::string name = *chosen;
    found.erase(chosen);
    others = std::move(found);
    return name;
}

/// The charset the settings ask for the walk's lines; a value the settings file cannot hold
/// is the locale's set.
ListCharset listCharsetOf(const Settings& settings)
{
    switch (static_cast<ListEncoding>(settings.listEncoding)) {
    case ListEncoding::Utf8:
        return ListCharset::Utf8;
    case ListEncoding::Utf8WithSignature:
        return ListCharset::Utf8WithSignature;
    case ListEncoding::Locale:
        break;
    }
    return ListCharset::Locale;
}

/// Folders held open at once: the start folder and the deepest few of the descent. Folders
/// above them are opened again on the way back up, so any depth works with a few descriptors.
constexpr std::size_t openFolderLimit = 16;

/// Steps up from a folder reached through a link that are searched for the start folder.
constexpr int deepestTreeSearched = 1 << 20;

/// A file's stamp, read before it is opened, and what the description cache holds for it.
struct CacheLookup
{
    std::optional<StampReading> reading;
    std::optional<CachedFile> hit; // an unchanged file whose icon (if any) is in place
};

/// One folder of the current descent. Only its own name is kept: its path is a prefix of the
/// walk's current path, so the memory of the descent grows with its depth, not its square.
struct Level
{
    std::string name; // in its parent folder; empty for the start folder
    DirectoryIdentity identity;
    FolderPlace place;
    FolderHandle handle;
    FolderContext context; // context.path is filled while this is the deepest folder only
    std::vector<DirectoryEntry> entries;
    std::size_t next = 0;
    std::size_t readAheadNext = 0; // the first entry not yet handed to the read-ahead
    std::size_t pathLength = 0;    // of this folder's path within the walk's current path
    std::size_t dispatchNext = 0;  // the first entry not yet looked at for the workers
    /// Files of the folder handed to the workers, by their entry's place in the listing.
    std::map<std::size_t, std::shared_ptr<AnalysisJob>> jobs;
    /// What the description cache knows of files of the folder, by the same places.
    std::map<std::size_t, struct CacheLookup> lookups;
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
    bool enter(FolderHandle handle, const std::string& name, int stepsToStart);
    void enterChild(Level& level, const DirectoryEntry& entry);
    void enterLinkedFolder(Level& level, const DirectoryEntry& entry);
    void finishDeepest();
    /// Tells what the folder's list, just written, could not take in UTF-8.
    void reportCharsetNotes(const Level& level, const CharsetNotes& notes);
    /// The path of the folder at index of the descent, from the start folder as given.
    std::string pathOf(std::size_t index) const
    {
        return m_path.substr(0, m_levels[index]->pathLength);
    }
    /// An entry opened for reading, or why it is refused (an entry for the error list).
    struct OpenedEntry
    {
        OpenFile file;
        std::string refusal;
    };
    OpenedEntry openEntry(const Level& level, const DirectoryEntry& entry) const;
    /// Whether the entry is a file the walk describes and can read (the checks that give an
    /// error entry instead come again when its turn comes).
    bool isAnalysable(const Level& level, const DirectoryEntry& entry) const;
    void dispatchAhead(Level& level);
    /// Shows and commits a file the workers analysed; false when the walk was asked to stop.
    FileOutcome waitForJob(AnalysisJob& job);
    /// What the description cache holds for the file at index of the deepest folder, looked
    /// up once; nullptr without a cache. Links are never taken from the cache: whether they
    /// may be followed is decided anew.
    const CacheLookup* lookupCached(Level& level, std::size_t index);
    /// Writes a file as the cache remembers it: its error entries, its line and its count.
    void replayCached(Level& level, const DirectoryEntry& entry, const FileFormat& format,
                      const CachedFile& file);
    /// Keeps what describing the file gave in the cache, under its format's key.
    void storeInCache(Level& level, const DirectoryEntry& entry, std::size_t formatPlace,
                      const StampReading& reading, CachedFile file, IconWrite icon);
    /// Renews the page of a folder whose list was just renewed, with the option.
    void renewPage(Level& level, const CharsetNotes& notes);
    bool reopen(std::size_t index);
    void limitOpenFolders();
    void popDeepest();
    /// Whether the walk describes a file of this name with the run's options: the old lines
    /// of such files are its own, replaced by what it writes now, or dropped.
    bool isDescribedKind(const DirectoryEntry& entry) const;
    void describeEntry(Level& level, const DirectoryEntry& entry, std::size_t index);
    void readAheadOf(Level& level);

    RunState& m_run;
    WalkContext m_walk;
    std::vector<std::unique_ptr<Level>> m_levels;
    std::set<DirectoryIdentity> m_described; // every real folder is described once a walk
    FolderPlace m_start;                     // where the start folder stands
    std::string m_path;                      // the deepest folder's path, ending in "/"
    const uid_t m_user = ::geteuid();
    std::optional<ReadAhead> m_readAhead;
    std::optional<AnalysisPool> m_pool;
    OutcomeCache* m_cache = nullptr;
    std::size_t m_jobsInFlight = 0; // handed to the workers and not yet committed
    std::size_t m_jobLimit = 0;
    std::uint64_t m_readAheadSkipped = 0;
    /// The folders of the descent by where they stand, with their steps up to the start
    /// folder: a folder a link leads to is in the tree when its way up meets one of them.
    std::map<std::tuple<std::uint64_t, std::uint64_t, std::uint64_t>, int> m_descentPlaces;
    std::set<DirectoryIdentity> m_descentIdentities;
    std::chrono::steady_clock::time_point m_lastChainCheck;
    std::size_t m_openFolders = 0; // levels whose handle is open
    std::size_t m_closeFrom = 1;   // levels from 1 below this are closed

    /// Steps from a folder up to the start folder, when its way up meets a folder of the
    /// descent within deepestTreeSearched steps; -1 when it does not (it lies outside).
    int stepsIntoTree(int fd) const;
};

std::tuple<std::uint64_t, std::uint64_t, std::uint64_t> keyOf(const FolderPlace& place)
{
    return {place.mountId, place.device, place.inode};
}

/// While the files asked for are in memory, one look in this many goes to the read-ahead.
constexpr std::uint64_t readAheadProbeEvery = 16;

/// MP3 files ahead of the one being analysed whose first bytes are asked for.
constexpr std::size_t readAheadFiles = 32;

void Walker::walk(const std::string& path)
{
    // Another user's link on the way to the start folder would send the whole walk, and every
    // list it writes, wherever that user likes.
    if (!m_run.followsStartLink) {
        if (const std::string link = foreignLinkOnWay(path.empty() ? "." : path, m_user);
            !link.empty()) {
            addFolderError("Folder could not be entered: " + path + " (" + link
                           + " is a link of another user)");
            return;
        }
    }
    FolderResult opened;
    FolderHandle start = openFolder(path, opened);
    if (!start.isOpen() || !placeOfFd(start.fd(), m_start)) {
        addFolderError("Folder could not be entered: " + path + " (" + opened.reason + ")");
        return;
    }
    if (m_run.readAhead) {
        m_readAhead.emplace();
        m_walk.readAhead = &*m_readAhead;
    }
    m_path = path;
    if (m_run.descriptionCache && m_run.descriptionCache->isOn())
        m_cache = m_run.descriptionCache.get();
    const unsigned cores = std::max(1U, std::thread::hardware_concurrency());
    const int workers = m_run.analysisWorkers > 0 ? m_run.analysisWorkers : static_cast<int>(cores);
    if (workers > 1) {
        m_pool.emplace(workers);
        // A few files per worker keep them busy; memory stays that of a few files.
        m_jobLimit = static_cast<std::size_t>(workers) * 2 + 2;
    }
    if (!enter(std::move(start), {}, 0))
        return;

    while (!m_levels.empty()) {
        Level& level = *m_levels.back();
        if (!m_run.closeRequested && m_walk.reporter.isStopRequested())
            m_run.closeRequested = true;
        if (m_run.closeRequested || level.next >= level.entries.size()) {
            // A finished folder, or one the user abandoned: its new lines go into its list,
            // where entries not reached keep their old ones.
            finishDeepest();
            continue;
        }
        readAheadOf(level);
        if (m_pool)
            dispatchAhead(level);
        const std::size_t index = level.next++;
        const DirectoryEntry entry = level.entries[index];
        m_walk.reporter.entryStarted();
        if (entry.kind == EntryKind::Directory) {
            enterChild(level, entry);
        } else if (level.describesFiles && isDescribedKind(entry)) {
            describeEntry(level, entry, index);
            level.context.finishEntry(index, m_run.closeRequested);
        }
        if (level.context.leftTree && level.describesFiles) {
            addFolderError("Folder changed during the walk, not described further: "
                           + level.context.path);
            level.describesFiles = false;
        }
    }
}

/// Enters a sub-folder of the deepest folder: a real one by its name, never through a link
/// that replaced it after the listing; one reached through a link only when it lies in the tree.
void Walker::enterChild(Level& level, const DirectoryEntry& entry)
{
    bool isLink = entry.isLink;
    FolderResult result;
    FolderHandle child;
    if (!isLink)
        child = openSubfolder(level.handle.fd(), entry.name, isLink, result);
    if (isLink) {
        enterLinkedFolder(level, entry);
        return;
    }
    if (!child.isOpen()) {
        addFolderError("Folder could not be entered: " + level.context.path + entry.name + "/ ("
                       + result.reason + ")");
        return;
    }
    if (enter(std::move(child), entry.name, level.context.stepsToStart + 1))
        m_levels.back()->context.parentPlace = level.place;
}

/// A folder reached through a link is entered only when it lies in the tree, judged by the
/// folders above it, not by any path text. One outside is never written into, whoever
/// planted the link; one that another user's link leads to is named as such.
void Walker::enterLinkedFolder(Level& level, const DirectoryEntry& entry)
{
    const std::string childPath = level.context.path + entry.name + "/";
    const LinkTarget target = followLink(level.handle.fd(), entry.name, m_user);
    FolderResult result;
    if (!target.failure.empty() || !target.leaf.empty()) {
        (void)openLinkedFolder(target, result); // opens nothing; says why
        addFolderError("Folder could not be entered: " + childPath + " (" + result.reason + ")");
        return;
    }
    // Judged through the O_PATH descriptor the links led to: a folder outside is never
    // opened for reading, which would show in its access time and to inotify.
    const int steps = stepsIntoTree(target.folder.fd());
    if (steps < 0 && isSystemFileSystem(target.folder.fd())) {
        addError("Folder of the system, not entered: " + childPath);
        return;
    }
    if (steps < 0) {
        addError(target.ownLinksOnly
                     ? "Folder link leads out of the start folder, not entered: " + childPath
                     : "Link of another user leads out of the start folder, not followed: "
                           + childPath);
        return;
    }
    FolderHandle child = openLinkedFolder(target, result);
    if (!child.isOpen()) {
        addFolderError("Folder could not be entered: " + childPath + " (" + result.reason + ")");
        return;
    }
    enter(std::move(child), entry.name, steps);
}

/// Checks a folder before it is described and puts it on the descent. False when it is not
/// to be described: met before, outside the tree, a system folder, or one that cannot be
/// listed or written (each but the second with a line in the error list).
bool Walker::enter(FolderHandle handle, const std::string& name, int stepsToStart)
{
    const std::string path = m_levels.empty() ? m_path : m_levels.back()->context.path + name + "/";
    DirectoryIdentity identity;
    if (!identityOfFd(handle.fd(), identity)) {
        addFolderError("Folder could not be entered: " + path);
        return false;
    }
    // A link or mount that leads back into the current descent would repeat it for ever, and
    // would replace a description file that an outer visit is still filling.
    if (m_descentIdentities.count(identity) != 0) {
        addError("Folder loop not entered again: " + path);
        return false;
    }
    // Links that fan out reach the same folder many times; it is described once.
    if (m_described.count(identity) != 0)
        return false;
    if (isSystemFileSystem(handle.fd())) {
        addError("Folder of the system, not entered: " + path);
        return false;
    }
    FolderPlace place;
    if (!placeOfFd(handle.fd(), place)) {
        addFolderError("Folder could not be entered: " + path);
        return false;
    }
    m_described.insert(identity);

    FolderResult listed;
    std::vector<DirectoryEntry> entries = listFolder(handle.fd(), listed);
    if (!listed.ok()) {
        addFolderError("Folder could not be listed: " + path + " (" + listed.reason + ")");
        return false;
    }
    // The list is written only when the folder is done, and only when it changes; a folder
    // that cannot take a new file is passed over with everything below it, as a read-only
    // medium would be.
    const FolderResult writable = checkCanTakeNewFile(handle.fd());
    if (!writable.ok()) {
        addFolderError("Folder cannot be written, not described: " + path + " (" + writable.reason
                       + ")");
        return false;
    }

    auto level = std::make_unique<Level>();
    level->name = name;
    level->identity = identity;
    std::vector<std::string> otherLists;
    level->listName = descriptionNameIn(entries, otherLists);
    for (const std::string& other : otherLists)
        addError("Second description file, left as it was: " + path + other);
    EntryKind listKind = EntryKind::File;
    if (kindAt(handle.fd(), level->listName, listKind) && listKind != EntryKind::File) {
        addFolderError(level->listName + " is not a regular file, folder not described: " + path);
        level->describesFiles = false;
    }
    for (const DirectoryEntry& entry : entries)
        removeStaleTemporaryFile(handle.fd(), entry.name);
    // Only the deepest folder holds its path; the parent's is made again on the way back.
    if (!m_levels.empty())
        std::string().swap(m_levels.back()->context.path);
    m_path = path;
    level->pathLength = path.size();
    level->context.fd = handle.fd();
    level->context.path = path;
    level->context.start = &m_start;
    level->context.stepsToStart = stepsToStart;
    level->context.lastChainCheck = &m_lastChainCheck;
    level->place = place;
    level->handle = std::move(handle);
    level->entries = std::move(entries);
    m_descentPlaces.emplace(keyOf(place), stepsToStart);
    m_descentIdentities.insert(identity);
    ++m_openFolders;
    m_levels.push_back(std::move(level));
    limitOpenFolders();
    return true;
}

/// Writes the deepest folder's list, if it is still in the tree, and leaves it for the folder
/// above.
void Walker::finishDeepest()
{
    Level& level = *m_levels.back();
    // After a stop, a folder the walk wrote no line for keeps its list as it is: renewing it
    // would only drop the lines of files that went, and a stop inside a deep tree would wait
    // for every folder of the descent.
    const bool hasNewLines = !m_run.closeRequested || !level.context.described.empty();
    if (level.describesFiles && hasNewLines && reopen(m_levels.size() - 1)) {
        if (!isStillInTree(level.context)) {
            addFolderError("Folder changed during the walk, not described further: "
                           + level.context.path);
        } else {
            CharsetNotes notes;
            const FolderResult written =
                renewList(level.handle.fd(), level.listName, level.entries, level.context.described,
                          listCharsetOf(m_run.settings), &notes, {},
                          [this] { return m_walk.reporter.isStopRequested(); });
            if (!written.ok())
                addFolderError(level.listName + " could not be written: " + level.context.path
                               + level.listName + " (" + written.reason + ")");
            else {
                reportCharsetNotes(level, notes);
                if (m_run.settings.htmlIndex != 0)
                    renewPage(level, notes);
            }
        }
    }
    FolderHandle left = std::move(level.handle);
    if (left.isOpen())
        --m_openFolders; // closed when this returns
    m_jobsInFlight -= level.jobs.size();
    if (m_run.closeRequested && m_pool)
        m_pool->stop();
    popDeepest();
    if (m_levels.empty())
        return;
    Level& parent = *m_levels.back();
    m_path.resize(parent.pathLength);
    parent.context.path = m_path;
    if (m_run.closeRequested && parent.context.described.empty())
        return; // stopped: nothing more is written there, so it need not be open
    if (!parent.handle.isOpen() && left.isOpen()) {
        // The way back up is usually "..": one step instead of the whole chain.
        FolderResult result;
        FolderHandle up = openFolderAt(left.fd(), "..", result);
        DirectoryIdentity identity;
        if (up.isOpen() && identityOfFd(up.fd(), identity) && identity == parent.identity) {
            parent.handle = std::move(up);
            parent.context.fd = parent.handle.fd();
            ++m_openFolders;
        }
    }
    if (!reopen(m_levels.size() - 1))
        parent.next = parent.entries.size();
}

void Walker::reportCharsetNotes(const Level& level, const CharsetNotes& notes)
{
    const std::string& path = level.context.path;
    if (notes.keptOthersCharset)
        addError(level.listName + " holds lines of others that are not UTF-8: new lines in the "
                 + "locale's character set, no signature: " + path + level.listName);
    for (const std::string& name : notes.unwritableNames)
        addError("Name cannot be written in UTF-8 to Descript.ion: " + path + name);
    for (const std::string& name : notes.changedDescriptions)
        addError("Description cannot be written in UTF-8 in full (\"?\" in its place): " + path
                 + name);
}

/// The name a folder's page shows as its title: its name in the folder above, or for the start
/// folder the last name of its real path (the path given may be "." or end in "..").
std::string folderTitle(const std::string& name, int fd, const std::string& givenPath)
{
    if (!name.empty())
        return name;
    std::string path = realPathOfFd(fd);
    if (path.empty())
        path = givenPath;
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\'))
        path.pop_back();
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos || slash + 1 == path.size() ? path : path.substr(slash + 1);
}

void Walker::renewPage(Level& level, const CharsetNotes& notes)
{
    const std::string title = folderTitle(level.name, level.handle.fd(), level.context.path);
    // The list is UTF-8 where it was asked for and the lines of others let it be.
    const ListTexts texts = m_run.settings.listEncoding != 0 && !notes.keptOthersCharset
                                ? ListTexts::Utf8
                                : ListTexts::Locale;
    const PageRenewal page = renewIndexPage(level.handle.fd(), title, level.listName, texts);
    const std::string pagePath = level.context.path + indexPageName;
    if (page.write == PageWrite::NotOurs)
        addError(std::string(indexPageName) + " left as it is: " + pagePath + " (" + page.reason
                 + ")");
    else if (page.write == PageWrite::Failed)
        addFolderError(std::string(indexPageName) + " could not be written: " + pagePath + " ("
                       + page.reason + ")");
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
            addFolderError("Folder changed during the walk, not described further: " + pathOf(i));
            level.describesFiles = false;
            return false;
        }
        current = std::move(next);
    }
    level.handle = std::move(current);
    level.context.fd = level.handle.fd();
    ++m_openFolders;
    m_closeFrom = std::max<std::size_t>(1, std::min(m_closeFrom, index));
    return true;
}

void Walker::popDeepest()
{
    Level& level = *m_levels.back();
    if (level.handle.isOpen())
        --m_openFolders;
    if (const auto found = m_descentPlaces.find(keyOf(level.place));
        found != m_descentPlaces.end() && found->second == level.context.stepsToStart)
        m_descentPlaces.erase(found);
    m_descentIdentities.erase(level.identity);
    m_levels.pop_back();
    // The new deepest folder is opened again next, wherever it stood before.
    if (!m_levels.empty())
        m_closeFrom = std::max<std::size_t>(1, std::min(m_closeFrom, m_levels.size() - 1));
}

int Walker::stepsIntoTree(int fd) const
{
    OpenFile current(::dup(fd));
    FolderPlace place;
    for (int steps = 0; steps <= deepestTreeSearched && current.isOpen(); ++steps) {
        if (!placeOfFd(current.fd(), place))
            return -1;
        if (const auto found = m_descentPlaces.find(keyOf(place)); found != m_descentPlaces.end())
            return steps + found->second;
        OpenFile up(::openat(current.fd(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        FolderPlace above;
        if (!up.isOpen() || !placeOfFd(up.fd(), above) || above == place)
            return -1; // the root: ".." leads nowhere further
        current = std::move(up);
    }
    return -1;
}

void Walker::readAheadOf(Level& level)
{
    if (!m_readAhead || !level.handle.isOpen())
        return;
    const std::size_t until = std::min(level.entries.size(), level.next + readAheadFiles);
    level.readAheadNext = std::max(level.readAheadNext, level.next);
    for (; level.readAheadNext < until; ++level.readAheadNext) {
        const DirectoryEntry& entry = level.entries[level.readAheadNext];
        // Links are followed only once judged, when their turn comes: none is read ahead.
        const bool isPlainFile = entry.kind == EntryKind::File && !entry.isLink;
        const FileFormat* format = isPlainFile ? formatOf(entry.name) : nullptr;
        const ReadAheadWish wish = format ? format->readAhead(m_run.settings) : ReadAheadWish{};
        if (wish.startBytes == 0)
            continue;
        if (const CacheLookup* cached = lookupCached(level, level.readAheadNext);
            cached && cached->hit)
            continue; // its line comes from the cache: it is not read
        // On a tree that is in memory already the requests only cost time; one file in a
        // while is still asked for, to notice when the walk reaches files that are not.
        if (m_readAhead->findsFilesInMemory() && ++m_readAheadSkipped % readAheadProbeEvery != 0)
            continue;
        if (!m_readAhead->request(level.handle.fd(), entry.name, wish.startBytes, wish.wholeFile))
            return; // the queue is full: asked again at the next file
    }
}

void Walker::limitOpenFolders()
{
    // Levels below m_closeFrom (but the start folder) are closed already: each level is
    // looked at here about once, whatever the depth.
    for (; m_openFolders > openFolderLimit && m_closeFrom + 1 < m_levels.size(); ++m_closeFrom) {
        Level& level = *m_levels[m_closeFrom];
        if (level.handle.isOpen()) {
            level.handle.close();
            level.context.fd = -1;
            --m_openFolders;
        }
    }
}

/// Opens a file the walk describes for reading. A link is followed only to a file in the tree,
/// or along links of the running user's own (which may lead anywhere: they only read); a link
/// of another user that leads out of the tree is refused. A file that cannot be opened is not
/// open.
Walker::OpenedEntry Walker::openEntry(const Level& level, const DirectoryEntry& entry) const
{
    OpenedEntry opened;
    if (!entry.isLink) {
        // Never through a link that replaced the file after the listing.
        opened.file = openRegularFileAt(level.handle.fd(), entry.name);
        return opened;
    }
    const LinkTarget target = followLink(level.handle.fd(), entry.name, m_user);
    if (!target.failure.empty() || target.leaf.empty())
        return opened;
    if (!target.ownLinksOnly && stepsIntoTree(target.folder.fd()) < 0) {
        opened.refusal = "Link of another user leads out of the start folder, not followed: "
                         + level.context.path + entry.name;
        return opened;
    }
    opened.file = openRegularFileAt(target.folder.fd(), target.leaf);
    return opened;
}

bool Walker::isAnalysable(const Level& level, const DirectoryEntry& entry) const
{
    const FileFormat* format = formatOf(entry.name);
    return level.describesFiles && format != nullptr && format->runsOnWorkers()
           && format->isDescribed(m_run.settings) && entry.kind == EntryKind::File
           && isWritableName(entry.name);
}

/// Hands the files of the deepest folder that come next to the workers, in the walk's order,
/// up to the next sub-folder (whose files come first) and while few enough are in flight.
void Walker::dispatchAhead(Level& level)
{
    level.dispatchNext = std::max(level.dispatchNext, level.next);
    const AnalysisOptions options = analysisOptionsOf(m_walk);
    for (; level.dispatchNext < level.entries.size() && m_jobsInFlight < m_jobLimit;
         ++level.dispatchNext) {
        const DirectoryEntry& entry = level.entries[level.dispatchNext];
        if (entry.kind == EntryKind::Directory)
            return;
        if (!isAnalysable(level, entry))
            continue;
        if (const CacheLookup* cached = lookupCached(level, level.dispatchNext);
            cached && cached->hit)
            continue;
        OpenedEntry opened = openEntry(level, entry);
        if (!opened.refusal.empty())
            continue; // refused again, with its entry, when its turn comes
        auto job = std::make_shared<AnalysisJob>(*formatOf(entry.name), std::move(opened.file),
                                                 level.context.path + entry.name, options);
        level.jobs.emplace(level.dispatchNext, job);
        ++m_jobsInFlight;
        m_pool->submit(std::move(job));
    }
}

FileOutcome Walker::waitForJob(AnalysisJob& job)
{
    // The front end is asked whether to go on while the walk waits for the file and after
    // the scan's progress was shown, as a scan on this thread asks it for every frame.
    for (;;) {
        const AnalysisJob::Shown shown = job.showProgress(m_walk, 10);
        if (shown.done && !shown.scanProgress)
            break;
        if (!m_walk.reporter.goOn()) {
            m_run.closeRequested = true;
            m_pool->stop();
            FileOutcome stopped;
            stopped.stopped = true;
            return stopped;
        }
        if (shown.done)
            break;
    }
    return job.takeOutcome();
}

const CacheLookup* Walker::lookupCached(Level& level, std::size_t index)
{
    if (m_cache == nullptr)
        return nullptr;
    if (const auto found = level.lookups.find(index); found != level.lookups.end())
        return &found->second;
    const DirectoryEntry& entry = level.entries[index];
    CacheLookup lookup;
    if (!entry.isLink && entry.kind == EntryKind::File) {
        lookup.reading = readStampAt(level.handle.fd(), entry.name, LinkRule::NoFollow);
        if (lookup.reading) {
            auto file = m_cache->lookup(*formatPlaceOf(entry.name), lookup.reading->stamp,
                                        level.context.path + entry.name);
            if (file && isIconInPlace(level.handle.fd(), entry.name, *file))
                lookup.hit = std::move(file);
        }
    }
    return &level.lookups.emplace(index, std::move(lookup)).first->second;
}

void Walker::replayCached(Level& level, const DirectoryEntry& entry, const FileFormat& format,
                          const CachedFile& file)
{
    m_walk.reporter.analysing(level.context.path + entry.name);
    FileOutcome outcome;
    outcome.description = file.description;
    outcome.errors = file.errors;
    outcome.counted = file.counted;
    commitOutcome(level.context, entry.name, format, std::move(outcome), m_walk);
}

void Walker::storeInCache(Level& level, const DirectoryEntry& entry, std::size_t formatPlace,
                          const StampReading& reading, CachedFile file, IconWrite icon)
{
    if (icon == IconWrite::Written) {
        const auto iconStamp =
            readStampAt(level.handle.fd(), entry.name + ".ico", LinkRule::NoFollow);
        if (!iconStamp)
            return;
        file.icon = iconStamp->stamp;
    }
    m_cache->store(formatPlace, reading, file, level.context.path + entry.name);
}

bool Walker::isDescribedKind(const DirectoryEntry& entry) const
{
    const FileFormat* format = formatOf(entry.name);
    return format != nullptr && format->isDescribed(m_run.settings);
}

void Walker::describeEntry(Level& level, const DirectoryEntry& entry, std::size_t index)
{
    const std::size_t formatPlace = *formatPlaceOf(entry.name);
    const FileFormat& format = *fileFormats()[formatPlace];
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
    const CacheLookup* cached = lookupCached(level, index);
    if (cached != nullptr && cached->hit) {
        replayCached(level, entry, format, *cached->hit);
        level.lookups.erase(index);
        return;
    }
    FileOutcome outcome;
    bool read = false;
    const auto job = level.jobs.find(index);
    if (job != level.jobs.end()) {
        const std::shared_ptr<AnalysisJob> taken = std::move(job->second);
        level.jobs.erase(job);
        --m_jobsInFlight;
        outcome = waitForJob(*taken);
        read = taken->hadFile();
    } else {
        OpenedEntry opened = openEntry(level, entry);
        if (!opened.refusal.empty()) {
            addError(opened.refusal);
            return;
        }
        read = opened.file.isOpen();
        DirectSink sink(m_walk, fullPath);
        outcome = format.analyse(std::move(opened.file), fullPath, analysisOptionsOf(m_walk), sink);
    }
    // What the cache keeps is taken before the commit, which uses the outcome up.
    const bool remembers = cached != nullptr && cached->reading;
    CachedFile remembered;
    if (remembers) {
        remembered.description = outcome.description;
        remembered.counted = outcome.counted;
        remembered.errors = outcome.errors;
    }
    const bool byBytesAlone = outcome.byBytesAlone && !outcome.stopped;
    const IconWrite icon =
        commitOutcome(level.context, entry.name, format, std::move(outcome), m_walk);
    // Only what the file's bytes decide is remembered: not a file that could not be read, an
    // analysis the user stopped, an icon that could not be written, or a movie the player
    // failed on.
    if (remembers && read && byBytesAlone && !m_run.closeRequested && icon != IconWrite::Failed)
        storeInCache(level, entry, formatPlace, *cached->reading, std::move(remembered), icon);
    level.lookups.erase(index);
}

} // namespace

void describeDirectory(const std::string& path, int /*depth*/, WalkReporter& reporter,
                       RunState& run)
{
    Walker walker(reporter, run);
    walker.walk(path);
}

} // namespace tagrelay
