// The window program started from a terminal without a display: --help and --version answer,
// and a start without them says in one line what to do instead, with commands that work here.
#include "support/support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace tagrelay {
namespace {

struct Started
{
    int exitCode = -1;
    std::string out;
    std::string err;
};

/// Runs the window program in the folder with only PATH, HOME and the given variables set:
/// no DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM unless given.
Started startWindowProgram(const std::vector<std::string>& arguments, const std::string& cwd,
                           const std::vector<std::string>& environment = {})
{
    test::TempTree scratch;
    const std::string outPath = scratch.path() + "out";
    const std::string errPath = scratch.path() + "err";
    const pid_t child = ::fork();
    if (child == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || ::chdir(cwd.c_str()) != 0)
            ::_exit(99);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        std::vector<std::string> variables = {"PATH=/usr/bin:/bin", "HOME=" + cwd};
        variables.insert(variables.end(), environment.begin(), environment.end());
        std::vector<char*> envp;
        for (auto& variable : variables)
            envp.push_back(variable.data());
        envp.push_back(nullptr);
        std::vector<char*> argv = {const_cast<char*>(TAGRELAY_GUI_PATH)};
        for (const auto& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execve(TAGRELAY_GUI_PATH, argv.data(), envp.data());
        ::_exit(98);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
            test::readFileText(outPath), test::readFileText(errPath)};
}

/// The programs the commands in backquotes start: in each, the first word that is neither an
/// option nor xvfb-run.
std::vector<std::string> quotedPrograms(const std::string& text)
{
    std::vector<std::string> programs;
    for (std::size_t open = text.find('`'); open != std::string::npos;) {
        const std::size_t close = text.find('`', open + 1);
        if (close == std::string::npos)
            break;
        std::size_t word = open + 1;
        while (word < close) {
            const std::size_t end = std::min(text.find(' ', word), close);
            const std::string token = text.substr(word, end - word);
            if (!token.empty() && token[0] != '-' && token != "xvfb-run") {
                programs.push_back(token);
                break;
            }
            word = end + 1;
        }
        open = text.find('`', close + 1);
    }
    return programs;
}

struct AnswerCase
{
    std::vector<std::string> arguments;
    std::string firstLine;
};

class ProgramStartTest : public ::testing::TestWithParam<AnswerCase>
{
};

TEST_P(ProgramStartTest, AnswersWithoutADisplay)
{
    const Started started = startWindowProgram(GetParam().arguments, "/");
    EXPECT_EQ(started.exitCode, 0);
    EXPECT_EQ(started.out.substr(0, started.out.find('\n')), GetParam().firstLine);
    EXPECT_EQ(started.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    HelpAndVersion, ProgramStartTest,
    ::testing::Values(AnswerCase{{"--version"}, "tagrelay " TAGRELAY_VERSION},
                      AnswerCase{{"--help"}, "Usage: tagrelay [--help | --version]"},
                      AnswerCase{{"-h"}, "Usage: tagrelay [--help | --version]"},
                      // Qt's own options do not hide them.
                      AnswerCase{{"-platform", "xcb", "--version"}, "tagrelay " TAGRELAY_VERSION}));

TEST(ProgramStartTest, WithoutADisplayItNamesCommandsThatExistFromHere)
{
    namespace fs = std::filesystem;
    const fs::path buildFolder = fs::path(TAGRELAY_GUI_PATH).parent_path();
    // From the folder above the build folder, as from a checkout; from the root, by full path.
    for (const fs::path& cwd : {buildFolder.parent_path(), fs::path("/")}) {
        for (const std::vector<std::string>& environment :
             {std::vector<std::string>{}, {"DISPLAY=:64999"}, {"QT_QPA_PLATFORM=xcb"}}) {
            const Started started = startWindowProgram({}, cwd.string(), environment);
            EXPECT_EQ(started.exitCode, 1) << cwd;
            EXPECT_EQ(started.out, "");
            ASSERT_TRUE(started.err.starts_with("tagrelay: no display")) << started.err;
            EXPECT_EQ(started.err.find('\n'), started.err.size() - 1) << "one line";
            const auto programs = quotedPrograms(started.err);
            ASSERT_EQ(programs.size(), 2u) << started.err;
            EXPECT_TRUE(programs[0].ends_with("tagrelay")) << started.err;
            EXPECT_TRUE(programs[1].ends_with("tagrelay-cli")) << started.err;
            for (const fs::path program : programs) {
                const fs::path named = program.is_absolute() ? program : cwd / program;
                EXPECT_EQ(::access(named.c_str(), X_OK), 0) << program << " from " << cwd;
            }
            EXPECT_NE(started.err.find(buildFolder.filename().string() + "/tagrelay-cli --help`"),
                      std::string::npos)
                << started.err;
        }
    }
}

} // namespace
} // namespace tagrelay
