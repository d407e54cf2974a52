#pragma once

#include "scan/walk_reporter.h"
#include "window/window_layer.h"

#include <cstdint>
#include <string>

namespace tagrelay {

struct RunState;

// Controls of the progress display in the main window, by number.
inline constexpr int mainWindow = 0;
inline constexpr int analysingField = 0;    // "Analysing: " + the file's path
inline constexpr int scanProgressBar = 100; // the stream scan's bar
inline constexpr int filenameField = 1;
inline constexpr int artistField = 2;
inline constexpr int titleField = 3;
inline constexpr int bitrateField = 4;
inline constexpr int genreField = 16;
inline constexpr int channelModeField = 5;
inline constexpr int playtimeField = 6;
inline constexpr int fileCountField = 7;
inline constexpr int elapsedField = 77;
inline constexpr int previewList = 55;
inline constexpr int errorListBox = 44;

/// The main window's client area, in pixels.
inline constexpr int mainWindowWidth = 800;
inline constexpr int mainWindowHeight = 600;

inline constexpr Box errorListPlace = {8, 390, 786, 200};

/// Where each one-line field of the progress display lies; an empty box for any other number.
[[nodiscard]] Box fieldBox(int field);

/// Shows text in one of the progress display's one-line fields (its place comes from the
/// field's number).
void showField(WindowLayer& window, int field, const std::string& text);

/// Draws the cover picture area: the cover (already squeezed to 150 x 150), or without one the
/// pale box crossed by its two black diagonals.
void drawPictureArea(WindowLayer& window, const RgbImage* cover);

/// The window program's front end of the walk: turns the walk's reports into the progress
/// display of the main window (the file being analysed, the scan's bar, the facts of the last
/// file, the count and the elapsed time, the cover area, the last description and the list of
/// files with errors), and takes the user's close request from the window's events.
class WindowReporter : public WalkReporter
{
  public:
    WindowReporter(WindowLayer& window, const RunState& run) : m_window(window), m_run(run) {}

    bool showsCovers() const override { return true; }
    std::uint8_t displayDepth() const override;
    ScreenSize screenSize() const override;
    bool showsMovies() const override { return true; }

    void entryStarted() override;
    void analysing(const std::string& fullPath) override;
    void scanStarted(std::int64_t fileSize) override;
    void scanProgress(std::int64_t bytesDone) override;
    void scanFinished() override;
    void mp3Shown(const Mp3Shown& facts) override;
    void coverShown(const RgbImage* area) override;
    void descriptionShown(const std::string& description) override;
    void movieShown(const MovieRows& rows) override;
    void errorAdded(const std::string& line) override;
    std::uint64_t openVideoWindow(ScreenPlace place) override;
    void closeVideoWindow() override;
    bool goOn() override;
    bool goOnAfterFile() override;

    /// Shows the count of files the walk described, once it is over: the fields show it
    /// before the file they show counts, so they would end one short, or several when the
    /// last files were pictures.
    void walkFinished();

  private:
    WindowLayer& m_window;
    const RunState& m_run;
};

} // namespace tagrelay
