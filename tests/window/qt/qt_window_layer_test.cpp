#include "qt_test_util.h"
#include "window/qt/qt_window_layer.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCompleter>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <string>

namespace tagrelay {
namespace {

using test::clickWithMouse;
using test::takeGadgetAndCloseEvents;

const std::string mainTitle = "Tagrelay for mp3-files       Build: 1.0.1.8";

class QtWindowLayerTest : public ::testing::Test
{
  protected:
    void SetUp() override { ASSERT_TRUE(layer.openWindow(0, 800, 600, mainTitle)); }

    QtWindowLayer layer;
};

::testing::AssertionResult isEvent(const Event& event, EventKind kind, int window, int gadget)
{
    if (event.kind == kind && event.window == window && event.gadget == gadget)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "event kind " << static_cast<int>(event.kind) << " window " << event.window
           << " gadget " << event.gadget;
}

TEST_F(QtWindowLayerTest, OpensTheClientAreaAtItsExactSizeCentredWithItsTitle)
{
    QWidget* window = layer.windowWidget(0);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->size(), QSize(800, 600));
    // No sizing border: the size is fixed.
    EXPECT_EQ(window->minimumSize(), QSize(800, 600));
    EXPECT_EQ(window->maximumSize(), QSize(800, 600));
    EXPECT_EQ(window->windowTitle().toStdString(), mainTitle);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowSystemMenuHint);

    ASSERT_TRUE(layer.openWindow(4, 300, 200, "PLEASE! "));
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(layer.windowWidget(4)->size(), QSize(300, 200));
    const QRect placed = layer.windowWidget(4)->frameGeometry();
    EXPECT_LE(std::abs(placed.center().x() - area.center().x()), 1);
    EXPECT_LE(std::abs(placed.center().y() - area.center().y()), 1);
}

TEST_F(QtWindowLayerTest, ShrinksAWindowLargerThanTheScreenAndRefusesAnEmptyOne)
{
    ASSERT_TRUE(layer.openWindow(1, 100000, 100000, "huge"));
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(layer.windowWidget(1)->size(), area.size());
    EXPECT_FALSE(layer.openWindow(2, 0, 600, "empty"));
    EXPECT_FALSE(layer.openWindow(3, 800, -1, "negative"));
    EXPECT_EQ(layer.windowWidget(2), nullptr);
}

struct GadgetCase
{
    GadgetKind kind;
    int number;
    Box box;
    const char* text;
};

class QtGadgetKindTest : public QtWindowLayerTest, public ::testing::WithParamInterface<GadgetCase>
{
};

TEST_P(QtGadgetKindTest, PlacesTheControlAtItsBoxAsTheRightKindOfWidget)
{
    const GadgetCase& row = GetParam();
    ASSERT_TRUE(layer.createGadget(0, row.number, row.kind, row.box, row.text));
    ASSERT_TRUE(layer.hasGadget(row.number));
    QWidget* widget = layer.gadgetWidget(row.number);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->parentWidget(), layer.windowWidget(0));
    EXPECT_EQ(widget->geometry(), QRect(row.box.x, row.box.y, row.box.width, row.box.height));
    EXPECT_TRUE(widget->isVisible());
    const QString text = QString::fromUtf8(row.text);
    switch (row.kind) {
    case GadgetKind::MultiLineBox: {
        auto* box = qobject_cast<QTextEdit*>(widget);
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->isReadOnly());
        EXPECT_EQ(box->frameShadow(), QFrame::Sunken);
        EXPECT_EQ(box->lineWrapMode(), QTextEdit::NoWrap);
        EXPECT_EQ(box->toPlainText(), text);
        break;
    }
    case GadgetKind::OneLineField: {
        auto* field = qobject_cast<QLineEdit*>(widget);
        ASSERT_NE(field, nullptr);
        EXPECT_TRUE(field->isReadOnly());
        EXPECT_TRUE(field->hasFrame());
        EXPECT_EQ(field->text(), text);
        break;
    }
    case GadgetKind::CheckBox:
        ASSERT_NE(qobject_cast<QCheckBox*>(widget), nullptr);
        EXPECT_EQ(qobject_cast<QCheckBox*>(widget)->text(), text);
        break;
    case GadgetKind::Button:
    case GadgetKind::ToggleButton: {
        auto* button = qobject_cast<QPushButton*>(widget);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->isCheckable(), row.kind == GadgetKind::ToggleButton);
        EXPECT_EQ(button->text(), text);
        break;
    }
    case GadgetKind::ProgressBar: {
        auto* bar = qobject_cast<QProgressBar*>(widget);
        ASSERT_NE(bar, nullptr);
        // Empty, not the busy indicator a 0..0 range would show.
        EXPECT_GT(bar->maximum(), 0);
        EXPECT_EQ(bar->value(), 0);
        break;
    }
    }
}

