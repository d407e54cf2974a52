#include "window/qt/qt_window_layer.h"

#include "window/qt/program_window.h"
#include "window/qt/progress_scale.h"
#include "window/qt/qt_text.h"
#include "window/qt/video_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTextCursor>
#include <QTextEdit>
#include <algorithm>
#include <cassert>
#include <climits>

namespace tagrelay {
namespace {

/// A check box that, like the system's own, is hit anywhere in its rectangle, not only on its
/// mark and label: the option panel's boxes are far wider than their texts.
class WideCheckBox : public QCheckBox
{
  public:
    using QCheckBox::QCheckBox;

  protected:
    bool hitButton(const QPoint& position) const override { return rect().contains(position); }
};

QColor toQColor(Colour colour)
{
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}

QRect toQRect(Box box)
{
    return QRect(box.x, box.y, box.width, box.height);
}

bool isCheckable(GadgetKind kind)
{
    return kind == GadgetKind::CheckBox || kind == GadgetKind::ToggleButton;
}

bool hasButtonText(GadgetKind kind)
{
    return kind == GadgetKind::CheckBox || kind == GadgetKind::Button
           || kind == GadgetKind::ToggleButton;
}

/// True when the pixel bytes hold the whole picture; a picture too big for the toolkit's
/// int arithmetic is refused as well.
bool isDrawable(const RgbImage& image)
{
    if (image.width <= 0 || image.height <= 0)
        return false;
    const auto rowBytes = static_cast<std::uint64_t>(image.width) * 3;
    if (rowBytes > INT_MAX)
        return false;
    return rowBytes * static_cast<std::uint64_t>(image.height) <= image.pixels.size();
}

} // namespace

QtWindowLayer::QtWindowLayer()
{
    assert(QApplication::instance() != nullptr && "the Qt window layer needs a QApplication");
}

QtWindowLayer::~QtWindowLayer()
{
    closeAll();
}

void QtWindowLayer::queue(Event event)
{
    // Activity that only asks for a loop turn is worth one turn, however much of it came.
    if (event.kind == EventKind::Other && !m_events.empty()
        && m_events.back().kind == EventKind::Other)
        return;
    m_events.push_back(event);
}

ProgramWindow* QtWindowLayer::findWindow(int window) const
{
    const auto found = m_windows.find(window);
    return found == m_windows.end() ? nullptr : found->second.get();
}

QtWindowLayer::Gadget* QtWindowLayer::findGadget(int gadget)
{
    const auto found = m_gadgets.find(gadget);
    return found == m_gadgets.end() ? nullptr : &found->second;
}

bool QtWindowLayer::openWindow(int window, int width, int height, const std::string& title)
{
    if (width <= 0 || height <= 0)
        return false;
    closeWindow(window);
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, width, height);
    const int clientWidth = std::min(width, area.width());
    const int clientHeight = std::min(height, area.height());
    auto created =
        std::make_unique<ProgramWindow>(clientWidth, clientHeight, [this, window](EventKind kind) {
            queue(Event{kind, window, -1});
        });
    created->setWindowTitle(toQString(title));
    created->move(area.x() + (area.width() - clientWidth) / 2,
                  area.y() + (area.height() - clientHeight) / 2);
    created->show();
    // Once shown, the frame's size is known where the window system tells it at once: the
    // whole window goes to the centre, not only its client area.
    const QSize frame = created->frameGeometry().size();
    created->move(area.x() + (area.width() - frame.width()) / 2,
                  area.y() + (area.height() - frame.height()) / 2);
    m_windows[window] = std::move(created);
    return true;
}

void QtWindowLayer::closeWindow(int window)
{
    const auto found = m_windows.find(window);
    if (found == m_windows.end())
        return;
    // The controls go with their window's widget.
    std::erase_if(m_gadgets, [window](const auto& entry) { return entry.second.window == window; });
    m_windows.erase(found);
}

QWidget* QtWindowLayer::makeWidget(int window, int gadget, GadgetKind kind, QWidget* parent)
{
    const auto reportClick = [this, window, gadget] {
        queue(Event{EventKind::Gadget, window, gadget});
    };
    switch (kind) {
    case GadgetKind::MultiLineBox: {
        auto* box = new QTextEdit(parent);
        box->setReadOnly(true);
        box->setAcceptRichText(false);
        box->setTabChangesFocus(true);
        // Long lines get a horizontal scroll bar rather than a wrap.
        box->setLineWrapMode(QTextEdit::NoWrap);
        // The system's rich-text box keeps a pixel or two around its text; Qt's four would
        // push a one-line box 20 pixels high into scrolling.
        box->document()->setDocumentMargin(1);
        box->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        box->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        box->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        return box;
    }
    case GadgetKind::OneLineField: {
        auto* field = new QLineEdit(parent);
        field->setReadOnly(true);
        field->setFrame(true);
        return field;
    }
    case GadgetKind::CheckBox: {
        auto* check = new WideCheckBox(parent);
        QObject::connect(check, &QAbstractButton::clicked, check, reportClick);
        return check;
    }
    case GadgetKind::Button:
    case GadgetKind::ToggleButton: {
        auto* button = new QPushButton(parent);
        button->setAutoDefault(false);
        button->setCheckable(kind == GadgetKind::ToggleButton);
        QObject::connect(button, &QAbstractButton::clicked, button, reportClick);
        return button;
    }
    case GadgetKind::ProgressBar: {
        auto* bar = new QProgressBar(parent);
        bar->setOrientation(Qt::Horizontal);
        bar->setTextVisible(false);
        return bar;
    }
    }
    return new QWidget(parent);
}

