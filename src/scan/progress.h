#pragma once

#include "window/window_layer.h"

#include <cstdint>
#include <string>

namespace tagrelay {

struct RunState;
struct TrackFacts;

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

inline constexpr Box errorListPlace = {8, 390, 786, 200};
inline constexpr const char* errorListTitle = "List of files with errors";

/// Opens the main window with an empty progress display and the list of files with errors
/// under its heading, as a run finds it when the walk starts. For the command-line program,
/// which has no option panel before the walk.
void openWalkWindow(WindowLayer& window, const std::string& title);

/// Appends one entry at the end of the list of files with errors, and shows it.
void addError(RunState& run, WindowLayer& window, const std::string& text);

/// Shows "Analysing: " + fullPath in the top field.
void showAnalysing(WindowLayer& window, const std::string& fullPath);

/// Shows text in one of the progress display's one-line fields (its place comes from the
/// field's number).
void showField(WindowLayer& window, int field, const std::string& text);

/// Shows a description as the only line of the preview list.
void showPreview(WindowLayer& window, const std::string& description);

/// "H:MM:SS" for the seconds since start, both single-precision seconds.
std::string elapsedClockText(float nowSeconds, float startSeconds);

/// "H:MM:SS Time elapsed", as the progress display shows it.
std::string elapsedTimeText(float nowSeconds, float startSeconds);

/// The tag check: true when artist and title both end in "?", the mark that characters the
/// locale cannot show leave.
bool needsNewTag(const std::string& artist, const std::string& title);

/// Shows the MP3 file's facts in fields 1 to 7, 16 and 77 (some only when their option is
/// ticked).
void showMp3Facts(WindowLayer& window, const RunState& run, const TrackFacts& facts,
                  const std::string& name, const std::string& genreText,
                  const std::string& playingTime);

/// Draws the cover picture area: the cover (already squeezed to 150 × 150), or without one the
/// pale box crossed by its two black diagonals.
void drawPictureArea(WindowLayer& window, const RgbImage* cover);

/// Shows the stream scan's bar under the top field, ranging over the file's bytes.
void showScanProgressBar(WindowLayer& window, std::int64_t fileSize);

} // namespace tagrelay
