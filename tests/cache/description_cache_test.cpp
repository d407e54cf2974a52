#include "cache/description_cache.h"
#include "platform/file_stamp.h"
#include "support/support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <thread>

namespace tagrelay {
namespace {

using test::inChild;

constexpr std::int64_t second = 1'000'000'000;
constexpr std::int64_t day = 86'400 * second;
/// The clock of the tests' runs: every stamp below is long settled by then.
constexpr std::int64_t startNs = 1'700'000'000 * second;

FileStamp stampNumber(int n)
{
    return {42, 1000 + static_cast<std::uint64_t>(n), 4000 + n, startNs - 100 * second - n,
            startNs - 50 * second - n};
}

StampReading settled(const FileStamp& stamp)
{
    return {stamp, startNs};
}

/// A description of a few hundred bytes, or several pages for every fiftieth file, that names
/// its file so a damaged one cannot pass for another's.
std::string descriptionNumber(int n)
{
    std::string text = "desc-" + std::to_string(10000 + n) + "-";
    const std::size_t length = n % 50 == 0 ? 6000 : 100 + static_cast<std::size_t>(n % 200);
    while (text.size() < length)
        text += static_cast<char>('a' + (text.size() * 7 + static_cast<std::size_t>(n)) % 26);
    return text;
}

CachedFile fileNumber(int n)
{
    CachedFile file;
    file.description = descriptionNumber(n);
    file.counted = true;
    if (n % 7 == 0)
        file.errors = {"Bad frame in /music/" + std::to_string(n) + ".mp3 at byte "
                       + std::to_string(n)};
    return file;
}

std::string pathNumber(int n)
{
    return "/music/" + std::to_string(n) + ".mp3";
}

/// A second connection to the cache's database, as another run or another program has one.
class OtherConnection
{
  public:
    explicit OtherConnection(const std::string& path)
    {
        ::sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    }
    ~OtherConnection() { ::sqlite3_close_v2(m_db); }
    bool exec(const std::string& sql)
    {
        return ::sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    std::int64_t number(const std::string& sql)
    {
        sqlite3_stmt* statement = nullptr;
        ::sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr);
        const std::int64_t value =
            ::sqlite3_step(statement) == SQLITE_ROW ? ::sqlite3_column_int64(statement, 0) : -1;
        ::sqlite3_finalize(statement);
        return value;
    }

  private:
    sqlite3* m_db = nullptr;
};

class DescriptionCacheTest : public testing::Test
{
  public:
    DescriptionCacheTest() { ::chmod(folder.c_str(), 0700); }

    DescriptionCacheSetup setup(std::int64_t start = startNs,
                                DirectoryIdentity treeId = {7, 8}) const
    {
        DescriptionCacheSetup made;
        made.path = path;
        made.tree = treeId;
        made.keys = {options};
        made.busyTimeoutMs = 200;
        made.runStartNs = start;
        return made;
    }
    std::unique_ptr<DescriptionCache> open(const DescriptionCacheSetup& made)
    {
        return std::make_unique<DescriptionCache>(
            made, [this](const std::string& text) { warnings.push_back(text); });
    }
    std::unique_ptr<DescriptionCache> open() { return open(setup()); }
    /// Stores files first to first + count - 1 in one complete run.
    void fill(int first, int count)
    {
        const auto cache = open();
        for (int n = first; n < first + count; ++n)
            cache->store(0, settled(stampNumber(n)), fileNumber(n), pathNumber(n));
        cache->finishRun(RunEnd::Complete);
    }
    std::int64_t entries() { return OtherConnection(path).number("SELECT count(*) FROM files"); }

