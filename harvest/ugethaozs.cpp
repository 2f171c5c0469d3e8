#include "harvest/ugethaozs.h"

#include "harvest/ufun.h"
#include "platform/codec.h"
#include "platform/text_lines.h"

#include <string_view>

namespace vorsa {

namespace {

// Pages shorter than this are not searched for the header row.
constexpr std::size_t kSearchedMinimum = 20;

bool isHeaderRow(const std::string& line) {
    const std::string lower = gbk::toLowerAscii(line);
    return lower.find("<tr bgcolor=") != std::string::npos &&
           lower.find("#ffffff") != std::string::npos;
}

std::string upperCell(const std::string& line) {
    std::string upper = gbk::toUpperAscii(line);
    return GetTag(upper, "TD");
}

}  // namespace

void parseHaozsLines(const std::vector<std::string>& lines, const RowSink& emit) {
    const std::size_t count = lines.size();
    std::size_t header = 0;
    if (count >= kSearchedMinimum) {
        header = count - 19;
        for (std::size_t i = 0; i <= count - 20; ++i) {
            if (isHeaderRow(lines[i])) {
                header = i;
                break;
            }
        }
    }
    std::size_t r = header + 1;
    for (;;) {
        // A row or its step line past the end ends the page.
        if (r + 2 >= count)
            return;
        if (gbk::toUpperAscii(lines[r]).find("TD") == std::string::npos)
            return;
        HarvestRow row;
        row.Ip = upperCell(lines[r]);
        row.Port = upperCell(lines[r + 1]);
        row.Location = upperCell(lines[r + 2]);
        emit(row);
        r += 5;
        if (r >= count)
            return;
        if (lines[r].find("<tr") != std::string::npos)
            ++r;
        if (count < 15 || r > count - 15)
            return;
    }
}

Tgethaozs::Tgethaozs(MainHost& host) : SourceWorker(host, SourceFields{false, true}, "haozs") {}

void Tgethaozs::Execute() {
    if (!UrlList)
        return;
    // Entries discovery adds after the start are left for the next harvest.
    const int count = UrlList->count();
    for (int i = 1; i < count; ++i) {
        const std::string url = UrlList->at(i);
        const std::string path = downloadPage(url, std::to_string(i) + ".hao");
        if (path.empty())
            continue;
        ParsePage(path);
    }
}

void Tgethaozs::ParsePage(const std::string& path) {
    if (!fileExists(path))
        return;
    parseHaozsLines(loadLines(path), rowSink());
    flushRows();
    if (fileExists(path))
        deleteFile(path);
}

}  // namespace vorsa
