#include "harvest/ungetnewurl.h"
#include "platform/codec.h"
#include "platform/page_download.h"
#include "tests/support/loopback_server.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <unistd.h>

namespace vorsa {
namespace {

using Lines = std::vector<std::string>;
using Parser = std::vector<std::string> (*)(const Lines&, const std::string&);

const std::string kBase = "http://127.0.0.1:9";

std::string markerA() {
    return gbk::text("<h3><span class=\"boxhead\">最新更新资源</span><span class=\"morelinks\">");
}
std::string markerB() {
    return gbk::text("<h3>资讯列表</h3>");
}
const std::string kMarkerC = "<div class=\"newslist\">";
const std::string kMarkerD = "<div id=\"nw_left\">";

struct PortalCase {
    const char* label;
    Parser parse;
    Lines lines;
    std::vector<std::string> links;
};

class PortalTest : public testing::TestWithParam<PortalCase> {};

TEST_P(PortalTest, Links) {
    const PortalCase& c = GetParam();
    EXPECT_EQ(c.parse(c.lines, kBase), c.links);
}

const std::string kArticleA =
    "<li><a href=\"/ip/list_3.html\">[more]</a><a href=\"/ip/2026/12/0801.html\" title=\"t\">";
const std::string kArticleA2 = "<li><a href=\"/ip/2026/12/0702.html\" title=\"u\">x</a></li>";

std::vector<PortalCase> portalCases() {
    std::vector<PortalCase> v;
    // Portal A: two lines, two and three below the marker; the category link is masked first.
    v.push_back({"A_TwoLinks",
                 parsePortalA,
                 {"x", markerA(), "", kArticleA, kArticleA2, "<li>later</li>"},
                 {kBase + "/ip/2026/12/0801.html", kBase + "/ip/2026/12/0702.html"}});
    v.push_back({"A_MarkerInsideLongerLine",
                 parsePortalA,
                 {"<div>" + markerA() + "<a>", "", kArticleA2, kArticleA2},
                 {kBase + "/ip/2026/12/0702.html", kBase + "/ip/2026/12/0702.html"}});
    v.push_back({"A_NoMarker", parsePortalA, {kArticleA, kArticleA2, kArticleA2}, {}});
    v.push_back({"A_SecondLinePastEnd",
                 parsePortalA,
                 {markerA(), "", kArticleA2},
                 {kBase + "/ip/2026/12/0702.html"}});
    v.push_back({"A_BothPastEnd", parsePortalA, {markerA(), ""}, {}});
    // Without its start anchor the link starts at the 13th character.
    v.push_back({"A_NoStartAnchor",
                 parsePortalA,
                 {markerA(), "", "0123456789abcdef\" title=\"x\"", "no end anchor here"},
                 {kBase + "/ip/cdef", kBase + "/ip/"}});
    v.push_back({"A_EndBeforeStart",
                 parsePortalA,
                 {markerA(), "", "\" title=<a href=\"/ip/1.html\" title=", ""},
                 {kBase + "/ip/", kBase + "/ip/"}});
    // Portal B: four and eight below the marker.
    v.push_back({"B_TwoLinks",
                 parsePortalB,
                 {markerB(), "1", "2", "3", "<a href=\"/html/26/n-1.html\" target=\"_blank\">", "5",
                  "6", "7", "<li><a href=\"/html/26/n-2.html\" target=\"_blank\">a</a>"},
                 {kBase + "/html/26/n-1.html", kBase + "/html/26/n-2.html"}});
    v.push_back({"B_EighthLinePastEnd",
                 parsePortalB,
                 {markerB(), "1", "2", "3", "<a href=\"/a.html\" target=\"x\">", "5"},
                 {kBase + "/a.html"}});
    v.push_back({"B_NoStartAnchor",
                 parsePortalB,
                 {markerB(), "", "", "", "12345678/x.html\" target", "", "", "", "none"},
                 {kBase + "/x.html", kBase}});
    // Portal C: one line, two below the marker; the link ends at the first quote before '>'.
    v.push_back({"C_Link",
                 parsePortalC,
                 {"<body>", kMarkerC, "<ul>", "<li><a href=\"/daili/zxhttp/77.html\">new</a>"},
                 {kBase + "/daili/zxhttp/77.html"}});
    v.push_back({"C_LinePastEnd", parsePortalC, {kMarkerC, "<ul>"}, {}});
    v.push_back({"C_EndAnchorFirst",
                 parsePortalC,
                 {kMarkerC, "", "<b class=\"x\"><a href=\"/y.html\">"},
                 {kBase}});
    return v;
}

INSTANTIATE_TEST_SUITE_P(Cases, PortalTest, testing::ValuesIn(portalCases()),
                         [](const auto& info) { return std::string(info.param.label); });

std::string dLine(int n) {
    return "<li><a href=\"html/2026/" + std::to_string(n) + ".html\" target=_blank>t</a></li>";
}

TEST(PortalD, SevenQualifyingLinesFromTheMarkerLineOn) {
    const std::string pinned = gbk::text("<li><a href=\"html/top.html\">顶 置顶</a></li>");
    Lines lines = {"<a href=\"html/before.html\">", kMarkerD + dLine(0), pinned, "<li>plain</li>"};
    for (int n = 1; n <= 9; ++n)
        lines.push_back(dLine(n));
    std::vector<std::string> expected;
    for (int n = 0; n < 7; ++n)
        expected.push_back(kBase + "/html/2026/" + std::to_string(n) + ".html");
    EXPECT_EQ(parsePortalD(lines, kBase), expected);
}

TEST(PortalD, LinesWithPinMarkOnlyGiveNothing) {
    const std::string pinned = gbk::text("顶");
    Lines lines = {kMarkerD, dLine(1) + pinned, pinned + dLine(2), "end"};
    EXPECT_TRUE(parsePortalD(lines, kBase).empty());
}

TEST(PortalD, AnchorsNotChecked) {
    // Missing href=": starts at the 6th character; "html" without a quote: empty link. Both
    // lines still count and add a URL.
    Lines lines = {kMarkerD, "abcdefgh.html\"", "<a href=\"x.html>", "<a href=\"1.html\">"};
    EXPECT_EQ(parsePortalD(lines, kBase),
              (std::vector<std::string>{kBase + "/fgh.html", kBase + "/", kBase + "/1.html"}));
}

TEST(PortalD, NoMarker) {
    EXPECT_TRUE(parsePortalD({dLine(1), dLine(2)}, kBase).empty());
}

TEST(Portals, AnyBytesNeverCrash) {
    // Markers on the last line, empty lines, a large binary line: no rows read past the end.
    std::string junk(1 << 20, '\0');
    for (std::size_t i = 0; i < junk.size(); ++i)
        junk[i] = static_cast<char>((i * 7919u) & 0xFF);
    const Lines pages[] = {
        {},
        {""},
        {markerA()},
        {markerB()},
        {kMarkerC},
        {kMarkerD},
        {junk, markerA(), junk},
        {kMarkerD + junk + ".html"},
        {"\xB6", "\xA5" + kMarkerD},
    };
    for (const Lines& page : pages) {
        parsePortalA(page, kBase);
        parsePortalB(page, kBase);
        parsePortalC(page, kBase);
        EXPECT_LE(parsePortalD(page, kBase).size(), 7u);
    }
}

// Host and port as libcurl, the parser the download uses, reads them from url; "" when it
// refuses the URL.
std::string curlAuthority(const std::string& url) {
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> u(curl_url(), curl_url_cleanup);
    if (curl_url_set(u.get(), CURLUPART_URL, url.c_str(),
                     CURLU_GUESS_SCHEME | CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
        return {};
    std::string authority;
    for (CURLUPart part : {CURLUPART_HOST, CURLUPART_PORT, CURLUPART_USER}) {
        char* text = nullptr;
        if (curl_url_get(u.get(), part, &text, 0) == CURLUE_OK) {
            authority += text;
            curl_free(text);
        }
        authority += '|';
    }
    return authority;
}

// Links a page may hold to send the request elsewhere: user-info, a backslash, an encoded
// '@', a host suffix, a second authority, an absolute URL, IPv6 brackets, a header injection.
const std::vector<std::string>& hostileLinks() {
    static const std::vector<std::string> links = {
        "@127.0.0.5:18514/c.html",
        ":18514@127.0.0.5/c.html",
        "\\@127.0.0.5/c.html",
        "/\\127.0.0.5/c.html",
        "\\\\127.0.0.5\\c.html",
        "%40127.0.0.5/c.html",
        "%2F%2F127.0.0.5/c.html",
        ".evil.test/c.html",
        "evil.test/c.html",
        "//127.0.0.5:18514/c.html",
        "///127.0.0.5/c.html",
        "http://127.0.0.5:18514/c.html",
        "?@127.0.0.5/",
        "#@127.0.0.5/",
        "[::2]:18514/c.html",
        "]@127.0.0.5/",
        "/c.html\r\nHost: 127.0.0.5",
        " @127.0.0.5/c.html",
        "\t@127.0.0.5/",
        std::string("\0@127.0.0.5/", 12),
        "\x7f@127.0.0.5/",
        "%4@127.0.0.5/",
        "\xD6\xD0@127.0.0.5/",
        "a@b@127.0.0.5/",
    };
    return links;
}

TEST(PortalLinks, StayOnThePortalHost) {
    const std::vector<std::string> bases = {"http://127.0.0.1:18508", "http://[::1]:18508",
                                            "http://localhost"};
    for (const std::string& base : bases) {
        const std::string expected = curlAuthority(base);
        ASSERT_FALSE(expected.empty()) << base;
        for (const std::string& link : hostileLinks()) {
            const std::string url = joinPortalLink(base, link);
            EXPECT_EQ(curlAuthority(url), expected) << url;
            for (char c : url.substr(base.size()))
                EXPECT_TRUE(c > ' ' && c < '\x7f' && c != '@' && c != '\\') << url;
        }
    }
}

TEST(PortalLinks, EachPortalJoinsThroughTheGuard) {
    const std::string link = "@127.0.0.5:18514/c.html";
    const std::string encoded = "%40127.0.0.5:18514/c.html";
    EXPECT_EQ(parsePortalA({markerA(), "", "<a href=\"/ip/" + link + "\" title=\"t\">"}, kBase),
              std::vector<std::string>{kBase + "/ip/" + encoded});
    EXPECT_EQ(
        parsePortalB({markerB(), "", "", "", "<a href=\"" + link + "\" target=_blank>"}, kBase),
        std::vector<std::string>{kBase + "/" + encoded});
    EXPECT_EQ(parsePortalC({kMarkerC, "", "<a href=\"" + link + "\">"}, kBase),
              std::vector<std::string>{kBase + "/" + encoded});
    EXPECT_EQ(parsePortalD({kMarkerD, "<a href=\"/127.0.0.5:18514/c.html\">"}, kBase),
              std::vector<std::string>{kBase + "/%2F127.0.0.5:18514/c.html"});
}

TEST(PortalLinks, OrdinaryLinksUnchangedAndOddBytesEncoded) {
    const struct {
        const char* path;
        std::string url;
    } cases[] = {
        {"", kBase},
        {"/", kBase + "/"},
        {"/ip/2011/0901/a1.html", kBase + "/ip/2011/0901/a1.html"},
        {"/html/26/n-1001.html", kBase + "/html/26/n-1001.html"},
        {"/show.asp?id=3&p=2", kBase + "/show.asp?id=3&p=2"},
        {"/a.html#top", kBase + "/a.html#top"},
        {"/%E4%B8%AD.html", kBase + "/%E4%B8%AD.html"},
        {"/a_b-c~d;e=f,g(1)!*'$+:x.html", kBase + "/a_b-c~d;e=f,g(1)!*'$+:x.html"},
        {"/a/../b//c.html", kBase + "/a/../b//c.html"},
        {"/a b.html", kBase + "/a%20b.html"},
        {"/\xD6\xD0.html", kBase + "/%D6%D0.html"},
        {"/100%.html", kBase + "/100%25.html"},
        {"/a#b#c", kBase + "/a#b%23c"},
        {"?q=1", kBase + "/?q=1"},
        {"x.html", kBase + "/x.html"},
        {"//x/y.html", kBase + "/%2Fx/y.html"},
        {"/a\"<>[]{}|^`.html", kBase + "/a%22%3C%3E%5B%5D%7B%7D%7C%5E%60.html"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(joinPortalLink(kBase, c.path), c.url) << c.path;
}

TEST(PortalLinks, DownloadGoesToThePortalOnly) {
    using test::LoopbackServer;
    LoopbackServer elsewhere([](const LoopbackServer::Request&) {
        return LoopbackServer::Reply{LoopbackServer::response(200, "10.0.0.1:80")};
    });
    std::mutex mutex;
    std::vector<std::string> targets;
    LoopbackServer portal([&](const LoopbackServer::Request& r) {
        std::lock_guard<std::mutex> lock(mutex);
        targets.push_back(r.target);
        return LoopbackServer::Reply{LoopbackServer::response(200, "ok")};
    });
    const std::string base = "http://127.0.0.1:" + std::to_string(portal.port());
    const std::string other = "127.0.0.1:" + std::to_string(elsewhere.port());
    const std::string file =
        (std::filesystem::temp_directory_path() / ("vorsa-portal-" + std::to_string(::getpid())))
            .string();
    // No Internet Settings store: the downloads go direct, whatever the user's desktop says.
    ::setenv("VORSA_INTERNET_SETTINGS", (file + ".ini").c_str(), 1);
    const std::string tricks[] = {"@" + other + "/c.html", ":1@" + other + "/c.html",
                                  "\\@" + other + "/c.html", "//" + other + "/c.html",
                                  "http://" + other + "/c.html"};
    for (const std::string& trick : tricks) {
        const auto links = parsePortalC({kMarkerC, "", "<a href=\"" + trick + "\">"}, base);
        ASSERT_EQ(links.size(), 1u);
        EXPECT_EQ(URLDownloadToFile(links[0], file), 0) << links[0];
    }
    std::remove(file.c_str());
    ::unsetenv("VORSA_INTERNET_SETTINGS");
    EXPECT_EQ(elsewhere.requestCount(), 0);
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(targets.size(), std::size(tricks));
    EXPECT_EQ(targets[0], "/%40" + other + "/c.html");
}

}  // namespace
}  // namespace vorsa
