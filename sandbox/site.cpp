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
        if (amp == std::string::npos) amp = query.size();
        std::string_view pair(query.data() + pos, amp - pos);
        if (pair.size() > key.size() && pair.substr(0, key.size()) == key &&
            pair[key.size()] == '=')
            return std::string(pair.substr(key.size() + 1));
        if (pair == key) return {};
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
    for (unsigned char c : address) h = (h ^ c) * 16777619u;
    return h;
}

}  // namespace

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

    for (const char* place :
         {"北京市 联通", "上海市 电信", "广东省广州市 电信", "浙江省杭州市 Telecom",
          "江苏省南京市 联通ADSL", "四川省成都市 电信", "湖北省武汉市 移动", "山东省济南市 网通",
          "福建省厦门市 电信", "辽宁省沈阳市 联通"})
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
    if (variant == "empty") return r;
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
    const std::string& place = m_locations[addressHash(ip) % m_locations.size()];
    r.body = m_locationHead + m_locationMarker + place + m_locationTail;
    return r;
}

HttpResponse Site::handle(const HttpRequest& request, const std::string& peer) const {
    const std::string& path = request.path;
    if (path == "/ip2city.asp") return checkPage(request.query, peer);
    if (path == "/showip.asp" || path == "/yourip.php" || path == "/proxy/showip.asp")
        return echoPage(peer);
    if (path == "/ips.asp") return locationPage(request.query);
    if (path == "/redirect") {
        HttpResponse r;
        r.status = 302;
        r.headers.emplace_back("Location", "/ip2city.asp");
        return r;
    }
    auto it = request.query.empty() ? m_pages.end() : m_pages.find(path + "?" + request.query);
    if (it == m_pages.end()) it = m_pages.find(path);
    if (it != m_pages.end()) return it->second;
    HttpResponse r;
    r.status = 404;
    r.body = "<html><body>404 Not Found</body></html>\r\n";
    return r;
}

std::vector<std::string> Site::expectedHarvest() const {
    std::set<std::string> all(m_synthetic.begin(), m_synthetic.end());
    for (const ExpectedRow& row : m_expected) all.insert(row.Ip + ":" + row.Port);
    return {all.begin(), all.end()};
}

void Site::buildListSources() {}

void Site::buildPortals() {}

}  // namespace vorsa::sandbox
