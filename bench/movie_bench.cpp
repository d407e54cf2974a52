// Measures movies headless through the movie worker: makes 20 short AVI and MPG movies with
// ffmpeg (2 to 12 s, 160 x 120 to 352 x 240, MJPEG, MPEG-4 and H.264 in AVI, MPEG-1 and
// MPEG-2 program streams), then describes each as the walk does and prints the time taken.
//
//   tagrelay_movie_bench [--keep DIR] [--worker PATH]

#include "formats/movie_format.h"
#include "movie/movie_service.h"
#include "platform/clock.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace tagrelay;

struct MovieKind
{
    const char* codec;     // ffmpeg video encoder
    const char* container; // "avi" or "mpg"
    int width;
    int height;
    const char* rate;
    int seconds;
};

// 20 movies: every codec at several sizes, rates and lengths.
constexpr std::array<MovieKind, 20> movieKinds{{
    {"mjpeg", "avi", 160, 120, "25", 2},
    {"mjpeg", "avi", 320, 240, "25", 12},
    {"mjpeg", "avi", 352, 240, "30000/1001", 6},
    {"mjpeg", "avi", 176, 144, "15", 10},
    {"mpeg4", "avi", 160, 120, "24", 12},
    {"mpeg4", "avi", 320, 240, "25", 8},
    {"mpeg4", "avi", 352, 240, "30", 4},
    {"mpeg4", "avi", 240, 180, "20", 12},
    {"libx264", "avi", 160, 120, "25", 5},
    {"libx264", "avi", 320, 240, "24", 12},
    {"libx264", "avi", 352, 240, "30", 3},
    {"libx264", "avi", 256, 192, "25", 10},
    {"mpeg1video", "mpg", 160, 120, "25", 12},
    {"mpeg1video", "mpg", 320, 240, "25", 7},
    {"mpeg1video", "mpg", 352, 240, "30000/1001", 12},
    {"mpeg1video", "mpg", 352, 240, "24", 2},
    {"mpeg2video", "mpg", 352, 240, "25", 12},
    {"mpeg2video", "mpg", 320, 240, "30000/1001", 9},
    {"mpeg2video", "mpg", 176, 144, "25", 6},
    {"mpeg2video", "mpg", 352, 240, "50", 11},
}};

std::string makeMovie(const std::string& folder, int number, const MovieKind& kind)
{
    const std::string name =
        folder + "/movie" + std::to_string(number) + "_" + kind.codec + "." + kind.container;
    std::string command =
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=" + std::to_string(kind.width) + "x"
        + std::to_string(kind.height) + ":rate=" + kind.rate + " -f lavfi -i sine -t "
        + std::to_string(kind.seconds) + " -c:v " + kind.codec;
    if (std::strcmp(kind.codec, "libx264") == 0)
        command += " -pix_fmt yuv420p";
    command += std::strcmp(kind.container, "mpg") == 0 ? " -c:a mp2 -f mpeg " : " -c:a mp3 ";
    command += name;
    return std::system(command.c_str()) == 0 ? name : std::string();
}

} // namespace

int main(int argc, char** argv)
{
    std::string folder;
    MovieServiceOptions options;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--keep") == 0)
            folder = argv[i + 1];
        else if (std::strcmp(argv[i], "--worker") == 0)
            options.workerPath = argv[i + 1];
    }
    const bool keep = !folder.empty();
    if (!keep)
        folder = "/tmp/tagrelay-movie-bench";
    std::filesystem::create_directories(folder);

    std::vector<std::string> movies;
    for (std::size_t i = 0; i < movieKinds.size(); ++i) {
        const std::string made = makeMovie(folder, static_cast<int>(i), movieKinds[i]);
        if (made.empty()) {
            std::fprintf(stderr, "ffmpeg could not make movie %zu\n", i);
            return 1;
        }
        movies.push_back(made);
    }

    MovieService service(options);
    const std::uint32_t start = tickCount();
    std::uint32_t slowest = 0;
    for (const std::string& movie : movies) {
        const std::uint32_t before = tickCount();
        const int file = ::open(movie.c_str(), O_RDONLY | O_CLOEXEC);
        QuietSink sink;
        const FileOutcome outcome = analyseMovie(file, movie, service, {}, sink);
        ::close(file);
        const std::string line = !outcome.errors.empty()
                                     ? outcome.errors.back()
                                     : outcome.description.value_or("(no line)");
        const std::uint32_t took = tickCount() - before;
        slowest = std::max(slowest, took);
        std::printf("%5u ms  %-40s %s\n", took, std::filesystem::path(movie).filename().c_str(),
                    line.c_str());
    }
    const std::uint32_t total = tickCount() - start;
    std::printf("%zu movies in %u ms (%.0f ms per movie, slowest %u ms; the first includes the "
                "worker's start)\n",
                movies.size(), total,
                static_cast<double>(total) / static_cast<double>(movies.size()), slowest);
    if (!keep)
        std::filesystem::remove_all(folder);
    return 0;
}