bool QtWindowLayer::createGadget(int window, int gadget, GadgetKind kind, Box box,
                                 const std::string& text)
{
    ProgramWindow* parent = findWindow(window);
    if (parent == nullptr)
        return false;
    freeGadget(gadget);
    QWidget* widget = makeWidget(window, gadget, kind, parent);
    widget->setGeometry(box.x, box.y, std::max(box.width, 0), std::max(box.height, 0));
    const auto font = m_fonts.find(m_defaultFont);
    if (font != m_fonts.end())
        widget->setFont(font->second);
    Gadget& created = m_gadgets[gadget];
    created = Gadget{window, kind, widget};
    if (kind == GadgetKind::MultiLineBox) {
        if (!text.empty())
            addLine(gadget, text);
    } else if (kind == GadgetKind::ProgressBar) {
        showProgress(created);
    } else {
        setGadgetText(gadget, text);
    }
    // The parent is on screen already: a child created now is shown by hand.
    widget->show();
    return true;
}

bool QtWindowLayer::hasGadget(int gadget) const
{
    return m_gadgets.contains(gadget);
}

void QtWindowLayer::freeGadget(int gadget)
{
    const auto found = m_gadgets.find(gadget);
    if (found == m_gadgets.end())
        return;
    // Never called from inside one of the control's own signals (those only queue an event),
    // so the widget can go at once.
    delete found->second.widget;
    m_gadgets.erase(found);
}

void QtWindowLayer::addLine(int gadget, const std::string& line)
{
    Gadget* found = findGadget(gadget);
    if (found == nullptr || found->kind != GadgetKind::MultiLineBox)
        return;
    auto* box = static_cast<QTextEdit*>(found->widget);
    // Inserted as plain text: an entry such as a page template line with <a href=...> must
    // show its characters, not a link.
    QTextCursor cursor(box->document());
    cursor.movePosition(QTextCursor::End);
    if (found->hasLines)
        cursor.insertBlock();
    cursor.insertText(toQString(line));
    found->hasLines = true;
}

void QtWindowLayer::clearGadget(int gadget)
{
    Gadget* found = findGadget(gadget);
    if (found == nullptr)
        return;
    if (found->kind == GadgetKind::MultiLineBox) {
        static_cast<QTextEdit*>(found->widget)->clear();
        found->hasLines = false;
    } else if (found->kind == GadgetKind::OneLineField) {
        static_cast<QLineEdit*>(found->widget)->clear();
    }
}

void QtWindowLayer::setGadgetText(int gadget, const std::string& text)
{
    Gadget* found = findGadget(gadget);
    if (found == nullptr)
        return;
    if (found->kind == GadgetKind::MultiLineBox) {
        static_cast<QTextEdit*>(found->widget)->setPlainText(toQString(text));
        found->hasLines = !text.empty();
    } else if (found->kind == GadgetKind::OneLineField) {
        auto* field = static_cast<QLineEdit*>(found->widget);
        field->setText(toQString(text));
        // A long path shows its beginning, not its end.
        field->setCursorPosition(0);
    } else if (hasButtonText(found->kind)) {
        static_cast<QAbstractButton*>(found->widget)->setText(toQString(text));
    }
}

int QtWindowLayer::gadgetState(int gadget) const
{
    const auto found = m_gadgets.find(gadget);
    if (found == m_gadgets.end() || !isCheckable(found->second.kind))
        return 0;
    return static_cast<const QAbstractButton*>(found->second.widget)->isChecked() ? 1 : 0;
}

void QtWindowLayer::setGadgetState(int gadget, int state)
{
    Gadget* found = findGadget(gadget);
    if (found == nullptr || !isCheckable(found->kind))
        return;
    // setChecked does not emit clicked: the program setting a box is no click of the user.
    static_cast<QAbstractButton*>(found->widget)->setChecked(state != 0);
}

