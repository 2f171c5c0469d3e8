#include "sandbox/http_engine.h"
#include "sandbox/sandbox.h"

#include "platform/codec.h"
#include "platform/hosts_config.h"
#include "platform/text_lines.h"
#include "tests/sandbox/http_client.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

using namespace vorsa::sandbox;
using vorsa::test::fetch;

namespace {

std::string g(const char* utf8) {
    return vorsa::gbk::text(utf8);
}

class SandboxTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        s_sandbox = new Sandbox();
    }
    static void TearDownTestSuite() {
        delete s_sandbox;
        s_sandbox = nullptr;
    }
    static Sandbox* s_sandbox;
    Sandbox& sb() { return *s_sandbox; }
};
Sandbox* SandboxTest::s_sandbox = nullptr;

TEST_F(SandboxTest, CheckPageVariantsPlaceTheGbkMarkerWhereTheCheckLooks) {
    struct Case {
        const char* query;
        bool markerInFirst120;
        bool markerAnywhere;
    } cases[] = {
        {"", true, true},
        {"?variant=late", false, true},
        {"?variant=empty", false, false},
        {"?variant=utf8", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        auto r = fetch(sb().url(std::string("/ip2city.asp") + c.query));
        ASSERT_EQ(r.code, CURLE_OK);
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.body.substr(0, 120).find(checkMarker()) != std::string::npos,
                  c.markerInFirst120);
        EXPECT_EQ(r.body.find(checkMarker()) != std::string::npos, c.markerAnywhere);
    }
    // The good page names the address the server saw.
    EXPECT_NE(fetch(sb().url("/ip2city.asp")).body.find(g("您的IP地址是：[127.0.0.1]")),
              std::string::npos);
}

TEST_F(SandboxTest, LocationPageHasTheLookupLayoutForAddressesOnly) {
    const std::string marker = "<td align=\"center\"><ul class=\"ul1\"><li>" + g("本站主数据");
    for (const char* ip : {"127.0.0.2", "10.1.2.3", "202.96.134.133"}) {
        SCOPED_TRACE(ip);
        auto r = fetch(sb().url(std::string("/ips.asp?ip=") + ip + "&action=2"));
        ASSERT_EQ(r.status, 200);
        auto lines = vorsa::splitLines(r.body);
        std::size_t i = 0;
        while (i < lines.size() && lines[i].find(marker) == std::string::npos)
            ++i;
        ASSERT_LT(i + 4, lines.size()) << "marker line with four lines after it";
        std::size_t colon = lines[i].find("\xA3\xBA");
        std::size_t end = lines[i].find("</li>");
        ASSERT_NE(colon, std::string::npos);
        ASSERT_NE(end, std::string::npos);
        ASSERT_LT(colon, end);
        std::string place = lines[i].substr(colon + 2, end - colon - 2);
        EXPECT_FALSE(vorsa::gbk::trim(place).empty());
        // The same address always gets the same place.
        EXPECT_EQ(fetch(sb().url(std::string("/ips.asp?ip=") + ip + "&action=2")).body, r.body);
    }
    for (const char* query : {"ip=not-an-address&action=2", "ip=127.0.0.2&action=1", "ip="}) {
        SCOPED_TRACE(query);
        auto r = fetch(sb().url(std::string("/ips.asp?") + query));
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.body.find(marker), std::string::npos);
    }
}

