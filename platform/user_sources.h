#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vorsa {

// The user's own list pages for the custom-URL source: sources.txt, one URL per line.
struct UserSources {
    std::vector<std::string> urls;  // in file order
    int skipped = 0;                // lines that were neither blank, a comment nor a URL
    bool tooLarge = false;          // a file over the size cap was left unread
};

// Bytes larger than this are not a list of URLs; such a file is not read at all.
inline constexpr std::size_t kMaxSourcesFileBytes = 4u << 20;
// URLs taken from one file; the lines after them count as skipped.
inline constexpr std::size_t kMaxSourcesUrls = 100000;
// A longer line is not taken as a URL.
inline constexpr std::size_t kMaxSourceUrlBytes = 2048;

// Whether a trimmed line is an http:// or https:// URL with a host: no blanks or control
// bytes anywhere in it, at most kMaxSourceUrlBytes.
bool isSourceUrl(std::string_view line);

// Parses the text of a sources file: lines are trimmed; blank lines and lines opening with
// '#' are ignored; URLs are appended to into.urls, anything else counts in into.skipped.
void parseSourceLines(std::string_view bytes, UserSources& into);

// Reads sources.txt from the user's config folder, then the one beside the executable (both
// optional, a missing or unreadable file adds nothing), in that order.
UserSources loadUserSources();

}  // namespace vorsa
