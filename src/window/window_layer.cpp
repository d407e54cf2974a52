#include "window/window_layer.h"

namespace tagrelay {

WindowLayer::~WindowLayer() = default;

} // namespace tagrelay
