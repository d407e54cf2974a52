// The command-line program describes movies through the worker installed beside it.

#include "support/support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace tagrelay {
namespace {

TEST(CliMovieTest, DescribesAnAviThroughTheWorkerBesideTheProgram)
{
    test::TempTree tree;
    const std::string make = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=320x240:rate=25"
                             " -t 11 -c:v mjpeg -q:v 10 "
                             + tree.path() + "clip.avi";
    if (std::system(make.c_str()) != 0)
        GTEST_SKIP() << "ffmpeg could not make the test movie";
    tree.writeFile("not a movie.avi", "RIFF");
    const std::string run =
        std::string(TAGRELAY_CLI_PATH) + " --movie-info " + tree.path() + " > /dev/null 2>&1";
    ASSERT_EQ(std::system(run.c_str()), 0);

    const std::string list = test::readFileText(tree.path() + "descript.ion");
    if (list.empty())
        GTEST_SKIP() << "GStreamer cannot play an MJPEG AVI here (plugins missing?)";
    EXPECT_EQ(list, "\"clip.avi\" 240 x 320 pixel - 25 fps - 0:11 min\r\n");
}

} // namespace
} // namespace tagrelay
