#include "window_errors.h"

#include <X11/Xlib.h>

namespace tagrelay {

namespace {

int ignoreWindowError(Display* /*display*/, XErrorEvent* /*error*/)
{
    return 0;
}

} // namespace

void keepPlayingOnWindowErrors()
{
    XSetErrorHandler(ignoreWindowError);
}

} // namespace tagrelay
