// The window program: Qt's widgets under the shell.
#include "scan/run_state.h"
#include "shell/main_window.h"
#include "window/qt/qt_window_layer.h"

#include <QApplication>
#include <QIcon>
#include <clocale>
#include <cstdio>
#include <cstdlib>

namespace {

bool isSet(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

/// Without a display QApplication aborts the process; a platform chosen by hand (offscreen,
/// vnc, ...) needs none.
bool hasDisplay()
{
    return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY") || isSet("QT_QPA_PLATFORM");
}

} // namespace

int main(int argc, char** argv)
{
    // The texts of the tags and the file names are kept in the locale's character set.
    std::setlocale(LC_ALL, "");
    if (!hasDisplay()) {
        std::fputs("tagrelay: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); use "
                   "tagrelay-cli, the command-line program, or start a virtual one with "
                   "`xvfb-run -a tagrelay`\n",
                   stderr);
        return 1;
    }
    QApplication application(argc, argv);
    // Every window without an icon of its own (the main and the thank-you window) shows this one.
    QIcon icon(QStringLiteral(":/icons/tagrelay-256.png"));
    icon.addFile(QStringLiteral(":/icons/tagrelay-48.png"));
    QApplication::setWindowIcon(icon);
    QGuiApplication::setDesktopFileName(QStringLiteral("invalid.tagrelay.Tagrelay"));
    tagrelay::QtWindowLayer window;
    tagrelay::RunState run;
    const int exitCode = tagrelay::runProgram(window, run);
    window.closeAll();
    // Leaving through exit: a window that ignored its close request would cancel
    // QApplication::quit().
    std::exit(exitCode);
}
