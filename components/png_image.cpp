#include "components/png_image.h"

#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include <png.h>

namespace {

struct Source {
    const unsigned char* data;
    std::size_t size;
    std::size_t pos;
};

void readBytes(png_structp png, png_bytep out, png_size_t length) {
    auto* src = static_cast<Source*>(png_get_io_ptr(png));
    if (length > src->size - src->pos)
        png_error(png, "truncated");
    std::memcpy(out, src->data + src->pos, length);
    src->pos += length;
}

[[noreturn]] void onError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

struct Pixels {
    unsigned char* data = nullptr;  // malloc'ed, width * height * 4 bytes
    png_uint_32 width = 0;
    png_uint_32 height = 0;
};

// Plain C state only: libpng leaves this function by longjmp on any error, so nothing here
// may need a destructor. Returns false (and frees everything) on failure.
bool decodeRgba(const Source& input, Pixels& out) {
    Source src = input;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    unsigned char* volatile pixels = nullptr;
    png_bytep* volatile rows = nullptr;
    if (setjmp(png_jmpbuf(png))) {
        std::free(rows);
        std::free(pixels);
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    // Huge headers are refused before any pixel memory is allocated.
    png_set_user_limits(png, 65536, 65536);
    png_set_chunk_malloc_max(png, 4 * 1024 * 1024);
    png_set_read_fn(png, &src, readBytes);
    png_read_info(png, info);

    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    if (width == 0 || height == 0 || std::size_t{width} * height > kMaxPngPixels)
        png_error(png, "too large");

    const int colorType = png_get_color_type(png, info);
    const int depth = png_get_bit_depth(png, info);
    if (colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_tRNS_to_alpha(png);
    if (depth == 16)
        png_set_strip_16(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(png);
    png_set_filler(png, 0xff, PNG_FILLER_AFTER);  // no-op where alpha is already there
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != std::size_t{width} * 4)
        png_error(png, "unexpected layout");

    pixels = static_cast<unsigned char*>(std::malloc(std::size_t{width} * height * 4));
    rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * height));
    if (!pixels || !rows)
        png_error(png, "out of memory");
    for (png_uint_32 y = 0; y < height; ++y)
        rows[y] = pixels + std::size_t{y} * width * 4;
    png_read_image(png, rows);
    png_read_end(png, nullptr);  // a file cut off before IEND is damaged too

    std::free(rows);
    png_destroy_read_struct(&png, &info, nullptr);
    out.data = pixels;
    out.width = width;
    out.height = height;
    return true;
}

}  // namespace

QImage decodePng(const QByteArray& bytes) {
    if (bytes.size() < 8 ||
        png_sig_cmp(reinterpret_cast<png_const_bytep>(bytes.constData()), 0, 8) != 0)
        return {};
    const Source src{reinterpret_cast<const unsigned char*>(bytes.constData()),
                     static_cast<std::size_t>(bytes.size()), 0};
    Pixels p;
    if (!decodeRgba(src, p))
        return {};
    // The image owns the buffer from here on and frees it with std::free.
    return QImage(p.data, static_cast<int>(p.width), static_cast<int>(p.height),
                  static_cast<qsizetype>(p.width) * 4, QImage::Format_RGBA8888, std::free, p.data);
}
