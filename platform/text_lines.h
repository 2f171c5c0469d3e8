#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vorsa {

// Splits bytes into lines at CR LF, a lone CR or a lone LF. A last line without a line end
// counts; a final line end does not make an empty last line.
std::vector<std::string> splitLines(std::string_view bytes);

// Reads a whole file as bytes. False when it cannot be opened or read.
bool readFileBytes(const std::string& path, std::string& out);

// Whether a regular file (or anything else that is not a directory) exists at path.
bool fileExists(const std::string& path);

}  // namespace vorsa
