#include "harvest/uproxycn.h"

#include "harvest/unplist.h"
#include "platform/hosts_config.h"
#include "platform/text_lines.h"

#include <string_view>

namespace vorsa {

namespace {

constexpr std::string_view kRowMarker =
    "<TR align=\"center\" bgcolor=\"#fbfbfb\" onDblClick=\"clip(";
// The page puts the marker at the start of the line and one quote after it, so the
// address begins right behind: at offset 55 (character 56), wherever the marker is.
constexpr std::size_t kAddressStart = 55;
constexpr std::string_view kAddressEnd = ");alert(";

}  // namespace

void parseProxycnLines(const std::vector<std::string>& lines, const RowSink& emit) {
    const std::size_t count = lines.size();
    // The last two lines are never part of the table.
    for (std::size_t i = 0; i + 2 < count; ++i) {
        const std::string_view line = lines[i];
        if (line.find(kRowMarker) == std::string_view::npos)
            continue;
        // The address stops two characters before ");alert(": the quote in front of it
        // closes the handler's argument. No end, or an end before the start: empty text.
        std::string_view address;
        const std::size_t end = line.find(kAddressEnd);
        if (end != std::string_view::npos && end > kAddressStart)
            address = line.substr(kAddressStart, end - 1 - kAddressStart);
        emit(splitAddressPort(address));
    }
}

Tproxycn::Tproxycn(MainHost& host) : SourceWorker(host, SourceFields{false, false}, "proxycn") {}

void Tproxycn::Execute() {
    const std::string base = hostBase("proxycn");
    for (int n = 0; n <= 5; ++n) {
        const std::string n_text = std::to_string(n);
        const std::string url = n == 0 ? base + "/html_proxy/30fastproxy-1.html"
                                       : base + "/html_proxy/http-" + n_text + ".html";
        const std::string path = downloadPage(url, n_text + ".pcn");
        if (path.empty())
            continue;
        ParsePage(path);
    }
}

void Tproxycn::ParsePage(const std::string& path) {
    if (!fileExists(path))
        return;
    parseProxycnLines(loadLines(path), rowSink());
    flushRows();
    if (fileExists(path))
        deleteFile(path);
}

}  // namespace vorsa
