#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vorsa {

// Where every proxy check goes and what the reply must carry: the URL, the marker (GBK
// bytes) and how many body bytes are read for it. Read from the [check] section of hosts.ini
// (url=, marker= in UTF-8, bytes=); a missing key keeps its default, a value that makes no
// sense is refused (with a message in problems) and its default used.
struct CheckSettings {
    std::string url;
    std::string marker;
    std::size_t bytes = 0;
    std::vector<std::string> problems;  // GBK, one line per refused value
};

inline constexpr std::size_t kMaxCheckBytes = 1024 * 1024;

CheckSettings defaultCheckSettings();

// Checks raw values as they stand in the file (nullptr = not given).
CheckSettings makeCheckSettings(const std::string* url, const std::string* markerUtf8,
                                const std::string* bytes);

// The settings of the hosts files, read once (reloadCheckSettings() forgets them).
CheckSettings checkSettings();
void reloadCheckSettings();

}  // namespace vorsa
