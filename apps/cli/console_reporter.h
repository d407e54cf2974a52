#pragma once

#include "scan/walk_reporter.h"

#include <cstdint>
#include <string>

namespace tagrelay {

struct RunState;

/// The command line's front end of the walk: one live status line on a terminal (the count,
/// the elapsed time and the file being analysed), and Ctrl+C or SIGTERM as the request to stop. The
/// list of files with errors is printed from the run's state at the end.
class ConsoleReporter : public WalkReporter
{
  public:
    /// statusLine: whether to draw the status line on stderr (a terminal is there).
    ConsoleReporter(const RunState& run, bool statusLine) : m_run(run), m_statusLine(statusLine) {}

    void analysing(const std::string& fullPath) override { m_analysing = fullPath; }
    void scanFinished() override { m_analysing.clear(); }
    /// False once Ctrl+C was pressed or SIGTERM came; redraws the status line now and then.
    bool goOn() override;
    bool isStopRequested() const override;

    /// Removes the status line from the terminal.
    void clearStatus();

    /// Installs the handler of Ctrl+C (SIGINT) and SIGTERM; a second one ends the program at
    /// once.
    static void catchInterrupt();
    /// The signal that asked to stop (SIGINT or SIGTERM); 0 when none came.
    static int interruptSignal();

  private:
    void drawStatus();

    const RunState& m_run;
    bool m_statusLine;
    std::string m_analysing;
    std::uint32_t m_lastDraw = 0;
    bool m_drawn = false;
};

} // namespace tagrelay