void QtWindowLayer::showProgress(Gadget& bar)
{
    auto* widget = static_cast<QProgressBar*>(bar.widget);
    // The toolkit's bar counts in int and repaints on every new value; counting in pixels of
    // its width makes a new value (and a repaint) only when the filled part grows or shrinks.
    const int pixels = std::max(widget->width(), 1);
    if (widget->minimum() != 0 || widget->maximum() != pixels)
        widget->setRange(0, pixels);
    const int filled = progressPixels(bar.minimum, bar.maximum, bar.value, pixels);
    if (widget->value() != filled)
        widget->setValue(filled);
}

void QtWindowLayer::setProgressRange(int gadget, std::int64_t minimum, std::int64_t maximum)
{
    Gadget* found = findGadget(gadget);
    if (found == nullptr || found->kind != GadgetKind::ProgressBar)
        return;
    found->minimum = minimum;
    found->maximum = maximum;
    showProgress(*found);
}

void QtWindowLayer::setProgressValue(int gadget, std::int64_t value)
{
    Gadget* found = findGadget(gadget);
    if (found == nullptr || found->kind != GadgetKind::ProgressBar)
        return;
    found->value = value;
    showProgress(*found);
}

bool QtWindowLayer::loadFont(int font, const std::string& face, int points)
{
    if (face.empty() || points < 1)
        return false;
    QFont loaded(toQString(face), points, QFont::Normal);
    m_fonts[font] = loaded;
    return true;
}

void QtWindowLayer::setDefaultFont(int font)
{
    m_defaultFont = m_fonts.contains(font) ? font : -1;
}

void QtWindowLayer::releaseFont(int font)
{
    // Controls made in the font keep their copy of it.
    m_fonts.erase(font);
    if (m_defaultFont == font)
        m_defaultFont = -1;
}

Event QtWindowLayer::waitEvent()
{
    while (m_events.empty()) {
        if (m_windows.empty())
            return Event{EventKind::CloseWindow, -1, -1};
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    const Event event = m_events.front();
    m_events.pop_front();
    return event;
}

Event QtWindowLayer::pollEvent()
{
    QCoreApplication::processEvents();
    if (m_events.empty())
        return Event{};
    const Event event = m_events.front();
    m_events.pop_front();
    return event;
}

std::string QtWindowLayer::chooseFolder(const std::string& prompt, const std::string& initial)
{
    // Only the program's own windows can be the active window.
    QWidget* owner = QApplication::activeWindow();
    const QString chosen =
        QFileDialog::getExistingDirectory(owner, toQString(prompt), toQString(initial));
    if (chosen.isEmpty())
        return {};
    std::string folder = fromQString(chosen);
    if (folder.back() != '/')
        folder += '/';
    return folder;
}

void QtWindowLayer::drawPicture(int window, const RgbImage& image, Box box)
{
    ProgramWindow* target = findWindow(window);
    if (target == nullptr || !isDrawable(image) || box.width <= 0 || box.height <= 0)
        return;
    const QImage picture(image.pixels.data(), image.width, image.height, image.width * 3,
                         QImage::Format_RGB888);
    target->drawPicture(picture, toQRect(box));
}

void QtWindowLayer::drawBox(int window, Box box, Colour colour)
{
    ProgramWindow* target = findWindow(window);
    if (target == nullptr || box.width <= 0 || box.height <= 0)
        return;
    target->drawBox(toQRect(box), toQColor(colour));
}

void QtWindowLayer::drawLine(int window, int x1, int y1, int x2, int y2, Colour colour)
{
    if (ProgramWindow* target = findWindow(window))
        target->drawLine(QPoint(x1, y1), QPoint(x2, y2), toQColor(colour));
}

void QtWindowLayer::closeAll()
{
    m_gadgets.clear();
    m_windows.clear();
    m_fonts.clear();
    m_defaultFont = -1;
    m_events.clear();
}

QWidget* QtWindowLayer::windowWidget(int window) const
{
    return findWindow(window);
}

QWidget* QtWindowLayer::gadgetWidget(int gadget) const
{
    const auto found = m_gadgets.find(gadget);
    return found == m_gadgets.end() ? nullptr : found->second.widget;
}

int QtWindowLayer::screenWidth() const
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().width() : WindowLayer::screenWidth();
}

int QtWindowLayer::screenHeight() const
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().height() : WindowLayer::screenHeight();
}

std::uint64_t QtWindowLayer::openVideoWindow(Box place)
{
    m_videoWindow.reset();
    if (QGuiApplication::platformName() != QLatin1String("xcb") || place.width <= 0
        || place.height <= 0)
        return 0;
    m_videoWindow = std::make_unique<VideoWindow>(QRect(place.x, place.y, place.width, place.height));
    // The window must exist on the display before the player draws into it; the walk does not
    // run Qt's loop while it measures.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    QGuiApplication::sync();
    return m_videoWindow->nativeId();
}

void QtWindowLayer::closeVideoWindow()
{
    m_videoWindow.reset();
}

QWidget* QtWindowLayer::videoWindow() const
{
    return m_videoWindow.get();
}

} // namespace tagrelay