INSTANTIATE_TEST_SUITE_P(
    OptionPanelAndProgressDisplay, QtGadgetKindTest,
    ::testing::Values(
        GadgetCase{GadgetKind::MultiLineBox, 0, {8, 10, 786, 90}, "Filename: track04.mp3"},
        GadgetCase{GadgetKind::CheckBox, 1, {10, 110, 430, 20}, "MP3: Artist"},
        // Reaches beyond the client area: the window edge cuts it.
        GadgetCase{GadgetKind::CheckBox,
                   8,
                   {10, 250, 830, 20},
                   "MP3: create %filename%.mp3.ico if picture in Id3-tag "},
        GadgetCase{GadgetKind::Button, 17, {20, 290, 20, 20}, "-"},
        GadgetCase{
            GadgetKind::ToggleButton, 9, {10, 390, 430, 30}, "Start and select startdirectory"},
        GadgetCase{GadgetKind::OneLineField,
                   30,
                   {8, 310, 786, 30},
                   "Programm terminated. press (X) to close the window "},
        GadgetCase{GadgetKind::ProgressBar, 100, {8, 45, 776, 10}, ""},
        GadgetCase{GadgetKind::MultiLineBox, 44, {8, 390, 786, 200}, ""}));

TEST_F(QtWindowLayerTest, CreatingANumberAgainReplacesTheControlEvenInAnotherWindow)
{
    ASSERT_TRUE(layer.openWindow(4, 600, 600, "PLEASE! "));
    ASSERT_TRUE(
        layer.createGadget(0, 5, GadgetKind::CheckBox, {10, 190, 430, 20}, "MP3: AudioMode"));
    ASSERT_TRUE(
        layer.createGadget(0, 6, GadgetKind::CheckBox, {10, 210, 430, 20}, "MP3: Playtime"));
    const QPointer<QWidget> old = layer.gadgetWidget(5);
    ASSERT_TRUE(layer.createGadget(4, 5, GadgetKind::OneLineField, {5, 5, 590, 30}, "moved"));
    EXPECT_TRUE(old.isNull());
    QWidget* now = layer.gadgetWidget(5);
    ASSERT_NE(qobject_cast<QLineEdit*>(now), nullptr);
    EXPECT_EQ(now->parentWidget(), layer.windowWidget(4));
    // Only one control under the number: the old check box left window 0.
    EXPECT_EQ(layer.windowWidget(0)->findChildren<QCheckBox*>().size(), 1);

    // Closing a window takes its controls with it, and only those.
    layer.closeWindow(4);
    EXPECT_FALSE(layer.hasGadget(5));
    EXPECT_TRUE(layer.hasGadget(6));
    EXPECT_EQ(layer.windowWidget(4), nullptr);

    layer.freeGadget(6);
    EXPECT_FALSE(layer.hasGadget(6));
    EXPECT_TRUE(layer.windowWidget(0)->findChildren<QCheckBox*>().isEmpty());
}

TEST_F(QtWindowLayerTest, NumbersThatNameNothingAreIgnored)
{
    EXPECT_FALSE(layer.createGadget(7, 1, GadgetKind::Button, {0, 0, 10, 10}, "no window"));
    EXPECT_FALSE(layer.hasGadget(1));
    layer.addLine(999, "x");
    layer.clearGadget(999);
    layer.setGadgetText(999, "x");
    layer.setGadgetState(999, 1);
    layer.setProgressRange(999, 0, 10);
    layer.setProgressValue(999, 5);
    layer.freeGadget(999);
    layer.closeWindow(999);
    layer.drawBox(999, {0, 0, 10, 10}, 0);
    layer.drawLine(999, 0, 0, 10, 10, 0);
    EXPECT_EQ(layer.gadgetState(999), 0);
    EXPECT_EQ(layer.gadgetWidget(999), nullptr);

    // Operations of another kind of control leave a control alone.
    ASSERT_TRUE(layer.createGadget(0, 1, GadgetKind::OneLineField, {8, 70, 776, 26}, "text"));
    layer.addLine(1, "not a box");
    layer.setGadgetState(1, 1);
    layer.setProgressValue(1, 5);
    EXPECT_EQ(layer.gadgetState(1), 0);
    EXPECT_EQ(qobject_cast<QLineEdit*>(layer.gadgetWidget(1))->text(), "text");
}

