#include "support/recording_window_layer.h"

namespace tagrelay {

bool RecordingWindowLayer::openWindow(int window, int width, int height, const std::string& title)
{
    m_windows[window] = Window{window, width, height, title, true};
    return true;
}

void RecordingWindowLayer::closeWindow(int window)
{
    const auto found = m_windows.find(window);
    if (found == m_windows.end())
        return;
    found->second.isOpen = false;
    std::erase_if(m_gadgets, [window](const auto& entry) { return entry.second.window == window; });
}

bool RecordingWindowLayer::createGadget(int window, int gadget, GadgetKind kind, Box box,
                                        const std::string& text)
{
    const auto found = m_windows.find(window);
    if (found == m_windows.end() || !found->second.isOpen)
        return false;
    Gadget created;
    created.window = window;
    created.number = gadget;
    created.kind = kind;
    created.box = box;
    created.text = text;
    created.font = m_defaultFont;
    if (kind == GadgetKind::MultiLineBox && !text.empty())
        created.lines.push_back(text);
    m_gadgets[gadget] = created;
    if (m_keepHistory)
        m_created.push_back(gadget);
    return true;
}

bool RecordingWindowLayer::hasGadget(int gadget) const
{
    return m_gadgets.contains(gadget);
}

void RecordingWindowLayer::freeGadget(int gadget)
{
    m_gadgets.erase(gadget);
}

RecordingWindowLayer::Gadget* RecordingWindowLayer::findGadget(int number)
{
    const auto found = m_gadgets.find(number);
    return found == m_gadgets.end() ? nullptr : &found->second;
}

void RecordingWindowLayer::addLine(int gadget, const std::string& line)
{
    if (Gadget* found = findGadget(gadget))
        found->lines.push_back(line);
}

void RecordingWindowLayer::clearGadget(int gadget)
{
    if (Gadget* found = findGadget(gadget)) {
        found->lines.clear();
        found->text.clear();
    }
}

void RecordingWindowLayer::setGadgetText(int gadget, const std::string& text)
{
    if (Gadget* found = findGadget(gadget))
        found->text = text;
}

int RecordingWindowLayer::gadgetState(int gadget) const
{
    const auto found = m_gadgets.find(gadget);
    return found == m_gadgets.end() ? 0 : found->second.state;
}

void RecordingWindowLayer::setGadgetState(int gadget, int state)
{
    if (Gadget* found = findGadget(gadget))
        found->state = state != 0 ? 1 : 0;
}

void RecordingWindowLayer::setProgressRange(int gadget, std::int64_t minimum, std::int64_t maximum)
{
    if (Gadget* found = findGadget(gadget)) {
        found->minimum = minimum;
        found->maximum = maximum;
    }
}

void RecordingWindowLayer::setProgressValue(int gadget, std::int64_t value)
{
    if (Gadget* found = findGadget(gadget))
        found->value = value;
}

bool RecordingWindowLayer::loadFont(int font, const std::string& face, int points)
{
    m_fonts[font] = Font{face, points};
    return true;
}

void RecordingWindowLayer::setDefaultFont(int font)
{
    m_defaultFont = m_fonts.contains(font) ? font : -1;
}

void RecordingWindowLayer::releaseFont(int font)
{
    m_fonts.erase(font);
    if (m_defaultFont == font)
        m_defaultFont = -1;
}

void RecordingWindowLayer::queueClick(int gadget, int window)
{
    m_script.push_back(Event{EventKind::Gadget, window, gadget});
}

void RecordingWindowLayer::queueClose(int window)
{
    m_script.push_back(Event{EventKind::CloseWindow, window, -1});
}

void RecordingWindowLayer::queueOther(int window)
{
    m_script.push_back(Event{EventKind::Other, window, -1});
}

Event RecordingWindowLayer::takeScripted(bool blocking)
{
    if (m_script.empty())
        return blocking ? Event{EventKind::CloseWindow, 0, -1} : Event{};
    const Event event = m_script.front();
    m_script.pop_front();
    if (event.kind == EventKind::Gadget) {
        // A click toggles what a real click toggles.
        if (Gadget* clicked = findGadget(event.gadget)) {
            if (clicked->kind == GadgetKind::CheckBox || clicked->kind == GadgetKind::ToggleButton)
                clicked->state = clicked->state != 0 ? 0 : 1;
        }
    }
    return event;
}

Event RecordingWindowLayer::waitEvent()
{
    ++m_waitCount;
    return takeScripted(true);
}

Event RecordingWindowLayer::pollEvent()
{
    ++m_pollCount;
    if (m_pollHook) {
        const Event hooked = m_pollHook(m_pollCount);
        if (hooked.kind != EventKind::None)
            return hooked;
    }
    return takeScripted(false);
}

std::string RecordingWindowLayer::chooseFolder(const std::string& prompt,
                                               const std::string& initial)
{
    ++m_folderCalls;
    m_lastPrompt = prompt;
    m_lastInitial = initial;
    return m_folderAnswer;
}

void RecordingWindowLayer::drawPicture(int window, const RgbImage& image, Box box)
{
    DrawCall call;
    call.kind = DrawKind::Picture;
    call.window = window;
    call.box = box;
    call.imageWidth = image.width;
    call.imageHeight = image.height;
    if (m_keepHistory)
        m_drawCalls.push_back(call);
}

void RecordingWindowLayer::drawBox(int window, Box box, Colour colour)
{
    DrawCall call;
    call.kind = DrawKind::Box;
    call.window = window;
    call.box = box;
    call.colour = colour;
    if (m_keepHistory)
        m_drawCalls.push_back(call);
}

void RecordingWindowLayer::drawLine(int window, int x1, int y1, int x2, int y2, Colour colour)
{
    DrawCall call;
    call.kind = DrawKind::Line;
    call.window = window;
    call.x1 = x1;
    call.y1 = y1;
    call.x2 = x2;
    call.y2 = y2;
    call.colour = colour;
    if (m_keepHistory)
        m_drawCalls.push_back(call);
}

void RecordingWindowLayer::closeAll()
{
    for (auto& entry : m_windows)
        entry.second.isOpen = false;
    m_gadgets.clear();
    m_fonts.clear();
    m_defaultFont = -1;
    m_shutDown = true;
}

const RecordingWindowLayer::Gadget* RecordingWindowLayer::gadget(int number) const
{
    const auto found = m_gadgets.find(number);
    return found == m_gadgets.end() ? nullptr : &found->second;
}

const RecordingWindowLayer::Window* RecordingWindowLayer::window(int number) const
{
    const auto found = m_windows.find(number);
    return found == m_windows.end() ? nullptr : &found->second;
}

const RecordingWindowLayer::Font* RecordingWindowLayer::font(int number) const
{
    const auto found = m_fonts.find(number);
    return found == m_fonts.end() ? nullptr : &found->second;
}

std::uint64_t RecordingWindowLayer::openVideoWindow(Box place)
{
    if (m_keepHistory)
        m_videoWindows.push_back(place);
    return 0;
}

void RecordingWindowLayer::closeVideoWindow()
{
    ++m_videoWindowCloses;
}

} // namespace tagrelay
