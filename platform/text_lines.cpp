#include "text_lines.h"

#include <sys/stat.h>

#include <cstdio>

namespace vorsa {

std::vector<std::string> splitLines(std::string_view bytes) {
    std::vector<std::string> lines;
    forEachLine(bytes, [&](std::string_view line) { lines.emplace_back(line); });
    return lines;
}

bool readFileBytes(const std::string& path, std::string& out) {
    out.clear();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    struct stat st {};
    if (::fstat(::fileno(f), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        out.reserve(static_cast<std::size_t>(st.st_size));
    char buf[65536];
    bool ok = true;
    for (;;) {
        std::size_t got = std::fread(buf, 1, sizeof buf, f);
        out.append(buf, got);
        if (got < sizeof buf) {
            ok = !std::ferror(f);
            break;
        }
    }
    std::fclose(f);
    return ok;
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace vorsa