TEST_F(QtWindowLayerTest, ACheckBoxClickIsReadBackAndDeliveredAsAGadgetEvent)
{
    ASSERT_TRUE(layer.createGadget(0, 3, GadgetKind::CheckBox, {10, 150, 430, 20}, "MP3: Title"));
    takeGadgetAndCloseEvents(layer);
    EXPECT_EQ(layer.gadgetState(3), 0);

    clickWithMouse(layer.gadgetWidget(3));
    EXPECT_EQ(layer.gadgetState(3), 1);
    auto events = takeGadgetAndCloseEvents(layer);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(isEvent(events[0], EventKind::Gadget, 0, 3));

    clickWithMouse(layer.gadgetWidget(3));
    EXPECT_EQ(layer.gadgetState(3), 0);
    EXPECT_EQ(takeGadgetAndCloseEvents(layer).size(), 1u);

    // The program ticking a box is no click: no event.
    layer.setGadgetState(3, 7);
    EXPECT_EQ(layer.gadgetState(3), 1);
    layer.setGadgetState(3, 0);
    EXPECT_EQ(layer.gadgetState(3), 0);
    EXPECT_TRUE(takeGadgetAndCloseEvents(layer).empty());
}

TEST_F(QtWindowLayerTest, ButtonsReportClicksAndOnlyTheToggleButtonStaysDown)
{
    ASSERT_TRUE(layer.createGadget(0, 19, GadgetKind::Button, {140, 290, 20, 20}, "+"));
    ASSERT_TRUE(layer.createGadget(0, 9, GadgetKind::ToggleButton, {10, 390, 430, 30}, "Start"));
    takeGadgetAndCloseEvents(layer);
    clickWithMouse(layer.gadgetWidget(19));
    clickWithMouse(layer.gadgetWidget(9));
    const auto events = takeGadgetAndCloseEvents(layer);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_TRUE(isEvent(events[0], EventKind::Gadget, 0, 19));
    EXPECT_TRUE(isEvent(events[1], EventKind::Gadget, 0, 9));
    EXPECT_EQ(layer.gadgetState(19), 0);
    EXPECT_EQ(layer.gadgetState(9), 1);
}

// The keyboard reaches every control: Return presses the focused button as Space does, and a
// read-only box that Tab gave the focus shows it.
TEST_F(QtWindowLayerTest, ReturnPressesTheFocusedButtonAndAFocusedBoxShowsIt)
{
    ASSERT_TRUE(layer.createGadget(0, 9, GadgetKind::ToggleButton, {10, 390, 430, 30}, "Start"));
    ASSERT_TRUE(layer.createGadget(0, 0, GadgetKind::MultiLineBox, {8, 10, 786, 90}, "preview"));
    takeGadgetAndCloseEvents(layer);
    QWidget* button = layer.gadgetWidget(9);
    for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(button, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
        QApplication::sendEvent(button, &release);
    }
    const auto events = takeGadgetAndCloseEvents(layer);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_TRUE(isEvent(events[0], EventKind::Gadget, 0, 9));
    EXPECT_EQ(layer.gadgetState(9), 0); // pressed twice

    QWidget* box = layer.gadgetWidget(0);
    QWidget* window = box->window();
    window->show();
    QApplication::setActiveWindow(window);
    button->setFocus();
    QCoreApplication::processEvents();
    const QImage before = box->grab().toImage();
    box->setFocus(Qt::TabFocusReason);
    QCoreApplication::processEvents();
    ASSERT_TRUE(box->hasFocus());
    const QImage after = box->grab().toImage();
    EXPECT_NE(before, after);
}

