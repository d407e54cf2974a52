#include "cache/description_cache.h"

#include "platform/user_paths.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <vector>

namespace tagrelay {

namespace {

/// "TgRc" in the database header, so a damaged cache of ours can be told from anything else
/// that happens to lie at the place given.
constexpr std::int32_t applicationId = 0x54675263;
constexpr std::int32_t schemaVersion = 1;

/// Our own result codes beside SQLite's: an entry whose checksum does not match (damaged, as
/// SQLITE_CORRUPT is), a database of another program, one of a newer version of this one.
constexpr int checksumMismatch = -1;
constexpr int foreignDatabase = -2;
constexpr int newerDatabase = -3;

constexpr std::int64_t nsPerDay = 86'400LL * 1'000'000'000;

/// Lookups answered within one read transaction: each transaction costs locks on the shared
/// memory, and a long one would keep other runs' writes from being checkpointed.
constexpr int lookupsPerReadTransaction = 2048;

/// The pending entries are written once they hold this many bytes.
constexpr std::size_t batchBytes = 1024 * 1024;

/// The database's page cache; with the pending batch well within the 64 MB a run may use.
constexpr const char* connectionPragmas = "PRAGMA cache_size=-8192;"
                                          "PRAGMA mmap_size=0;"
                                          "PRAGMA cell_size_check=ON;"
                                          "PRAGMA synchronous=NORMAL;"
                                          "PRAGMA journal_size_limit=8388608;";

constexpr const char* schema =
    "CREATE TABLE IF NOT EXISTS line_options("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT, text BLOB NOT NULL UNIQUE);"
    "CREATE TABLE IF NOT EXISTS trees("
    "  id INTEGER PRIMARY KEY, device INTEGER NOT NULL, inode INTEGER NOT NULL,"
    "  options INTEGER NOT NULL, runs INTEGER NOT NULL, last_run_ns INTEGER NOT NULL,"
    "  UNIQUE(device, inode, options));"
    "CREATE TABLE IF NOT EXISTS files("
    "  device INTEGER NOT NULL, inode INTEGER NOT NULL, options INTEGER NOT NULL,"
    "  size INTEGER NOT NULL, modified_ns INTEGER NOT NULL, changed_ns INTEGER NOT NULL,"
    "  description BLOB, counted INTEGER NOT NULL, errors BLOB,"
    "  icon_device INTEGER, icon_inode INTEGER, icon_size INTEGER, icon_modified_ns INTEGER,"
    "  icon_changed_ns INTEGER,"
    "  tree INTEGER NOT NULL, seen_run INTEGER NOT NULL, seen_ns INTEGER NOT NULL,"
    "  checksum INTEGER NOT NULL,"
    "  PRIMARY KEY(device, inode, options)) WITHOUT ROWID;"
    // The end of a run drops the entries of its tree that were not met for long: found
    // through this index, a cache of many trees costs no more than one.
    "CREATE INDEX IF NOT EXISTS files_by_mark ON files(tree, seen_run);";

constexpr const char* lookupSql =
    "SELECT description, counted, errors, icon_device, icon_inode, icon_size,"
    " icon_modified_ns, icon_changed_ns, tree, seen_run, checksum FROM files"
    " WHERE device=?1 AND inode=?2 AND options=?3 AND size=?4 AND modified_ns=?5"
    " AND changed_ns=?6";
constexpr const char* storeSql = "INSERT OR REPLACE INTO files VALUES"
                                 "(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13,?14,?15,?16,?17,?18)";
constexpr const char* markSql =
    "UPDATE files SET tree=?1, seen_run=?2, seen_ns=?3 WHERE device=?4 AND inode=?5 AND options=?6";

std::int64_t clockNowNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

/// SQLite keeps 64-bit signed integers; device and inode numbers go in bit for bit.
std::int64_t asStored(std::uint64_t value)
{
    return static_cast<std::int64_t>(value);
}

/// FNV-1a over an entry's fields, to catch a page of the database overwritten with bytes that
/// still read as a valid record: such an entry must not give a line.
class Checksum
{
  public:
    void add(std::int64_t value)
    {
        auto bits = static_cast<std::uint64_t>(value);
        for (int i = 0; i < 8; ++i, bits >>= 8)
            addByte(static_cast<std::uint8_t>(bits));
    }
    void add(const std::optional<std::string_view>& bytes)
    {
        add(bytes ? static_cast<std::int64_t>(bytes->size()) : -1);
        if (bytes) {
            for (const char c : *bytes)
                addByte(static_cast<std::uint8_t>(c));
        }
    }
    std::int64_t value() const { return static_cast<std::int64_t>(m_hash); }

