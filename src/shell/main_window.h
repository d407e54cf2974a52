#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tagrelay {

class WindowLayer;
struct RunState;
struct Settings;

// Controls of the option panel in the main window, by number. Check boxes 1..8 and 11..13
// carry the option flags (see optionBoxes in main_window.cpp).
inline constexpr int previewBox = 0;
inline constexpr int startButton = 9;
inline constexpr int moreFormatsBox = 14;
inline constexpr int allTagVersionsBox = 15;
inline constexpr int iconSmallerButton = 17;
inline constexpr int iconSizeBox = 18;
inline constexpr int iconLargerButton = 19;
inline constexpr int iconSizeLabel = 20;
/// Shows the character set of the lists; each click takes the next one.
inline constexpr int listEncodingButton = 23;
inline constexpr int htmlIndexBox = 22;
inline constexpr int infoBox = 31;
inline constexpr int panelFont = 0;

inline constexpr std::string_view mainWindowTitle = "Tagrelay for mp3-files       Build: 1.0.1.8";

/// The program after its services started: reads the settings, opens the main window with its
/// option panel, runs the option loop, and on the start button saves the settings, asks for
/// the start directory and walks it; then the end sequence.
///
/// \returns the exit code (0) once the user closed a window at the end; the caller shuts down.
int runProgram(WindowLayer& window, RunState& run);

/// The sample description line for the ticked MP3 options: the fragments of artist, album,
/// title, bitrate, mode, playtime and genre, each " - " + its sample text, joined in that
/// order without the leading " - ". Empty when no MP3 option is ticked.
std::string composePreview(const Settings& settings);

/// The text of the list encoding button for a stored choice (the locale's set for a value
/// the settings file cannot hold).
std::string_view listEncodingText(std::int32_t listEncoding);

/// What the folder dialog starts on for the stored start directory: at most its first 259
/// characters, without a trailing "/" unless the text is only "/".
std::string initialFolderSelection(const std::string& startDirectory);

} // namespace tagrelay
