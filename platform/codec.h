#pragma once

#include <QString>

#include <string>
#include <string_view>

// Every program text, table field and file is GBK (code page 936) bytes. This is the one
// place that converts between those bytes and Qt's Unicode strings.
namespace vorsa::gbk {

// GBK bytes to Unicode. Bytes that are not valid GBK become U+FFFD, one per bad byte.
QString toUnicode(std::string_view bytes);

// Unicode to GBK bytes. Characters GBK cannot hold become '?'.
std::string fromUnicode(const QString& text);

// A UTF-8 literal of the source code as GBK bytes, converted once per call site:
// gbk::text("共有") is the program's own text in its own code page.
std::string text(std::string_view utf8);

// The first at most maxBytes bytes of a GBK text, never ending inside a double-byte
// character: a lead byte whose trail byte would fall past the cut is dropped as well.
std::string cut(std::string_view bytes, std::size_t maxBytes);

// Length in bytes of the character that starts at bytes[pos]: 2 for a lead byte
// (0x81..0xFE) followed by any byte, else 1.
std::size_t charLength(std::string_view bytes, std::size_t pos);

// ASCII-only case changes: other bytes, Chinese text included, stay as they are, and so
// does the trail byte of a double-byte character even where it is a letter.
std::string toUpperAscii(std::string_view bytes);
std::string toLowerAscii(std::string_view bytes);

// Removes leading and trailing bytes with codes up to 32 (blanks and control characters).
std::string trim(std::string_view bytes);
// The same without a copy: the part of bytes that trim keeps.
std::string_view trimView(std::string_view bytes);

}  // namespace vorsa::gbk