  private:
    void addByte(std::uint8_t byte)
    {
        m_hash ^= byte;
        m_hash *= 0x100000001b3ULL;
    }
    std::uint64_t m_hash = 0xcbf29ce484222325ULL;
};

/// One entry as its columns hold it.
struct StoredEntry
{
    std::size_t key = 0;
    FileStamp stamp;
    std::optional<std::string> description;
    bool counted = false;
    std::optional<std::string> errors; // encodeErrorEntries, nothing for no entries
    std::optional<FileStamp> icon;
};

std::int64_t checksumOf(const StoredEntry& entry, std::int64_t optionsId)
{
    Checksum sum;
    for (const std::int64_t value :
         {asStored(entry.stamp.device), asStored(entry.stamp.inode), optionsId, entry.stamp.size,
          entry.stamp.modifiedNs, entry.stamp.changedNs, std::int64_t{entry.counted}})
        sum.add(value);
    sum.add(entry.description);
    sum.add(entry.errors);
    sum.add(entry.icon ? 1 : 0);
    if (entry.icon) {
        for (const std::int64_t value :
             {asStored(entry.icon->device), asStored(entry.icon->inode), entry.icon->size,
              entry.icon->modifiedNs, entry.icon->changedNs})
            sum.add(value);
    }
    return sum.value();
}

struct DatabaseCloser
{
    void operator()(sqlite3* db) const { ::sqlite3_close_v2(db); }
};
struct StatementFinalizer
{
    void operator()(sqlite3_stmt* statement) const { ::sqlite3_finalize(statement); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

/// The result code without its extended part (SQLITE_IOERR_WRITE is SQLITE_IOERR).
int primaryCode(int code)
{
    return code & 0xff;
}

bool isDamage(int code)
{
    return code == checksumMismatch || primaryCode(code) == SQLITE_CORRUPT
           || primaryCode(code) == SQLITE_NOTADB;
}

/// Whether the database file starts with the header of a cache of this program. Read through
/// the connection's own file: a descriptor of ours, once closed, would drop the locks SQLite
/// holds on the file in this process.
bool hasOurHeader(sqlite3* db)
{
    sqlite3_file* file = nullptr;
    if (::sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK
        || file == nullptr || file->pMethods == nullptr)
        return false;
    // The header: "SQLite format 3" and a zero byte, ..., the application id at byte 68, big
    // endian.
    std::array<unsigned char, 100> header{};
    if (file->pMethods->xRead(file, header.data(), static_cast<int>(header.size()), 0) != SQLITE_OK)
        return false;
    constexpr std::string_view magic{"SQLite format 3\0", 16};
    const auto id = static_cast<std::int32_t>(
        (std::uint32_t{header[68]} << 24) | (std::uint32_t{header[69]} << 16)
        | (std::uint32_t{header[70]} << 8) | std::uint32_t{header[71]});
    return std::equal(magic.begin(), magic.end(), header.begin()) && id == applicationId;
}

} // namespace

struct DescriptionCache::Impl
{
    DescriptionCacheSetup setup;
    Warning warning;
    std::string shownPath;

    Database db;
    Statement lookupStatement;
    Statement storeStatement;
    Statement markStatement;

    bool on = false;
    bool warned = false;
    bool finished = false;
    /// Whether a damaged database here may be emptied: it says it is ours, or it lies in the
    /// program's own folder.
    bool mayEmpty = false;

    /// Each key's line options and tree in the database, and its run there.
    struct KeyRun
    {
        std::int64_t optionsId = 0;
        std::int64_t treeId = 0;
        std::int64_t currentRun = 0;
    };
    std::vector<KeyRun> keyRuns;
    std::int64_t runStartNs = 0;

    bool inReadTransaction = false;
    int lookupsInTransaction = 0;
    std::vector<StoredEntry> pendingStores;
    std::size_t pendingBytes = 0;
    std::vector<std::pair<std::size_t, FileStamp>> pendingMarks;
    DescriptionCacheCounts counts;

