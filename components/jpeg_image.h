#pragma once

#include <QByteArray>
#include <QImage>

// Decodes JPEG bytes with libjpeg. A null image for anything that is not a readable JPEG.
QImage decodeJpeg(const QByteArray& bytes);
