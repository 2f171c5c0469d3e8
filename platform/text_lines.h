#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vorsa {

// Splits bytes into lines at CR LF, a lone CR or a lone LF. A last line without a line end
// counts; a final line end does not make an empty last line.
std::vector<std::string> splitLines(std::string_view bytes);

// The same lines, handed to visit(std::string_view) one by one without copying them.
template <typename Visit>
void forEachLine(std::string_view bytes, Visit&& visit) {
    std::size_t start = 0;
    const std::size_t n = bytes.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n')
            continue;
        visit(bytes.substr(start, i - start));
        if (c == '\r' && i + 1 < n && bytes[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        visit(bytes.substr(start));
}

// Reads a whole file as bytes. False when it cannot be opened or read.
bool readFileBytes(const std::string& path, std::string& out);

// Replaces the file at path with bytes (mode 0600 when new), creating missing parent folders
// (0700): written beside it and renamed into place, so a reader never sees half a file and a
// failed write leaves the old one whole. Throws std::runtime_error naming the file.
void replaceFileBytes(const std::string& path, std::string_view bytes);

// Whether a regular file (or anything else that is not a directory) exists at path.
bool fileExists(const std::string& path);

}  // namespace vorsa