TEST_F(QtWindowLayerTest, ACloseRequestBecomesAnEventAndTheWindowStays)
{
    ASSERT_TRUE(layer.openWindow(4, 600, 600, "PLEASE! "));
    takeGadgetAndCloseEvents(layer);
    EXPECT_FALSE(layer.windowWidget(0)->close());
    EXPECT_FALSE(layer.windowWidget(4)->close());
    EXPECT_TRUE(layer.windowWidget(0)->isVisible());
    EXPECT_TRUE(layer.windowWidget(4)->isVisible());
    const auto events = takeGadgetAndCloseEvents(layer);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_TRUE(isEvent(events[0], EventKind::CloseWindow, 0, -1));
    EXPECT_TRUE(isEvent(events[1], EventKind::CloseWindow, 4, -1));
}

TEST_F(QtWindowLayerTest, WaitBlocksUntilSomethingArrives)
{
    ASSERT_TRUE(layer.createGadget(0, 9, GadgetKind::ToggleButton, {10, 390, 430, 30}, "Start"));
    test::takeEvents(layer);
    QTimer::singleShot(30, layer.gadgetWidget(9),
                       [this] { static_cast<QPushButton*>(layer.gadgetWidget(9))->click(); });
    Event event = layer.waitEvent();
    while (event.kind == EventKind::Other)
        event = layer.waitEvent();
    EXPECT_TRUE(isEvent(event, EventKind::Gadget, 0, 9));
    EXPECT_EQ(layer.pollEvent().kind, EventKind::None);
}

/// Counts its own deliveries and posts itself again: about one count per entry into Qt's loop.
class LoopEntryCounter : public QObject
{
  public:
    int entries = 0;
    void post() { QCoreApplication::postEvent(this, new QEvent(QEvent::User)); }

  protected:
    bool event(QEvent* event) override
    {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        ++entries;
        post();
        return true;
    }
};

TEST_F(QtWindowLayerTest, AWalkPollingWithoutPauseEntersQtsLoopRarelyYetTakesClicksAndClosesInTime)
{
    ASSERT_TRUE(layer.createGadget(0, 9, GadgetKind::ToggleButton, {10, 390, 430, 30}, "Start"));
    ASSERT_TRUE(layer.createGadget(0, 7, GadgetKind::OneLineField, {8, 250, 150, 26}, ""));
    test::takeEvents(layer);
    // Both come through Qt's queue, as the window system's input does.
    auto* button = static_cast<QPushButton*>(layer.gadgetWidget(9));
    QTimer::singleShot(30, button, [button] { button->click(); });
    QWidget* window = layer.windowWidget(0);
    QTimer::singleShot(60, window, [window] { window->close(); });
    LoopEntryCounter counter;
    counter.post();

    QElapsedTimer clock;
    clock.start();
    qint64 clickedAt = -1;
    qint64 closedAt = -1;
    long polls = 0;
    while (clock.elapsed() < 150) {
        layer.setGadgetText(7, "Filecount: " + std::to_string(polls));
        const Event event = layer.pollEvent();
        ++polls;
        if (isEvent(event, EventKind::Gadget, 0, 9))
            clickedAt = clock.elapsed();
        if (isEvent(event, EventKind::CloseWindow, 0, -1))
            closedAt = clock.elapsed();
    }
    EXPECT_GE(clickedAt, 30);
    EXPECT_LE(clickedAt, 30 + 25);
    EXPECT_GE(closedAt, 60);
    EXPECT_LE(closedAt, 60 + 25);
    // Once per 10 ms or so, not once per poll.
    EXPECT_GT(polls, 1000);
    EXPECT_GE(counter.entries, 5);
    EXPECT_LE(counter.entries, 2 * (150 / QtWindowLayer::loopIntervalMs + 3));
    EXPECT_EQ(qobject_cast<QLineEdit*>(layer.gadgetWidget(7))->text().toStdString(),
              "Filecount: " + std::to_string(polls - 1));
}

TEST_F(QtWindowLayerTest, WindowActivityAsksForOneLoopTurnHoweverMuchCame)
{
    test::takeEvents(layer);
    for (int i = 0; i < 5; ++i) {
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(layer.windowWidget(0), &activate);
    }
    const auto events = test::takeEvents(layer);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(isEvent(events[0], EventKind::Other, 0, -1));
}

