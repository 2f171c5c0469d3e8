#include "harvest/unros.h"

#include "harvest/ufun.h"
#include "harvest/unplist.h"
#include "platform/hosts_config.h"
#include "platform/text_lines.h"

namespace vorsa {

void parseRosLines(const std::vector<std::string>& lines, const RowSink& emit) {
    const std::size_t count = lines.size();
    if (count < 2)
        return;
    // The feed's image block ends on a line of its own; the items follow it.
    std::size_t start = 0;
    while (start <= count - 2 && lines[start] != "</image>")
        ++start;
    if (start > count - 2)
        return;
    // The last two lines close the channel and the feed.
    for (std::size_t i = start; i + 2 < count; ++i) {
        if (lines[i].find("</title>") == std::string::npos)
            continue;
        std::string line = lines[i];
        emit(splitAddressPort(GetTag(line, "title")));
    }
}

tdownros::tdownros(MainHost& host) : SourceWorker(host, SourceFields{false, false}, "ros") {}

void tdownros::Execute() {
    const std::string base = hostBase("ros");
    const char* const feeds[] = {"/proxy/l100.xml", "/proxy/plab100.xml"};
    for (int n = 1; n <= 2; ++n) {
        const std::string path = downloadPage(base + feeds[n - 1], std::to_string(n) + ".ros");
        if (path.empty())
            continue;
        ParsePage(path);
    }
}

void tdownros::ParsePage(const std::string& path) {
    if (!fileExists(path))
        return;
    parseRosLines(loadLines(path), rowSink());
    flushRows();
    deleteFile(path);
}

}  // namespace vorsa