    test::TempTree tree;
    std::string folder = tree.makeDir("cache");
    std::string path = folder + "descriptions.sqlite";
    std::string options = "key text of one kind";
    std::vector<std::string> warnings;
};

TEST_F(DescriptionCacheTest, ALaterRunGetsBackWhatEachFileGave)
{
    CachedFile mp3;
    mp3.description = "Artist - Title - 128 kbs CBR";
    mp3.counted = true;
    mp3.errors = {"frame header error : /music/Old/a.mp3",
                  "/music/Old/a.mp3 please write a new id3 tag ", "an entry naming no file"};
    mp3.icon = FileStamp{42, 77, 1234, startNs - 9 * second, startNs - 8 * second};
    CachedFile pictureWithoutLine;
    pictureWithoutLine.counted = true;
    CachedFile emptyLine;
    emptyLine.description = "";
    emptyLine.counted = true;
    CachedFile anyBytes;
    anyBytes.description = std::string("\xff\xfe zero \0 tab\t crlf\r\n end", 25);
    const std::vector<CachedFile> files = {mp3, pictureWithoutLine, emptyLine, anyBytes,
                                           CachedFile{}};
    {
        const auto cache = open();
        for (std::size_t i = 0; i < files.size(); ++i)
            cache->store(0, settled(stampNumber(static_cast<int>(i))), files[i],
                         "/music/Old/a.mp3");
        cache->finishRun(RunEnd::Complete);
        EXPECT_EQ(cache->counts().stored, 5);
    }
    // The folder was renamed since: the error entries name the file where it is now.
    const auto cache = open();
    for (std::size_t i = 0; i < files.size(); ++i) {
        CachedFile expected = files[i];
        for (std::string& entry : expected.errors) {
            if (const auto at = entry.find("/music/Old/a.mp3"); at != std::string::npos)
                entry.replace(at, 16, "/srv/New/a.mp3");
        }
        EXPECT_EQ(cache->lookup(0, stampNumber(static_cast<int>(i)), "/srv/New/a.mp3"), expected)
            << i;
    }
    EXPECT_EQ(cache->counts().hits, 5);
    EXPECT_TRUE(warnings.empty());
}

TEST_F(DescriptionCacheTest, AnyOtherStampFieldOrOptionMisses)
{
    fill(0, 1);
    const FileStamp stored = stampNumber(0);
    std::vector<FileStamp> others(5, stored);
    ++others[0].device;
    ++others[1].inode;
    ++others[2].size;
    ++others[3].modifiedNs;
    ++others[4].changedNs;
    {
        const auto cache = open();
        for (const FileStamp& other : others)
            EXPECT_FALSE(cache->lookup(0, other, pathNumber(0)));
        EXPECT_TRUE(cache->lookup(0, stored, pathNumber(0)));
    }
    options = "the same kind with other options";
    const auto cache = open();
    EXPECT_FALSE(cache->lookup(0, stored, pathNumber(0)));
    EXPECT_TRUE(warnings.empty());
}

TEST_F(DescriptionCacheTest, EachKeyKeepsItsEntriesWhenAnotherKeysOptionsChange)
{
    DescriptionCacheSetup twoKinds = setup();
    twoKinds.keys = {"mp3 options", "picture options"};
    {
        const auto cache = open(twoKinds);
        cache->store(0, settled(stampNumber(0)), fileNumber(0), pathNumber(0));
        cache->store(1, settled(stampNumber(1)), fileNumber(1), pathNumber(1));
        cache->finishRun(RunEnd::Complete);
    }
    // Only the pictures' options change: the MP3 entry is found, the picture's is not, and
    // neither is found under the other key or a key the run does not have.
    twoKinds.keys[1] = "picture options, icons ticked";
    for (int run = 0; run < 2 * static_cast<int>(DescriptionCache::dropAfterRuns); ++run) {
        twoKinds.runStartNs = startNs + (run + 1) * DescriptionCache::dropAfterDays * day;
        const auto cache = open(twoKinds);
        EXPECT_EQ(cache->lookup(0, stampNumber(0), pathNumber(0)), fileNumber(0)) << run;
        EXPECT_FALSE(cache->lookup(1, stampNumber(1), pathNumber(1)));
        EXPECT_FALSE(cache->lookup(1, stampNumber(0), pathNumber(0)));
        EXPECT_FALSE(cache->lookup(2, stampNumber(0), pathNumber(0)));
        cache->store(2, settled(stampNumber(2)), fileNumber(2), pathNumber(2));
        cache->finishRun(RunEnd::Complete);
    }
    // Runs that meet the MP3 entry keep it; the picture entry of the old options was dropped
    // with its tree and options once no run had met it for long.
    EXPECT_EQ(entries(), 1);
    EXPECT_TRUE(warnings.empty());
}

TEST_F(DescriptionCacheTest, KeepsOnlySettledEntriesOfBoundedSizeWhoseErrorsFollowTheFile)
{
    StampReading justChanged = settled(stampNumber(1));
    justChanged.readAtNs = justChanged.stamp.changedNs + settleTimeNs - 1;
    StampReading justModified = settled(stampNumber(2));
    justModified.stamp.modifiedNs = startNs - 1 * second;
    CachedFile huge = fileNumber(3);
    huge.description = std::string(DescriptionCache::maxEntryBytes + 1, 'x');
    CachedFile twice = fileNumber(4);
    twice.errors = {"/m/a.mp3 is /m/a.mp3"};
    {
        const auto cache = open();
        cache->store(0, settled(stampNumber(0)), fileNumber(0), "/m/a.mp3");
        cache->store(0, justChanged, fileNumber(1), "/m/a.mp3");
        cache->store(0, justModified, fileNumber(2), "/m/a.mp3");
        cache->store(0, settled(stampNumber(3)), huge, "/m/a.mp3");
        cache->store(0, settled(stampNumber(4)), twice, "/m/a.mp3");
        cache->finishRun(RunEnd::Complete);
        EXPECT_EQ(cache->counts().stored, 1);
        EXPECT_EQ(cache->counts().refused, 4);
    }
    EXPECT_EQ(entries(), 1);
}

TEST_F(DescriptionCacheTest, EntriesOfGoneFilesLeaveAfterTwelveCompleteRunsAndTwoWeeks)
{
    fill(0, 2); // 0 stays in the tree, 1 is gone after the first run
    {
        // Another tree's runs do not count for this one's entries.
        const auto other = open(setup(startNs, {9, 9}));
        other->store(0, settled(stampNumber(5)), fileNumber(5), pathNumber(5));
        other->finishRun(RunEnd::Complete);
    }
    const auto runOnDay = [&](int runDay, RunEnd end) {
        const auto cache = open(setup(startNs + runDay * day));
        EXPECT_TRUE(cache->lookup(0, stampNumber(0), pathNumber(0)));
        cache->finishRun(end);
    };
    for (int run = 2; run <= 30; ++run)
        runOnDay(1, RunEnd::Stopped); // stopped runs drop nothing
    for (int run = 2; run <= 12; ++run)
        runOnDay(run, RunEnd::Complete);
    EXPECT_EQ(entries(), 3) << "gone for 11 runs";
    runOnDay(13, RunEnd::Complete);
    EXPECT_EQ(entries(), 3) << "gone for 12 runs, but less than two weeks";
    runOnDay(15, RunEnd::Complete);
    EXPECT_EQ(entries(), 2) << "gone for 13 runs and two weeks";
    // A tree not described for half a year is forgotten by the next run of any tree.
    fill(6, 1);
    auto later = open(setup(startNs + 200 * day, {9, 9}));
    later->finishRun(RunEnd::Complete);
    later.reset();
    EXPECT_EQ(entries(), 1);
    EXPECT_TRUE(warnings.empty()) << warnings.front();
}

TEST_F(DescriptionCacheTest, RunsInTwoProcessesAndFourThreadsShareTheCache)
{
    fill(0, 1); // the tables exist; the runs below meet in writing to them
    const auto run = [&](int first) {
        auto made = setup();
        made.busyTimeoutMs = 10'000;
        const auto cache = open(made);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, t] {
                for (int n = first + t * 1000; n < first + (t + 1) * 1000; ++n) {
                    if (!cache->lookup(0, stampNumber(n), pathNumber(n)))
                        cache->store(0, settled(stampNumber(n)), fileNumber(n), pathNumber(n));
                }
            });
        }
        for (auto& thread : threads)
            thread.join();
        cache->finishRun(RunEnd::Complete);
        return warnings.empty() && cache->counts().stored == 4000 ? 0 : 1;
    };
    const pid_t first = ::fork();
    if (first == 0)
        ::_exit(run(1));
    EXPECT_EQ(run(10'001), 0);
    int status = 0;
    ::waitpid(first, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const auto cache = open();
    for (int n : {1, 2500, 4000, 10'001, 12'345, 14'000})
        EXPECT_EQ(cache->lookup(0, stampNumber(n), pathNumber(n)), fileNumber(n)) << n;
    EXPECT_EQ(entries(), 8001);
}

using Others = std::vector<std::unique_ptr<OtherConnection>>;

/// Another connection takes a lock on the cache and keeps it.
void lockWith(DescriptionCacheTest& test, Others& others, const std::string& sql)
{
    others.push_back(std::make_unique<OtherConnection>(test.path));
    others.back()->exec(sql);
}

enum class RunsAs { Anyone, NotRoot, Root };

/// A cache that cannot be used, and the one warning it gives.
struct ProblemCase
{
    const char* name;
    /// Arranges the problem after a first run stored entry 0; runs as the cache then does.
    std::function<void(DescriptionCacheTest&, Others&)> arrange;
    /// The warning after "description cache PATH "; FOLDER stands for the cache's folder.
    std::string warning;
    /// Whether the problem starts once the cache is open (it then gives up at the next write).
    bool duringRun = false;
    /// NotRoot: permissions mean nothing to root, so root runs the case as another user.
    /// Root: the case needs a file of another user.
    RunsAs runsAs = RunsAs::Anyone;
};

class DescriptionCacheProblemTest : public DescriptionCacheTest,
                                    public testing::WithParamInterface<ProblemCase>
{
};

TEST_P(DescriptionCacheProblemTest, GivesOneWarningAndThenNeitherFindsNorKeeps)
{
    const ProblemCase& problem = GetParam();
    if (problem.runsAs == RunsAs::Root && ::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a file to another user";
    const bool dropsRoot = problem.runsAs == RunsAs::NotRoot && ::geteuid() == 0;
    if (dropsRoot) {
        ASSERT_EQ(::chown(tree.path().c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
    }
    const std::string warningsFile = tree.path() + "warnings";
    const int code = inChild([&] {
        if (dropsRoot && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            return 3;
        fill(0, 1);
        Others others;
        std::unique_ptr<DescriptionCache> cache;
        if (problem.duringRun)
            cache = open();
        problem.arrange(*this, others);
        if (!problem.duringRun)
            cache = open();
        const bool found = cache->lookup(0, stampNumber(0), pathNumber(0)).has_value();
        for (int n = 1; n < 2000; ++n)
            cache->store(0, settled(stampNumber(n)), fileNumber(n), pathNumber(n));
        cache->finishRun(RunEnd::Complete);
        const bool off = !cache->isOn() && cache->counts().stored == 0;
        const bool foundAfter = cache->lookup(0, stampNumber(0), pathNumber(0)).has_value();
        std::ofstream(warningsFile) << (warnings.empty() ? "" : warnings.front()) << "\n"
                                    << warnings.size();
        return off && !foundAfter && (problem.duringRun || !found) ? 0 : 4;
    });
    EXPECT_EQ(code, 0);
    std::string expected = "description cache " + path + " " + problem.warning;
    if (const auto at = expected.find("FOLDER"); at != std::string::npos)
        expected.replace(at, 6, folder.substr(0, folder.size() - 1));
    EXPECT_EQ(test::readFileText(warningsFile), expected + "\n1");
}

const std::string notUsed = "not used: ";
const std::string everyFile = "; every file is analysed";

INSTANTIATE_TEST_SUITE_P(
    Problems, DescriptionCacheProblemTest,
    testing::Values(
        ProblemCase{"WriteLockHeldAtTheStart",
                    [](auto& test, auto& others) {
                        lockWith(test, others, "BEGIN IMMEDIATE; DELETE FROM trees");
                    },
                    notUsed + "another run held it for more than 200 ms" + everyFile},
        ProblemCase{"WriteLockTakenDuringTheRun",
                    [](auto& test, auto& others) {
                        lockWith(test, others, "BEGIN IMMEDIATE; DELETE FROM trees");
                    },
                    "given up: another run held it for more than 200 ms; the remaining files "
                    "are analysed",
                    true},
        ProblemCase{"ExclusiveLockHeld",
                    [](auto& test, auto& others) {
                        lockWith(test, others,
                                 "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE;"
                                 " DELETE FROM trees");
                    },
                    notUsed + "another run held it for more than 200 ms" + everyFile},
        ProblemCase{
            "ANewerVersionsCache",
            [](auto& test, auto&) { OtherConnection(test.path).exec("PRAGMA user_version=2"); },
            notUsed + "it was made by a newer version of this program, left as it is" + everyFile},
        ProblemCase{"AnotherProgramsDatabase",
                    [](auto& test, auto&) {
                        std::filesystem::remove(test.path);
                        OtherConnection(test.path).exec("CREATE TABLE mine(x)");
                    },
                    notUsed + "it is no description cache of this program, left as it is"
                        + everyFile},
        ProblemCase{"ALinkInPlaceOfTheDatabase",
                    [](auto& test, auto&) {
                        std::filesystem::remove(test.path);
                        ::symlink("/etc/passwd", test.path.c_str());
                    },
                    notUsed + "it is a symbolic link" + everyFile},
        ProblemCase{
            "ALinkInPlaceOfTheJournal",
            [](auto& test, auto&) { ::symlink("/etc/passwd", (test.path + "-wal").c_str()); },
            notUsed + "its journal descriptions.sqlite-wal is a symbolic link" + everyFile},
        ProblemCase{"ADatabaseWithASecondName",
                    [](auto& test, auto&) {
                        ::link(test.path.c_str(), (test.tree.path() + "second").c_str());
                    },
                    notUsed + "it has more than one name" + everyFile},
        ProblemCase{"AFolderOthersCanWrite",
                    [](auto& test, auto&) { ::chmod(test.folder.c_str(), 01777); },
                    notUsed + "the folder FOLDER can be written by other users" + everyFile},
        ProblemCase{"AFolderOfAnotherUser",
                    [](auto& test, auto&) { ::chown(test.folder.c_str(), 65534, 65534); },
                    notUsed + "the folder FOLDER belongs to another user" + everyFile, false,
                    RunsAs::Root},
        ProblemCase{"ADatabaseOfAnotherUser",
                    [](auto& test, auto&) { ::chown(test.path.c_str(), 65534, 65534); },
                    notUsed + "it belongs to another user" + everyFile, false, RunsAs::Root},
        ProblemCase{"AFolderThatCannotBeWritten",
                    [](auto& test, auto&) {
                        std::filesystem::remove_all(test.folder);
                        ::mkdir(test.folder.c_str(), 0500);
                    },
                    notUsed + "it cannot be made (Permission denied)" + everyFile, false,
                    RunsAs::NotRoot},
        ProblemCase{"ADatabaseThatCannotBeWritten",
                    [](auto& test, auto&) { ::chmod(test.path.c_str(), 0400); },
                    notUsed + "it cannot be written" + everyFile, false, RunsAs::NotRoot}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(DescriptionCacheTest, AFullDiskGivesOneWarningAndTheRunGoesOn)
{
    const std::string warningsFile = tree.path() + "warnings";
    const int code = inChild([&] {
        // A small file system of its own where root may mount one; else a limit on file sizes,
        // which SQLite meets as a full disk or as a failed write.
        const bool mounted =
            ::unshare(CLONE_NEWNS) == 0
            && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
            && ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=256k,mode=0700") == 0;
        if (!mounted) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{256 * 1024, 256 * 1024};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                return 3;
        }
        const auto cache = open();
        int found = 0;
        for (int n = 0; n < 5000; ++n) {
            found += cache->lookup(0, stampNumber(n), pathNumber(n)).has_value() ? 1 : 0;
            cache->store(0, settled(stampNumber(n)), fileNumber(n), pathNumber(n));
        }
        cache->finishRun(RunEnd::Complete);
        std::ofstream(warningsFile) << (mounted ? "mounted\n" : "limited\n")
                                    << (warnings.empty() ? "" : warnings.front()) << "\n"
                                    << warnings.size();
        return found == 0 && !cache->isOn() ? 0 : 4;
    });
    EXPECT_EQ(code, 0);
    const std::string start = "description cache " + path + " given up: ";
    const std::string end = "; the remaining files are analysed\n1";
    const std::string written = test::readFileText(warningsFile);
    if (written.starts_with("mounted")) {
        EXPECT_EQ(written, "mounted\n" + start + "the disk is full" + end);
    } else {
        EXPECT_TRUE(written == "limited\n" + start + "the disk is full" + end
                    || written == "limited\n" + start + "it failed (disk I/O error)" + end)
            << written;
    }
}

/// A way a cache file gets damaged: a disk error, a crash of the file system, another program.
struct DamageCase
{
    const char* name;
    std::function<void(std::vector<std::uint8_t>& bytes)> damage;
    /// Whether the cache lies at the default place (the program's own folder).
    bool atDefaultPlace = false;
    /// Whether the cache is emptied for the next run; otherwise it is left as it was.
    bool emptied = true;
    /// How the warning names the damage.
    const char* reason = "it is damaged (";
};

constexpr std::size_t pageSize = 4096;

void overwritePages(std::vector<std::uint8_t>& bytes, unsigned seed, int pages)
{
    std::mt19937 random(seed);
    const std::size_t count = bytes.size() / pageSize;
    for (int i = 0; i < pages; ++i) {
        const std::size_t page = 1 + random() % (count - 1); // not the first
        for (std::size_t at = page * pageSize; at < (page + 1) * pageSize; ++at)
            bytes[at] = static_cast<std::uint8_t>(random());
    }
}

void overwriteFirstPage(std::vector<std::uint8_t>& bytes)
{
    std::mt19937 random(7);
    for (std::size_t at = 0; at < pageSize; ++at)
        bytes[at] = static_cast<std::uint8_t>(random());
}

/// Changes one byte of the stored description of file n, offset bytes into it.
void changeErrorEntryByte(std::vector<std::uint8_t>& bytes, int n)
{
    const std::string mark = " at byte " + std::to_string(n);
    const auto at = std::search(bytes.begin(), bytes.end(), mark.begin(), mark.end());
    ASSERT_NE(at, bytes.end());
    at[1] ^= 0x20;
}

void changeDescriptionByte(std::vector<std::uint8_t>& bytes, int n, std::size_t offset)
{
    const std::string mark = descriptionNumber(n).substr(0, 11);
    const auto at = std::search(bytes.begin(), bytes.end(), mark.begin(), mark.end());
    ASSERT_NE(at, bytes.end());
    at[static_cast<std::ptrdiff_t>(offset)] ^= 0x20;
}

class DescriptionCacheDamageTest : public DescriptionCacheTest,
                                   public testing::WithParamInterface<DamageCase>
{
};

TEST_P(DescriptionCacheDamageTest, NeverGivesAWrongEntryAndWarnsOnce)
{
    const DamageCase& damage = GetParam();
    constexpr int files = 2000;
    fill(0, files);
    std::vector<std::uint8_t> bytes = test::readFileBytes(path);
    ASSERT_GT(bytes.size(), 50 * pageSize);
    damage.damage(bytes);
    tree.writeFile("cache/descriptions.sqlite", bytes);

    auto made = setup();
    made.makesFolders = damage.atDefaultPlace;
    {
        const auto cache = open(made);
        for (int n = 0; n < files; ++n) {
            const auto found = cache->lookup(0, stampNumber(n), pathNumber(n));
            if (found) {
                ASSERT_EQ(*found, fileNumber(n)) << n;
            }
        }
        cache->store(0, settled(stampNumber(files)), fileNumber(files), pathNumber(files));
        cache->finishRun(RunEnd::Complete);
    }
    ASSERT_EQ(warnings.size(), 1u);
    const std::string start = "description cache " + path + " ";
    EXPECT_EQ(warnings[0].rfind(start, 0), 0u) << warnings[0];
    EXPECT_NE(warnings[0].find(damage.reason), std::string::npos) << warnings[0];
    const std::string outcome = damage.emptied ? ", emptied for the next run" : ", left as it is";
    EXPECT_NE(warnings[0].find(outcome + ";"), std::string::npos) << warnings[0];

    warnings.clear();
    if (!damage.emptied) {
        EXPECT_EQ(test::readFileBytes(path), bytes);
        return;
    }
    // The next run starts from an empty cache and fills it again.
    {
        const auto cache = open(made);
        EXPECT_FALSE(cache->lookup(0, stampNumber(1), pathNumber(1)));
        cache->store(0, settled(stampNumber(1)), fileNumber(1), pathNumber(1));
        cache->finishRun(RunEnd::Complete);
    }
    const auto cache = open(made);
    EXPECT_EQ(cache->lookup(0, stampNumber(1), pathNumber(1)), fileNumber(1));
    EXPECT_TRUE(warnings.empty()) << warnings.front();
}

std::vector<DamageCase> damageCases()
{
    constexpr const char* checksumReason = "it is damaged (an entry does not match its checksum)";
    std::vector<DamageCase> cases = {
        {"CutInHalf", [](auto& bytes) { bytes.resize(bytes.size() / 2); }},
        {"CutAfterTheFirstPage", [](auto& bytes) { bytes.resize(pageSize + 100); }},
        {"PagesZeroed",
         [](auto& bytes) {
             std::fill(bytes.begin() + 20 * pageSize, bytes.begin() + 25 * pageSize, 0);
         }},
        // Pages that still read as valid records: only the entry's checksum tells.
        {"OneByteOfADescription", [](auto& bytes) { changeDescriptionByte(bytes, 777, 40); }, false,
         true, checksumReason},
        {"OneByteOfALongDescription", [](auto& bytes) { changeDescriptionByte(bytes, 500, 3000); },
         false, true, checksumReason},
        {"OneByteOfAnErrorEntry", [](auto& bytes) { changeErrorEntryByte(bytes, 777); }, false,
         true, checksumReason},
        // Without its header the file cannot be told from another program's: it is emptied
        // only in the program's own folder.
        {"FirstPageOverwritten", overwriteFirstPage, false, false},
        {"FirstPageOverwrittenAtTheDefaultPlace", overwriteFirstPage, true, true},
    };
    static const char* noise[] = {"PagesOverwritten1", "PagesOverwritten2", "PagesOverwritten3",
                                  "PagesOverwritten4", "PagesOverwritten5", "PagesOverwritten6"};
    for (unsigned seed = 1; seed <= 6; ++seed)
        cases.push_back({noise[seed - 1], [seed](auto& bytes) { overwritePages(bytes, seed, 3); }});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Damage, DescriptionCacheDamageTest, testing::ValuesIn(damageCases()),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace tagrelay
