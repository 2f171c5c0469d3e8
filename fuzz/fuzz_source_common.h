#pragma once

// Shared by the list-source fuzz targets: the page as the worker would load it, and the
// checks every row must pass whatever the bytes were.
#include "harvest/source_worker.h"
#include "platform/text_lines.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace vorsa::fuzz {

inline std::vector<std::string> pageLines(const std::uint8_t* data, std::size_t size) {
    return splitLines(std::string_view(reinterpret_cast<const char*>(data), size));
}

inline std::size_t longestLine(const std::vector<std::string>& lines) {
    std::size_t longest = 0;
    for (const std::string& l : lines)
        longest = std::max(longest, l.size());
    return longest;
}

// Every cell comes out of one line, so none can be longer than the longest line; a parser
// gives at most one row per line.
inline void runParser(void (*parser)(const std::vector<std::string>&, const RowSink&),
                      const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> lines = pageLines(data, size);
    const std::size_t longest = longestLine(lines);
    std::size_t rows = 0;
    parser(lines, [&](const HarvestRow& r) {
        ++rows;
        if (r.Ip.size() > longest || r.Port.size() > longest || r.Protocol.size() > longest ||
            r.Location.size() > longest)
            std::abort();
    });
    if (rows > lines.size())
        std::abort();
}

}  // namespace vorsa::fuzz
