// Walks an existing tree with every MP3 fact ticked and a front end that shows covers, as the
// window program's walk does it, without a display: each MP3 file's cover is decoded and
// squeezed to the cover area (and, with --icons, written as its icon file), the area handed to
// the front end, which keeps a copy as a window would. Prints the wall and processor time of
// each run, so the cover work of the window program can be compared with tagrelay-cli's walk
// of the same tree (bench/collection/run.py) on a machine other work shares.
//
//     tagrelay_cover_walk_bench DIRECTORY [--icons] [--runs N]

#include "platform/clock.h"
#include "platform/memory_reuse.h"
#include "scan/run_state.h"
#include "scan/walk.h"
#include "scan/walk_reporter.h"

#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using namespace tagrelay;

struct CoverShowingReporter : WalkReporter
{
    bool showsCovers() const override { return true; }
    void coverShown(const RgbImage* area) override
    {
        if (area == nullptr)
            return;
        ++covers;
        shown = *area;
    }
    int covers = 0;
    RgbImage shown;
};

double processorSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    tagrelay::keepFreedMemoryForReuse(); // as the window program does
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY [--icons] [--runs N]\n", argv[0]);
        return 2;
    }
    bool makesIcons = false;
    int runs = 3;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--icons")
            makesIcons = true;
        else if (option == "--runs" && i + 1 < argc)
            runs = std::atoi(argv[++i]);
    }
    for (int run = 0; run < runs; ++run) {
        CoverShowingReporter reporter;
        RunState state;
        Settings& settings = state.settings;
        settings.showArtist = settings.showAlbum = settings.showTitle = settings.showBitrate = 1;
        settings.showAudioMode = settings.showPlaytime = settings.showGenre = 1;
        settings.makeMp3Icons = makesIcons ? 1 : 0;
        settings.iconSize = 50;
        state.runStartSeconds = tickSeconds();
        const double processorStart = processorSeconds();
        const auto start = std::chrono::steady_clock::now();
        describeDirectory(std::string(argv[1]) + "/", 0, reporter, state);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("files %d, covers shown %d%s: %.2f s, processor %.2f s\n", state.fileCount,
                    reporter.covers, makesIcons ? ", icons written" : "", seconds,
                    processorSeconds() - processorStart);
    }
    return 0;
}
