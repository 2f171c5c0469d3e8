#include "components/png_image.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <cstdint>
#include <string>
#include <vector>

#include <png.h>
#include <zlib.h>

namespace {

// ---- a small PNG writer for the fixtures, on libpng's write side ----

struct Picture {
    int width = 0;
    int height = 0;
    int colorType = PNG_COLOR_TYPE_RGBA;
    int depth = 8;
    bool interlaced = false;
    std::vector<std::uint8_t> rows;          // packed rows, as libpng takes them
    std::vector<png_color> palette;          // PNG_COLOR_TYPE_PALETTE
    std::vector<std::uint8_t> paletteAlpha;  // tRNS of a palette picture
};

void appendBytes(png_structp png, png_bytep data, png_size_t n) {
    auto* out = static_cast<QByteArray*>(png_get_io_ptr(png));
    out->append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(n));
}

void noFlush(png_structp) {}

QByteArray encode(const Picture& pic) {
    QByteArray out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    // No setjmp: a fixture libpng refuses to write aborts the test, which is what it should do.
    png_set_write_fn(png, &out, appendBytes, noFlush);
    png_set_IHDR(png, info, pic.width, pic.height, pic.depth, pic.colorType,
                 pic.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!pic.palette.empty())
        png_set_PLTE(png, info, pic.palette.data(), static_cast<int>(pic.palette.size()));
    if (!pic.paletteAlpha.empty())
        png_set_tRNS(png, info, pic.paletteAlpha.data(), static_cast<int>(pic.paletteAlpha.size()),
                     nullptr);
    png_write_info(png, info);
    const std::size_t stride = pic.rows.size() / static_cast<std::size_t>(pic.height);
    std::vector<png_bytep> rowPointers;
    for (int y = 0; y < pic.height; ++y)
        rowPointers.push_back(const_cast<png_bytep>(pic.rows.data() + stride * std::size_t(y)));
    png_write_image(png, rowPointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// A 4 x 2 RGBA picture with distinct pixels.
Picture rgbaPicture() {
    Picture p;
    p.width = 4;
    p.height = 2;
    for (int i = 0; i < 8; ++i)
        p.rows.insert(p.rows.end(), {std::uint8_t(i * 30), std::uint8_t(255 - i * 30),
                                     std::uint8_t(i * 7), std::uint8_t(i * 32 + 3)});
    return p;
}

void putBe32(QByteArray& b, int at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = char((v >> (24 - 8 * i)) & 0xff);
}

// The same PNG with another size in IHDR and the chunk's CRC made right again, so only the
// size is wrong.
QByteArray withSize(QByteArray png, std::uint32_t width, std::uint32_t height) {
    putBe32(png, 16, width);
    putBe32(png, 20, height);
    const auto crc = crc32(0, reinterpret_cast<const Bytef*>(png.constData() + 12), 17);
    putBe32(png, 29, std::uint32_t(crc));
    return png;
}

QRgb pixel(const QImage& img, int x, int y) {
    const uchar* p = img.constScanLine(y) + x * 4;
    return qRgba(p[0], p[1], p[2], p[3]);
}

}  // namespace

TEST(DecodePng, RgbaKeepsEveryPixelAndItsAlpha) {
    const Picture pic = rgbaPicture();
    const QImage img = decodePng(encode(pic));
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(img.format(), QImage::Format_RGBA8888);
    ASSERT_EQ(img.size(), QSize(4, 2));
    for (int i = 0; i < 8; ++i) {
        const std::uint8_t* src = pic.rows.data() + i * 4;
        EXPECT_EQ(pixel(img, i % 4, i / 4), qRgba(src[0], src[1], src[2], src[3])) << i;
    }
}

// Palette, grey, 16-bit and interlaced pictures all come out as 8-bit RGBA.
TEST(DecodePng, OtherLayoutsBecomeRgba) {
    struct Case {
        const char* name;
        Picture pic;
        QRgb first;  // pixel (0, 0)
        QRgb last;   // pixel (width - 1, height - 1)
    };
    std::vector<Case> cases;
    {
        Picture p;  // palette with a transparent entry
        p.width = 2;
        p.height = 1;
        p.colorType = PNG_COLOR_TYPE_PALETTE;
        p.palette = {{10, 20, 30}, {200, 100, 50}};
        p.paletteAlpha = {0, 255};
        p.rows = {0, 1};
        cases.push_back({"palette+tRNS", p, qRgba(10, 20, 30, 0), qRgba(200, 100, 50, 255)});
    }
    {
        Picture p;  // 1-bit grey: black, white
        p.width = 2;
        p.height = 1;
        p.colorType = PNG_COLOR_TYPE_GRAY;
        p.depth = 1;
        p.rows = {0x40};
        cases.push_back({"grey 1-bit", p, qRgba(0, 0, 0, 255), qRgba(255, 255, 255, 255)});
    }
    {
        Picture p;  // 16-bit grey with alpha
        p.width = 1;
        p.height = 2;
        p.colorType = PNG_COLOR_TYPE_GRAY_ALPHA;
        p.depth = 16;
        p.rows = {0x80, 0x00, 0xff, 0xff, 0x10, 0x00, 0x40, 0x00};
        cases.push_back(
            {"grey+alpha 16-bit", p, qRgba(0x80, 0x80, 0x80, 0xff), qRgba(0x10, 0x10, 0x10, 0x40)});
    }
    {
        Picture p;  // RGB without alpha, interlaced
        p.width = 3;
        p.height = 3;
        p.colorType = PNG_COLOR_TYPE_RGB;
        p.interlaced = true;
        for (int i = 0; i < 9; ++i)
            p.rows.insert(p.rows.end(),
                          {std::uint8_t(i), std::uint8_t(i * 2), std::uint8_t(i * 3)});
        cases.push_back({"RGB interlaced", p, qRgba(0, 0, 0, 255), qRgba(8, 16, 24, 255)});
    }
    for (const Case& c : cases) {
        const QImage img = decodePng(encode(c.pic));
        ASSERT_FALSE(img.isNull()) << c.name;
        EXPECT_EQ(img.format(), QImage::Format_RGBA8888) << c.name;
        EXPECT_EQ(img.size(), QSize(c.pic.width, c.pic.height)) << c.name;
        EXPECT_EQ(pixel(img, 0, 0), c.first) << c.name;
        EXPECT_EQ(pixel(img, img.width() - 1, img.height() - 1), c.last) << c.name;
    }
}

// Whatever is wrong with the bytes, the answer is an empty picture and never a crash.
TEST(DecodePng, GarbageGivesAnEmptyPicture) {
    const QByteArray good = encode(rgbaPicture());
    ASSERT_FALSE(decodePng(good).isNull());
    const int iend = good.size() - 12;
    QByteArray badCrc = good;
    badCrc[40] = char(badCrc[40] ^ 0x55);  // inside IDAT
    QByteArray noIdat = good.left(33);     // signature and IHDR only
    noIdat += good.right(12);

    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"empty", QByteArray()},
        {"text", QByteArrayLiteral("this is not a picture at all, just words")},
        {"JPEG start", QByteArray("\xff\xd8\xff\xe0\x00\x10JFIF\x00", 11)},
        {"signature only", good.left(8)},
        {"cut inside IHDR", good.left(20)},
        {"cut inside IDAT", good.left(iend - 4)},
        {"cut before IEND", good.left(iend)},
        {"no image data", noIdat},
        {"damaged image data", badCrc},
        {"zero width", withSize(good, 0, 2)},
        {"absurd: 2^31 wide", withSize(good, 0x7fffffff, 1)},
        {"absurd: 100000 x 100000", withSize(good, 100000, 100000)},
        {"over the pixel limit: 8192 x 8192", withSize(good, 8192, 8192)},
        {"larger than its data", withSize(good, 4, 200)},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(decodePng(c.bytes).isNull()) << c.name;
}

