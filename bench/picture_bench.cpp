// Times the picture work of the walk on generated photos and compares it with vipsthumbnail
// and identify -ping over the same files, when they are installed:
// - icons: 12-megapixel JPEG photos to 48 x 48 PNG icons (the file read, decoded for an icon,
//   squeezed and encoded, as makePictureIcon does it), one process;
// - dimensions only: readPictureFileFacts over the same files, page cache warm;
// - peak memory: a fresh process making the icon of one 100-megapixel photo.
//
//     tagrelay_picture_bench [photos=100] [dir=/tmp/tagrelay-picture-bench]
//     tagrelay_picture_bench --peak FILE   (the child run of the memory measurement)
//     tagrelay_picture_bench --covers [dir=/tmp/tagrelay-picture-bench]
//
// --covers times what the walk does with an MP3 file's front cover: decodeCover on the tag's
// picture bytes (in memory, page cache irrelevant), the cover area image the window draws, the
// 48 x 48 cover icon, the same for the next track of the album (the same cover again), the icon
// alone, and for comparison a decode of every pixel, for covers of 500 x 500 to 3000 x 3000.

// jpeglib.h needs size_t and FILE declared before it.
// clang-format off
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include "picture/cover_picture.h"
#include "picture/picture_service.h"

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

/// Writes a photo-like JPEG (smooth colour fields, fine grain) at quality 90, 4:2:0, the way
/// cameras store them, row by row so even 100 megapixels need little memory here.
void writePhoto(const std::string& path, int width, int height, unsigned seed,
                bool isProgressive = false, int grain = 8)
{
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr)
        std::exit(1);
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, out);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    if (isProgressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    std::minstd_rand grainOf(seed);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * 3);
    const double phase = seed * 0.7;
    while (info.next_scanline < info.image_height) {
        const double y = static_cast<double>(info.next_scanline) / height;
        for (int x = 0; x < width; ++x) {
            const double u = static_cast<double>(x) / width;
            const int noise = static_cast<int>(grainOf() % (2 * grain + 1)) - grain;
            const double base[3] = {128 + 100 * std::sin(6 * u + phase + 3 * y),
                                    128 + 90 * std::cos(4 * y - phase + 2 * u),
                                    128 + 80 * std::sin(9 * u * y + phase)};
            for (std::size_t c = 0; c < 3; ++c) {
                const int value = static_cast<int>(base[c]) + noise;
                row[static_cast<std::size_t>(x) * 3 + c] =
                    static_cast<JSAMPLE>(value < 0     ? 0
                                         : value > 255 ? 255
                                                       : value);
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(out);
}

Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

bool hasProgram(const char* name)
{
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

/// Runs a shell command and gives its wall time in seconds.
double timeCommand(const std::string& command)
{
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "failed: %s\n", command.c_str());
    return secondsSince(start);
}

/// Largest resident set of the children waited for so far, in MB.
double childrenPeakMb()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

int makeOneIcon(const std::string& path)
{
    const tagrelay::PictureHandle picture =
        tagrelay::loadPictureFile(path, tagrelay::noScreenDepth, tagrelay::PixelNeed{48});
    if (!picture || !tagrelay::resizePicture(*picture, 48, 48))
        return 1;
    return tagrelay::savePicture(*picture, tagrelay::PictureFormat::Png).empty() ? 1 : 0;
}

/// The processor time this thread has used, in seconds: unlike the wall clock it does not count
/// the time other programs on a shared machine take the core away.
double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

/// The median processor time of calls to work, in milliseconds, over about half a second of
/// calls.
template <typename Work> double medianMs(Work&& work)
{
    std::vector<double> times;
    const auto start = Clock::now();
    while (times.size() < 5 || (secondsSince(start) < 0.5 && times.size() < 2000)) {
        const double one = threadSeconds();
        work();
        times.push_back(1000 * (threadSeconds() - one));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

int timeCovers(const std::string& dir)
{
    // Covers scanned or photographed carry more fine detail than the smooth test photos: with
    // this grain a 700 x 700 cover takes about 250 KB, as real ones of that size do.
    constexpr int coverGrain = 40;
    struct Cover
    {
        int side;
        bool isProgressive;
    };
    const std::vector<Cover> covers{{500, false},  {700, false},  {700, true},
                                    {1000, false}, {1400, false}, {3000, false}};
    std::printf("| cover | file | decodeCover | pixels kept | and the cover area 150 x 150 "
                "| and a 48 x 48 icon | the next track, same cover: all three "
                "| every pixel |\n"
                "|---|---|---|---|---|---|---|---|\n");
    for (const Cover& cover : covers) {
        // A thread keeps its last cover, so a new cover is timed by taking turns between two
        // covers of the same size and kind.
        std::vector<Bytes> twins;
        for (const char* twin : {"a", "b"}) {
            const std::string path = dir + "/cover" + std::to_string(cover.side)
                                     + (cover.isProgressive ? "p" : "") + twin + ".jpg";
            if (!std::filesystem::exists(path))
                writePhoto(path, cover.side, cover.side,
                           static_cast<unsigned>(cover.side) + (twin[0] == 'b' ? 1 : 0),
                           cover.isProgressive, coverGrain);
            twins.push_back(readFile(path));
        }
        const Bytes& bytes = twins[0];
        bool isSecondNext = false;
        const auto newCover = [&]() -> const Bytes& {
            isSecondNext = !isSecondNext;
            return twins[isSecondNext ? 1 : 0];
        };
        const auto coverWork = [](const Bytes& coverBytes, bool isIconMade) {
            tagrelay::PictureHandle picture =
                tagrelay::decodeCover(coverBytes, tagrelay::noScreenDepth);
            (void)tagrelay::coverAreaImage(*picture);
            if (isIconMade)
                (void)tagrelay::makeCoverIcon(*picture, 48);
        };
        tagrelay::PictureHandle kept;
        const double decode =
            medianMs([&] { kept = tagrelay::decodeCover(newCover(), tagrelay::noScreenDepth); });
        if (!kept)
            return 1;
        const double area = medianMs([&] { coverWork(newCover(), false); });
        const double icon = medianMs([&] { coverWork(newCover(), true); });
        const double sameCover = medianMs([&] { coverWork(bytes, true); });
        const double whole =
            medianMs([&] { (void)tagrelay::catchPicture(bytes, tagrelay::noScreenDepth); });
        std::printf("| %d x %d%s | %zu KB | %.2f ms | %d x %d | %.2f ms | %.2f ms | %.3f ms "
                    "| %.2f ms |\n",
                    cover.side, cover.side, cover.isProgressive ? " progressive" : "",
                    bytes.size() / 1000, decode, kept->image.width, kept->image.height, area, icon,
                    sameCover, whole);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--peak")
        return makeOneIcon(argv[2]);
    if (argc >= 2 && std::string(argv[1]) == "--covers") {
        const std::string dir = argc > 2 ? argv[2] : "/tmp/tagrelay-picture-bench";
        std::filesystem::create_directories(dir);
        return timeCovers(dir);
    }
    const int photos = argc > 1 ? std::atoi(argv[1]) : 100;
    const std::string dir = argc > 2 ? argv[2] : "/tmp/tagrelay-picture-bench";
    std::filesystem::create_directories(dir + "/vips");

    std::vector<std::string> paths;
    std::string pathList;
    for (int i = 0; i < photos; ++i) {
        const std::string path = dir + "/photo" + std::to_string(i) + ".jpg";
        if (!std::filesystem::exists(path))
            writePhoto(path, 4000, 3000, static_cast<unsigned>(i));
        paths.push_back(path);
        pathList += " " + path;
    }
    const std::string bigPhoto = dir + "/photo100mp.jpg";
    if (!std::filesystem::exists(bigPhoto))
        writePhoto(bigPhoto, 12000, 8400, 7);

    // First, while no other child has run: the largest resident set of a fresh process that
    // makes the icon of the 100-megapixel photo.
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    timeCommand(self + " --peak " + bigPhoto);
    std::printf("100-MP photo (%.1f MB file) to a 48x48 icon, fresh process: peak RSS %.1f MB\n",
                static_cast<double>(std::filesystem::file_size(bigPhoto)) / 1e6, childrenPeakMb());

    // Warm the page cache, so both sides read from memory.
    for (const std::string& path : paths)
        (void)readFile(path);

    auto start = Clock::now();
    std::size_t iconBytes = 0;
    for (const std::string& path : paths) {
        const Bytes bytes = readFile(path);
        iconBytes += tagrelay::makePictureIcon(bytes, tagrelay::noScreenDepth, 48).iconBytes.size();
    }
    const double iconSeconds = secondsSince(start);
    std::printf("icons 48x48 from %d 12-MP JPEGs: %.1f ms a photo (%zu icon bytes)\n", photos,
                1000 * iconSeconds / photos, iconBytes);
    if (hasProgram("vipsthumbnail")) {
        const double vips =
            timeCommand("vipsthumbnail -s '48x48!' -o " + dir + "/vips/%s.png" + pathList);
        std::printf("vipsthumbnail, same files, one process: %.1f ms a photo\n",
                    1000 * vips / photos);
    }

    const int rounds = std::max(1, 5000 / photos);
    start = Clock::now();
    int described = 0;
    for (int round = 0; round < rounds; ++round) {
        for (const std::string& path : paths)
            described += tagrelay::readPictureFileFacts(path, tagrelay::noScreenDepth).width != 0;
    }
    const double factsSeconds = secondsSince(start);
    std::printf("dimensions only: %.0f pictures a second (%d described)\n",
                described / factsSeconds, described);
    if (hasProgram("identify")) {
        const double identify =
            timeCommand("identify -ping -format '%w %h\\n'" + pathList + " >/dev/null");
        std::printf("identify -ping, same files, one process: %.0f pictures a second\n",
                    photos / identify);
    }

    return 0;
}