TEST_F(QtWindowLayerTest, MultiLineBoxTakesLinesAsPlainText)
{
    const std::string templateLine =
        "How to activate .ico IN HFS-HTML Template??? [file] <tr><td>%new% %Protected% "
        "<a href=\"%item-url%\"><img src=\"%item-name%.ico\" /> %item-name%</a>%comment%";
    ASSERT_TRUE(
        layer.createGadget(0, 31, GadgetKind::MultiLineBox, {8, 450, 786, 100}, "<b>one</b>"));
    layer.addLine(31, templateLine);
    layer.addLine(31, "");
    layer.addLine(31, "&amp; stays");
    auto* box = qobject_cast<QTextEdit*>(layer.gadgetWidget(31));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->toPlainText().toStdString(), "<b>one</b>\n" + templateLine + "\n\n&amp; stays");
    EXPECT_EQ(box->document()->blockCount(), 4);

    // The long template line scrolls sideways instead of wrapping.
    QApplication::processEvents();
    EXPECT_GT(box->horizontalScrollBar()->maximum(), 0);

    // After clearing, the next line is the first one again.
    const auto shownText = [this] {
        return qobject_cast<QTextEdit*>(layer.gadgetWidget(31))->toPlainText().toStdString();
    };
    layer.clearGadget(31);
    EXPECT_TRUE(shownText().empty());
    layer.addLine(31, "List of files with errors");
    EXPECT_EQ(shownText(), "List of files with errors");
    layer.setGadgetText(31, "50");
    layer.addLine(31, "51");
    EXPECT_EQ(shownText(), "50\n51");
    // Cleared and filled again before the screen saw it: only the new lines arrive.
    layer.addLine(31, "52");
    layer.clearGadget(31);
    layer.addLine(31, "first");
    layer.addLine(31, "second");
    EXPECT_EQ(shownText(), "first\nsecond");
}

TEST_F(QtWindowLayerTest, TheErrorListFollowsItsNewestLineUntilTheUserScrollsUp)
{
    ASSERT_TRUE(layer.createGadget(0, 44, GadgetKind::MultiLineBox, {8, 390, 786, 200},
                                   "List of files with errors"));
    for (int i = 0; i < 40; ++i) {
        layer.addLine(44, "frame header error : /music/" + std::to_string(i) + ".mp3");
        if (i % 7 == 0)
            layer.pollEvent();
    }
    auto* box = qobject_cast<QTextEdit*>(layer.gadgetWidget(44));
    QCoreApplication::processEvents();
    QScrollBar* scroll = box->verticalScrollBar();
    ASSERT_GT(scroll->maximum(), 0);
    EXPECT_EQ(scroll->value(), scroll->maximum());
    const QPoint bottomLeft(4, box->viewport()->height() - 4);
    EXPECT_EQ(box->cursorForPosition(bottomLeft).block().text().toStdString(),
              "frame header error : /music/39.mp3");

    // Scrolled up to read an earlier line, the user keeps it in view.
    scroll->setValue(0);
    layer.addLine(44, "auch hier ein kleines Problem: /music/40.mp3");
    layer.gadgetWidget(44);
    EXPECT_EQ(scroll->value(), 0);
    EXPECT_EQ(box->document()->lastBlock().text().toStdString(),
              "auch hier ein kleines Problem: /music/40.mp3");
}

