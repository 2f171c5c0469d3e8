#pragma once

#include <QByteArray>
#include <QImage>

#include <cstddef>

// Largest picture decodePng accepts, in pixels (64 MiB of RGBA). The sprite strips are a few
// thousand pixels; anything near this is a damaged or hostile file.
inline constexpr std::size_t kMaxPngPixels = std::size_t{16} * 1024 * 1024;

// Decodes PNG bytes with libpng into 8-bit RGBA with per-pixel alpha (palette, grey, 16-bit
// and tRNS pictures are converted). A null image for anything that is not a complete,
// readable PNG of at most kMaxPngPixels.
QImage decodePng(const QByteArray& bytes);