TEST_F(SandboxTest, EveryPageTheProgramReadsIsServed) {
    struct Case {
        const char* path;
        const char* mustContain;  // UTF-8, compared as GBK
    } cases[] = {
        {"/showip.asp", "您的IP地址是：127.0.0.1"},
        {"/yourip.php", "您的IP地址是：127.0.0.1"},
        {"/proxy/showip.asp", "您的IP地址是：127.0.0.1"},
        {"/a/jishuwenzhang/ruanjianshiyong/20110902/15.html", "使用帮助"},
        {"/a/ruanjianxiazai/vorsaruanjian/20110901/7.html", "下载"},
        {"/proxy1.html", "<td width=\"140\">IP:Port</td>"},
        {"/proxy10.html", "</table>"},
        {"/html_proxy/30fastproxy-1.html", "onDblClick=\"clip("},
        {"/html_proxy/http-5.html", "</TABLE>"},
        {"/lista-proxy/lista-1-17.html", "<table id=\"proxy-list\""},
        {"/lista-proxy/lista-5-21.html", "</table>"},
        {"/proxy/l100.xml", "</image>"},
        {"/proxy/plab100.xml", "</image>"},
        {"/http_highanon.txt", ":"},
        {"/http.txt", ":"},
        {"/proxy/list", "colspan=\"5\">HTTP</td></tr>"},
        {"/ip/", "最新更新资源"},
        {"/html/26/category-catid-126.html", "<h3>资讯列表</h3>"},
        {"/daili/zxhttp/", "<div class=\"newslist\">"},
        {"/Class.asp?ID=37", "<div id=\"nw_left\">"},
        {"/Class.asp?ID=36", "<div id=\"nw_left\">"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        auto r = fetch(sb().url(c.path));
        ASSERT_EQ(r.code, CURLE_OK);
        EXPECT_EQ(r.status, 200);
        EXPECT_NE(r.body.find(g(c.mustContain)), std::string::npos);
    }
    EXPECT_EQ(fetch(sb().url("/no/such/page.html")).status, 404);
    EXPECT_EQ(fetch(sb().url("/Class.asp?ID=99")).status, 404);
}

TEST_F(SandboxTest, ProxiesBehaveAsTheirKindSays) {
    enum class Seen { Page, Stripped, Status, Nothing, Refused, TimedOut };
    struct Case {
        Behaviour behaviour;
        Seen seen;
        long status;
    } cases[] = {
        {Behaviour::Forward, Seen::Page, 200},         {Behaviour::ForwardDelayed, Seen::Page, 200},
        {Behaviour::StripMarker, Seen::Stripped, 200}, {Behaviour::Answer404, Seen::Status, 404},
        {Behaviour::Answer502, Seen::Status, 502},     {Behaviour::CloseAtOnce, Seen::Nothing, 0},
        {Behaviour::NeverAnswer, Seen::TimedOut, 0},   {Behaviour::NotListening, Seen::Refused, 0},
    };
    for (const Case& c : cases) {
        for (const Proxy& p : sb().proxiesWith(c.behaviour)) {
            SCOPED_TRACE(std::string(behaviourName(c.behaviour)) + " " + p.proxyString());
            // Only the proxy that never answers gets a short client timeout.
            auto r = fetch(sb().url("/ip2city.asp"), p.proxyString(),
                           c.seen == Seen::TimedOut ? 800 : 20000);
            switch (c.seen) {
                case Seen::Page:
                case Seen::Stripped: {
                    ASSERT_EQ(r.code, CURLE_OK);
                    EXPECT_EQ(r.status, c.status);
                    // The web sees the proxy's own address, not the client's.
                    EXPECT_NE(r.body.find("[" + p.address + "]"), std::string::npos);
                    EXPECT_EQ(r.body.find(checkMarker()) != std::string::npos,
                              c.seen == Seen::Page);
                    EXPECT_GE(r.elapsedMs, p.delayMs);
                    break;
                }
                case Seen::Status:
                    ASSERT_EQ(r.code, CURLE_OK);
                    EXPECT_EQ(r.status, c.status);
                    break;
                case Seen::Nothing:
                    EXPECT_TRUE(r.code == CURLE_GOT_NOTHING || r.code == CURLE_RECV_ERROR)
                        << curl_easy_strerror(r.code);
                    break;
                case Seen::TimedOut:
                    EXPECT_EQ(r.code, CURLE_OPERATION_TIMEDOUT);
                    break;
                case Seen::Refused:
                    EXPECT_EQ(r.code, CURLE_COULDNT_CONNECT);
                    break;
            }
        }
    }
}

TEST_F(SandboxTest, RequestLogShowsBothHopsOfAForwardedRequest) {
    const Proxy& p = sb().proxy(Behaviour::Forward);
    sb().clearRequests();
    auto r =
        fetch(sb().url("/yourip.php?x=1"), p.proxyString(), 20000, "ZaDIvez Internet Checker 1.0");
    ASSERT_EQ(r.status, 200);
    auto log = sb().requests();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].listener, p.proxyString());
    EXPECT_EQ(log[0].proxyIndex, p.index);
    EXPECT_EQ(log[0].target, sb().url("/yourip.php?x=1"));
    EXPECT_EQ(log[0].peer, "127.0.0.1");
    EXPECT_EQ(log[1].listener, "server");
    EXPECT_EQ(log[1].proxyIndex, -1);
    EXPECT_EQ(log[1].target, "/yourip.php?x=1");
    EXPECT_EQ(log[1].peer, p.address);
    for (const LoggedRequest& e : log) {
        EXPECT_EQ(e.method, "GET");
        EXPECT_EQ(e.path, "/yourip.php");
        EXPECT_EQ(e.query, "x=1");
        EXPECT_EQ(e.host, "127.0.0.1:" + std::to_string(sb().port()));
        EXPECT_EQ(e.userAgent, "ZaDIvez Internet Checker 1.0");
    }
}

