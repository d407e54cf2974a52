#include "support/window_walk.h"

#include "scan/run_state.h"
#include "scan/walk.h"
#include "shell/progress_display.h"

namespace tagrelay {

void openWalkWindow(WindowLayer& window, const std::string& title)
{
    window.openWindow(mainWindow, mainWindowWidth, mainWindowHeight, title);
    window.createGadget(mainWindow, errorListBox, GadgetKind::MultiLineBox, errorListPlace,
                        errorListTitle);
}

void describeDirectory(const std::string& path, int depth, WindowLayer& window, RunState& run)
{
    WindowReporter reporter(window, run);
    describeDirectory(path, depth, reporter, run);
}

} // namespace tagrelay
