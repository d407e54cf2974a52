#include "window/qt/qt_window_layer.h"

#include "window/qt/program_window.h"
#include "window/qt/progress_scale.h"
#include "window/qt/qt_text.h"
#include "window/qt/screen_format.h"
#include "window/qt/video_window.h"

#include <time.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCompleter>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <algorithm>
#include <array>
#include <cassert>
#include <climits>
#include <cmath>

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

/// A button that Return and Enter press while it has the focus, as Space does: the panel is a
/// plain window, not a dialog, so Qt's default-button keys do not reach it otherwise.
class KeyPressedButton : public QPushButton
{
  public:
    using QPushButton::QPushButton;

  protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            if (!event->isAutoRepeat())
                click();
            event->accept();
            return;
        }
        QPushButton::keyPressEvent(event);
    }
};

/// A read-only text box that shows when it has the focus (most styles draw no focus mark on a
/// text box that cannot be edited, so its frame is outlined in the highlight colour), and
/// whose frame shows whole at any scale.
class FocusShowingTextEdit : public QTextEdit
{
  public:
    using QTextEdit::QTextEdit;

  protected:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::Show || event->type() == QEvent::ScreenChangeInternal)
            keepFrameInSight();
        const bool handled = QTextEdit::event(event);
        if (event->type() == QEvent::Paint && hasFocus()) {
            // The outline a focused line edit gets, in the highlight colour, on the frame.
            QPainter painter(this);
            painter.setPen(palette().color(QPalette::Highlight));
            painter.drawRect(rect().adjusted(0, 0, -1, -1));
        }
        return handled;
    }
    void focusInEvent(QFocusEvent* event) override
    {
        QTextEdit::focusInEvent(event);
        update();
    }
    /// At a scale between whole numbers the style's frame is drawn between screen pixels and
    /// partly lost under the text area; a plain line of the frame's colour, which falls on
    /// whole pixels, takes its place there. At whole scales the style's frame stays.
    void keepFrameInSight()
    {
        const double ratio = devicePixelRatioF();
        if (ratio == std::floor(ratio)) {
            if (frameShape() != QFrame::StyledPanel)
                setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
            return;
        }
        if (frameShape() == QFrame::Box)
            return;
        QPalette colours = palette();
        colours.setColor(QPalette::WindowText, colours.color(QPalette::Window).darker(130));
        setPalette(colours);
        setFrameStyle(QFrame::Box | QFrame::Plain);
        setLineWidth(1);
    }
    void focusOutEvent(QFocusEvent* event) override
    {
        QTextEdit::focusOutEvent(event);
        update();
    }
};

/// The smallest font a box's text is fitted down to.
constexpr double smallestFittedPoints = 6.0;

/// The property a widget keeps its unfitted font in, to be handed on only in that font.
constexpr const char* requestedFontProperty = "tagrelayRequestedFont";

/// Whether one line in the font fits a text box of the height: the desktop's font may be far
/// larger than the boxes, whose sizes are fixed, were made for. Between whole scales the box
/// is rounded to whole screen pixels, which may take a pixel of the room.
bool lineFitsHeight(QWidget* widget, GadgetKind kind, const QFont& font, int height)
{
    const double ratio = widget->devicePixelRatioF();
    if (ratio != std::floor(ratio))
        height -= 2;
    if (kind == GadgetKind::OneLineField) {
        widget->setFont(font);
        return widget->sizeHint().height() <= height;
    }
    // A line laid out as the box lays it out, margins included, inside the frame.
    const auto* box = static_cast<QTextEdit*>(widget);
    QTextDocument line;
    line.setDefaultFont(font);
    line.setDocumentMargin(box->document()->documentMargin());
    line.setPlainText(QStringLiteral("Xgj"));
    return std::ceil(line.size().height()) + 2 * box->frameWidth() <= height;
}

/// The font, or a smaller one of its family, in which one line fits the box's height.
QFont fittedToHeight(QWidget* widget, GadgetKind kind, QFont font, int height)
{
    if (font.pointSizeF() <= 0)
        return font;
    while (font.pointSizeF() > smallestFittedPoints && !lineFitsHeight(widget, kind, font, height))
        font.setPointSizeF(std::max(smallestFittedPoints, font.pointSizeF() - 0.5));
    return font;
}