TEST_F(SandboxTest, ProxiesForwardOnlyToLoopback) {
    const Proxy& p = sb().proxy(Behaviour::Forward);
    sb().clearRequests();
    // Nothing may be contacted: the proxy answers 502 itself and the server sees nothing.
    for (const char* url : {"http://192.0.2.1/ip2city.asp", "http://example.com/ip2city.asp",
                            "http://[::ffff:10.0.0.1]/"}) {
        SCOPED_TRACE(url);
        auto r = fetch(url, p.proxyString(), 20000);
        ASSERT_EQ(r.code, CURLE_OK);
        EXPECT_EQ(r.status, 502);
    }
    for (const LoggedRequest& e : sb().requests())
        EXPECT_NE(e.listener, "server");

    struct Case {
        const char* target;
        bool allowed;
        const char* address;
        int port;
    } cases[] = {
        {"http://127.0.0.1:8790/ip2city.asp", true, "127.0.0.1", 8790},
        {"http://127.9.8.7/", true, "127.9.8.7", 80},
        {"HTTP://localhost:81", true, "127.0.0.1", 81},
        {"http://128.0.0.1/", false, "", 0},
        {"http://127.0.0.1.example.com/", false, "", 0},
        {"http://user@127.0.0.1/", false, "", 0},
        {"http://127.0.0.1:0/", false, "", 0},
        {"http://127.0.0.1:65536/", false, "", 0},
        {"http://127.0.0.1:80x/", false, "", 0},
        {"https://127.0.0.1/", false, "", 0},
        {"/ip2city.asp", false, "", 0},
        {"http://0x7f000001/", false, "", 0},
        {"http://[::1]:80/", false, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        std::string address;
        std::uint16_t port = 0;
        ASSERT_EQ(loopbackTarget(c.target, address, port), c.allowed);
        if (c.allowed) {
            EXPECT_EQ(address, c.address);
            EXPECT_EQ(port, c.port);
        }
    }
}

TEST_F(SandboxTest, HostsFilePointsEveryKeyAtTheSandbox) {
    auto dir =
        std::filesystem::temp_directory_path() / ("sandbox-hosts-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "hosts.ini").string();
    sb().writeHostsIni(path);
    ::setenv("VORSA_HOSTS", path.c_str(), 1);
    vorsa::reloadHosts();
    for (std::string_view key : vorsa::hostKeys()) {
        SCOPED_TRACE(std::string(key));
        EXPECT_EQ(vorsa::hostBase(key), sb().baseUrl());
    }
    ::unsetenv("VORSA_HOSTS");
    vorsa::reloadHosts();
    std::filesystem::remove_all(dir);
    EXPECT_THROW(sb().writeHostsIni("/nonexistent-dir/hosts.ini"), std::runtime_error);
}

TEST_F(SandboxTest, ListedProxiesAreTheSandboxsOwn) {
    std::set<std::string> own;
    for (const Proxy& p : sb().proxies())
        own.insert(p.proxyString());
    std::set<std::string> sources;
    for (const ExpectedRow& row : sb().expectedRows()) {
        EXPECT_TRUE(own.count(row.Ip + ":" + row.Port)) << row.source << " " << row.Ip;
        sources.insert(row.source);
    }
    EXPECT_EQ(sources.size(), 8u);
    auto harvest = sb().expectedHarvest();
    EXPECT_EQ(std::set<std::string>(harvest.begin(), harvest.end()), own);
    // Repeats across sources are there for the harvest to remove.
    EXPECT_GT(sb().expectedRows().size(), 2 * own.size());
}

TEST_F(SandboxTest, ManySimultaneousRequestsThroughTheProxiesAllComplete) {
    std::vector<Proxy> forwarding = sb().proxiesWith(Behaviour::Forward);
    for (const Proxy& p : sb().proxiesWith(Behaviour::ForwardDelayed))
        forwarding.push_back(p);
    const int n = 2000;
    CURLM* multi = curl_multi_init();
    curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, long(n));
    std::vector<std::string> bodies(n);
    std::vector<CURL*> easies;
    const std::string url = sb().url("/ip2city.asp");
    for (int i = 0; i < n; ++i) {
        CURL* e = curl_easy_init();
        curl_easy_setopt(e, CURLOPT_URL, url.c_str());
        curl_easy_setopt(e, CURLOPT_PROXY,
                         ("http://" + forwarding[i % forwarding.size()].proxyString()).c_str());
        curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
        curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
        curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, 30000L);
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(
            e, CURLOPT_WRITEFUNCTION, +[](char* d, size_t s, size_t k, void* u) {
                static_cast<std::string*>(u)->append(d, s * k);
                return s * k;
            });
        curl_easy_setopt(e, CURLOPT_WRITEDATA, &bodies[i]);
        curl_easy_setopt(e, CURLOPT_PRIVATE, reinterpret_cast<void*>(std::intptr_t(i)));
        curl_multi_add_handle(multi, e);
        easies.push_back(e);
    }
    int running = 0, done = 0, ok = 0;
    std::vector<int> completions(n, 0);
    do {
        curl_multi_perform(multi, &running);
        int left = 0;
        while (CURLMsg* m = curl_multi_info_read(multi, &left)) {
            if (m->msg != CURLMSG_DONE)
                continue;
            void* priv = nullptr;
            curl_easy_getinfo(m->easy_handle, CURLINFO_PRIVATE, &priv);
            long status = 0;
            curl_easy_getinfo(m->easy_handle, CURLINFO_RESPONSE_CODE, &status);
            int i = int(reinterpret_cast<std::intptr_t>(priv));
            ++completions[i];
            ++done;
            if (m->data.result == CURLE_OK && status == 200 &&
                bodies[i].find(checkMarker()) != std::string::npos)
                ++ok;
        }
        if (running)
            curl_multi_poll(multi, nullptr, 0, 100, nullptr);
    } while (running);
    for (CURL* e : easies) {
        curl_multi_remove_handle(multi, e);
        curl_easy_cleanup(e);
    }
    curl_multi_cleanup(multi);
    EXPECT_EQ(done, n);
    EXPECT_EQ(ok, n);
    for (int i = 0; i < n; ++i)
        ASSERT_EQ(completions[i], 1) << i;
}