TEST_F(QtWindowLayerTest, SixLinesFitTheOptionPanelsBoxesWithoutAVerticalScrollBar)
{
    // The preview with every box ticked and the information box, in the panel's font; only
    // the information box's page template line is too wide for its box.
    ASSERT_TRUE(layer.loadFont(0, "Courier", 8));
    layer.setDefaultFont(0);
    ASSERT_TRUE(layer.createGadget(0, 0, GadgetKind::MultiLineBox, {8, 10, 786, 90},
                                   "Filename: track04.mp3"));
    for (const char* line :
         {"Vella Marondi - Greatest Hit `86 - The locomotion - 192 kbs - Joint Stereo - "
          "3:11 min - Rock/Pop",
          "Filename: picture.jpg", "500 x 400 pixel 24 Bit ", "Filename: movie.avi",
          "352 x 640 pixel - 24 fps - 58:18 min"})
        layer.addLine(0, line);
    ASSERT_TRUE(layer.createGadget(0, 31, GadgetKind::MultiLineBox, {8, 450, 786, 100},
                                   "This Program creates Descript.ion files for all mp3 files."));
    for (int i = 0; i < 4; ++i)
        layer.addLine(31, "In Hfs please deaktivate >use OEM For Description<");
    layer.addLine(31, "How to activate .ico IN HFS-HTML Template??? [file] <tr><td>%new% "
                      "%Protected% <a href=\"%item-url%\"><img src=\"%item-name%.ico\" /> "
                      "%item-name%</a>%comment%");
    layer.gadgetWidget(0);
    QCoreApplication::processEvents();
    auto* preview = qobject_cast<QTextEdit*>(layer.gadgetWidget(0));
    auto* info = qobject_cast<QTextEdit*>(layer.gadgetWidget(31));
    EXPECT_FALSE(preview->verticalScrollBar()->isVisible());
    EXPECT_FALSE(preview->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(info->verticalScrollBar()->isVisible());
    EXPECT_TRUE(info->horizontalScrollBar()->isVisible());
    EXPECT_EQ(info->geometry(), QRect(8, 450, 786, 100));
    // The sixth line sits wholly above the horizontal scroll bar.
    EXPECT_LE(info->document()->size().height(), info->viewport()->height());
}

TEST_F(QtWindowLayerTest, AOneLineBoxTwentyPixelsHighHasRoomForItsLine)
{
    // The icon size box: 40 × 20 pixels in Courier 8 points, one number in it. A scroll bar
    // there would leave no room for the number.
    ASSERT_TRUE(layer.loadFont(0, "Courier", 8));
    layer.setDefaultFont(0);
    ASSERT_TRUE(layer.createGadget(0, 18, GadgetKind::MultiLineBox, {60, 290, 40, 20}, "50"));
    ASSERT_TRUE(layer.createGadget(0, 20, GadgetKind::MultiLineBox, {200, 290, 200, 20},
                                   "ico size 32 .. 70"));
    layer.clearGadget(20);
    layer.addLine(20, "ico size 32 .. 70");
    layer.setGadgetText(18, "51");
    QCoreApplication::processEvents();
    for (const int gadget : {18, 20}) {
        auto* box = qobject_cast<QTextEdit*>(layer.gadgetWidget(gadget));
        ASSERT_NE(box, nullptr);
        EXPECT_FALSE(box->verticalScrollBar()->isVisible()) << gadget;
        EXPECT_FALSE(box->horizontalScrollBar()->isVisible()) << gadget;
    }
}

// The progress display names no font: it shows in the desktop's, which may be far larger than
// its boxes were made for. Its texts still show whole, in a smaller font where needed, and a
// font that fits is left as it is.
TEST_F(QtWindowLayerTest, TheDesktopsFontIsFittedToTheBoxesAtAnySize)
{
    const QFont desktop = QApplication::font();
    for (const double points : {8.0, 10.0, 12.0, 14.0, 18.0}) {
        QFont font = desktop;
        font.setPointSizeF(points);
        QApplication::setFont(font);
        QtWindowLayer scaled;
        ASSERT_TRUE(scaled.openWindow(0, 800, 600, mainTitle));
        const std::string elapsed = "Time elapsed: 12:34:56";
        ASSERT_TRUE(
            scaled.createGadget(0, 77, GadgetKind::OneLineField, {160, 250, 180, 26}, elapsed));
        ASSERT_TRUE(scaled.createGadget(0, 55, GadgetKind::MultiLineBox, {8, 350, 786, 26},
                                        "Vella Marondi - The locomotion - 192 kbs CBR"));
        scaled.pollEvent();
        QCoreApplication::processEvents();
        auto* field = qobject_cast<QLineEdit*>(scaled.gadgetWidget(77));
        ASSERT_NE(field, nullptr);
        EXPECT_LE(field->sizeHint().height(), 26) << points;
        EXPECT_LE(QFontMetrics(field->font()).horizontalAdvance(QString::fromStdString(elapsed)),
                  field->contentsRect().width() - 6)
            << points;
        if (points <= 10.0) {
            EXPECT_EQ(field->font().pointSizeF(), points);
        }
        auto* line = qobject_cast<QTextEdit*>(scaled.gadgetWidget(55));
        ASSERT_NE(line, nullptr);
        EXPECT_FALSE(line->verticalScrollBar()->isVisible()) << points;
        EXPECT_LE(QFontMetrics(line->font()).lineSpacing() + 2 * line->frameWidth() + 2, 26)
            << points;
        // A shorter text gets back the font fitted to the height.
        scaled.setGadgetText(77, "Time elapsed: 1");
        scaled.pollEvent();
        EXPECT_GE(field->font().pointSizeF(), std::min(points, 9.0)) << points;
    }
    QApplication::setFont(desktop);
}

TEST_F(QtWindowLayerTest, OneLineFieldShowsTheBeginningOfALongText)
{
    const std::string path = "Analysing: /music/" + std::string(300, 'a') + "/track.mp3";
    ASSERT_TRUE(layer.createGadget(0, 0, GadgetKind::OneLineField, {8, 10, 776, 30}, path));
    const auto field = [this] { return qobject_cast<QLineEdit*>(layer.gadgetWidget(0)); };
    EXPECT_EQ(field()->cursorPosition(), 0);
    layer.setGadgetText(0, "Filename: <i>x</i>.mp3");
    EXPECT_EQ(field()->text().toStdString(), "Filename: <i>x</i>.mp3");
    layer.clearGadget(0);
    EXPECT_TRUE(field()->text().isEmpty());
}

TEST_F(QtWindowLayerTest, TextsInTheLocaleCharacterSetArriveWhole)
{
    // UTF-8 bytes: the character set of the machines the program runs on.
    const std::string prompt = "Bitte w\xC3\xA4hlen Sie einen Pfad aus";
    ASSERT_TRUE(layer.createGadget(0, 1, GadgetKind::CheckBox, {10, 110, 430, 20}, prompt));
    EXPECT_EQ(qobject_cast<QCheckBox*>(layer.gadgetWidget(1))->text(),
              QString::fromUtf8(prompt.c_str()));
}

TEST_F(QtWindowLayerTest, FontsApplyToControlsCreatedAfterwards)
{
    ASSERT_TRUE(layer.createGadget(0, 1, GadgetKind::CheckBox, {10, 110, 430, 20}, "before"));
    const QFont toolkitFont = layer.gadgetWidget(1)->font();
    EXPECT_FALSE(layer.loadFont(1, "", 8));
    EXPECT_FALSE(layer.loadFont(1, "Courier", 0));
    ASSERT_TRUE(layer.loadFont(0, "Courier", 8));
    layer.setDefaultFont(0);
    ASSERT_TRUE(layer.createGadget(0, 2, GadgetKind::CheckBox, {10, 130, 430, 20}, "courier"));
    // Courier is made in the face the windows were laid out in, whichever face fontconfig
    // would pick for the name, and that face is installed (the package depends on it).
    const QFont courier = layer.gadgetWidget(2)->font();
    EXPECT_EQ(courier.family(), "Liberation Mono");
    EXPECT_EQ(QFontInfo(courier).family(), "Liberation Mono");
    EXPECT_EQ(courier.pointSize(), 8);
    EXPECT_EQ(courier.weight(), QFont::Normal);
    EXPECT_EQ(layer.gadgetWidget(1)->font(), toolkitFont);

    // Released: the toolkit's font again; controls already made keep theirs.
    layer.releaseFont(0);
    ASSERT_TRUE(layer.createGadget(0, 3, GadgetKind::CheckBox, {10, 150, 430, 20}, "after"));
    EXPECT_EQ(layer.gadgetWidget(3)->font(), toolkitFont);
    EXPECT_EQ(layer.gadgetWidget(2)->font().family(), "Liberation Mono");

    // A number with no font gives the toolkit's font too.
    ASSERT_TRUE(layer.loadFont(0, "Arial", 16));
    layer.setDefaultFont(5);
    ASSERT_TRUE(layer.createGadget(0, 4, GadgetKind::OneLineField, {8, 310, 786, 30}, "x"));
    EXPECT_NE(layer.gadgetWidget(4)->font().family(), "Arial");
    layer.setDefaultFont(0);
    ASSERT_TRUE(layer.createGadget(0, 30, GadgetKind::OneLineField, {8, 310, 786, 30}, "x"));
    EXPECT_EQ(layer.gadgetWidget(30)->font().pointSize(), 16);
    EXPECT_EQ(QFontInfo(layer.gadgetWidget(30)->font()).family(), "Liberation Sans");

    // Other faces go to fontconfig as asked.
    ASSERT_TRUE(layer.loadFont(0, "DejaVu Sans", 10));
    ASSERT_TRUE(layer.createGadget(0, 31, GadgetKind::OneLineField, {8, 350, 786, 30}, "x"));
    EXPECT_EQ(layer.gadgetWidget(31)->font().family(), "DejaVu Sans");
}

TEST_F(QtWindowLayerTest, TheFolderDialogAnswersWithASlashOrNothing)
{
    const std::string prompt = "Bitte w\xC3\xA4hlen Sie einen Pfad aus";
    QString seenTitle;
    const auto answer = [&seenTitle](bool accept) {
        // Finds the dialog once it is up, then answers it as the user would.
        auto* timer = new QTimer;
        QObject::connect(timer, &QTimer::timeout, [timer, &seenTitle, accept] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr)
                return;
            seenTitle = dialog->windowTitle();
            timer->stop();
            timer->deleteLater();
            // accept() is protected on the file dialog; as a slot it is there by name.
            QMetaObject::invokeMethod(dialog, accept ? "accept" : "reject");
        });
        timer->start(20);
    };

    answer(false);
    EXPECT_EQ(layer.chooseFolder(prompt, "/tmp/"), "");
    EXPECT_EQ(seenTitle, QString::fromUtf8(prompt.c_str()));

    answer(true);
    EXPECT_EQ(layer.chooseFolder(prompt, "/tmp"), "/tmp/");

    // A path typed in opens the completer's list of names; it goes with the dialog, or it
    // stays on the screen over the main window, unpainted, for the whole walk.
    bool listShown = false;
    auto* typist = new QTimer;
    QObject::connect(typist, &QTimer::timeout, [typist, &listShown] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        auto* completer = dialog != nullptr ? dialog->findChild<QCompleter*>() : nullptr;
        if (completer == nullptr)
            return;
        typist->stop();
        typist->deleteLater();
        completer->setCompletionPrefix(QStringLiteral("/t"));
        completer->complete();
        listShown = completer->popup() != nullptr && completer->popup()->isVisible();
        QMetaObject::invokeMethod(dialog, "accept");
    });
    typist->start(20);
    EXPECT_EQ(layer.chooseFolder(prompt, "/tmp"), "/tmp/");
    EXPECT_TRUE(listShown);
    for (const QWidget* window : QApplication::topLevelWidgets())
        EXPECT_FALSE(window->isVisible() && window->windowType() == Qt::Popup)
            << window->metaObject()->className() << " is still on the screen";

    // With no window made active by the desktop, the dialog still belongs to the main one.
    QWidget* owner = nullptr;
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, &owner] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr)
            return;
        owner = dialog->parentWidget();
        timer->stop();
        timer->deleteLater();
        QMetaObject::invokeMethod(dialog, "reject");
    });
    timer->start(20);
    QApplication::setActiveWindow(nullptr);
    EXPECT_EQ(layer.chooseFolder(prompt, "/tmp"), "");
    ASSERT_NE(owner, nullptr);
    EXPECT_EQ(owner->window(), layer.windowWidget(0));
}

