#include "codec.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

namespace vorsa::gbk {
namespace {

// iconv descriptors are not thread-safe, and opening one costs more than a short
// conversion: each thread keeps its own pair.
class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {
        if (m_cd == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error("iconv cannot convert between GBK and UTF-16");
    }
    ~Converter() { iconv_close(m_cd); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    iconv_t get() const {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);  // reset shift state
        return m_cd;
    }

private:
    iconv_t m_cd;
};

iconv_t decoder() {
    thread_local Converter c("UTF-16LE", "GBK");
    return c.get();
}

iconv_t encoder() {
    thread_local Converter c("GBK", "UTF-16LE");
    return c.get();
}

}  // namespace

QString toUnicode(std::string_view bytes) {
    QString out;
    if (bytes.empty())
        return out;
    out.reserve(static_cast<qsizetype>(bytes.size()));
    iconv_t cd = decoder();
    std::vector<char16_t> buf(bytes.size() + 4);
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* outp = reinterpret_cast<char*>(buf.data());
        size_t outLeft = buf.size() * sizeof(char16_t);
        size_t r = iconv(cd, &in, &inLeft, &outp, &outLeft);
        size_t produced = (buf.size() * sizeof(char16_t) - outLeft) / sizeof(char16_t);
        out.append(reinterpret_cast<const QChar*>(buf.data()), static_cast<qsizetype>(produced));
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            // EILSEQ or EINVAL (a lead byte at the end): replace one byte and go on.
            out.append(QChar(0xFFFD));
            ++in;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

std::string fromUnicode(const QString& text) {
    std::string out;
    if (text.isEmpty())
        return out;
    iconv_t cd = encoder();
    out.reserve(static_cast<size_t>(text.size()) * 2);
    std::vector<char> buf(static_cast<size_t>(text.size()) * 2 + 8);
    char* in = const_cast<char*>(reinterpret_cast<const char*>(text.utf16()));
    size_t inLeft = static_cast<size_t>(text.size()) * sizeof(char16_t);
    while (inLeft > 0) {
        char* outp = buf.data();
        size_t outLeft = buf.size();
        size_t r = iconv(cd, &in, &inLeft, &outp, &outLeft);
        out.append(buf.data(), buf.size() - outLeft);
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            // A character GBK lacks (or a lone surrogate): one '?' per UTF-16 unit,
            // two units for a valid surrogate pair.
            const char16_t* unit = reinterpret_cast<const char16_t*>(in);
            size_t skip = sizeof(char16_t);
            if (inLeft >= 4 && QChar::isHighSurrogate(unit[0]) && QChar::isLowSurrogate(unit[1]))
                skip = 2 * sizeof(char16_t);
            out.push_back('?');
            in += skip;
            inLeft -= skip < inLeft ? skip : inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

std::string text(std::string_view utf8) {
    return fromUnicode(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
}

std::size_t charLength(std::string_view bytes, std::size_t pos) {
    const auto b = static_cast<unsigned char>(bytes[pos]);
    return (b >= 0x81 && b <= 0xFE && pos + 1 < bytes.size()) ? 2 : 1;
}

std::string cut(std::string_view bytes, std::size_t maxBytes) {
    if (bytes.size() <= maxBytes)
        return std::string(bytes);
    std::size_t pos = 0;
    while (pos < maxBytes) {
        std::size_t len = charLength(bytes, pos);
        if (pos + len > maxBytes)
            break;
        pos += len;
    }
    return std::string(bytes.substr(0, pos));
}

namespace {

// Shifts the letters first..last by delta, character by character: the trail byte of a
// double-byte character may be a letter (縣 is BF 68) and stays as it is.
std::string shiftAsciiLetters(std::string_view bytes, char first, char last, int delta) {
    std::string out(bytes);
    for (std::size_t pos = 0; pos < out.size();) {
        const std::size_t len = charLength(out, pos);
        char& c = out[pos];
        if (len == 1 && c >= first && c <= last)
            c = static_cast<char>(c + delta);
        pos += len;
    }
    return out;
}

}  // namespace

std::string toUpperAscii(std::string_view bytes) {
    return shiftAsciiLetters(bytes, 'a', 'z', 'A' - 'a');
}

std::string toLowerAscii(std::string_view bytes) {
    return shiftAsciiLetters(bytes, 'A', 'Z', 'a' - 'A');
}

std::string_view trimView(std::string_view bytes) {
    std::size_t b = 0, e = bytes.size();
    while (b < e && static_cast<unsigned char>(bytes[b]) <= 32)
        ++b;
    while (e > b && static_cast<unsigned char>(bytes[e - 1]) <= 32)
        --e;
    return bytes.substr(b, e - b);
}

std::string trim(std::string_view bytes) {
    return std::string(trimView(bytes));
}

}  // namespace vorsa::gbk
