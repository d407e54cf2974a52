#pragma once

#include "window/headless_window_layer.h"

#include <csignal>
#include <string>

namespace tagrelay {

struct RunState;

/// The window layer of the command-line program: the headless layer, plus one live status
/// line on a terminal and Ctrl+C as the close request.
class ConsoleWindowLayer : public HeadlessWindowLayer
{
  public:
    /// statusLine: whether to draw the status line on stderr (a terminal is there).
    ConsoleWindowLayer(const RunState& run, bool statusLine);

    /// Answers a close request once Ctrl+C was pressed; redraws the status line now and then.
    Event pollEvent() override;
    void drawPicture(int, const RgbImage&, Box) override {}
    void drawBox(int, Box, Colour) override {}
    void drawLine(int, int, int, int, int, Colour) override {}

    /// Removes the status line from the terminal.
    void clearStatus();

    /// Installs the Ctrl+C handler; a second Ctrl+C ends the program at once.
    static void catchInterrupt();
    static bool wasInterrupted();

  private:
    void drawStatus();

    const RunState& m_run;
    bool m_statusLine;
    std::uint32_t m_lastDraw = 0;
    bool m_drawn = false;
};

} // namespace tagrelay
