#include "support/recording_window_layer.h"

#include <gtest/gtest.h>

namespace tagrelay {
namespace {

TEST(RecordingWindowLayerTest, ControlsAreReplacedByNumberAndGoWithTheirWindow)
{
    RecordingWindowLayer layer;
    EXPECT_FALSE(layer.createGadget(0, 1, GadgetKind::CheckBox, {}, "no window yet"));
    ASSERT_TRUE(layer.openWindow(0, 800, 600, "main"));
    ASSERT_TRUE(layer.openWindow(4, 600, 600, "thanks"));
    layer.createGadget(0, 7, GadgetKind::MultiLineBox, {1, 2, 3, 4}, "first line");
    layer.addLine(7, "second line");
    EXPECT_EQ(layer.gadget(7)->lines, (std::vector<std::string>{"first line", "second line"}));
    layer.createGadget(4, 7, GadgetKind::OneLineField, {5, 6, 7, 8}, "replaced");
    EXPECT_EQ(layer.gadget(7)->window, 4);
    EXPECT_EQ(layer.gadget(7)->kind, GadgetKind::OneLineField);
    EXPECT_TRUE(layer.gadget(7)->lines.empty());
    layer.createGadget(0, 8, GadgetKind::Button, {}, "stays");
    layer.closeWindow(4);
    EXPECT_FALSE(layer.hasGadget(7));
    EXPECT_TRUE(layer.hasGadget(8));
    // Numbers that name nothing are ignored.
    layer.addLine(99, "x");
    layer.setGadgetState(99, 1);
    EXPECT_EQ(layer.gadgetState(99), 0);
}

TEST(RecordingWindowLayerTest, ClicksToggleWhatARealClickToggles)
{
    RecordingWindowLayer layer;
    layer.openWindow(0, 800, 600, "main");
    layer.createGadget(0, 1, GadgetKind::CheckBox, {}, "box");
    layer.createGadget(0, 9, GadgetKind::ToggleButton, {}, "start");
    layer.createGadget(0, 17, GadgetKind::Button, {}, "-");
    layer.queueClick(1);
    layer.queueClick(17);
    layer.queueClick(9);
    layer.queueClick(1);
    EXPECT_EQ(layer.waitEvent().gadget, 1);
    EXPECT_EQ(layer.gadgetState(1), 1);
    EXPECT_EQ(layer.waitEvent().gadget, 17);
    EXPECT_EQ(layer.gadgetState(17), 0);
    EXPECT_EQ(layer.waitEvent().gadget, 9);
    EXPECT_EQ(layer.gadgetState(9), 1);
    layer.waitEvent();
    EXPECT_EQ(layer.gadgetState(1), 0);
    layer.setGadgetState(1, 5);
    EXPECT_EQ(layer.gadgetState(1), 1);
}

TEST(RecordingWindowLayerTest, AnEmptyScriptNeverBlocks)
{
    RecordingWindowLayer layer;
    EXPECT_EQ(layer.pollEvent().kind, EventKind::None);
    EXPECT_EQ(layer.waitEvent().kind, EventKind::CloseWindow);
    layer.queueOther();
    layer.setPollHook([](int poll) {
        return poll == 3 ? Event{EventKind::CloseWindow, 4, -1} : Event{};
    });
    EXPECT_EQ(layer.pollEvent().kind, EventKind::Other);
    const Event hooked = layer.pollEvent();
    EXPECT_EQ(hooked.kind, EventKind::CloseWindow);
    EXPECT_EQ(hooked.window, 4);
    EXPECT_EQ(layer.pollCount(), 3);
}

TEST(RecordingWindowLayerTest, FontsAndHistoryAreRecorded)
{
    RecordingWindowLayer layer;
    layer.openWindow(0, 800, 600, "main");
    layer.loadFont(0, "Courier", 8);
    layer.setDefaultFont(0);
    layer.createGadget(0, 1, GadgetKind::CheckBox, {}, "in Courier");
    layer.releaseFont(0);
    layer.createGadget(0, 2, GadgetKind::CheckBox, {}, "in the default font");
    EXPECT_EQ(layer.gadget(1)->font, 0);
    EXPECT_EQ(layer.gadget(2)->font, -1);
    layer.drawBox(0, {1, 2, 3, 4}, 0xFF);
    layer.setKeepHistory(false);
    layer.drawLine(0, 0, 0, 1, 1, 0);
    layer.createGadget(0, 3, GadgetKind::Button, {}, "");
    EXPECT_EQ(layer.drawCalls().size(), 1u);
    EXPECT_EQ(layer.createdGadgets(), (std::vector<int>{1, 2}));
    layer.closeAll();
    EXPECT_TRUE(layer.isShutDown());
    EXPECT_FALSE(layer.window(0)->isOpen);
}

} // namespace
} // namespace tagrelay
