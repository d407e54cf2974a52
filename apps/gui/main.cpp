// The window program: Qt's widgets under the shell.
#include "platform/memory_reuse.h"
#include "scan/run_state.h"
#include "shell/main_window.h"
#include "window/qt/qt_window_layer.h"

#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QIcon>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace {

void printHelp()
{
    std::printf(
        "Usage: tagrelay [--help | --version]\n"
        "\n"
        "Opens the Tagrelay window. Tick the facts to show, press \"Start and select\n"
        "startdirectory\" and choose a folder: Tagrelay writes a descript.ion list into it\n"
        "and into every folder below it, one line per MP3 file, JPEG and BMP picture and\n"
        "AVI and MPG movie, with a description built from the file's contents.\n"
        "\n"
        "The options are kept in brelvoka.ini in the current directory. The window needs\n"
        "a display; tagrelay-cli runs the same walk from a terminal (tagrelay-cli --help).\n"
        "Qt's own options are taken too, for example -platform offscreen.\n"
        "\n"
        "Exit status: 0 once the window has been closed, 1 without a display.\n");
}

/// How the user can start a program that lies beside this one: its bare name when that folder
/// is on the search path (an installed program), else its path, relative to the current
/// directory when it lies below it (build/dev/tagrelay-cli in a checkout). Empty when the
/// program is not there.
std::string commandBesideThis(std::string_view name)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path folder = fs::read_symlink("/proc/self/exe", error).parent_path();
    const fs::path program = folder / name;
    if (error || ::access(program.c_str(), X_OK) != 0)
        return {};
    if (const char* path = std::getenv("PATH")) {
        std::string_view rest = path;
        while (!rest.empty()) {
            const std::size_t colon = rest.find(':');
            const fs::path entry(std::string(rest.substr(0, colon)));
            if (!entry.empty() && fs::equivalent(entry, folder, error))
                return std::string(name);
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
    }
    const fs::path here = fs::current_path(error);
    if (!error && here != here.root_path()) {
        const fs::path relative = program.lexically_relative(here);
        if (!relative.empty() && *relative.begin() != "..")
            return relative.string();
    }
    return program.string();
}

/// One line that says what to do without a display, with the commands as they can be typed
/// here.
void reportNoDisplay()
{
    std::string window = commandBesideThis("tagrelay");
    if (window.empty())
        window = "tagrelay";
    std::string line = "tagrelay: no display (neither DISPLAY nor WAYLAND_DISPLAY names one that "
                       "answers); log in with ssh -X, or start the window on a virtual display "
                       "with `xvfb-run -a "
                       + window + "`";
    if (const std::string cli = commandBesideThis("tagrelay-cli"); !cli.empty())
        line += ", or describe a folder without a window with `" + cli + " --help`";
    std::fprintf(stderr, "%s\n", line.c_str());
}

bool isSet(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

/// Whether the X server that DISPLAY names accepts a connection.
bool isXDisplayReachable()
{
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool reachable = xcb_connection_has_error(connection) == 0;
    // A failed connection is still an object to release.
    xcb_disconnect(connection);
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
    tagrelay::keepFreedMemoryForReuse();
    // Answered before the window system is asked for anything: they need no display.
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            printHelp();
            return 0;
        }
        if (argument == "--version") {
            std::printf("tagrelay %s\n", TAGRELAY_VERSION);
            return 0;
        }
    }
    if (!hasDisplay()) {
        reportNoDisplay();
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
