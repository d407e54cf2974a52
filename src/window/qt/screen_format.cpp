#include "window/qt/screen_format.h"

#include <QGuiApplication>
#include <QScreen>

#if QT_CONFIG(xcb)
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>
#endif

namespace tagrelay {
namespace {

#if QT_CONFIG(xcb)
/// The bits per pixel of the X server's bitmap format for a depth, from the list of formats
/// it sent when the connection was made; 0 when the list has none for that depth.
int xBitsPerPixel(xcb_connection_t* connection, int depth)
{
    const xcb_setup_t* setup = xcb_get_setup(connection);
    if (setup == nullptr)
        return 0;
    for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem > 0;
         xcb_format_next(&formats)) {
        if (formats.data->depth == depth)
            return formats.data->bits_per_pixel;
    }
    return 0;
}
#endif

} // namespace

int bitsPerPixelOfDepth(int depth)
{
    if (depth <= 0)
        return 0;
    for (const int stored : {1, 4, 8, 16}) {
        if (depth <= stored)
            return stored;
    }
    return 32;
}

int screenBitsPerPixel()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return 0;
    const int depth = screen->depth();
#if QT_CONFIG(xcb)
    if (const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) {
        if (xcb_connection_t* connection = x11->connection()) {
            if (const int bits = xBitsPerPixel(connection, depth); bits > 0)
                return bits;
        }
    }
#endif
    return bitsPerPixelOfDepth(depth);
}

} // namespace tagrelay
