#pragma once

#include <array>
#include <string_view>

namespace tagrelay {

class WindowLayer;
struct RunState;

inline constexpr int closingMessage = 30; // one-line field in the main window
inline constexpr int thankYouWindow = 4;
inline constexpr int thankYouBox = 321; // multi-line box in the thank-you window
inline constexpr int endFont = 0;

inline constexpr std::string_view closingMessageText =
    "Programm terminated. press (X) to close the window ";

/// Where the user can reach the authors; shown in the main window and the thank-you window.
inline constexpr std::string_view authorName = "the Tagrelay authors";
inline constexpr std::string_view authorAddress = "tagrelay@example.org";

/// The end sequence every way out of the program takes: puts the closing message into the main
/// window (in Arial 16 when that font loads), opens the thank-you window when run.thankYouDue
/// is set, and waits, ignoring every other event, until the user closes either window. The
/// close that ended the option loop or the walk was taken there, so this needs a further one.
/// The caller shuts down afterwards.
void endRun(WindowLayer& window, RunState& run);

} // namespace tagrelay
