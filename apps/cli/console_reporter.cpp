#include "console_reporter.h"

#include "platform/clock.h"
#include "platform/clock_text.h"
#include "platform/console_text.h"
#include "platform/terminal_text.h"
#include "scan/run_state.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace tagrelay {

namespace {

/// The signal that asked the walk to stop, 0 before one came.
volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int signal)
{
    interrupted = signal;
    // A second request (Ctrl+C, or SIGTERM from a service manager) is not asked twice.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

int terminalWidth()
{
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

/// Milliseconds between two redraws of the status line.
constexpr std::uint32_t statusInterval = 100;

} // namespace

void ConsoleReporter::catchInterrupt()
{
    struct sigaction action
    {
    };
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

int ConsoleReporter::interruptSignal()
{
    return interrupted;
}

bool ConsoleReporter::isStopRequested() const
{
    return interrupted != 0;
}

bool ConsoleReporter::goOn()
{
    if (interrupted != 0)
        return false;
    if (m_statusLine) {
        const std::uint32_t now = tickCount();
        if (!m_drawn || now - m_lastDraw >= statusInterval) {
            m_lastDraw = now;
            drawStatus();
        }
    }
    return true;
}

void ConsoleReporter::drawStatus()
{
    std::string line = std::to_string(m_run.fileCount) + " files, "
                       + elapsedClockText(tickSeconds(), m_run.runStartSeconds);
    if (!m_analysing.empty())
        line += "  Analysing: " + terminalText(m_analysing);
    // Keep the line to one terminal row so "\r" can redraw it.
    const auto width = static_cast<std::size_t>(terminalWidth() - 1);
    if (line.size() > width) {
        std::size_t cut = width;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
            --cut; // never split a multi-byte character
        line.resize(cut);
    }
    writeConsoleText(stderr, "\r\033[K" + line);
    m_drawn = true;
}

void ConsoleReporter::clearStatus()
{
    if (m_drawn) {
        writeConsoleText(stderr, "\r\033[K");
        m_drawn = false;
    }
}

} // namespace tagrelay