TEST(SandboxOptions, ScaledListsCarrySyntheticLoopbackAddresses) {
    Options options;
    options.proxies = repeat(Behaviour::Forward, 3);
    options.scale = 1000;
    Sandbox sb(options);
    auto harvest = sb.expectedHarvest();
    EXPECT_EQ(harvest.size(), 1003u);
    std::set<std::string> own, onPlainList;
    std::map<std::string, int> onArticles;
    for (const Proxy& p : sb.proxies())
        own.insert(p.proxyString());
    for (const std::string& line : vorsa::splitLines(fetch(sb.url("/http.txt")).body))
        onPlainList.insert(line);
    for (const char* path :
         {"/ip/2011/0901/a1.html", "/ip/2011/0831/a2.html", "/html/26/n-1001.html",
          "/html/26/n-1002.html", "/daili/zxhttp/2011/0901/c1.html"})
        for (const std::string& line : vorsa::splitLines(fetch(sb.url(path)).body))
            if (line.size() > 6 && line.compare(line.size() - 6, 6, "<br />") == 0 &&
                line[0] != '<')
                ++onArticles[line.substr(0, line.size() - 6)];
    for (const std::string& a : harvest) {
        in_addr addr{};
        ASSERT_EQ(inet_pton(AF_INET, a.substr(0, a.find(':')).c_str(), &addr), 1) << a;
        EXPECT_EQ(ntohl(addr.s_addr) >> 24, 127u) << a;
        if (own.count(a))
            continue;
        EXPECT_TRUE(onPlainList.count(a)) << a;
        EXPECT_EQ(onArticles[a], 1) << a;
    }
    EXPECT_EQ(onArticles.size(), 1000u);
}

