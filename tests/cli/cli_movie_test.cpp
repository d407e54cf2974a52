// The command-line program describes movies through the worker installed beside it.

#include "support/support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

namespace tagrelay {
namespace {

/// Runs the command through the shell and returns what it printed on stdout.
std::string outputOf(const std::string& command)
{
    std::string output;
    const std::unique_ptr<FILE, decltype(&::pclose)> pipe(::popen(command.c_str(), "r"), &::pclose);
    if (!pipe)
        return output;
    std::array<char, 4096> chunk{};
    while (const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), pipe.get()))
        output.append(chunk.data(), got);
    return output;
}

bool makeClip(const std::string& path)
{
    const std::string make = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=320x240:rate=25"
                             " -t 11 -c:v mjpeg -q:v 10 "
                             + path;
    return std::system(make.c_str()) == 0;
}

TEST(CliMovieTest, DescribesAnAviThroughTheWorkerBesideTheProgram)
{
    test::TempTree tree;
    if (!makeClip(tree.path() + "clip.avi"))
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

/// Damaged movies beside a good one: each gets no line and no count, but an entry in the list
/// of files with errors that names it and says why; they are facts about files, so the exit
/// code stays 0.
TEST(CliMovieTest, DamagedMoviesAreNamedInTheListOfFilesWithErrors)
{
    test::TempTree tree;
    const std::string clip = tree.path() + "clip.avi";
    if (!makeClip(clip))
        GTEST_SKIP() << "ffmpeg could not make the test movie";
    const std::string good = test::readFileText(clip);
    tree.writeFile("cut.avi", good.substr(0, 8000));
    tree.writeFile("empty.avi", "");
    std::mt19937 noise(21);
    std::string random(20000, '\0');
    for (char& byte : random)
        byte = static_cast<char>(noise() & 0xFF);
    tree.writeFile("random.mpg", random);

    const std::string output = outputOf("cd " + tree.path() + " && " + TAGRELAY_CLI_PATH
                                        + " --movie-info . 2>&1; echo \"exit $?\"");
    EXPECT_EQ(test::readFileText(tree.path() + "descript.ion"),
              "\"clip.avi\" 240 x 320 pixel - 25 fps - 0:11 min\r\n");
    for (const char* entry :
         {"Movie could not be loaded (no picture in the stream): ./cut.avi\n",
          "Movie could not be loaded (stream contains no data): ./empty.avi\n",
          "Movie could not be loaded (could not determine type of stream): ./random.mpg\n"})
        EXPECT_NE(output.find(entry), std::string::npos) << entry << "in\n" << output;
    EXPECT_NE(output.find(", 3 entries in the list of files with errors\n"), std::string::npos)
        << output;
    EXPECT_NE(output.find("1 file described in "), std::string::npos) << output;
    EXPECT_EQ(output.substr(output.size() - 7), "exit 0\n");
}

} // namespace
} // namespace tagrelay