// The thirteen strips of the toolbar: three sizes, four frames, the fourth never shown and
// fully transparent, the large ones with identical hot and pressed frames.
TEST(DecodePng, ToolbarStrips) {
    const QDir dir(QStringLiteral(VORSA_SPRITES_DIR));
    const QStringList files = dir.entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name);
    ASSERT_EQ(files.size(), 13);
    for (const QString& name : files) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QImage img = decodePng(f.readAll());
        const std::string n = name.toStdString();
        ASSERT_FALSE(img.isNull()) << n;
        const QSize s = img.size();
        ASSERT_TRUE(s == QSize(128, 32) || s == QSize(116, 29) || s == QSize(76, 28)) << n;
        const int fw = s.width() / 4;
        auto frame = [&](int k) { return img.copy(k * fw, 0, fw, s.height()); };
        const QImage f3 = frame(3);
        bool clear = true;
        for (int y = 0; y < f3.height(); ++y)
            for (int x = 0; x < f3.width(); ++x)
                clear = clear && qAlpha(pixel(f3, x, y)) == 0;
        EXPECT_TRUE(clear) << n << ": frame 3 is not transparent";
        EXPECT_NE(frame(0), frame(1)) << n << ": no hot look";
        if (s == QSize(128, 32))
            EXPECT_EQ(frame(1), frame(2)) << n;
        else
            EXPECT_NE(frame(1), frame(2)) << n << ": no pressed look";
    }
}