    void open();
    int setUpDatabase();
    int checkDatabase(bool& isFresh);
    int startRun(bool isFresh);
    int startKeyRun(const std::string& lineOptions, KeyRun& run);
    bool exec(const char* sql, int& code);
    Statement prepare(const char* sql, int& code);

    void warn(const std::string& reason, bool atOpen);
    void giveUp(int code, bool atOpen);
    bool emptyDamagedDatabase();
    void closeDatabase();

    bool endReadTransaction();
    std::optional<CachedFile> lookup(std::size_t key, const FileStamp& stamp,
                                     std::string_view fullPath);
    bool flush();
    bool writeEntry(const StoredEntry& entry);
    bool needsMark(const FileStamp& stamp, const KeyRun& run, std::int64_t tree,
                   std::int64_t seenRun) const;
    bool writeMark(std::size_t key, const FileStamp& stamp);
    void finishRun(RunEnd end);
    std::string reasonFor(int code) const;
};

void DescriptionCache::Impl::warn(const std::string& reason, bool atOpen)
{
    if (warned)
        return;
    warned = true;
    if (warning) {
        const std::string subject =
            "description cache" + (shownPath.empty() ? "" : " " + shownPath);
        warning(subject + (atOpen ? " not used: " : " given up: ") + reason
                + (atOpen ? "; every file is analysed" : "; the remaining files are analysed"));
    }
}

std::string DescriptionCache::Impl::reasonFor(int code) const
{
    switch (code < 0 ? code : primaryCode(code)) {
    case checksumMismatch:
        return "it is damaged (an entry does not match its checksum)";
    case foreignDatabase:
        return "it is no description cache of this program, left as it is";
    case newerDatabase:
        return "it was made by a newer version of this program, left as it is";
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return std::string("it is damaged (") + ::sqlite3_errstr(code) + ")";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return "another run held it for more than "
               + (setup.busyTimeoutMs % 1000 == 0
                      ? std::to_string(setup.busyTimeoutMs / 1000) + " s"
                      : std::to_string(setup.busyTimeoutMs) + " ms");
    case SQLITE_FULL:
        return "the disk is full";
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN:
        return "it cannot be written";
    default:
        return std::string("it failed (") + ::sqlite3_errstr(code) + ")";
    }
}

void DescriptionCache::Impl::giveUp(int code, bool atOpen)
{
    if (!on && !atOpen)
        return;
    on = false;
    pendingStores.clear();
    pendingMarks.clear();
    pendingBytes = 0;
    std::string reason = reasonFor(code);
    if (isDamage(code) && !mayEmpty)
        reason += ", left as it is";
    else if (isDamage(code))
        reason += emptyDamagedDatabase() ? ", emptied for the next run" : ", could not be emptied";
    warn(reason, atOpen);
    closeDatabase();
}

bool DescriptionCache::Impl::emptyDamagedDatabase()
{
    if (!db)
        return false;
    lookupStatement.reset();
    storeStatement.reset();
    markStatement.reset();
    if (::sqlite3_get_autocommit(db.get()) == 0)
        ::sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    inReadTransaction = false;
    // SQLite's own way to start a database afresh, meant for damaged ones: it takes the
    // locks as any write does, so another run holding the cache is not disturbed.
    ::sqlite3_db_config(db.get(), SQLITE_DBCONFIG_RESET_DATABASE, 1, nullptr);
    const int code = ::sqlite3_exec(db.get(), "VACUUM", nullptr, nullptr, nullptr);
    ::sqlite3_db_config(db.get(), SQLITE_DBCONFIG_RESET_DATABASE, 0, nullptr);
    return code == SQLITE_OK;
}

void DescriptionCache::Impl::closeDatabase()
{
    lookupStatement.reset();
    storeStatement.reset();
    markStatement.reset();
    db.reset();
    inReadTransaction = false;
}

bool DescriptionCache::Impl::exec(const char* sql, int& code)
{
    code = ::sqlite3_exec(db.get(), sql, nullptr, nullptr, nullptr);
    return code == SQLITE_OK;
}

Statement DescriptionCache::Impl::prepare(const char* sql, int& code)
{
    sqlite3_stmt* statement = nullptr;
    code = ::sqlite3_prepare_v3(db.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
    if (code != SQLITE_OK) {
        ::sqlite3_finalize(statement);
        return nullptr;
    }
    return Statement(statement);
}

void DescriptionCache::Impl::open()
{
    runStartNs = setup.runStartNs != 0 ? setup.runStartNs : clockNowNs();
    shownPath = setup.path;
    const CachePlace place = prepareCachePlace(setup.path, setup.makesFolders);
    if (!place.unsafeReason.empty()) {
        warn(place.unsafeReason, true);
        return;
    }
    const std::string& databasePath = place.databasePath;
    mayEmpty = setup.makesFolders;

    sqlite3* handle = nullptr;
    int code = ::sqlite3_open_v2(libraryFileName(databasePath).c_str(), &handle,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX
                                     | SQLITE_OPEN_EXRESCODE,
                                 nullptr);
    db.reset(handle);
    if (code != SQLITE_OK) {
        giveUp(code, true);
        return;
    }
    if (::sqlite3_db_readonly(db.get(), "main") == 1) {
        giveUp(SQLITE_READONLY, true);
        return;
    }
    ::sqlite3_busy_timeout(db.get(), setup.busyTimeoutMs);
    // No value of ours comes near this; a damaged length field cannot make SQLite read more.
    ::sqlite3_limit(db.get(), SQLITE_LIMIT_LENGTH, static_cast<int>(maxEntryBytes * 4));
    ::sqlite3_db_config(db.get(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    ::sqlite3_db_config(db.get(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    ::sqlite3_db_config(db.get(), SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    on = true;
    code = setUpDatabase();
    if (isDamage(code) && mayEmpty && emptyDamagedDatabase()) {
        // Emptied, the cache takes this run's files for the next one.
        const std::string reason = reasonFor(code) + ", emptied for the next run";
        code = setUpDatabase();
        if (code == SQLITE_OK)
            warn(reason, true);
    }
    if (code != SQLITE_OK)
        giveUp(code, true);
}

/// Checks the database, starts the run in it and prepares the statements of the run.
int DescriptionCache::Impl::setUpDatabase()
{
    bool isFresh = false;
    int code = checkDatabase(isFresh);
    if (code == SQLITE_OK)
        code = startRun(isFresh);
    if (code == SQLITE_OK)
        lookupStatement = prepare(lookupSql, code);
    if (code == SQLITE_OK)
        storeStatement = prepare(storeSql, code);
    if (code == SQLITE_OK)
        markStatement = prepare(markSql, code);
    return code;
}

/// Checks the database is a cache of this program (or a new, empty one) and switches it to
/// the write-ahead log. Nothing is written to a database of anyone else's.
int DescriptionCache::Impl::checkDatabase(bool& isFresh)
{
    int code = SQLITE_OK;
    // The header alone first, read as bytes: it says whether a damaged database is ours to
    // empty even when SQLite cannot read it any more (a cut file, say).
    mayEmpty = mayEmpty || hasOurHeader(db.get());
    if (!exec(connectionPragmas, code))
        return code;
    Statement header = prepare("SELECT (SELECT application_id FROM pragma_application_id),"
                               " (SELECT user_version FROM pragma_user_version),"
                               " (SELECT count(*) FROM sqlite_schema)",
                               code);
    if (!header)
        return code;
    if ((code = ::sqlite3_step(header.get())) != SQLITE_ROW)
        return code;
    const std::int64_t id = ::sqlite3_column_int64(header.get(), 0);
    const std::int64_t version = ::sqlite3_column_int64(header.get(), 1);
    const std::int64_t tables = ::sqlite3_column_int64(header.get(), 2);
    header.reset();
    isFresh = id == 0 && tables == 0;
    if (!isFresh && id != applicationId) {
        mayEmpty = false;
        return foreignDatabase;
    }
    if (version > schemaVersion)
        return newerDatabase;
    Statement mode = prepare("PRAGMA journal_mode=WAL", code);
    if (!mode)
        return code;
    code = ::sqlite3_step(mode.get());
    return code == SQLITE_ROW ? SQLITE_OK : code;
}

/// Makes the tables of a new cache, and finds the run's options and tree in it.
int DescriptionCache::Impl::startRun(bool isFresh)
{
    int code = SQLITE_OK;
    if (!exec("BEGIN IMMEDIATE", code))
        return code;
    const auto fail = [&] {
        ::sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        return code;
    };
    // Another run may have made the tables since the header was read; both ways are fine.
    const std::string makeTables = std::string(schema)
                                   + "PRAGMA application_id=" + std::to_string(applicationId)
                                   + ";PRAGMA user_version=" + std::to_string(schemaVersion) + ";";
    if (isFresh && !exec(makeTables.c_str(), code))
        return fail();

    keyRuns.assign(setup.keys.size(), KeyRun{});
    for (std::size_t key = 0; key < setup.keys.size(); ++key) {
        if ((code = startKeyRun(setup.keys[key], keyRuns[key])) != SQLITE_OK)
            return fail();
    }
    return exec("COMMIT", code) ? SQLITE_OK : fail();
}

/// Finds (or adds) one key's line options and the run's tree under them.
int DescriptionCache::Impl::startKeyRun(const std::string& lineOptions, KeyRun& run)
{
    int code = SQLITE_OK;
    Statement addOptions = prepare("INSERT OR IGNORE INTO line_options(text) VALUES(?1)", code);
    if (!addOptions)
        return code;
    ::sqlite3_bind_blob(addOptions.get(), 1, lineOptions.data(),
                        static_cast<int>(lineOptions.size()), SQLITE_STATIC);
    if ((code = ::sqlite3_step(addOptions.get())) != SQLITE_DONE)
        return code;
    Statement findOptions = prepare("SELECT id FROM line_options WHERE text=?1", code);
    if (!findOptions)
        return code;
    ::sqlite3_bind_blob(findOptions.get(), 1, lineOptions.data(),
                        static_cast<int>(lineOptions.size()), SQLITE_STATIC);
    if ((code = ::sqlite3_step(findOptions.get())) != SQLITE_ROW)
        return code;
    run.optionsId = ::sqlite3_column_int64(findOptions.get(), 0);

    Statement addTree = prepare("INSERT INTO trees(device, inode, options, runs, last_run_ns)"
                                " VALUES(?1, ?2, ?3, 0, ?4) ON CONFLICT DO UPDATE"
                                " SET last_run_ns=excluded.last_run_ns",
                                code);
    if (!addTree)
        return code;
    ::sqlite3_bind_int64(addTree.get(), 1, asStored(setup.tree.device));
    ::sqlite3_bind_int64(addTree.get(), 2, asStored(setup.tree.inode));
    ::sqlite3_bind_int64(addTree.get(), 3, run.optionsId);
    ::sqlite3_bind_int64(addTree.get(), 4, runStartNs);
    if ((code = ::sqlite3_step(addTree.get())) != SQLITE_DONE)
        return code;
    Statement findTree =
        prepare("SELECT id, runs FROM trees WHERE device=?1 AND inode=?2 AND options=?3", code);
    if (!findTree)
        return code;
    ::sqlite3_bind_int64(findTree.get(), 1, asStored(setup.tree.device));
    ::sqlite3_bind_int64(findTree.get(), 2, asStored(setup.tree.inode));
    ::sqlite3_bind_int64(findTree.get(), 3, run.optionsId);
    if ((code = ::sqlite3_step(findTree.get())) != SQLITE_ROW)
        return code;
    run.treeId = ::sqlite3_column_int64(findTree.get(), 0);
    // A run is counted when it ends complete; until then this one is the next.
    run.currentRun = ::sqlite3_column_int64(findTree.get(), 1) + 1;
    return SQLITE_OK;
}

bool DescriptionCache::Impl::endReadTransaction()
{
    if (!inReadTransaction)
        return true;
    inReadTransaction = false;
    lookupsInTransaction = 0;
    int code = SQLITE_OK;
    if (exec("COMMIT", code))
        return true;
    giveUp(code, false);
    return false;
}

std::optional<CachedFile> DescriptionCache::Impl::lookup(std::size_t key, const FileStamp& stamp,
                                                         std::string_view fullPath)
{
    if (!on || key >= keyRuns.size())
        return std::nullopt;
    const KeyRun& run = keyRuns[key];
    int code = SQLITE_OK;
    if (lookupsInTransaction >= lookupsPerReadTransaction && !endReadTransaction())
        return std::nullopt;
    if (!inReadTransaction) {
        if (!exec("BEGIN", code)) {
            giveUp(code, false);
            return std::nullopt;
        }
        inReadTransaction = true;
    }
    ++lookupsInTransaction;

    sqlite3_stmt* statement = lookupStatement.get();
    ::sqlite3_bind_int64(statement, 1, asStored(stamp.device));
    ::sqlite3_bind_int64(statement, 2, asStored(stamp.inode));
    ::sqlite3_bind_int64(statement, 3, run.optionsId);
    ::sqlite3_bind_int64(statement, 4, stamp.size);
    ::sqlite3_bind_int64(statement, 5, stamp.modifiedNs);
    ::sqlite3_bind_int64(statement, 6, stamp.changedNs);
    code = ::sqlite3_step(statement);
    if (code == SQLITE_DONE) {
        ::sqlite3_reset(statement);
        ++counts.misses;
        return std::nullopt;
    }
    if (code != SQLITE_ROW) {
        ::sqlite3_reset(statement);
        giveUp(code, false);
        return std::nullopt;
    }
    const auto bytesAt = [&](int column) -> std::optional<std::string> {
        if (::sqlite3_column_type(statement, column) == SQLITE_NULL)
            return std::nullopt;
        const auto* data = static_cast<const char*>(::sqlite3_column_blob(statement, column));
        const int size = ::sqlite3_column_bytes(statement, column);
        return data == nullptr ? std::string() : std::string(data, static_cast<std::size_t>(size));
    };
    StoredEntry entry;
    entry.key = key;
    entry.stamp = stamp;
    entry.description = bytesAt(0);
    entry.counted = ::sqlite3_column_int64(statement, 1) != 0;
    entry.errors = bytesAt(2);
    if (::sqlite3_column_type(statement, 3) != SQLITE_NULL) {
        FileStamp icon;
        icon.device = static_cast<std::uint64_t>(::sqlite3_column_int64(statement, 3));
        icon.inode = static_cast<std::uint64_t>(::sqlite3_column_int64(statement, 4));
        icon.size = ::sqlite3_column_int64(statement, 5);
        icon.modifiedNs = ::sqlite3_column_int64(statement, 6);
        icon.changedNs = ::sqlite3_column_int64(statement, 7);
        entry.icon = icon;
    }
    const std::int64_t tree = ::sqlite3_column_int64(statement, 8);
    const std::int64_t seenRun = ::sqlite3_column_int64(statement, 9);
    const std::int64_t checksum = ::sqlite3_column_int64(statement, 10);
    code = ::sqlite3_reset(statement);
    if (code != SQLITE_OK) {
        giveUp(code, false);
        return std::nullopt;
    }
    std::optional<std::vector<std::string>> errors =
        entry.errors ? decodeErrorEntries(*entry.errors, fullPath) : std::vector<std::string>();
    if (checksum != checksumOf(entry, run.optionsId) || !errors) {
        giveUp(checksumMismatch, false);
        return std::nullopt;
    }
    if (needsMark(stamp, run, tree, seenRun))
        pendingMarks.emplace_back(key, stamp);
    ++counts.hits;

    CachedFile file;
    file.description = std::move(entry.description);
    file.counted = entry.counted;
    file.errors = std::move(*errors);
    file.icon = entry.icon;
    if (pendingMarks.size() >= batchEntries)
        flush();
    return file;
}

/// Whether an entry met in this run is to be marked as seen: every markEveryRuns runs, in a
/// run chosen by its inode so each run marks a share of the entries rather than every fourth
/// run all of them; at once when another tree had it, or when its turn was missed.
bool DescriptionCache::Impl::needsMark(const FileStamp& stamp, const KeyRun& run, std::int64_t tree,
                                       std::int64_t seenRun) const
{
    const std::int64_t age = run.currentRun - seenRun;
    const auto turn =
        static_cast<std::int64_t>((stamp.inode + static_cast<std::uint64_t>(run.currentRun))
                                  % static_cast<std::uint64_t>(markEveryRuns));
    return tree != run.treeId || age >= 2 * markEveryRuns || (age > 0 && turn == 0);
}

bool DescriptionCache::Impl::writeEntry(const StoredEntry& entry)
{
    const KeyRun& run = keyRuns[entry.key];
    sqlite3_stmt* statement = storeStatement.get();
    const auto bindBytes = [&](int index, const std::optional<std::string>& bytes) {
        if (bytes)
            ::sqlite3_bind_blob(statement, index, bytes->data(), static_cast<int>(bytes->size()),
                                SQLITE_STATIC);
        else
            ::sqlite3_bind_null(statement, index);
    };
    ::sqlite3_bind_int64(statement, 1, asStored(entry.stamp.device));
    ::sqlite3_bind_int64(statement, 2, asStored(entry.stamp.inode));
    ::sqlite3_bind_int64(statement, 3, run.optionsId);
    ::sqlite3_bind_int64(statement, 4, entry.stamp.size);
    ::sqlite3_bind_int64(statement, 5, entry.stamp.modifiedNs);
    ::sqlite3_bind_int64(statement, 6, entry.stamp.changedNs);
    bindBytes(7, entry.description);
    ::sqlite3_bind_int64(statement, 8, entry.counted ? 1 : 0);
    bindBytes(9, entry.errors);
    if (entry.icon) {
        ::sqlite3_bind_int64(statement, 10, asStored(entry.icon->device));
        ::sqlite3_bind_int64(statement, 11, asStored(entry.icon->inode));
        ::sqlite3_bind_int64(statement, 12, entry.icon->size);
        ::sqlite3_bind_int64(statement, 13, entry.icon->modifiedNs);
        ::sqlite3_bind_int64(statement, 14, entry.icon->changedNs);
    } else {
        for (int index = 10; index <= 14; ++index)
            ::sqlite3_bind_null(statement, index);
    }
    ::sqlite3_bind_int64(statement, 15, run.treeId);
    ::sqlite3_bind_int64(statement, 16, run.currentRun);
    ::sqlite3_bind_int64(statement, 17, runStartNs);
    ::sqlite3_bind_int64(statement, 18, checksumOf(entry, run.optionsId));
    const int code = ::sqlite3_step(statement);
    ::sqlite3_reset(statement);
    ::sqlite3_clear_bindings(statement);
    if (code != SQLITE_DONE) {
        ::sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        giveUp(code, false);
        return false;
    }
    return true;
}

bool DescriptionCache::Impl::writeMark(std::size_t key, const FileStamp& stamp)
{
    const KeyRun& run = keyRuns[key];
    sqlite3_stmt* statement = markStatement.get();
    ::sqlite3_bind_int64(statement, 1, run.treeId);
    ::sqlite3_bind_int64(statement, 2, run.currentRun);
    ::sqlite3_bind_int64(statement, 3, runStartNs);
    ::sqlite3_bind_int64(statement, 4, asStored(stamp.device));
    ::sqlite3_bind_int64(statement, 5, asStored(stamp.inode));
    ::sqlite3_bind_int64(statement, 6, run.optionsId);
    const int code = ::sqlite3_step(statement);
    ::sqlite3_reset(statement);
    if (code != SQLITE_DONE) {
        ::sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        giveUp(code, false);
        return false;
    }
    return true;
}

bool DescriptionCache::Impl::flush()
{
    if (!on)
        return false;
    if (pendingStores.empty() && pendingMarks.empty())
        return true;
    if (!endReadTransaction())
        return false;
    int code = SQLITE_OK;
    if (!exec("BEGIN IMMEDIATE", code)) {
        giveUp(code, false);
        return false;
    }
    for (const StoredEntry& entry : pendingStores) {
        if (!writeEntry(entry))
            return false;
    }
    for (const auto& [key, stamp] : pendingMarks) {
        if (!writeMark(key, stamp))
            return false;
    }
    if (!exec("COMMIT", code)) {
        ::sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        giveUp(code, false);
        return false;
    }
    counts.stored += static_cast<std::int64_t>(pendingStores.size());
    pendingStores.clear();
    pendingMarks.clear();
    pendingBytes = 0;
    return true;
}

void DescriptionCache::Impl::finishRun(RunEnd end)
{
    if (finished || !flush() || !endReadTransaction())
        return;
    finished = true;
    if (end != RunEnd::Complete)
        return;
    int code = SQLITE_OK;
    if (!exec("BEGIN IMMEDIATE", code)) {
        giveUp(code, false);
        return;
    }
    Statement count = prepare("UPDATE trees SET runs=max(runs, ?2) WHERE id=?1", code);
    Statement drop =
        prepare("DELETE FROM files WHERE tree=?1 AND seen_run<=?2 AND seen_ns<?3", code);
    Statement forget = prepare("DELETE FROM files WHERE tree IN"
                               " (SELECT id FROM trees WHERE last_run_ns<?1)",
                               code);
    Statement forgetTrees = prepare("DELETE FROM trees WHERE last_run_ns<?1", code);
    const auto step = [&](sqlite3_stmt* statement) {
        code = statement != nullptr ? ::sqlite3_step(statement) : code;
        return code == SQLITE_DONE;
    };
    // Each key counts its runs of the tree and drops its own entries not met for long.
    bool done = count && drop;
    for (std::size_t key = 0; done && key < keyRuns.size(); ++key) {
        const KeyRun& run = keyRuns[key];
        ::sqlite3_reset(count.get());
        ::sqlite3_reset(drop.get());
        ::sqlite3_bind_int64(count.get(), 1, run.treeId);
        ::sqlite3_bind_int64(count.get(), 2, run.currentRun);
        ::sqlite3_bind_int64(drop.get(), 1, run.treeId);
        ::sqlite3_bind_int64(drop.get(), 2, run.currentRun - dropAfterRuns);
        ::sqlite3_bind_int64(drop.get(), 3, runStartNs - dropAfterDays * nsPerDay);
        done = step(count.get()) && step(drop.get());
    }
    const std::int64_t forgetBefore = runStartNs - forgetTreeAfterDays * nsPerDay;
    if (forget)
        ::sqlite3_bind_int64(forget.get(), 1, forgetBefore);
    if (forgetTrees)
        ::sqlite3_bind_int64(forgetTrees.get(), 1, forgetBefore);
    done = done && step(forget.get()) && step(forgetTrees.get())
           && exec("DELETE FROM line_options WHERE id NOT IN"
                   " (SELECT options FROM trees)",
                   code);
    count.reset();
    drop.reset();
    forget.reset();
    forgetTrees.reset();
    if (!done || !exec("COMMIT", code)) {
        ::sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        giveUp(code, false);
    }
}

DescriptionCache::DescriptionCache(const DescriptionCacheSetup& setup, Warning warning)
    : m_impl(std::make_unique<Impl>())
{
    m_impl->setup = setup;
    m_impl->warning = std::move(warning);
    m_impl->open();
}

DescriptionCache::~DescriptionCache()
{
    const std::lock_guard lock(m_mutex);
    m_impl->flush();
    m_impl->endReadTransaction();
    m_impl->closeDatabase();
}

bool DescriptionCache::isOn() const
{
    const std::lock_guard lock(m_mutex);
    return m_impl->on;
}

std::optional<CachedFile> DescriptionCache::lookup(std::size_t key, const FileStamp& stamp,
                                                   std::string_view fullPath)
{
    const std::lock_guard lock(m_mutex);
    return m_impl->lookup(key, stamp, fullPath);
}

void DescriptionCache::store(std::size_t key, const StampReading& reading, const CachedFile& file,
                             std::string_view fullPath)
{
    const std::lock_guard lock(m_mutex);
    Impl& impl = *m_impl;
    if (!impl.on || impl.finished || key >= impl.keyRuns.size())
        return;
    StoredEntry entry;
    entry.key = key;
    entry.stamp = reading.stamp;
    entry.description = file.description;
    entry.counted = file.counted;
    entry.icon = file.icon;
    if (!file.errors.empty())
        entry.errors = encodeErrorEntries(file.errors, fullPath);
    const std::size_t bytes = (entry.description ? entry.description->size() : 0)
                              + (entry.errors ? entry.errors->size() : 0);
    if (!isSettled(reading) || (!file.errors.empty() && !entry.errors) || bytes > maxEntryBytes) {
        ++impl.counts.refused;
        return;
    }
    impl.pendingStores.push_back(std::move(entry));
    impl.pendingBytes += bytes;
    if (impl.pendingStores.size() >= batchEntries || impl.pendingBytes >= batchBytes)
        impl.flush();
}

void DescriptionCache::flush()
{
    const std::lock_guard lock(m_mutex);
    m_impl->flush();
}

void DescriptionCache::finishRun(RunEnd end)
{
    const std::lock_guard lock(m_mutex);
    m_impl->finishRun(end);
}

DescriptionCacheCounts DescriptionCache::counts() const
{
    const std::lock_guard lock(m_mutex);
    return m_impl->counts;
}

} // namespace tagrelay