TEST_F(QtWindowLayerTest, CloseAllRemovesEveryWindowAndFont)
{
    ASSERT_TRUE(layer.openWindow(4, 600, 600, "PLEASE! "));
    ASSERT_TRUE(layer.createGadget(4, 321, GadgetKind::MultiLineBox, {5, 5, 590, 590}, "x"));
    ASSERT_TRUE(layer.loadFont(0, "Arial", 16));
    layer.setDefaultFont(0);
    const QPointer<QWidget> main = layer.windowWidget(0);
    const QPointer<QWidget> thanks = layer.windowWidget(4);
    layer.closeAll();
    EXPECT_TRUE(main.isNull());
    EXPECT_TRUE(thanks.isNull());
    EXPECT_FALSE(layer.hasGadget(321));
    // Nothing can arrive any more: waiting answers at once.
    EXPECT_TRUE(isEvent(layer.waitEvent(), EventKind::CloseWindow, -1, -1));

    ASSERT_TRUE(layer.openWindow(0, 800, 600, mainTitle));
    ASSERT_TRUE(layer.createGadget(0, 30, GadgetKind::OneLineField, {8, 310, 786, 30}, "x"));
    EXPECT_NE(layer.gadgetWidget(30)->font().pointSize(), 16);
}

} // namespace
} // namespace tagrelay
