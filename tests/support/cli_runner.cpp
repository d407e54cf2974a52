#include "support/cli_runner.h"

#include "support/support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tagrelay::test {

pid_t startCli(const std::vector<std::string>& arguments, const std::string& cwd,
               const std::string& outPath, const std::string& errPath)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::chdir(cwd.c_str()) != 0)
            ::_exit(99);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(TAGRELAY_CLI_PATH));
        for (const auto& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execv(TAGRELAY_CLI_PATH, argv.data());
        ::_exit(98);
    }
    return child;
}

int waitForCli(pid_t child)
{
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

CliResult runCli(const std::vector<std::string>& arguments, const std::string& cwd,
                 const std::string& scratch)
{
    const std::string outPath = scratch + "out.txt";
    const std::string errPath = scratch + "err.txt";
    CliResult result;
    result.exitCode = waitForCli(startCli(arguments, cwd, outPath, errPath));
    result.out = readFileText(outPath);
    result.err = readFileText(errPath);
    return result;
}

} // namespace tagrelay::test