QColor toQColor(Colour colour)
{
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}

QRect toQRect(Box box)
{
    return QRect(box.x, box.y, box.width, box.height);
}

/// Controls whose text is fitted to their box when the program named no font for them.
bool isFittedToBox(GadgetKind kind)
{
    return kind == GadgetKind::OneLineField || kind == GadgetKind::MultiLineBox;
}

/// The property a field keeps the font fitted to its height in: its text never shows larger.
constexpr const char* heightFittedFontProperty = "tagrelayHeightFittedFont";

/// Gives a one-line field the largest font, up to the one fitted to its height, in which the
/// whole text shows: "Time elapsed" would otherwise lose its last letters to a large desktop
/// font.
void fitTextToWidth(QLineEdit* field, const QString& text)
{
    const QFont largest = field->property(heightFittedFontProperty).value<QFont>();
    if (largest.pointSizeF() <= 0)
        return;
    // The room inside the frame, less the field's own margins of a few pixels.
    const QMargins margins = field->textMargins();
    const int room = field->contentsRect().width() - margins.left() - margins.right() - 6;
    QFont font = largest;
    while (font.pointSizeF() > smallestFittedPoints
           && QFontMetrics(font).horizontalAdvance(text) > room)
        font.setPointSizeF(std::max(smallestFittedPoints, font.pointSizeF() - 0.5));
    if (font != field->font())
        field->setFont(font);
}

bool isCheckable(GadgetKind kind)
{
    return kind == GadgetKind::CheckBox || kind == GadgetKind::ToggleButton;
}

