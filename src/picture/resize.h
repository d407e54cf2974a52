#pragma once

#include "picture/rgb_image.h"

namespace tagrelay {

/// The image stretched or squeezed to width × height, each new pixel the average of the part
/// of the picture it covers (bilinear where a side grows). The aspect ratio is not kept.
///
/// \returns a copy for the same size, and an empty image when either image is empty or a side
/// asked for is below 1 or above 65 535, or when one side would shrink more than 8192 times
/// while the other does not.
[[nodiscard]] RgbImage resizeImage(const RgbImage& image, int width, int height);

} // namespace tagrelay
