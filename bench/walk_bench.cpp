// Walk benchmark: builds a music tree of generated MP3 files, walks it with every MP3 option
// ticked for a front end that shows nothing, and reports time, bytes read and read calls per
// file.
//
//   tagrelay_walk_bench [--files N] [--folders F] [--frames K] [--vbr PERCENT] [--cover BYTES]
//                       [--keep DIR]
//
// The kernel's own counters (/proc/self/io) give the bytes and read calls, so the figures
// include every read the walk makes, whatever layer makes it.

#include "platform/clock.h"
#include "scan/run_state.h"
#include "scan/walk.h"
#include "scan/walk_reporter.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace tagrelay;

namespace {

struct Options
{
    int files = 2000;
    int folders = 20;
    int frames = 300;
    int vbrPercent = 10;
    int coverBytes = 0;
    std::string keep;
};

struct IoCounters
{
    long long readBytes = 0; // rchar
    long long readCalls = 0; // syscr
};

IoCounters ioCounters()
{
    IoCounters counters;
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
        if (key == "rchar:")
            counters.readBytes = value;
        else if (key == "syscr:")
            counters.readCalls = value;
    }
    return counters;
}

void appendSynchsafe(std::vector<std::uint8_t>& out, std::uint32_t size)
{
    for (int shift = 21; shift >= 0; shift -= 7)
        out.push_back(static_cast<std::uint8_t>((size >> shift) & 0x7F));
}

void appendFrame(std::vector<std::uint8_t>& tag, const char* id,
                 const std::vector<std::uint8_t>& data)
{
    tag.insert(tag.end(), id, id + 4);
    const auto size = static_cast<std::uint32_t>(data.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        tag.push_back(static_cast<std::uint8_t>((size >> shift) & 0xFF));
    tag.push_back(0);
    tag.push_back(0);
    tag.insert(tag.end(), data.begin(), data.end());
}

std::vector<std::uint8_t> textData(const std::string& text)
{
    std::vector<std::uint8_t> data{0};
    data.insert(data.end(), text.begin(), text.end());
    return data;
}

/// An ID3v2.3 tag with title, artist, album and genre, and optionally a front cover.
std::vector<std::uint8_t> id3v2Tag(int number, int coverBytes)
{
    std::vector<std::uint8_t> frames;
    appendFrame(frames, "TIT2", textData("Track " + std::to_string(number)));
    appendFrame(frames, "TPE1", textData("Bench Artist"));
    appendFrame(frames, "TALB", textData("Bench Album " + std::to_string(number / 12)));
    appendFrame(frames, "TCON", textData("(17)"));
    if (coverBytes > 0) {
        std::vector<std::uint8_t> cover{0};
        const std::string mime = "image/jpeg";
        cover.insert(cover.end(), mime.begin(), mime.end());
        cover.push_back(0);
        cover.push_back(3);
        cover.push_back(0);
        cover.resize(cover.size() + static_cast<std::size_t>(coverBytes), 0xFF);
        appendFrame(frames, "APIC", cover);
    }
    frames.resize(frames.size() + 512, 0); // padding, as taggers leave it
    std::vector<std::uint8_t> tag{'I', 'D', '3', 3, 0, 0};
    appendSynchsafe(tag, static_cast<std::uint32_t>(frames.size()));
    tag.insert(tag.end(), frames.begin(), frames.end());
    return tag;
}

/// MPEG 1 layer 3 frames at 44.1 kHz, joint stereo; a VBR stream alternates two bitrates.
void appendFrames(std::vector<std::uint8_t>& out, int count, bool vbr)
{
    // bitrate index: bits 7..4 of the third header byte; 9 = 128 kbit/s, 11 = 192 kbit/s
    for (int i = 0; i < count; ++i) {
        const int index = vbr && (i % 3 == 1) ? 11 : 9;
        const int bitrate = index == 11 ? 192 : 128;
        const std::size_t length = static_cast<std::size_t>(144 * bitrate * 1000 / 44100);
        const std::size_t start = out.size();
        out.resize(start + length, 0x55);
        out[start] = 0xFF;
        out[start + 1] = 0xFB;
        out[start + 2] = static_cast<std::uint8_t>(index << 4);
        out[start + 3] = 0x64;
    }
}

bool parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--files")
            options.files = std::atoi(value.c_str());
        else if (name == "--folders")
            options.folders = std::atoi(value.c_str());
        else if (name == "--frames")
            options.frames = std::atoi(value.c_str());
        else if (name == "--vbr")
            options.vbrPercent = std::atoi(value.c_str());
        else if (name == "--cover")
            options.coverBytes = std::atoi(value.c_str());
        else if (name == "--keep")
            options.keep = value;
        else
            return false;
    }
    return argc % 2 == 1 && options.files > 0 && options.folders > 0;
}

/// A front end that shows nothing and counts how often the walk asks whether to go on.
struct CountingReporter : WalkReporter
{
    bool goOn() override
    {
        ++polls;
        return true;
    }
    bool goOnAfterFile() override { return goOn() && goOn(); }
    int polls = 0;
};

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: %s [--files N] [--folders F] [--frames K] [--vbr PERCENT] "
                     "[--cover BYTES] [--keep DIR]\n",
                     argv[0]);
        return 2;
    }
    namespace fs = std::filesystem;
    const fs::path root =
        options.keep.empty()
            ? fs::temp_directory_path() / ("tagrelay-bench-" + std::to_string(::getpid()))
            : fs::path(options.keep);
    fs::create_directories(root);
    long long totalBytes = 0;
    for (int i = 0; i < options.files; ++i) {
        const fs::path folder = root / ("artist" + std::to_string(i % options.folders)) / "album";
        fs::create_directories(folder);
        std::vector<std::uint8_t> bytes = id3v2Tag(i, options.coverBytes);
        appendFrames(bytes, options.frames, i % 100 < options.vbrPercent);
        std::ofstream(folder / ("track" + std::to_string(i) + ".mp3"), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        totalBytes += static_cast<long long>(bytes.size());
    }

    CountingReporter reporter;
    RunState run;
    Settings& settings = run.settings;
    settings.showArtist = settings.showAlbum = settings.showTitle = settings.showBitrate = 1;
    settings.showAudioMode = settings.showPlaytime = settings.showGenre = 1;
    settings.iconSize = 50;
    run.runStartSeconds = tickSeconds();

    const IoCounters before = ioCounters();
    const auto start = std::chrono::steady_clock::now();
    describeDirectory(root.string() + "/", 0, reporter, run);
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const IoCounters after = ioCounters();

    const double files = run.fileCount > 0 ? run.fileCount : 1;
    std::printf("files %d (%.1f MB, %d%% VBR, %d frames, cover %d B), errors %zu\n", run.fileCount,
                static_cast<double>(totalBytes) / 1e6, options.vbrPercent, options.frames,
                options.coverBytes, run.errors.size());
    std::printf("walk %.3f s, %.1f us/file, %.0f bytes read/file, %.1f read calls/file, %d polls\n",
                seconds, seconds * 1e6 / files,
                static_cast<double>(after.readBytes - before.readBytes) / files,
                static_cast<double>(after.readCalls - before.readCalls) / files, reporter.polls);
    if (options.keep.empty())
        fs::remove_all(root);
    return 0;
}