TEST(SandboxOptions, StopsPromptlyWithConnectionsStillOpen) {
    Options options;
    options.proxies = {{Behaviour::NeverAnswer}, {Behaviour::ForwardDelayed, 5000}};
    auto sb = std::make_unique<Sandbox>(options);
    std::thread slow([&, url = sb->url("/ip2city.asp"), a = sb->proxies()[0].proxyString(),
                      b = sb->proxies()[1].proxyString()] {
        fetch(url, a, 20000);
        fetch(url, b, 20000);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto start = std::chrono::steady_clock::now();
    sb.reset();
    // Generous: waiting for the held connections would take the clients' 20 s timeout.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    slow.join();
}

TEST(SandboxOptions, FixedPortInUseIsReportedAndProxyAddressesAreChecked) {
    Sandbox first(Options{.proxies = {}});
    Options clash;
    clash.port = first.port();
    clash.proxies = {};
    EXPECT_THROW(Sandbox{clash}, std::runtime_error);
    Options tooMany;
    tooMany.firstProxyAddress = 250;
    tooMany.proxies = repeat(Behaviour::Forward, 10);
    EXPECT_THROW(Sandbox{tooMany}, std::runtime_error);
}

TEST(SandboxServer, KeepAliveAndLimitsOnOneRawConnection) {
    Sandbox sb(Options{.proxies = {}});
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(sb.port());
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    timeval tv{20, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    // Two pipelined requests on one connection, then a head that never ends.
    std::string req =
        "GET /ip2city.asp HTTP/1.1\r\nHost: x\r\n\r\n"
        "HEAD /showip.asp HTTP/1.1\r\nHost: x\r\n\r\n"
        "GET /" +
        std::string(40000, 'a');
    ASSERT_EQ(::send(fd, req.data(), req.size(), MSG_NOSIGNAL), ssize_t(req.size()));
    std::string got;
    char buf[4096];
    for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
        got.append(buf, std::size_t(n));
    ::close(fd);
    std::size_t first = got.find("HTTP/1.1 200");
    std::size_t second = got.find("HTTP/1.1 200", first + 1);
    ASSERT_NE(first, std::string::npos);
    ASSERT_NE(second, std::string::npos);
    EXPECT_NE(got.find("HTTP/1.1 431", second), std::string::npos);
    // The HEAD answer carries no body: the next thing after its head is the 431.
    std::size_t headEnd = got.find("\r\n\r\n", second);
    EXPECT_EQ(got.compare(headEnd + 4, 12, "HTTP/1.1 431"), 0);
    EXPECT_EQ(sb.requestCount(), 2u);
}

}  // namespace
