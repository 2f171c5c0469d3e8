#include "sandbox/site.h"

#include "platform/codec.h"

#include <arpa/inet.h>

#include <algorithm>
#include <set>

namespace vorsa::sandbox {

namespace {

const char* const kCrlf = "\r\n";

std::string queryValue(const std::string& query, std::string_view key) {
    std::size_t pos = 0;
    while (pos <= query.size()) {
        std::size_t amp = query.find('&', pos);
        if (amp == std::string::npos)
            amp = query.size();
        std::string_view pair(query.data() + pos, amp - pos);
        if (pair.size() > key.size() && pair.substr(0, key.size()) == key &&
            pair[key.size()] == '=')
            return std::string(pair.substr(key.size() + 1));
        if (pair == key)
            return {};
        pos = amp + 1;
    }
    return {};
}

bool isIpv4(const std::string& text) {
    in_addr a{};
    return text.size() <= 15 && inet_pton(AF_INET, text.c_str(), &a) == 1;
}

std::uint32_t addressHash(const std::string& address) {
    std::uint32_t h = 2166136261u;
    for (unsigned char c : address)
        h = (h ^ c) * 16777619u;
    return h;
}

const char* const kPlaces[] = {"北京市 联通",          "上海市 电信",           "广东省广州市 电信",
                               "浙江省杭州市 Telecom", "江苏省南京市 联通ADSL", "四川省成都市 电信",
                               "湖北省武汉市 移动",    "山东省济南市 网通",     "福建省厦门市 电信",
                               "辽宁省沈阳市 联通"};

// Addresses of the documentation range whose location page is made for one test case.
struct SpecialLocation {
    const char* ip;
    const char* placeUtf8;
    int linesAfter;  // lines after the marker line (the usual page has 5)
};
const SpecialLocation kSpecialLocations[] = {
    {"198.51.100.1", "北京市 联通", 5},
    {"198.51.100.3", "北京市 联通", 3},  // too close to the end: no location
    {"198.51.100.4", "北京市 联通", 4},  // just far enough from the end
    // 45 bytes: the first 40 end on a character boundary
    {"198.51.100.45", "内蒙古自治区呼和浩特市赛罕区大学西街一号 ADSL", 5},
    // 45 bytes: byte 40 is the first half of a character
    {"198.51.100.46", "A内蒙古自治区呼和浩特市赛罕区大学西街一号院内", 5},
};

const SpecialLocation* specialLocation(const std::string& ip) {
    for (const SpecialLocation& s : kSpecialLocations)
        if (ip == s.ip)
            return &s;
    return nullptr;
}

}  // namespace

std::string locationOf(const std::string& ip) {
    if (const SpecialLocation* s = specialLocation(ip))
        return s->linesAfter >= 4 ? gbk::text(s->placeUtf8) : std::string();
    if (!isIpv4(ip))
        return {};
    return gbk::text(kPlaces[addressHash(ip) % std::size(kPlaces)]);
}

const std::string& checkMarker() {
    static const std::string marker = gbk::text("您的IP地址");
    return marker;
}

Site::Site(const Options& options, const std::vector<Proxy>& proxies, std::string baseUrl)
    : m_options(options), m_proxies(proxies), m_baseUrl(std::move(baseUrl)) {
    buildLookupPages();
    buildListSources();
    buildPortals();
}

void Site::addPage(const std::string& pathAndQuery, std::string body, std::string contentType) {
    HttpResponse r;
    r.status = 200;
    r.contentType = std::move(contentType);
    r.body = std::move(body);
    m_pages[pathAndQuery] = std::move(r);
}

void Site::buildLookupPages() {
    // The check page: the marker comes first so that a reader of 120 bytes sees it.
    m_checkHead = "<html><body>" + gbk::text("您的IP地址是：[");
    m_checkTail = gbk::text("] 来自：本地局域网") +
                  "</body></html>\r\n<!-- ip2city service of the vorsa sandbox -->\r\n";
    m_echoHead =
        "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=gb2312\"><title>" +
        gbk::text("IP地址查询") + "</title></head>\r\n<body>\r\n<p>" + gbk::text("您的IP地址是：");
    m_echoTail = "</p>\r\n</body></html>\r\n";

    for (const char* place : kPlaces)
        m_locations.push_back(gbk::text(place));

    m_locationHead =
        "<html>\r\n<head><meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=gb2312\"><title>" +
        gbk::text("IP地址查询") + "</title></head>\r\n<body>\r\n<table>\r\n<tr>\r\n";
    m_locationMarker = "<td align=\"center\"><ul class=\"ul1\"><li>" + gbk::text("本站主数据：");
    m_locationTail = "</li><li>" + gbk::text("参考数据一：") + "</li></ul></td>\r\n</tr>\r\n" +
                     "</table>\r\n<p>" + gbk::text("查询结果仅供参考") +
                     "</p>\r\n</body>\r\n</html>\r\n";
    m_noLocation = m_locationHead + "<td>" + gbk::text("请输入正确的IP地址") +
                   "</td>\r\n</tr>\r\n</table>\r\n</body>\r\n</html>\r\n";
    // A plain-text judge page as users point a checker at: an ASCII keyword, no GBK marker.
    addPage("/judge.txt", "VORSA-JUDGE-OK\nREMOTE_ADDR checked by the sandbox judge\n",
            "text/plain");

    const std::string htmlHead =
        "<html><head><meta http-equiv=\"Content-Type\" "
        "content=\"text/html; charset=gb2312\"><title>";
    addPage("/a/jishuwenzhang/ruanjianshiyong/20110902/15.html",
            htmlHead + gbk::text("Vorsa智能代理 使用帮助") + "</title></head>\r\n<body>\r\n<h1>" +
                gbk::text("Vorsa智能代理 V4.2 使用帮助") + "</h1>\r\n<p>" +
                gbk::text("选择来源后点击“下载列表”，再点击“验证代理”，选中一行后“启用代理”。") +
                "</p>\r\n</body></html>\r\n");
    addPage("/a/ruanjianxiazai/vorsaruanjian/20110901/7.html",
            htmlHead + gbk::text("Vorsa浏览器 下载") + "</title></head>\r\n<body>\r\n<h1>" +
                gbk::text("Vorsa浏览器 下载") + "</h1>\r\n<p>" +
                gbk::text("本页面属于模拟网络，没有可下载的文件。") + "</p>\r\n</body></html>\r\n");
}

HttpResponse Site::checkPage(const std::string& query, const std::string& peer) const {
    HttpResponse r;
    r.contentType = "text/html; charset=gb2312";
    const std::string variant = queryValue(query, "variant");
    if (variant == "empty")
        return r;
    if (variant == "late") {
        // The marker lies past the first 120 bytes.
        r.body = "<html><head><!--" + std::string(160, '-') + "--></head><body>" + m_checkHead +
                 peer + m_checkTail;
        return r;
    }
    if (variant == "utf8") {
        r.contentType = "text/html; charset=utf-8";
        r.body = "<html><body>\xE6\x82\xA8\xE7\x9A\x84IP\xE5\x9C\xB0\xE5\x9D\x80 [" + peer +
                 "]</body></html>\r\n";
        return r;
    }
    r.body = m_checkHead + peer + m_checkTail;
    return r;
}

HttpResponse Site::echoPage(const std::string& peer) const {
    HttpResponse r;
    r.contentType = "text/html; charset=gb2312";
    r.body = m_echoHead + peer + m_echoTail;
    return r;
}

HttpResponse Site::locationPage(const std::string& query) const {
    HttpResponse r;
    r.contentType = "text/html; charset=gb2312";
    const std::string ip = queryValue(query, "ip");
    if (queryValue(query, "action") != "2" || !isIpv4(ip)) {
        r.body = m_noLocation;
        return r;
    }
    if (const SpecialLocation* special = specialLocation(ip)) {
        const std::string tail[] = {"</tr>", "</table>", "</body>", "</html>", "<!-- -->"};
        r.body = m_locationHead + m_locationMarker + gbk::text(special->placeUtf8) + "</li><li>" +
                 gbk::text("参考数据一：") + "</li></ul></td>\r\n";
        for (int k = 0; k < special->linesAfter; ++k)
            r.body += tail[k] + "\r\n";
        return r;
    }
    const std::string& place = m_locations[addressHash(ip) % m_locations.size()];
    r.body = m_locationHead + m_locationMarker + place + m_locationTail;
    return r;
}

HttpResponse Site::handle(const HttpRequest& request, const std::string& peer) const {
    const std::string& path = request.path;
    if (path == "/ip2city.asp")
        return checkPage(request.query, peer);
    if (path == "/showip.asp" || path == "/yourip.php" || path == "/proxy/showip.asp")
        return echoPage(peer);
    if (path == "/ips.asp")
        return locationPage(request.query);
    if (path == "/redirect") {
        HttpResponse r;
        r.status = 302;
        r.headers.emplace_back("Location", "/ip2city.asp");
        return r;
    }
    auto it = request.query.empty() ? m_pages.end() : m_pages.find(path + "?" + request.query);
    if (it == m_pages.end())
        it = m_pages.find(path);
    if (it != m_pages.end())
        return it->second;
    HttpResponse r;
    r.status = 404;
    r.body = "<html><body>404 Not Found</body></html>\r\n";
    return r;
}

std::vector<std::string> Site::expectedHarvest() const {
    std::set<std::string> all(m_synthetic.begin(), m_synthetic.end());
    for (const ExpectedRow& row : m_expected)
        all.insert(row.Ip + ":" + row.Port);
    return {all.begin(), all.end()};
}

namespace {

struct Entry {
    std::string ip, port;
    int index;  // proxy index, or -1 for a synthetic address
};

// Source s lists proxy i unless (i + s) % 3 == 0: every proxy appears in several sources,
// so the harvest has repeats to remove, and every source lists most proxies.
std::vector<Entry> listedBy(const std::vector<Proxy>& proxies, int source) {
    std::vector<Entry> out;
    for (const Proxy& p : proxies)
        if ((p.index + source) % 3 != 0)
            out.push_back({p.address, std::to_string(p.port), p.index});
    return out;
}

// Distributes entries round-robin over n pages.
std::vector<std::vector<Entry>> spread(const std::vector<Entry>& entries, std::size_t n) {
    std::vector<std::vector<Entry>> pages(n);
    for (std::size_t j = 0; j < entries.size(); ++j)
        pages[j % n].push_back(entries[j]);
    return pages;
}

std::string lines(const std::vector<std::string>& all) {
    std::string out;
    for (const std::string& l : all)
        out += l + kCrlf;
    return out;
}

void footer(std::vector<std::string>& out, int n) {
    for (int i = 0; i < n; ++i)
        out.push_back("<p class=\"foot\">" + std::to_string(i + 1) + "</p>");
    out.push_back("</body>");
    out.push_back("</html>");
}

std::string cnpScript(const std::string& port) {
    static const char codes[] = {'d', 'c', 'k', 'z', 'm', 'b', 'w', 'i', 'r', 'l'};
    std::string script = "document.write(\":\"";
    for (char digit : port)
        script += std::string("+") + codes[digit - '0'];
    return script + ")";
}

std::string antiCodes(const std::string& port) {
    std::string out;
    for (char digit : port) {
        if (!out.empty())
            out += ',';
        out += std::to_string(digit - '0' + 49);
    }
    return out;
}

const char* const kProxynetPlaces[] = {"China Beijing", "Hong Kong",   "Taiwan Taipei",
                                       "Japan Tokyo",   "Korea Seoul", "Singapore"};

}  // namespace

void Site::buildListSources() {
    const std::string htmlHead = "<html>";
    const std::string meta =
        "<head><meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=gb2312\"><title>" +
        gbk::text("免费代理列表") + "</title></head>";
    auto place = [&](int index) { return m_locations[std::size_t(index) % m_locations.size()]; };

    // cnp: ten pages, the port written by a script in letter codes.
    {
        auto pages = spread(listedBy(m_proxies, 0), 10);
        for (std::size_t n = 0; n < pages.size(); ++n) {
            std::vector<std::string> page = {
                htmlHead + meta,
                "<script type=\"text/javascript\">r=\"8\";d=\"0\";z=\"3\";m=\"4\";k=\"2\";"
                "l=\"9\";b=\"5\";i=\"7\";w=\"6\";c=\"1\";</script>",
                "<body><table width=\"100%\" border=\"0\">",
                "<tr><td width=\"140\">IP:Port</td><td width=\"40\">Type</td><td "
                "width=\"90\">Speed</td><td width=\"160\"> Country/Area</td></tr>"};
            for (const Entry& e : pages[n]) {
                page.push_back("<tr><td>" + e.ip + "<SCRIPT type=text/javascript>" +
                               cnpScript(e.port) + "</SCRIPT></td><td>HTTP</td><td>0." +
                               std::to_string(10 + e.index) + "</td><td>" + place(e.index) +
                               "</td></tr>");
                m_expected.push_back({"cnp", e.ip, e.port, "HTTP", place(e.index)});
            }
            page.push_back("</table>");
            footer(page, 3);
            addPage("/proxy" + std::to_string(n + 1) + ".html", lines(page));
        }
    }

    // proxycn: six pages, the address inside a double-click handler.
    {
        auto pages = spread(listedBy(m_proxies, 1), 6);
        for (std::size_t n = 0; n < pages.size(); ++n) {
            std::vector<std::string> page = {htmlHead + meta, "<body>",
                                             "<TABLE width=\"100%\" border=\"0\">"};
            for (const Entry& e : pages[n]) {
                page.push_back("<TR align=\"center\" bgcolor=\"#fbfbfb\" onDblClick=\"clip('" +
                               e.ip + ":" + e.port + "');alert('" + gbk::text("已拷贝到剪贴板!") +
                               "')\">");
                page.push_back("<TD>" + e.ip + "</TD><TD>" + e.port + "</TD><TD>HTTP</TD><TD>" +
                               place(e.index) + "</TD></TR>");
                m_expected.push_back({"proxycn", e.ip, e.port, "", ""});
            }
            page.push_back("</TABLE>");
            footer(page, 2);
            addPage(n == 0 ? std::string("/html_proxy/30fastproxy-1.html")
                           : "/html_proxy/http-" + std::to_string(n) + ".html",
                    lines(page));
        }
    }

    // proxynet: five pages, one cell per line, seven lines per row.
    {
        auto pages = spread(listedBy(m_proxies, 3), 5);
        for (std::size_t n = 0; n < pages.size(); ++n) {
            std::vector<std::string> page = {
                htmlHead,        "<head><title>Lista proxy</title></head>",
                "<body>",        "<div class=\"content\"><table id=\"proxy-list\" width=\"100%\">",
                "<thead>",       "<tr>",
                "<th>IP</th>",   "<th>Port</th>",
                "<th>Type</th>", "<th>Country</th>",
                "</tr>",         "</thead><tbody><tr>"};
            for (const Entry& e : pages[n]) {
                std::string where = kProxynetPlaces[std::size_t(e.index) % 6];
                page.insert(page.end(), {"  <td>" + e.ip + "</td>", "  <td>" + e.port + "</td>",
                                         "  <td>http</td>", "  <td>" + where + "</td>",
                                         "  <td>anonymous</td>", "</tr>", "<tr>"});
                m_expected.push_back({"proxynet", e.ip, e.port, "HTTP", gbk::toUpperAscii(where)});
            }
            if (!pages[n].empty())
                page.back() = "</tbody>";
            page.push_back("  </table>  ");
            page.push_back("</div>");
            footer(page, 8);
            addPage("/lista-proxy/lista-" + std::to_string(n + 1) + "-" + std::to_string(n + 17) +
                        ".html",
                    lines(page));
        }
    }

    // ros: two RSS feeds, one item per proxy after the image block.
    {
        auto feeds = spread(listedBy(m_proxies, 4), 2);
        const char* paths[] = {"/proxy/l100.xml", "/proxy/plab100.xml"};
        for (std::size_t n = 0; n < feeds.size(); ++n) {
            std::vector<std::string> feed = {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
                                             "<rss version=\"2.0\">",
                                             "<channel>",
                                             "<title>Proxy list</title>",
                                             "<link>" + m_baseUrl + "/proxy/</link>",
                                             "<description>Fresh HTTP proxies</description>",
                                             "<image>",
                                             "<url>" + m_baseUrl + "/proxy/logo.gif</url>",
                                             "<title>Proxy list</title>",
                                             "<link>" + m_baseUrl + "/proxy/</link>",
                                             "</image>"};
            for (const Entry& e : feeds[n]) {
                feed.insert(feed.end(), {"<item>", "<title>" + e.ip + ":" + e.port + "</title>",
                                         "<link>" + m_baseUrl + "/proxy/" + e.ip + "</link>",
                                         "<description>HTTP proxy</description>", "</item>"});
                m_expected.push_back({"ros", e.ip, e.port, "", ""});
            }
            feed.push_back("</channel>");
            feed.push_back("</rss>");
            addPage(paths[n], lines(feed), "text/xml");
        }
    }

    // Synthetic addresses for the scaled lists: loopback too (127.64.0.0 and up, where
    // nothing listens), so even a validation of them never leaves the machine.
    for (int i = 0; i < m_options.scale; ++i)
        m_synthetic.push_back("127." + std::to_string(64 + i / 64516) + "." +
                              std::to_string((i / 254) % 254 + 1) + "." +
                              std::to_string(i % 254 + 1) + ":" + std::to_string(8000 + i % 1000));

    // proxylists: two plain-text lists.
    {
        auto lists = spread(listedBy(m_proxies, 5), 2);
        const char* paths[] = {"/http_highanon.txt", "/http.txt"};
        for (std::size_t n = 0; n < lists.size(); ++n) {
            std::string text;
            for (const Entry& e : lists[n]) {
                text += e.ip + ":" + e.port + kCrlf;
                m_expected.push_back({"proxylists", e.ip, e.port, "", ""});
            }
            if (n == 1)
                for (const std::string& s : m_synthetic)
                    text += s + kCrlf;
            addPage(paths[n], std::move(text), "text/plain");
        }
    }

    // antipalivo: one page, ports as character codes inside a decode() call, and a long tail.
    {
        std::vector<std::string> page = {htmlHead,
                                         "<head><title>Proxy list</title></head>",
                                         "<body>",
                                         "<table class=\"proxy\">",
                                         "<tr><td align=\"center\" colspan=\"5\">HTTP</td></tr>",
                                         "<tr><th>IP</th><th>Port</th><th>Type</th></tr>"};
        for (const Entry& e : listedBy(m_proxies, 6)) {
            page.push_back("<tr><td>" + e.ip + "</td><td><script>port=decode(\"" +
                           antiCodes(e.port) +
                           "\");</script></td><td>HTTP</td><td>Elite</td></tr>");
            m_expected.push_back({"antipalivo", e.ip, e.port, "", ""});
        }
        page.push_back("</table>");
        footer(page, 230);
        addPage("/proxy/list", lines(page));
    }
}

std::string Site::articlePage(const std::vector<std::string>& bodyLines) const {
    std::vector<std::string> page = {"<html>",
                                     "<head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                                     "charset=gb2312\"><title>" +
                                         gbk::text("最新免费代理") + "</title></head>",
                                     "<body>"};
    page.insert(page.end(), bodyLines.begin(), bodyLines.end());
    footer(page, 2);
    return lines(page);
}

void Site::buildPortals() {
    // Custom-URL articles, in the order discovery adds them: portal A (2), B (2), C (1).
    const std::vector<std::string> customPaths = {"/ip/2011/0901/a1.html", "/ip/2011/0831/a2.html",
                                                  "/html/26/n-1001.html", "/html/26/n-1002.html",
                                                  "/daili/zxhttp/2011/0901/c1.html"};
    {
        auto pages = spread(listedBy(m_proxies, 7), customPaths.size());
        for (std::size_t n = 0; n < customPaths.size(); ++n) {
            std::vector<std::string> body = {"<p>" + gbk::text("今日免费HTTP代理，每天更新：") +
                                             "</p>"};
            for (const Entry& e : pages[n]) {
                body.push_back("<p>" + e.ip + ":" + e.port + " HTTP " + gbk::text("高匿") +
                               "<br /></p>");
                m_expected.push_back({"custom", e.ip, e.port, "", ""});
            }
            if (!pages[n].empty()) {
                // A repeat inside one page: two rows, removed after the harvest.
                const Entry& e = pages[n].front();
                body.push_back("<p>" + gbk::text("推荐：") + e.ip + ":" + e.port + "</p>");
                m_expected.push_back({"custom", e.ip, e.port, "", ""});
            }
            for (std::size_t i = n; i < m_synthetic.size(); i += customPaths.size())
                body.push_back(m_synthetic[i] + "<br />");
            addPage(customPaths[n], articlePage(body));
        }
    }

    const std::string meta =
        "<head><meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=gb2312\"><title>" +
        gbk::text("代理资源") + "</title></head>";

    // Portal A: links two and three lines below the marker; the first carries a category
    // link in front that the reader must skip.
    addPage("/ip/", lines({"<html>", meta, "<body>", "<div class=\"box\">",
                           "<h3><span class=\"boxhead\">" + gbk::text("最新更新资源") +
                               "</span><span class=\"morelinks\"><a href=\"/ip/list_1.html\">" +
                               gbk::text("更多") + "</a></span></h3>",
                           "<ul>",
                           "<li><a href=\"/ip/list_12.html\">[" + gbk::text("国内代理") +
                               "]</a> <a href=\"/ip/2011/0901/a1.html\" title=\"" +
                               gbk::text("9月1日 最新代理") + "\">" + gbk::text("9月1日 最新代理") +
                               "</a></li>",
                           "<li><a href=\"/ip/2011/0831/a2.html\" title=\"" +
                               gbk::text("8月31日 最新代理") + "\">" +
                               gbk::text("8月31日 最新代理") + "</a></li>",
                           "<li><a href=\"/ip/2011/0830/a3.html\" title=\"old\">old</a></li>",
                           "</ul>", "</div>", "</body>", "</html>"}));

    // Portal B: links four and eight lines below the marker.
    addPage("/html/26/category-catid-126.html",
            lines({"<html>", meta, "<body>", "<h3>" + gbk::text("资讯列表") + "</h3>",
                   "<ul class=\"list\">", "<li>", "<span class=\"date\">2011-09-01</span>",
                   "<a href=\"/html/26/n-1001.html\" target=\"_blank\">" +
                       gbk::text("免费代理 9月1日") + "</a>",
                   "</li>", "<li>", "<span class=\"date\">2011-08-31</span>",
                   "<a href=\"/html/26/n-1002.html\" target=\"_blank\">" +
                       gbk::text("免费代理 8月31日") + "</a>",
                   "</li>", "</ul>", "</body>", "</html>"}));

    // Portal C: one link two lines below the marker.
    addPage("/daili/zxhttp/",
            lines({"<html>", meta, "<body>", "<div class=\"newslist\">", "<ul>",
                   "<li><a href=\"/daili/zxhttp/2011/0901/c1.html\">" + gbk::text("最新HTTP代理") +
                       "</a><span>2011-09-01</span></li>",
                   "<li><a href=\"/daili/zxhttp/2011/0831/c2.html\">old</a></li>", "</ul>",
                   "</div>", "</body>", "</html>"}));

    // Portal D: two class pages of article lines. Lines with "顶" (pinned) are skipped;
    // at most seven are taken per page; class 36 links one article of class 37 again.
    auto link = [](const std::string& href, const std::string& title) {
        return "<li><a href=\"" + href + "\" target=\"_blank\">" + title +
               "</a><span>2011-09-01</span></li>";
    };
    std::vector<std::string> class37 = {
        "<html>", meta,
        "<body>", "<div id=\"nw_left\">",
        "<ul>",   link("Article/top37.html", "[" + gbk::text("顶") + "]" + gbk::text("使用说明"))};
    std::vector<std::string> articles37, articles36;
    for (int k = 1; k <= 8; ++k)
        articles37.push_back("Article/2011/0901/37-" + std::to_string(k) + ".html");
    articles36 = {articles37[1]};
    for (int k = 2; k <= 5; ++k)
        articles36.push_back("Article/2011/0901/36-" + std::to_string(k) + ".html");
    for (const std::string& a : articles37)
        class37.push_back(link(a, gbk::text("免费代理")));
    std::vector<std::string> class36 = {"<html>", meta, "<body>", "<div id=\"nw_left\">", "<ul>"};
    for (std::size_t k = 0; k < articles36.size(); ++k) {
        class36.push_back(link(articles36[k], gbk::text("免费代理")));
        if (k == 1)
            class36.push_back(
                link("Article/top36.html", gbk::text("置顶") + " " + gbk::text("顶")));
    }
    for (auto* page : {&class37, &class36}) {
        page->insert(page->end(),
                     {"</ul>", "</div>", "<div id=\"nw_right\">",
                      "<a href=\"Class.asp?ID=37\">37</a>", "</div>", "</body>", "</html>"});
    }
    addPage("/Class.asp?ID=37", lines(class37));
    addPage("/Class.asp?ID=36", lines(class36));

    // The article list as discovery builds it: seven of class 37, then those of class 36.
    std::vector<std::string> articleUrls(articles37.begin(), articles37.begin() + 7);
    articleUrls.insert(articleUrls.end(), articles36.begin(), articles36.end());

    // Rows go to the distinct articles that are downloaded (entry 0 never is); entry 0
    // itself lists every proxy, which a harvest must not see.
    std::vector<std::string> distinct;
    for (std::size_t i = 1; i < articleUrls.size(); ++i)
        if (std::find(distinct.begin(), distinct.end(), articleUrls[i]) == distinct.end())
            distinct.push_back(articleUrls[i]);
    auto pages = spread(listedBy(m_proxies, 2), distinct.size());
    std::map<std::string, std::vector<Entry>> rowsOf;
    for (std::size_t k = 0; k < distinct.size(); ++k)
        rowsOf[distinct[k]] = pages[k];
    std::vector<Entry> everyone;
    for (const Proxy& p : m_proxies)
        everyone.push_back({p.address, std::to_string(p.port), p.index});
    rowsOf[articleUrls[0]] = everyone;
    rowsOf[articles37[7]] = everyone;  // linked but past the seven taken

    for (const auto& [path, rows] : rowsOf) {
        std::vector<std::string> page = {
            "<html>",
            "<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">"
            "<title>" +
                gbk::text("免费代理IP") + "</title></head>",
            "<body>",
            "<div class=\"content\">",
            "<p>" + gbk::text("更新时间：2011-09-01") + "</p>",
            "<table width=\"100%\" border=\"0\" cellpadding=\"2\">",
            "<TR bgcolor=\"#FFFFFF\"><td>IP</td><td>" + gbk::text("端口") + "</td><td>" +
                gbk::text("位置") + "</td><td>" + gbk::text("类型") + "</td></TR>"};
        for (const Entry& e : rows)
            page.insert(page.end(),
                        {"<td>" + e.ip + "</td>", "<td>" + e.port + "</td>",
                         "<td>" + m_locations[std::size_t(e.index) % m_locations.size()] + "</td>",
                         "<td>HTTP</td>", "</tr>", "<tr>"});
        if (!rows.empty())
            page.pop_back();
        page.push_back("</table>");
        page.push_back("</div>");
        footer(page, 16);
        addPage("/" + path, lines(page));
    }
    for (std::size_t i = 1; i < articleUrls.size(); ++i)
        for (const Entry& e : rowsOf[articleUrls[i]])
            m_expected.push_back(
                {"haozs", e.ip, e.port, "",
                 gbk::toUpperAscii(m_locations[std::size_t(e.index) % m_locations.size()])});
}

}  // namespace vorsa::sandbox
