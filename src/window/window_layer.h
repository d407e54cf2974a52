#pragma once

#include "picture/rgb_image.h"
#include "platform/movie_picture.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tagrelay {

/// A rectangle in a window's client area, in pixels.
struct Box
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const Box&, const Box&) = default;
};

enum class GadgetKind {
    MultiLineBox, // read-only rich-text box, sunken edge, scroll bars as needed; text by lines
    CheckBox,     // automatic check box; state 0 or 1
    Button,       // ordinary push button
    ToggleButton, // push-like button that stays down after a click
    OneLineField, // read-only single-line text field, sunken edge
    ProgressBar,  // smooth horizontal progress bar with a range and a value
};

enum class EventKind { None, Gadget, CloseWindow, Other };

struct Event
{
    EventKind kind = EventKind::None;
    int window = -1;
    int gadget = -1;
};

/// Colours are red + 256 × green + 65536 × blue.
using Colour = std::uint32_t;

/// The windows, controls, fonts, events and the folder dialog of the program, identified by
/// small numbers the program chooses. Creating an object under a number in use replaces the
/// old one. Texts are in the locale's character set. A number that names nothing is ignored
/// by every operation (reads answer 0 or empty).
class WindowLayer
{
  public:
    virtual ~WindowLayer();

    /// Opens a top-level window with a client area of width × height pixels, centred on the
    /// screen (shrunk to the screen when it is smaller), with a title bar, system menu,
    /// minimise and maximise boxes and no sizing border.
    virtual bool openWindow(int window, int width, int height, const std::string& title) = 0;
    virtual void closeWindow(int window) = 0;

    /// Creates a control in a window in the current default font.
    virtual bool createGadget(int window, int gadget, GadgetKind kind, Box box,
                              const std::string& text) = 0;
    virtual bool hasGadget(int gadget) const = 0;
    virtual void freeGadget(int gadget) = 0;
    /// Appends a line at the end of a multi-line box.
    virtual void addLine(int gadget, const std::string& line) = 0;
    /// Empties a multi-line box.
    virtual void clearGadget(int gadget) = 0;
    /// Replaces the text of a one-line field or a button.
    virtual void setGadgetText(int gadget, const std::string& text) = 0;
    /// Check box and toggle button: 1 when ticked or down, else 0.
    virtual int gadgetState(int gadget) const = 0;
    /// Any non-zero state ticks a check box (or puts a toggle button down).
    virtual void setGadgetState(int gadget, int state) = 0;
    virtual void setProgressRange(int gadget, std::int64_t minimum, std::int64_t maximum) = 0;
    virtual void setProgressValue(int gadget, std::int64_t value) = 0;

    /// Loads a font by face name and point size under a number.
    virtual bool loadFont(int font, const std::string& face, int points) = 0;
    /// Makes a loaded font the default for controls created from now on; -1 (or a number
    /// with no font) gives the toolkit's own default.
    virtual void setDefaultFont(int font) = 0;
    virtual void releaseFont(int font) = 0;

    /// Blocks until something happens in any window.
    virtual Event waitEvent() = 0;
    /// Never blocks; EventKind::None when nothing is pending.
    virtual Event pollEvent() = 0;

    /// The system's folder chooser. Returns the chosen folder ending in "/", or an empty text
    /// when the user cancels.
    virtual std::string chooseFolder(const std::string& prompt, const std::string& initial) = 0;

    /// Draws straight into a window's client area (not kept: a repaint may remove it).
    virtual void drawPicture(int window, const RgbImage& image, Box box) = 0;
    virtual void drawBox(int window, Box box, Colour colour) = 0;
    /// A one-pixel line, both end points included.
    virtual void drawLine(int window, int x1, int y1, int x2, int y2, Colour colour) = 0;

    /// Shutdown: closes every window and releases every font.
    virtual void closeAll() = 0;

    /// The size of the primary screen in pixels; 1024 × 768 when there is no screen.
    virtual int screenWidth() const;
    virtual int screenHeight() const;
    /// Bits per pixel of the primary screen, which pictures held for showing report; 32 when
    /// there is no screen.
    virtual int screenDepth() const;
    /// Opens the top-level window a movie plays in, apart from the program's windows, at a
    /// place given in screen pixels, replacing one still open. Returns its native window id;
    /// 0 when the layer has no screen to show it on.
    virtual std::uint64_t openVideoWindow(Box place);
    virtual void closeVideoWindow();
    /// Draws a picture of the movie into the open movie window, if one is open.
    virtual void showVideoPicture(const MoviePicture& /*picture*/) {}
};

} // namespace tagrelay