/// Controls that only show what the program gives them: their widgets may wait for the next
/// loop entry and may be handed on to the next control of their kind under the same number.
bool isDisplay(GadgetKind kind)
{
    return kind == GadgetKind::MultiLineBox || kind == GadgetKind::OneLineField
           || kind == GadgetKind::ProgressBar;
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

/// A clock read for every frame of a scan: the coarse one costs a few nanoseconds, and its
/// steps (a few milliseconds) are finer than the loop interval needs.
std::int64_t coarseMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

/// A face the program asks for by name and the installed face its windows were laid out in.
struct NamedFace
{
    const char* asked;
    const char* laidOutIn;
};

// Left to fontconfig, "Courier" becomes whatever the system's configuration prefers: Nimbus
// Mono PS where the URW fonts are installed, whose taller lines push the option panel's boxes
// into scrolling and cut the information box's first line. Liberation Mono has the character
// widths of Courier New and Liberation Sans those of Arial; the package depends on both.
constexpr std::array<NamedFace, 2> namedFaces = {{
    {"Courier", "Liberation Mono"},
    {"Arial", "Liberation Sans"},
}};

/// The face a font asked for by name is made in: the face the windows were laid out in when
/// it is installed, else the name itself for fontconfig to match as best it can.
QString installedFace(const std::string& face)
{
    const QString asked = toQString(face);
    for (const NamedFace& named : namedFaces) {
        const QString laidOutIn = QString::fromLatin1(named.laidOutIn);
        if (asked.compare(QLatin1String(named.asked), Qt::CaseInsensitive) == 0
            && QFontDatabase::hasFamily(laidOutIn))
            return laidOutIn;
    }
    return asked;
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
    if (gadget == m_foundNumber && m_found != nullptr)
        return m_found;
    const auto found = m_gadgets.find(gadget);
    if (found == m_gadgets.end())
        return nullptr;
    m_foundNumber = gadget;
    m_found = &found->second;
    return m_found;
}

void QtWindowLayer::forgetFound()
{
    m_foundNumber = -1;
    m_found = nullptr;
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
    forgetFound();
    std::erase_if(m_gadgets, [window](const auto& entry) { return entry.second.window == window; });
    std::erase_if(m_retired, [window](const auto& entry) { return entry.second.window == window; });
    m_windows.erase(found);
}

QWidget* QtWindowLayer::makeWidget(int window, int gadget, GadgetKind kind, QWidget* parent)
{
    const auto reportClick = [this, window, gadget] {
        queue(Event{EventKind::Gadget, window, gadget});
    };
    switch (kind) {
    case GadgetKind::MultiLineBox: {
        auto* box = new FocusShowingTextEdit(parent);
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
        auto* button = new KeyPressedButton(parent);
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

QWidget* QtWindowLayer::reusableWidget(int window, int gadget, GadgetKind kind, const QFont& font)
{
    if (!isDisplay(kind))
        return nullptr;
    QWidget* widget = nullptr;
    if (const Gadget* current = findGadget(gadget)) {
        if (current->window != window || current->kind != kind)
            return nullptr;
        widget = current->widget;
        forgetFound();
        m_gadgets.erase(gadget);
    } else {
        const auto retired = m_retired.find(gadget);
        if (retired == m_retired.end() || retired->second.window != window
            || retired->second.kind != kind)
            return nullptr;
        widget = retired->second.widget;
        m_retired.erase(retired);
    }
    // A widget in another font would have to forget its own first; a new one is as cheap.
    if (widget->property(requestedFontProperty).value<QFont>() != font) {
        delete widget;
        return nullptr;
    }
    return widget;
}

bool QtWindowLayer::createGadget(int window, int gadget, GadgetKind kind, Box box,
                                 const std::string& text)
{
    ProgramWindow* parent = findWindow(window);
    if (parent == nullptr)
        return false;
    const auto defaultFont = m_fonts.find(m_defaultFont);
    const QFont font = defaultFont != m_fonts.end() ? defaultFont->second : parent->font();
    const QRect place(box.x, box.y, std::max(box.width, 0), std::max(box.height, 0));
    QWidget* widget = reusableWidget(window, gadget, kind, font);
    const bool isNew = widget == nullptr;
    const bool fits = defaultFont == m_fonts.end() && isFittedToBox(kind);
    if (isNew) {
        freeGadget(gadget);
        widget = makeWidget(window, gadget, kind, parent);
        widget->setProperty(requestedFontProperty, font);
        if (defaultFont != m_fonts.end())
            widget->setFont(font);
        // The desktop's own font, which the program did not choose, is made to fit the box.
        if (fits) {
            const QFont fitted = fittedToHeight(widget, kind, font, place.height());
            widget->setFont(fitted);
            widget->setProperty(heightFittedFontProperty, fitted);
        }
    }
    if (widget->geometry() != place)
        widget->setGeometry(place);
    Gadget& created = m_gadgets[gadget];
    created = Gadget{};
    created.window = window;
    created.kind = kind;
    created.widget = widget;
    created.fitsText = fits && kind == GadgetKind::OneLineField;
    if (kind == GadgetKind::MultiLineBox) {
        // A widget handed on still holds the lines of the control before.
        created.clearsFirst = !isNew;
        created.isStale = !isNew;
        if (!text.empty())
            addLine(gadget, text);
    } else if (kind == GadgetKind::ProgressBar) {
        created.isStale = true;
    } else {
        setGadgetText(gadget, text);
    }
    // The parent is on screen already: a child created now is shown by hand.
    if (isNew)
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
    if (isDisplay(found->second.kind)) {
        Retired& retired = m_retired[gadget];
        delete retired.widget;
        retired = Retired{found->second.window, found->second.kind, found->second.widget};
    } else {
        // Never called from inside one of the control's own signals (those only queue an
        // event), so the widget can go at once.
        delete found->second.widget;
    }
    forgetFound();
    m_gadgets.erase(found);
}

void QtWindowLayer::addLine(int gadget, const std::string& line)
{
    Gadget* found = findGadget(gadget);
    if (found == nullptr || found->kind != GadgetKind::MultiLineBox)
        return;
    if (found->hasLines)
        found->pending += '\n';
    found->pending += line;
    found->hasLines = true;
    found->isStale = true;
}

void QtWindowLayer::showLines(Gadget& box)
{
    auto* widget = static_cast<QTextEdit*>(box.widget);
    if (box.clearsFirst)
        widget->clear();
    if (box.pending.empty())
        return;
    QScrollBar* scroll = widget->verticalScrollBar();
    // The box follows its newest line, unless the user scrolled up to read an earlier one.
    const bool followsEnd = box.clearsFirst || scroll->value() == scroll->maximum();
    // All the lines that came since the last loop entry go in as one edit, laid out once. As
    // plain text: an entry such as a page template line with <a href=...> must show its
    // characters, not a link; each line end starts a new line of the box.
    QTextCursor cursor(widget->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(toQString(box.pending));
    if (followsEnd)
        scroll->setValue(scroll->maximum());
}

void QtWindowLayer::clearGadget(int gadget)
{
    Gadget* found = findGadget(gadget);
    if (found == nullptr)
        return;
    if (found->kind != GadgetKind::MultiLineBox && found->kind != GadgetKind::OneLineField)
        return;
    found->clearsFirst = true;
    found->pending.clear();
    found->hasLines = false;
    found->isStale = true;
}

void QtWindowLayer::setGadgetText(int gadget, const std::string& text)
{
    Gadget* found = findGadget(gadget);
    if (found == nullptr)
        return;
    if (found->kind == GadgetKind::MultiLineBox || found->kind == GadgetKind::OneLineField) {
        found->clearsFirst = true;
        found->pending = text;
        found->hasLines = !text.empty();
        found->isStale = true;
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
    if (widget->value() == filled)
        return;
    // The toolkit's bar repaints at once on a new value; a bar that only asks for an update is
    // painted with the rest of the window.
    widget->setUpdatesEnabled(false);
    widget->setValue(filled);
    widget->setUpdatesEnabled(true);
}

void QtWindowLayer::setProgressRange(int gadget, std::int64_t minimum, std::int64_t maximum)
{
    Gadget* found = findGadget(gadget);
    if (found == nullptr || found->kind != GadgetKind::ProgressBar)
        return;
    found->minimum = minimum;
    found->maximum = maximum;
    found->isStale = true;
}

void QtWindowLayer::setProgressValue(int gadget, std::int64_t value)
{
    Gadget* found = findGadget(gadget);
    if (found == nullptr || found->kind != GadgetKind::ProgressBar)
        return;
    found->value = value;
    found->isStale = true;
}

bool QtWindowLayer::loadFont(int font, const std::string& face, int points)
{
    if (face.empty() || points < 1)
        return false;
    QFont loaded(installedFace(face), points, QFont::Normal);
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

void QtWindowLayer::showPending(Gadget& gadget)
{
    gadget.isStale = false;
    switch (gadget.kind) {
    case GadgetKind::MultiLineBox:
        showLines(gadget);
        break;
    case GadgetKind::OneLineField: {
        auto* field = static_cast<QLineEdit*>(gadget.widget);
        const QString text = toQString(gadget.pending);
        if (gadget.fitsText)
            fitTextToWidth(field, text);
        field->setText(text);
        // A long path shows its beginning, not its end.
        field->setCursorPosition(0);
        break;
    }
    case GadgetKind::ProgressBar:
        showProgress(gadget);
        break;
    default:
        break;
    }
    gadget.clearsFirst = false;
    if (gadget.kind == GadgetKind::MultiLineBox)
        gadget.pending.clear();
}

void QtWindowLayer::present()
{
    // Freed controls that were not created again go now. Never called from inside one of a
    // control's own signals (those only queue an event), so a widget can go at once.
    for (const auto& entry : m_retired)
        delete entry.second.widget;
    m_retired.clear();
    for (auto& entry : m_gadgets) {
        if (entry.second.isStale)
            showPending(entry.second);
    }
    for (const auto& entry : m_windows)
        entry.second->flushDrawings();
}

void QtWindowLayer::runLoop(QEventLoop::ProcessEventsFlags flags)
{
    present();
    QCoreApplication::processEvents(flags);
    m_loopEntered = coarseMilliseconds();
}

Event QtWindowLayer::takeEvent()
{
    if (m_events.empty())
        return Event{};
    const Event event = m_events.front();
    m_events.pop_front();
    return event;
}

Event QtWindowLayer::waitEvent()
{
    while (m_events.empty()) {
        if (m_windows.empty())
            return Event{EventKind::CloseWindow, -1, -1};
        runLoop(QEventLoop::WaitForMoreEvents);
    }
    return takeEvent();
}

Event QtWindowLayer::pollEvent()
{
    // The walk polls for every file and every frame, far more often than anything can happen
    // on the screen; a loop entry costs more than a file.
    // The clock is read every few polls only: a stream scan polls for every frame, some tens
    // of nanoseconds apart.
    if (m_loopEntered < 0
        || (++m_pollsSinceClock >= pollsPerClockRead
            && coarseMilliseconds() - m_loopEntered >= loopIntervalMs)) {
        runLoop(QEventLoop::AllEvents);
    }
    if (m_pollsSinceClock >= pollsPerClockRead)
        m_pollsSinceClock = 0;
    if (m_events.empty())
        return Event{};
    return takeEvent();
}

std::string QtWindowLayer::chooseFolder(const std::string& prompt, const std::string& initial)
{
    // The dialog's own loop repaints the windows behind it: they show what they hold now.
    present();
    // Only the program's own windows can be the active window. Where the desktop has not
    // made one active (GNOME often does not for a new program), the main window owns the
    // dialog, so that it opens over it and not at the screen's corner.
    QWidget* owner = QApplication::activeWindow();
    if (owner == nullptr && !m_windows.empty())
        owner = m_windows.begin()->second.get();
    // The dialog is kept, hidden, until the windows close: ending it stops its file system
    // watcher's thread and writes its history, which would hold up the walk that follows.
    auto* dialog = new QFileDialog(owner, toQString(prompt), toQString(initial));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    const bool accepted = dialog->exec() == QDialog::Accepted;
    const QStringList selected = accepted ? dialog->selectedFiles() : QStringList();
    dialog->hide();
    // A path typed into the dialog opens its completer's list of names, a window of its own
    // that hiding the dialog leaves on the screen, where nothing paints it again.
    for (const QCompleter* completer : dialog->findChildren<QCompleter*>()) {
        if (completer->popup() != nullptr)
            completer->popup()->hide();
    }
    m_spentDialogs.emplace_back(dialog);
    const QString chosen = selected.isEmpty() ? QString() : selected.front();
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
    for (const QPointer<QFileDialog>& dialog : m_spentDialogs)
        delete dialog.data(); // before the windows that own them
    m_spentDialogs.clear();
    forgetFound();
    m_gadgets.clear();
    m_retired.clear();
    m_windows.clear();
    m_fonts.clear();
    m_defaultFont = -1;
    m_events.clear();
}

QWidget* QtWindowLayer::windowWidget(int window)
{
    present();
    return findWindow(window);
}

QWidget* QtWindowLayer::gadgetWidget(int gadget)
{
    present();
    const auto found = m_gadgets.find(gadget);
    return found == m_gadgets.end() ? nullptr : found->second.widget;
}

// The screen's size in device pixels: a movie is shown at its own size in those, centred.
int QtWindowLayer::screenWidth() const
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? qRound(screen->geometry().width() * screen->devicePixelRatio())
                  : WindowLayer::screenWidth();
}

int QtWindowLayer::screenDepth() const
{
    const int bits = screenBitsPerPixel();
    return bits > 0 ? bits : WindowLayer::screenDepth();
}

int QtWindowLayer::screenHeight() const
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? qRound(screen->geometry().height() * screen->devicePixelRatio())
                  : WindowLayer::screenHeight();
}

std::uint64_t QtWindowLayer::openVideoWindow(Box place)
{
    m_videoWindow.reset();
    const QString platform = QGuiApplication::platformName();
    if ((platform != QLatin1String("xcb") && platform != QLatin1String("wayland"))
        || place.width <= 0 || place.height <= 0)
        return 0;
    m_videoWindow = std::make_unique<VideoWindow>(
        QRect(place.x, place.y, place.width, place.height), windowWidget(0));
    // The main window should show the movie being analysed: the walk does not run Qt's loop
    // while it measures.
    present();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    QGuiApplication::sync();
    const auto id = static_cast<std::uint64_t>(m_videoWindow->winId());
    return id != 0 ? id : 1;
}

void QtWindowLayer::closeVideoWindow()
{
    if (m_videoWindow)
        m_videoWindow->dismiss();
    m_videoWindow.reset();
}

void QtWindowLayer::showVideoPicture(const MoviePicture& picture)
{
    if (m_videoWindow)
        m_videoWindow->showPicture(picture);
}

QWidget* QtWindowLayer::videoWindow() const
{
    return m_videoWindow.get();
}

} // namespace tagrelay
