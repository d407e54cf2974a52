// Describes MP4, MOV, M4V and M4A files from their boxes as the walk does (the mp4 and m4a
// rows, every audio fact ticked) and prints the rate, then each file's line when asked.
// bench/movies/mp4_bench.sh makes the files and runs ffprobe and mutagen beside it.
//
//   tagrelay_iso_bmff_bench [--lines] [--runs N] FILE...

#include "formats/mp4_format.h"

#include <fcntl.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    using namespace tagrelay;
    bool printsLines = false;
    int runs = 1;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--lines") == 0)
            printsLines = true;
        else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else
            files.emplace_back(argv[i]);
    }
    AnalysisOptions options;
    Settings& s = options.settings;
    s.moreFormats = s.showMovieInfo = 1;
    s.showArtist = s.showAlbum = s.showTitle = s.showBitrate = s.showAudioMode = 1;
    s.showPlaytime = s.showGenre = 1;
    const M4aFileFormat audio;
    const Mp4MovieFileFormat movie;
    QuietSink sink;
    std::vector<std::string> lines(files.size());
    const auto start = std::chrono::steady_clock::now();
    for (int run = 0; run < runs; ++run) {
        for (std::size_t i = 0; i < files.size(); ++i) {
            const FileFormat& format =
                audio.matches(files[i]) ? static_cast<const FileFormat&>(audio) : movie;
            const FileOutcome outcome = format.analyse(
                OpenFile(::open(files[i].c_str(), O_RDONLY | O_CLOEXEC)), files[i], options, sink);
            lines[i] = outcome.description.value_or("(no line)");
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double count = static_cast<double>(files.size()) * runs;
    std::printf("%zu files x %d runs: %.1f files/s, %.1f us per file\n", files.size(), runs,
                count / seconds, seconds / count * 1e6);
    if (printsLines) {
        for (std::size_t i = 0; i < files.size(); ++i)
            std::printf("%s\t%s\n", files[i].c_str(), lines[i].c_str());
    }
    return 0;
}
