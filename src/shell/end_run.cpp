#include "shell/end_run.h"

#include "scan/run_state.h"
#include "shell/progress_display.h"
#include "window/window_layer.h"

#include <string>

namespace tagrelay {

namespace {

void showThankYouWindow(WindowLayer& window)
{
    if (!window.openWindow(thankYouWindow, 600, 600, "PLEASE! "))
        return;
    window.createGadget(thankYouWindow, thankYouBox, GadgetKind::MultiLineBox, {5, 5, 590, 590},
                        "");
    const std::string lines[] = {
        "If you like this Software please",
        "give me a donation by paypal",
        " ",
        "       " + std::string(authorAddress),
        " ",
        "        Thanks a lot!!!",
        "Every Euro or $ is a big reward for ",
        "my work.",
        " ",
        "Yours " + std::string(authorName),
        " ",
        "I would like to receive ",
        "some FEEDBACK !!",
    };
    for (const std::string& line : lines)
        window.addLine(thankYouBox, line);
}

} // namespace

void endRun(WindowLayer& window, RunState& run)
{
    // Without Arial the closing texts keep whatever font was the default before.
    if (window.loadFont(endFont, "Arial", 16))
        window.setDefaultFont(endFont);
    window.createGadget(mainWindow, closingMessage, GadgetKind::OneLineField, {8, 310, 786, 30},
                        std::string(closingMessageText));
    if (run.thankYouDue)
        showThankYouWindow(window);
    // The main window stays up, statistics and error list included, until the user closes a
    // window; moving, minimising or clicking does not end the program.
    while (window.waitEvent().kind != EventKind::CloseWindow) {
    }
}

} // namespace tagrelay
