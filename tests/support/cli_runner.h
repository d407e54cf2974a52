#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tagrelay::test {

/// What one run of the command-line program gave.
struct CliResult
{
    int exitCode = -1; // 128 + the signal when it was killed
    std::string out;
    std::string err;
};

/// Starts the command-line program in folder cwd with stdout and stderr going to files.
pid_t startCli(const std::vector<std::string>& arguments, const std::string& cwd,
               const std::string& outPath, const std::string& errPath);

/// Waits for a started program: its exit code, or 128 + the signal that ended it.
int waitForCli(pid_t child);

/// Runs the command-line program in cwd to its end, its output captured in scratch.
CliResult runCli(const std::vector<std::string>& arguments, const std::string& cwd,
                 const std::string& scratch);

} // namespace tagrelay::test
