#include "platform/internet_settings.h"
#include "platform/page_download.h"
#include "platform/text_lines.h"
#include "tests/support/loopback_server.h"
#include "tests/support/tinyproxy.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

using vorsa::URLDownloadToFile;
using vorsa::test::LoopbackServer;
using Reply = LoopbackServer::Reply;

namespace {

std::string allBytes() {
    std::string s;
    for (int i = 0; i < 4; ++i)
        for (int b = 0; b < 256; ++b)
            s.push_back(static_cast<char>(b));
    return s;
}

// "共有 12 个代理\r\n" and a lone trail-byte-looking tail, as GBK bytes.
const std::string kGbk = "\xB9\xB2\xD3\xD0 12 \xB8\xF6\xB4\xFA\xC0\xED\r\n\x81\x40\xFE\xFE";

std::string gzipped(const std::string& in) {
    z_stream z{};
    deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, in.size()) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string readAll(const std::string& path) {
    std::string s;
    vorsa::readFileBytes(path, s);
    return s;
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The whole site the download tests talk to.
Reply site(const LoopbackServer::Request& r, int port) {
    const std::string self = "http://127.0.0.1:" + std::to_string(port);
    if (r.target == "/binary")
        return {LoopbackServer::response(200, allBytes())};
    if (r.target == "/gbk")
        return {LoopbackServer::response(200, kGbk, "Content-Type: text/html; charset=gb2312\r\n")};
    if (r.target == "/empty")
        return {LoopbackServer::response(200, "")};
    if (r.target == "/404")
        return {LoopbackServer::response(404, "<html>not found</html>")};
    if (r.target == "/500")
        return {LoopbackServer::response(500, "oops")};
    if (r.target == "/redirect")
        return {LoopbackServer::response(302, "", "Location: " + self + "/gbk\r\n")};
    if (r.target == "/relative-redirect")
        return {LoopbackServer::response(301, "", "Location: /binary\r\n")};
    if (r.target == "/loop")
        return {LoopbackServer::response(302, "", "Location: /loop\r\n")};
    if (r.target == "/to-file")
        return {LoopbackServer::response(302, "", "Location: file:///etc/hostname\r\n")};
    if (r.target == "/no-location")
        return {LoopbackServer::response(302, "moved somewhere")};
    if (r.target == "/gzip")
        return {LoopbackServer::response(200, gzipped(kGbk + allBytes()),
                                         "Content-Encoding: gzip\r\n")};
    if (r.target == "/never-answers")
        return {"", Reply::Stall};
    if (r.target == "/stalls-mid-body")
        return {"HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nfirst bytes", Reply::Stall};
    if (r.target == "/truncated")
        return {"HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nonly this"};
    if (r.target == "/huge-length")
        return {"HTTP/1.1 200 OK\r\nContent-Length: 10000000\r\n\r\n", Reply::Endless};
    if (r.target == "/endless")
        return {"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", Reply::Endless};
    if (r.target == "/gzip-bomb")
        return {LoopbackServer::response(200, gzipped(std::string(4 << 20, '\0')),
                                         "Content-Encoding: gzip\r\n")};
    if (r.target == "/garbage")
        return {"\x01\x02 not http at all\r\n\r\n"};
    return {LoopbackServer::response(404, "")};
}

class PageDownload : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vorsa-download-test-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        ::setenv("VORSA_INTERNET_SETTINGS", (m_dir + "/internet-settings.ini").c_str(), 1);
        vorsa::DownloadLimits limits;
        limits.maxBytes = 1 << 20;
        limits.maxRedirects = 5;
        vorsa::setDownloadLimits(limits);
    }
    void TearDown() override {
        vorsa::setDownloadLimits({});
        ::unsetenv("VORSA_INTERNET_SETTINGS");
        ::unsetenv("http_proxy");
        std::string cmd = "rm -rf '" + m_dir + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    // Every name in the folder except the store: a leftover temporary shows here.
    std::vector<std::string> files() const {
        std::vector<std::string> out;
        DIR* d = ::opendir(m_dir.c_str());
        while (dirent* e = ::readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != ".." && n != "internet-settings.ini")
                out.push_back(n);
        }
        ::closedir(d);
        std::sort(out.begin(), out.end());
        return out;
    }

