// The window program: Qt's widgets under the shell.
#include "scan/run_state.h"
#include "shell/main_window.h"
#include "window/qt/qt_window_layer.h"

#include <dlfcn.h>

#include <QApplication>
#include <QIcon>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool isSet(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

/// Whether the X server that DISPLAY names accepts a connection. Asked through the X library
/// that Qt's own X platform loads, taken at run time so the program does not link it; where
/// it cannot be loaded, Qt could not use X either and says so itself.
bool isXDisplayReachable()
{
    void* xcb = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (xcb == nullptr)
        return true;
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    const auto connect = reinterpret_cast<Connect>(dlsym(xcb, "xcb_connect"));
    const auto hasError = reinterpret_cast<HasError>(dlsym(xcb, "xcb_connection_has_error"));
    const auto disconnect = reinterpret_cast<Disconnect>(dlsym(xcb, "xcb_disconnect"));
    bool reachable = true;
    if (connect != nullptr && hasError != nullptr && disconnect != nullptr) {
        // A failed connection is still an object to release.
        void* connection = connect(nullptr, nullptr);
        reachable = hasError(connection) == 0;
        disconnect(connection);
    }
    dlclose(xcb);
    return reachable;
}

/// Without a display QApplication aborts the process; a platform chosen by hand (offscreen,
/// vnc, ...) needs none. Qt takes X when Wayland is not there or X is asked for by name.
bool hasDisplay()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const bool asksForX = platform != nullptr && std::strncmp(platform, "xcb", 3) == 0;
    if (isSet("QT_QPA_PLATFORM") && !asksForX)
        return true;
    if (isSet("WAYLAND_DISPLAY") && !asksForX)
        return true;
    return isSet("DISPLAY") && isXDisplayReachable();
}

} // namespace

int main(int argc, char** argv)
{
    // The texts of the tags and the file names are kept in the locale's character set.
    std::setlocale(LC_ALL, "");
    if (!hasDisplay()) {
        std::fputs("tagrelay: no display (neither DISPLAY nor WAYLAND_DISPLAY names one that "
                   "answers); use tagrelay-cli, the command-line program, or start a virtual one "
                   "with `xvfb-run -a tagrelay`\n",
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
