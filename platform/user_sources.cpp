#include "user_sources.h"

#include "codec.h"
#include "hosts_config.h"
#include "text_lines.h"

#include <sys/stat.h>

namespace vorsa {

bool isSourceUrl(std::string_view line) {
    if (line.size() > kMaxSourceUrlBytes)
        return false;
    const std::string head = gbk::toLowerAscii(line.substr(0, 8));
    std::size_t schemeLen = 0;
    if (head.rfind("http://", 0) == 0)
        schemeLen = 7;
    else if (head.rfind("https://", 0) == 0)
        schemeLen = 8;
    else
        return false;
    for (char c : line) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7f)
            return false;
    }
    // A host must follow the scheme: "http://" alone or "http:///x" names nothing.
    const std::string_view rest = line.substr(schemeLen);
    return !rest.empty() && rest.front() != '/' && rest.front() != '?' && rest.front() != '#';
}

void parseSourceLines(std::string_view bytes, UserSources& into) {
    // Editors on some systems open a UTF-8 file with a byte-order mark.
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        bytes.remove_prefix(3);
    forEachLine(bytes, [&](std::string_view raw) {
        const std::string line = gbk::trim(raw);
        if (line.empty() || line.front() == '#')
            return;
        if (!isSourceUrl(line) || into.urls.size() >= kMaxSourcesUrls) {
            ++into.skipped;
            return;
        }
        into.urls.push_back(line);
    });
}

namespace {

void loadSourcesFile(const std::string& path, UserSources& into) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return;
    if (static_cast<unsigned long long>(st.st_size) > kMaxSourcesFileBytes) {
        into.tooLarge = true;
        return;
    }
    std::string bytes;
    if (!readFileBytes(path, bytes))
        return;
    // The file may have grown between stat and read.
    if (bytes.size() > kMaxSourcesFileBytes) {
        into.tooLarge = true;
        return;
    }
    parseSourceLines(bytes, into);
}

}  // namespace

UserSources loadUserSources() {
    UserSources out;
    if (const std::string cfg = userConfigFolder(); !cfg.empty())
        loadSourcesFile(cfg + "/sources.txt", out);
    if (const std::string exe = executableDirectory(); !exe.empty())
        loadSourcesFile(exe + "/sources.txt", out);
    return out;
}

}  // namespace vorsa
