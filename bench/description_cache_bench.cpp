// The description cache alone: the cost of storing a collection's entries, the lookups per
// second in a warm cache, the run that marks entries as seen, and the memory of a run over a
// cache far larger than one collection. See bench/README.md.

#include "cache/description_cache.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

using namespace tagrelay;

namespace {

constexpr std::int64_t second = 1'000'000'000;
constexpr std::int64_t startNs = 1'700'000'000 * second;

FileStamp stampNumber(std::int64_t n)
{
    return {2049, static_cast<std::uint64_t>(100'000 + n), 4'000'000 + n,
            startNs - 900 * second - n, startNs - 800 * second - n};
}

/// A line as a music collection gives it: artist, album, title, bitrate, mode, time, genre.
CachedFile fileNumber(std::int64_t n)
{
    CachedFile file;
    file.description = "Some Artist " + std::to_string(n % 97) + " - An Album Name "
                       + std::to_string(n % 31) + " - Track Title Number " + std::to_string(n)
                       + " - 192 kbs CBR - Joint Stereo - 4:12 min - Rock";
    file.counted = true;
    return file;
}

std::string pathNumber(std::int64_t n)
{
    return "/srv/music/folder" + std::to_string(n / 50) + "/track" + std::to_string(n) + ".mp3";
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long peakKilobytes()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct Bench
{
    std::string path;
    int run = 0;

    std::unique_ptr<DescriptionCache> open(DirectoryIdentity tree)
    {
        DescriptionCacheSetup setup;
        setup.path = path;
        setup.tree = tree;
        setup.keys = {"bench"};
        setup.runStartNs = startNs + ++run * 3600 * second;
        return std::make_unique<DescriptionCache>(setup, [](const std::string& text) {
            std::fprintf(stderr, "warning: %s\n", text.c_str());
        });
    }

    /// One run storing entries first .. first + count - 1; seconds, open and close included.
    double store(std::int64_t first, std::int64_t count, DirectoryIdentity tree)
    {
        const auto start = std::chrono::steady_clock::now();
        auto cache = open(tree);
        for (std::int64_t n = first; n < first + count; ++n)
            cache->store(0, {stampNumber(n), startNs}, fileNumber(n), pathNumber(n));
        cache->finishRun(RunEnd::Complete);
        cache.reset();
        return secondsSince(start);
    }

    /// One run looking up the keys; seconds for the lookups (with the marks they write) and
    /// for the whole run.
    std::pair<double, double> lookUp(const std::vector<std::int64_t>& keys, DirectoryIdentity tree,
                                     RunEnd end = RunEnd::Complete)
    {
        const auto start = std::chrono::steady_clock::now();
        auto cache = open(tree);
        const auto lookups = std::chrono::steady_clock::now();
        std::int64_t found = 0;
        for (const std::int64_t n : keys)
            found += cache->lookup(0, stampNumber(n), pathNumber(n)) ? 1 : 0;
        const double lookupSeconds = secondsSince(lookups);
        cache->finishRun(end);
        cache.reset();
        if (found != static_cast<std::int64_t>(keys.size()))
            std::fprintf(stderr, "only %lld of %zu keys found\n", static_cast<long long>(found),
                         keys.size());
        return {lookupSeconds, secondsSince(start)};
    }
};

} // namespace

int main(int argc, char** argv)
{
    std::int64_t entries = 20'000;
    std::int64_t big = 1'000'000;
    std::string dir = "/tmp/tagrelay-cache-bench";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--entries")
            entries = std::atoll(argv[i + 1]);
        else if (option == "--big")
            big = std::atoll(argv[i + 1]);
        else if (option == "--dir")
            dir = argv[i + 1];
    }
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all);
    Bench bench{dir + "/descriptions.sqlite"};
    const DirectoryIdentity tree{2049, 2};

    std::vector<std::int64_t> keys;
    for (std::int64_t n = 0; n < entries; ++n)
        keys.push_back(n);
    const double stored = bench.store(0, entries, tree);
    std::printf("store %lld entries in one run: %.3f s (%.1f us per entry)\n",
                static_cast<long long>(entries), stored, stored * 1e6 / double(entries));
    // Each run marks a quarter of the entries as seen; the best of eight runs counts, as
    // the machine's other work only ever adds time.
    double bestLookups = 1e9, bestWhole = 1e9;
    for (int run = 2; run <= 9; ++run) {
        const auto [lookups, whole] = bench.lookUp(keys, tree);
        bestLookups = std::min(bestLookups, lookups);
        bestWhole = std::min(bestWhole, whole);
    }
    std::printf("%lld lookups in a warm cache with a quarter marked as seen: %.3f s, %.0f "
                "lookups/s; whole run (open, lookups, marks, end) %.3f s; best of 8 runs\n",
                static_cast<long long>(entries), bestLookups, double(entries) / bestLookups,
                bestWhole);
    // A stopped run does not count: the one after it has the same number and finds the entries
    // of its turn marked already, so it only reads.
    double bestReads = 1e9;
    for (int run = 0; run < 4; ++run)
        bestReads = std::min(bestReads, bench.lookUp(keys, tree, RunEnd::Stopped).first);
    std::printf("the same lookups without marks: %.3f s, %.0f lookups/s, %.2f us each\n", bestReads,
                double(entries) / bestReads, bestReads * 1e6 / double(entries));
    std::printf("cache file: %.1f MB; peak memory so far %ld KB\n",
                double(std::filesystem::file_size(bench.path)) / 1e6, peakKilobytes());

    if (big > 0) {
        // Other trees fill the cache; the collection's run then looks up its keys among them.
        const double bigStored = bench.store(entries, big, {2049, 3});
        std::mt19937 random(1);
        std::shuffle(keys.begin(), keys.end(), random);
        const auto [lookups, whole] = bench.lookUp(keys, tree);
        std::printf("with %lld more entries (%.0f MB, stored in %.1f s): %lld lookups %.3f s, "
                    "%.0f lookups/s; whole run %.3f s; peak memory %ld KB\n",
                    static_cast<long long>(big),
                    double(std::filesystem::file_size(bench.path)) / 1e6, bigStored,
                    static_cast<long long>(entries), lookups, double(entries) / lookups, whole,
                    peakKilobytes());
    }
    std::filesystem::remove_all(dir);
    return 0;
}
