#include "scan/run_state.h"
#include "shell/end_run.h"
#include "shell/shell_test_support.h"

namespace tagrelay {
namespace {

/// A system without the Arial font.
class NoArialLayer : public RecordingWindowLayer
{
  public:
    bool loadFont(int font, const std::string& face, int points) override
    {
        return face != "Arial" && RecordingWindowLayer::loadFont(font, face, points);
    }
};

RecordingWindowLayer& withMainWindow(RecordingWindowLayer& window)
{
    window.openWindow(0, 800, 600, "main");
    return window;
}

TEST(EndRunTest, ShowsTheClosingMessageInArialAndWaitsForAClose)
{
    RecordingWindowLayer window;
    withMainWindow(window);
    window.queueOther();
    window.queueClick(1);
    window.queueClose();
    window.queueClose(); // left for the caller's shutdown
    RunState run;
    endRun(window, run);
    EXPECT_EQ(window.waitCount(), 3);

    const auto* message = window.gadget(30);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->window, 0);
    EXPECT_EQ(message->kind, GadgetKind::OneLineField);
    EXPECT_EQ(message->box, (Box{8, 310, 786, 30}));
    EXPECT_EQ(message->text, "Programm terminated. press (X) to close the window ");
    ASSERT_NE(window.font(message->font), nullptr);
    EXPECT_EQ(window.font(message->font)->face, "Arial");
    EXPECT_EQ(window.font(message->font)->points, 16);
    EXPECT_EQ(window.window(4), nullptr);
}

TEST(EndRunTest, ShowsTheThankYouWindowWhenDueAndEndsOnItsClose)
{
    RecordingWindowLayer window;
    withMainWindow(window);
    window.queueOther();
    window.queueClose(4);
    RunState run;
    run.thankYouDue = true;
    endRun(window, run);
    EXPECT_EQ(window.waitCount(), 2);

    const auto* thanks = window.window(4);
    ASSERT_NE(thanks, nullptr);
    EXPECT_EQ(thanks->width, 600);
    EXPECT_EQ(thanks->height, 600);
    EXPECT_EQ(thanks->title, "PLEASE! ");
    const auto* box = window.gadget(321);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->window, 4);
    EXPECT_EQ(box->kind, GadgetKind::MultiLineBox);
    EXPECT_EQ(box->box, (Box{5, 5, 590, 590}));
    EXPECT_EQ(box->font, window.gadget(30)->font);
    const std::vector<std::string> lines = {
        "If you like this Software please",
        "give me a donation by paypal",
        " ",
        "       tagrelay@example.org",
        " ",
        "        Thanks a lot!!!",
        "Every Euro or $ is a big reward for ",
        "my work.",
        " ",
        "Yours the Tagrelay authors",
        " ",
        "I would like to receive ",
        "some FEEDBACK !!",
    };
    EXPECT_EQ(box->lines, lines);
}

TEST(EndRunTest, WithoutArialTheDefaultFontStays)
{
    NoArialLayer window;
    withMainWindow(window);
    ASSERT_TRUE(window.loadFont(0, "Courier", 8));
    window.setDefaultFont(0);
    RunState run;
    endRun(window, run);
    ASSERT_NE(window.gadget(30), nullptr);
    EXPECT_EQ(window.gadget(30)->font, 0);
    EXPECT_EQ(window.font(0)->face, "Courier");
}

} // namespace
} // namespace tagrelay
