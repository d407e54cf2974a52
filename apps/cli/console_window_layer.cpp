#include "console_window_layer.h"

#include "platform/clock.h"
#include "platform/terminal_text.h"
#include "scan/progress.h"
#include "scan/run_state.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

namespace tagrelay {

namespace {

volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int)
{
    interrupted = 1;
    // A second Ctrl+C is not asked twice.
    std::signal(SIGINT, SIG_DFL);
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

ConsoleWindowLayer::ConsoleWindowLayer(const RunState& run, bool statusLine)
    : m_run(run), m_statusLine(statusLine)
{
    setKeepHistory(false);
}

void ConsoleWindowLayer::catchInterrupt()
{
    struct sigaction action
    {
    };
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
}

bool ConsoleWindowLayer::wasInterrupted()
{
    return interrupted != 0;
}

Event ConsoleWindowLayer::pollEvent()
{
    if (interrupted != 0)
        return Event{EventKind::CloseWindow, mainWindow, -1};
    if (m_statusLine) {
        const std::uint32_t now = tickCount();
        if (!m_drawn || now - m_lastDraw >= statusInterval) {
            m_lastDraw = now;
            drawStatus();
        }
    }
    return HeadlessWindowLayer::pollEvent();
}

void ConsoleWindowLayer::drawStatus()
{
    const Gadget* analysing = gadget(analysingField);
    std::string line = std::to_string(m_run.fileCount) + " files, "
                       + elapsedClockText(tickSeconds(), m_run.runStartSeconds);
    if (analysing != nullptr)
        line += "  " + terminalText(analysing->text);
    // Keep the line to one terminal row so "\r" can redraw it.
    const auto width = static_cast<std::size_t>(terminalWidth() - 1);
    if (line.size() > width) {
        std::size_t cut = width;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
            --cut; // never split a multi-byte character
        line.resize(cut);
    }
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    m_drawn = true;
}

void ConsoleWindowLayer::clearStatus()
{
    if (m_drawn) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        m_drawn = false;
    }
}

} // namespace tagrelay
