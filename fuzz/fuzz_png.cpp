// The sprite decoder on any bytes: a picture within the pixel limit, or a null image.
#include "components/png_image.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QImage image = decodePng(bytes);
    if (image.isNull())
        return 0;
    if (image.format() != QImage::Format_RGBA8888 ||
        std::size_t(image.width()) * std::size_t(image.height()) > kMaxPngPixels)
        std::abort();
    // Touch every pixel, so a short buffer shows under the address sanitizer.
    unsigned sum = 0;
    for (int y = 0; y < image.height(); ++y) {
        const uchar* row = image.constScanLine(y);
        for (int x = 0; x < image.width() * 4; ++x)
            sum += row[x];
    }
    return static_cast<int>(sum & 0);
}