    std::string m_dir;
    std::unique_ptr<LoopbackServer> m_server;
    void startSite() {
        m_server = std::make_unique<LoopbackServer>(
            [this](const LoopbackServer::Request& r) { return site(r, m_server->port()); });
    }
};

struct Case {
    const char* target;
    bool ok;
    std::string body;  // what the file holds after success
};

TEST_F(PageDownload, FileHoldsTheBodyOrTheOldFileStays) {
    startSite();
    const Case cases[] = {
        {"/binary", true, allBytes()},
        {"/gbk", true, kGbk},
        {"/empty", true, ""},
        {"/redirect", true, kGbk},
        {"/relative-redirect", true, allBytes()},
        {"/gzip", true, kGbk + allBytes()},
        {"/404", false, {}},
        {"/500", false, {}},
        {"/loop", false, {}},
        {"/to-file", false, {}},
        {"/no-location", false, {}},
        {"/truncated", false, {}},
        {"/huge-length", false, {}},
        {"/endless", false, {}},
        {"/gzip-bomb", false, {}},
        {"/garbage", false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        const std::string path = m_dir + "/1.cnp";
        writeFile(path, "old page");
        const int rc = URLDownloadToFile(m_server->url(c.target), path);
        if (c.ok) {
            EXPECT_EQ(rc, 0);
            EXPECT_EQ(readAll(path), c.body);
        } else {
            EXPECT_NE(rc, 0);
            EXPECT_EQ(readAll(path), "old page");
        }
        EXPECT_EQ(files(), std::vector<std::string>{"1.cnp"});
    }
}

TEST_F(PageDownload, NoFileIsMadeWhenItFails) {
    startSite();
    const std::string path = m_dir + "/x.anti";
    EXPECT_NE(URLDownloadToFile(m_server->url("/404"), path), 0);
    EXPECT_FALSE(vorsa::fileExists(path));
    EXPECT_TRUE(files().empty());
}

TEST_F(PageDownload, OnlyHttpAndHttpsAreFetched) {
    writeFile(m_dir + "/secret", "local file");
    const std::string urls[] = {
        "file://" + m_dir + "/secret",
        "FILE://" + m_dir + "/secret",
        "ftp://127.0.0.1:1/",
        "gopher://127.0.0.1:1/",
        "dict://127.0.0.1:1/",
        m_dir + "/secret",
        "",
    };
    for (const std::string& url : urls) {
        SCOPED_TRACE(url);
        EXPECT_NE(URLDownloadToFile(url, m_dir + "/out"), 0);
        EXPECT_FALSE(vorsa::fileExists(m_dir + "/out"));
    }
}

TEST_F(PageDownload, RefusedConnectionFails) {
    const int port = vorsa::test::freeLoopbackPort();
    const std::string path = m_dir + "/pn.1st";
    EXPECT_NE(URLDownloadToFile("http://127.0.0.1:" + std::to_string(port) + "/", path), 0);
    EXPECT_FALSE(vorsa::fileExists(path));
}

// A server that accepts and then says nothing must not hold the worker longer than the limits.
TEST_F(PageDownload, StalledServerFailsWithinTheLimits) {
    startSite();
    struct StallCase {
        const char* target;
        vorsa::DownloadLimits limits;
    };
    vorsa::DownloadLimits total;
    total.totalTimeoutMs = 300;
    vorsa::DownloadLimits lowSpeed;
    lowSpeed.stallSeconds = 1;
    for (const StallCase& c :
         {StallCase{"/never-answers", total}, StallCase{"/stalls-mid-body", total},
          StallCase{"/never-answers", lowSpeed}}) {
        SCOPED_TRACE(c.target);
        vorsa::setDownloadLimits(c.limits);
        writeFile(m_dir + "/2.ros", "old");
        EXPECT_NE(URLDownloadToFile(m_server->url(c.target), m_dir + "/2.ros"), 0);
        EXPECT_EQ(readAll(m_dir + "/2.ros"), "old");
        EXPECT_EQ(files(), std::vector<std::string>{"2.ros"});
    }
}

TEST_F(PageDownload, BodyCapCountsDecodedBytes) {
    startSite();
    vorsa::DownloadLimits limits;
    limits.maxBytes = static_cast<long long>(allBytes().size());
    vorsa::setDownloadLimits(limits);
    EXPECT_EQ(URLDownloadToFile(m_server->url("/binary"), m_dir + "/a"), 0);  // exactly the cap
    limits.maxBytes -= 1;
    vorsa::setDownloadLimits(limits);
    EXPECT_NE(URLDownloadToFile(m_server->url("/binary"), m_dir + "/b"), 0);
    EXPECT_NE(URLDownloadToFile(m_server->url("/gzip"), m_dir + "/c"), 0);
}

// The program's own limit: a page of 64 MiB is refused, one byte less is still taken.
TEST_F(PageDownload, DefaultLimitRefusesA64MiBPage) {
    vorsa::setDownloadLimits({});
    const auto big = std::make_shared<const std::string>(64u << 20, 'x');
    LoopbackServer server([big](const LoopbackServer::Request& r) {
        const std::size_t size = r.target == "/64mib" ? big->size() : big->size() - 1;
        Reply reply{"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n"};
        reply.shared = std::make_shared<const std::string>(*big, 0, size);
        return reply;
    });
    EXPECT_NE(URLDownloadToFile(server.url("/64mib"), m_dir + "/a"), 0);
    EXPECT_EQ(files(), std::vector<std::string>{});
    EXPECT_EQ(URLDownloadToFile(server.url("/just-below"), m_dir + "/b"), 0);
    struct stat st {};
    ASSERT_EQ(::stat((m_dir + "/b").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, (64 << 20) - 1);
}

TEST_F(PageDownload, FollowsTheStoreProxyOnlyWhenEnabled) {
    vorsa::test::Tinyproxy proxy;
    if (!proxy.running())
        GTEST_SKIP() << "tinyproxy is not available";
    LoopbackServer server(
        [](const LoopbackServer::Request&) { return Reply{LoopbackServer::response(200, kGbk)}; });
    const std::string dead = "127.0.0.1:" + std::to_string(vorsa::test::freeLoopbackPort());
    const std::string path = m_dir + "/3.xurl";
    struct ProxyCase {
        int enable;
        std::string server;
        const char* envProxy;
        bool ok;
    };
    const ProxyCase cases[] = {
        {1, proxy.address(), nullptr, true},
        {1, "http=" + proxy.address() + ";https=" + dead, nullptr, true},
        {1, dead, nullptr, false},      // proves the request really goes to the proxy
        {0, dead, nullptr, true},       // switched off: direct
        {0, dead, dead.c_str(), true},  // and the environment's proxy stays out
        {2, dead, nullptr, true},       // only exactly 1 switches it on
        {1, "", dead.c_str(), true},    // nothing to go through
        // Text in the store that is not a plain host:port never reaches curl, even where curl
        // would make a working proxy of it.
        {1, "http://" + proxy.address(), nullptr, false},
        {1, "user:pw@" + proxy.address(), nullptr, false},
        {1, "http=http://" + proxy.address(), nullptr, false},
        {1, proxy.address() + "/x", nullptr, false},
    };
    for (const ProxyCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.enable) + " " + c.server);
        vorsa::writeProxyEnable(c.enable);
        vorsa::writeProxyServer(c.server);
        if (c.envProxy)
            ::setenv("http_proxy", c.envProxy, 1);
        else
            ::unsetenv("http_proxy");
        ::unlink(path.c_str());
        const int before = server.requestCount();
        EXPECT_EQ(URLDownloadToFile(server.url("/page"), path) == 0, c.ok);
        EXPECT_EQ(vorsa::fileExists(path), c.ok);
        if (c.ok) {
            EXPECT_EQ(readAll(path), kGbk);
        }
        EXPECT_EQ(server.requestCount() - before, c.ok ? 1 : 0);
    }
}

TEST_F(PageDownload, ManyThreadsAtOnce) {
    startSite();
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5; ++i) {
                const std::string path = m_dir + "/" + std::to_string(t * 10 + i) + ".hao";
                if (URLDownloadToFile(m_server->url(i % 2 ? "/gbk" : "/binary"), path) == 0 &&
                    readAll(path) == (i % 2 ? kGbk : allBytes()))
                    ++good;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(good, 40);
}

}  // namespace
