// Times the frame header decoding and the stream scan on a long generated MP3 file, read the
// way the walk reads it (one reader with a 64 KiB window). Prints the time per counted frame,
// the cost of the per-frame report to a front end that shows nothing, the bytes fetched, the
// read calls and the peak memory.
//
//     tagrelay_stream_scan_bench [minutes=60] [runs=5]

#include "mpeg/frame_header.h"
#include "mpeg/stream_scan.h"
#include "platform/byte_reader.h"
#include "scan/walk_reporter.h"

#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int rate = 44100;
// MPEG 1 layer 3 bitrates (kbit/s) by index 1..14.
constexpr std::array<int, 15> bitrates = {0,   32,  40,  48,  56,  64,  80, 96,
                                          112, 128, 160, 192, 224, 256, 320};

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

/// Writes an MP3 file of the given length: an ID3v2.3 tag, a Xing frame, frames of varying
/// bitrate (or one bitrate when constant) with zero payload, and an ID3v1 block. Returns the
/// number of audio frames.
long writeStream(const std::string& path, int minutes, bool constant)
{
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr)
        return 0;
    const unsigned char tag[] = {'I', 'D', '3', 3, 0, 0, 0, 0, 8, 0};
    std::fwrite(tag, 1, sizeof tag, out);
    std::vector<unsigned char> zeros(1024 + 2048, 0);
    std::fwrite(zeros.data(), 1, 1024, out); // the tag's padding

    const long frames = static_cast<long>(minutes) * 60 * rate / 1152;
    std::uint32_t random = 1;
    std::int64_t remainder = 0;
    for (long i = -1; i < frames; ++i) {
        random = random * 1103515245u + 12345u;
        const int index = i < 0 ? 9 : constant ? 9 : 5 + static_cast<int>((random >> 16) % 10);
        const std::int64_t exact =
            std::int64_t{144} * bitrates[static_cast<std::size_t>(index)] * 1000;
        remainder += exact % rate;
        const bool padding = remainder >= rate;
        if (padding)
            remainder -= rate;
        const std::int64_t length = exact / rate + (padding ? 1 : 0);
        const unsigned char header[] = {
            0xFF, 0xFB, static_cast<unsigned char>(index << 4 | (padding ? 2 : 0)), 0x64};
        std::fwrite(header, 1, 4, out);
        std::vector<unsigned char> payload(static_cast<std::size_t>(length - 4), 0);
        if (i < 0)
            std::copy_n("Xing", 4, payload.begin() + 32);
        std::fwrite(payload.data(), 1, payload.size(), out);
    }
    std::vector<unsigned char> id3v1(128, 0);
    std::copy_n("TAG", 3, id3v1.begin());
    std::fwrite(id3v1.data(), 1, id3v1.size(), out);
    std::fclose(out);
    return frames;
}

struct ScanFigures
{
    double milliseconds = 0;
    int bitrate = 0;
    int isVbr = 0;
    int polls = 0;
    std::uint64_t bytesFetched = 0;
    std::uint64_t readCalls = 0;
};

ScanFigures scanOnce(const std::string& path)
{
    int polls = 0;
    const auto start = Clock::now();
    tagrelay::ByteReader file(path, tagrelay::mpegReadWindow);
    (void)tagrelay::readFrameHeader(file);
    const tagrelay::StreamScan scan =
        tagrelay::scanStream(file, [&polls](std::int64_t, std::int64_t) {
            ++polls;
            return true;
        });
    ScanFigures figures;
    figures.milliseconds = millisecondsSince(start);
    figures.bitrate = scan.bitrate;
    figures.isVbr = scan.isVbr ? 1 : 0;
    figures.polls = polls;
    figures.bytesFetched = file.bytesFetched();
    figures.readCalls = file.readCalls();
    return figures;
}

void report(const char* name, const std::string& path, long frames, int runs)
{
    std::vector<ScanFigures> all;
    for (int i = 0; i < runs; ++i)
        all.push_back(scanOnce(path));
    std::sort(all.begin(), all.end(),
              [](const auto& a, const auto& b) { return a.milliseconds < b.milliseconds; });
    const ScanFigures& median = all[all.size() / 2];
    const auto size = std::filesystem::file_size(path);
    std::printf("%s: %ld frames, %.1f MB; bitrate %d %s, %d frames counted\n", name, frames,
                static_cast<double>(size) / 1e6, median.bitrate, median.isVbr ? "VBR" : "CBR",
                median.polls);
    std::printf("  scan %.1f ms median (%.1f best), %.1f ns per counted frame\n",
                median.milliseconds, all.front().milliseconds,
                median.milliseconds * 1e6 / std::max(median.polls, 1));
    std::printf("  %llu bytes fetched in %llu read calls\n",
                static_cast<unsigned long long>(median.bytesFetched),
                static_cast<unsigned long long>(median.readCalls));
}

/// The per-frame report of the scan on its own: the progress and the question whether to go
/// on, to the command line's kind of front end.
void reportPollCost(int calls)
{
    tagrelay::WalkReporter reporter;
    tagrelay::WalkReporter& front = reporter;
    const auto start = Clock::now();
    int stops = 0;
    for (int i = 0; i < calls; ++i) {
        front.scanProgress(i);
        stops += front.goOn() ? 0 : 1;
    }
    const double milliseconds = millisecondsSince(start);
    std::printf("report of progress + go-on question: %.1f ns per frame (%d calls, %d stops)\n",
                milliseconds * 1e6 / calls, calls, stops);
}

} // namespace

int main(int argc, char** argv)
{
    const int minutes = argc > 1 ? std::atoi(argv[1]) : 60;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const auto folder = std::filesystem::temp_directory_path() / "tagrelay-stream-scan-bench";
    std::filesystem::create_directories(folder);
    const std::string vbr = (folder / "vbr.mp3").string();
    const std::string cbr = (folder / "cbr.mp3").string();

    const long vbrFrames = writeStream(vbr, minutes, false);
    const long cbrFrames = writeStream(cbr, minutes, true);
    const long peakBefore = peakKiB();
    std::printf("%d-minute streams, %d runs each (page cache warm after the first)\n", minutes,
                runs);
    report("VBR", vbr, vbrFrames, runs);
    report("CBR", cbr, cbrFrames, runs);
    reportPollCost(static_cast<int>(vbrFrames));
    std::printf("peak memory: %ld KiB before the scans, %ld KiB after\n", peakBefore, peakKiB());

    std::filesystem::remove_all(folder);
    return 0;
}
