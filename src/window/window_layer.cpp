#include "window/window_layer.h"

namespace tagrelay {

WindowLayer::~WindowLayer() = default;

int WindowLayer::screenWidth() const
{
    return 1024;
}

int WindowLayer::screenHeight() const
{
    return 768;
}

int WindowLayer::screenDepth() const
{
    return 32;
}

std::uint64_t WindowLayer::openVideoWindow(Box /*place*/)
{
    return 0;
}

void WindowLayer::closeVideoWindow()
{
}

} // namespace tagrelay
