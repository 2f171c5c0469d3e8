#include "harvest/ungetnewurl.h"

#include "harvest/ufun.h"
#include "platform/codec.h"
#include "platform/hosts_config.h"
#include "platform/page_download.h"
#include "platform/run_directory.h"
#include "platform/text_lines.h"

#include <cstdio>
#include <utility>

namespace vorsa {

namespace {

// Index of the first line holding marker, or -1.
int markerLine(const std::vector<std::string>& lines, const std::string& marker) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find(marker) != std::string::npos)
            return static_cast<int>(i);
    }
    return -1;
}

// The text after the first startAnchor (or from startAnchor.size() - 1 on when it is missing,
// as a search result of "not found" would give) up to the first endAnchor; "" when endAnchor
// is missing or lies before that start.
std::string between(const std::string& line, std::string_view startAnchor,
                    std::string_view endAnchor, std::size_t endExtra = 0) {
    const std::size_t hit = line.find(startAnchor);
    const std::size_t start =
        hit == std::string::npos ? startAnchor.size() - 1 : hit + startAnchor.size();
    const std::size_t endHit = line.find(endAnchor);
    if (endHit == std::string::npos)
        return {};
    const std::size_t end = endHit + endExtra;
    if (end <= start)
        return {};
    return line.substr(start, end - start);
}

const std::string* lineAt(const std::vector<std::string>& lines, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= lines.size())
        return nullptr;
    return &lines[static_cast<std::size_t>(index)];
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Bytes a path (or its query) may carry as they are. '@' is left out on purpose: it is legal
// in a path, but it is the one byte that makes a careless reader see user-info.
bool keptAsIs(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return std::string_view("-._~!$&'()*+,;=:/?").find(c) != std::string_view::npos;
}

}  // namespace

std::string joinPortalLink(const std::string& base, std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    if (path.empty())
        return base;
    std::string url;
    url.reserve(base.size() + path.size() + 1);
    url += base;
    // Without its '/', a link such as ".example.net/x" or ":81@h/x" would run on into the host.
    if (path.front() != '/')
        url += '/';
    bool fragment = false;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        bool keep = keptAsIs(c);
        if (c == '/' && i == 1 && path[0] == '/')
            keep = false;  // "//host/..." reads as an authority when resolved as a reference
        else if (c == '%')
            keep = i + 2 < path.size() && isHexDigit(path[i + 1]) && isHexDigit(path[i + 2]);
        else if (c == '#')
            keep = !std::exchange(fragment, true);
        if (keep) {
            url += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            url += '%';
            url += kHex[byte >> 4];
            url += kHex[byte & 0x0F];
        }
    }
    return url;
}

std::vector<std::string> parsePortalA(const std::vector<std::string>& lines,
                                      const std::string& base) {
    static const std::string marker =
        gbk::text("<h3><span class=\"boxhead\">最新更新资源</span><span class=\"morelinks\">");
    std::vector<std::string> links;
    const int m = markerLine(lines, marker);
    if (m < 0)
        return links;
    for (int offset : {2, 3}) {
        const std::string* line = lineAt(lines, m + offset);
        if (!line)
            continue;
        const std::string fixed = ReplaceAll(*line, "href=\"/ip/list", "\"");
        links.push_back(
            joinPortalLink(base, "/ip/" + between(fixed, "<a href=\"/ip/", "\" title=")));
    }
    return links;
}

std::vector<std::string> parsePortalB(const std::vector<std::string>& lines,
                                      const std::string& base) {
    static const std::string marker = gbk::text("<h3>资讯列表</h3>");
    std::vector<std::string> links;
    const int m = markerLine(lines, marker);
    if (m < 0)
        return links;
    for (int offset : {4, 8}) {
        if (const std::string* line = lineAt(lines, m + offset))
            links.push_back(joinPortalLink(base, between(*line, "<a href=\"", "\" target")));
    }
    return links;
}

std::vector<std::string> parsePortalC(const std::vector<std::string>& lines,
                                      const std::string& base) {
    std::vector<std::string> links;
    const int m = markerLine(lines, "<div class=\"newslist\">");
    if (m < 0)
        return links;
    if (const std::string* line = lineAt(lines, m + 2))
        links.push_back(joinPortalLink(base, between(*line, "<a href=\"", "\">")));
    return links;
}

std::vector<std::string> parsePortalD(const std::vector<std::string>& lines,
                                      const std::string& base) {
    static const std::string pinned = gbk::text("顶");
    std::vector<std::string> links;
    const int m = markerLine(lines, "<div id=\"nw_left\">");
    if (m < 0)
        return links;
    int qualifying = 0;
    for (std::size_t i = static_cast<std::size_t>(m); i < lines.size() && qualifying < 7; ++i) {
        const std::string& line = lines[i];
        if (line.find(".html") == std::string::npos || line.find(pinned) != std::string::npos)
            continue;
        ++qualifying;
        // The link keeps its "html"; only the quote after it is dropped.
        links.push_back(joinPortalLink(base, "/" + between(line, "href=\"", "html\"", 4)));
    }
    return links;
}

Tgetnewurl::~Tgetnewurl() {
    if (!m_jobDir.empty()) {
        RunDirectory::instance().removeJobDirectory(m_jobDir);
    }
}

void Tgetnewurl::Execute() {
    using Parser =
        std::vector<std::string> (*)(const std::vector<std::string>&, const std::string&);
    struct Step {
        const char* host;
        const char* path;
        const char* file;
        Parser parse;
        SharedUrlList* list;
    };
    const Step steps[] = {
        {"portal_a", "/ip/", "admin.url", parsePortalA, CustomUrls},
        {"portal_b", "/html/26/category-catid-126.html", "sooip.url", parsePortalB, CustomUrls},
        {"portal_c", "/daili/zxhttp/", "3ghttp.url", parsePortalC, CustomUrls},
        {"portal_d", "/Class.asp?ID=37", "haozs.1st", parsePortalD, ArticleUrls},
        {"portal_d", "/Class.asp?ID=36", "haozs.2st", parsePortalD, ArticleUrls},
    };
    m_jobDir = RunDirectory::instance().createJobDirectory("newurl");
    for (const Step& step : steps) {
        const std::string base = hostBase(step.host);
        const std::string path = RunDirectory::filePath(m_jobDir, step.file);
        if (URLDownloadToFile(base + step.path, path) != 0)
            continue;
        if (!fileExists(path))
            continue;
        std::string bytes;
        if (readFileBytes(path, bytes) && step.list) {
            for (std::string& link : step.parse(splitLines(bytes), base))
                step.list->append(std::move(link));
        }
        std::remove(path.c_str());
    }
}

}  // namespace vorsa
