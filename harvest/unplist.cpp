#include "harvest/unplist.h"

#include "platform/hosts_config.h"
#include "platform/text_lines.h"

namespace vorsa {

HarvestRow splitAddressPort(std::string_view text) {
    HarvestRow row;
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        row.Ip = text;
        return row;
    }
    row.Ip = text.substr(0, colon);
    row.Port = text.substr(colon + 1);
    return row;
}

void parseProxylistsLines(const std::vector<std::string>& lines, const RowSink& emit) {
    for (const std::string& line : lines) {
        if (line.find(':') != std::string::npos)
            emit(splitAddressPort(line));
    }
}

Tproxylists::Tproxylists(MainHost& host)
    : SourceWorker(host, SourceFields{false, false}, "proxylists") {}

void Tproxylists::Execute() {
    const std::string base = hostBase("proxylists");
    struct List {
        const char* path;
        const char* file;
    };
    for (const List& list : {List{"/http_highanon.txt", "pn.1st"}, List{"/http.txt", "pn.2st"}}) {
        const std::string path = downloadPage(base + list.path, list.file);
        if (path.empty())
            continue;
        ParsePage(path);
    }
}

void Tproxylists::ParsePage(const std::string& path) {
    if (!fileExists(path))
        return;
    parseProxylistsLines(loadLines(path), rowSink());
    flushRows();
    deleteFile(path);
}

}  // namespace vorsa
