#include "harvest/unpnet.h"

#include "harvest/ufun.h"
#include "platform/codec.h"
#include "platform/hosts_config.h"
#include "platform/text_lines.h"

#include <string_view>

namespace vorsa {

namespace {

constexpr std::string_view kTableMarker =
    "<div class=\"content\"><table id=\"proxy-list\" width=\"100%\">";
// The header row and its cells take the eight lines after the marker.
constexpr std::size_t kFirstRowOffset = 9;
constexpr std::size_t kRowLines = 7;

std::string upperCell(const std::string& line) {
    std::string upper = gbk::toUpperAscii(line);
    return GetTag(upper, "TD");
}

}  // namespace

void parseProxynetLines(const std::vector<std::string>& lines, const RowSink& emit) {
    const std::size_t count = lines.size();
    std::size_t marker = 0;
    while (marker < count && lines[marker].find(kTableMarker) == std::string::npos)
        ++marker;
    if (marker >= count)
        return;
    // r < count - 8 keeps the four cell lines inside the page.
    for (std::size_t r = marker + kFirstRowOffset; r + 8 < count; r += kRowLines) {
        if (gbk::trim(lines[r]) == "</table>")
            return;
        HarvestRow row;
        row.Ip = upperCell(lines[r]);
        row.Port = upperCell(lines[r + 1]);
        row.Protocol = upperCell(lines[r + 2]);
        row.Location = upperCell(lines[r + 3]);
        emit(row);
    }
}

Tproxynet::Tproxynet(MainHost& host) : SourceWorker(host, SourceFields{true, true}, "proxynet") {}

void Tproxynet::Execute() {
    const std::string base = hostBase("proxynet");
    for (int n = 1; n <= 5; ++n) {
        const std::string n_text = std::to_string(n);
        const std::string url =
            base + "/lista-proxy/lista-" + n_text + "-" + std::to_string(n + 16) + ".html";
        const std::string path = downloadPage(url, n_text + ".pnet");
        if (path.empty())
            continue;
        ParsePage(path);
    }
}

void Tproxynet::ParsePage(const std::string& path) {
    if (!fileExists(path))
        return;
    parseProxynetLines(loadLines(path), rowSink());
    flushRows();
    if (fileExists(path))
        deleteFile(path);
}

}  // namespace vorsa
