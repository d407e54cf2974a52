#pragma once

#include "cache/description_cache_place.h"
#include "cache/description_cache_record.h"
#include "platform/directory.h"
#include "scan/outcome_cache.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tagrelay {

/// How the cache is opened for one run.
struct DescriptionCacheSetup
{
    std::string path;
    /// Whether the folders on the way to path are made when missing (with permissions 0700):
    /// for the default place. A place the user gives must exist.
    bool makesFolders = false;
    /// The start folder of the run: entries are counted as seen per tree and options.
    DirectoryIdentity tree;
    /// The run's line options, one text per key: entries are kept and found under their key's
    /// text, so a run with other options for one kind of file still finds the others'.
    std::vector<std::string> keys;
    /// How long a write waits for another run holding the cache before the cache is given up.
    int busyTimeoutMs = 10'000;
    /// When the run started, in nanoseconds since 1970 (the entries' ages count from it); 0
    /// for now.
    std::int64_t runStartNs = 0;
};

/// How a run ended: only a walk that went through the whole tree may tell which files are gone.
enum class RunEnd { Complete, Stopped };

/// What the cache did in a run.
struct DescriptionCacheCounts
{
    std::int64_t hits = 0;
    std::int64_t misses = 0;
    std::int64_t stored = 0;
    /// Files handed to store() that are not kept: changed too recently, too large, or with
    /// error entries that cannot follow a rename.
    std::int64_t refused = 0;
};

/// The description cache of `tagrelay-cli --update`: what describing a file gave, kept in an
/// SQLite database under the file's stamp and the line options of its key (its kind of file),
/// so an unchanged file gets its line again without being opened.
///
/// The cache never makes a line wrong and never stops a run. Whatever goes wrong (a place
/// other users could tamper with, a damaged or foreign database, another run holding it too
/// long, a full disk, a folder that cannot be written) gives one warning through the
/// callback, after which the cache is off: lookups find nothing and stores are dropped, so
/// the run analyses every file. A damaged cache of this program is emptied for the next run.
///
/// Thread safety: every member function may be called from any thread at any time; the
/// calls take turns on one database connection (a lookup takes microseconds, but one that
/// comes while a batch waits for another run's write waits with it). The warning callback runs on
/// the calling thread while the cache is held, and must not call the cache.
class DescriptionCache : public OutcomeCache
{
  public:
    using Warning = std::function<void(const std::string& text)>;

    /// Opens (or makes) the cache and starts a run in it. Failure leaves it off, with the
    /// warning given.
    DescriptionCache(const DescriptionCacheSetup& setup, Warning warning);
    /// Writes what is pending; a run without finishRun() drops no entry.
    ~DescriptionCache() override;
    DescriptionCache(const DescriptionCache&) = delete;
    DescriptionCache& operator=(const DescriptionCache&) = delete;

    /// False once anything failed (or from the start).
    [[nodiscard]] bool isOn() const override;

    /// What describing the file with this stamp gave, its error entries naming fullPath; nothing
    /// when the cache has no entry for it under the key's options (or no such key). The caller
    /// still checks that a recorded icon is in place (isIconInPlace).
    [[nodiscard]] std::optional<CachedFile> lookup(std::size_t key, const FileStamp& stamp,
                                                   std::string_view fullPath) override;

    /// Keeps what describing a file gave, under the stamp read before the file was opened. Only
    /// what the file's bytes decide belongs here: not a file that could not be opened, not an
    /// analysis the user stopped, not a file whose icon could not be written. The entry goes
    /// to the database with the next batch; a file changed too recently (isSettled) or with
    /// more than maxEntryBytes is not kept.
    void store(std::size_t key, const StampReading& reading, const CachedFile& file,
               std::string_view fullPath) override;

    /// Writes the pending entries now (the walk may call it after each folder).
    void flush();

    /// Ends the run: writes what is pending and, after a complete walk, drops the entries of
    /// this tree and options that no run has met for a while (see dropAfterRuns).
    void finishRun(RunEnd end);

    [[nodiscard]] DescriptionCacheCounts counts() const;

    /// Description and error entries of one file larger than this are not cached.
    static constexpr std::size_t maxEntryBytes = 64 * 1024;
    /// Entries written in one transaction.
    static constexpr std::size_t batchEntries = 512;
    /// An entry met in a run is marked as seen once every this many runs (marking every hit
    /// would rewrite the whole cache in every run); while runs meet it, its mark stays less
    /// than markEveryRuns runs old.
    static constexpr std::int64_t markEveryRuns = 4;
    /// An entry is dropped after a complete run when its mark is this many runs of its tree
    /// and options old, and dropAfterDays days: a file gone for good then leaves the cache,
    /// while one whose folder was unreadable or whose disk was away for a few runs stays.
    static constexpr std::int64_t dropAfterRuns = 12;
    static constexpr std::int64_t dropAfterDays = 14;
    /// A tree not described with some options for this long loses its entries for them.
    static constexpr std::int64_t forgetTreeAfterDays = 180;

  private:
    struct Impl;
    mutable std::mutex m_mutex;
    std::unique_ptr<Impl> m_impl;
};

} // namespace tagrelay
