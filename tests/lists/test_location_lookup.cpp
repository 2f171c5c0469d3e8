#include "lists/location_lookup.h"

#include "platform/codec.h"
#include "platform/hosts_config.h"
#include "platform/offline_geo.h"
#include "platform/run_directory.h"
#include "sandbox/sandbox.h"
#include "tests/harvest/harvest_test_env.h"
#include "tests/support/fake_host.h"
#include "tests/support/mmdb_writer.h"

#include <QDir>

#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>

#include <gtest/gtest.h>

namespace vorsa {
namespace {

using test::appendRow;
using test::utf8;

const std::string kMarker = "<td align=\"center\"><ul class=\"ul1\"><li>" + gbk::text("本站主数据");

std::string page(const std::string& markerLine, int linesAfter, const char* lineEnd = "\r\n") {
    std::string out = std::string("<html>") + lineEnd + "<body>" + lineEnd + markerLine + lineEnd;
    for (int i = 0; i < linesAfter; ++i)
        out += "<p>" + std::to_string(i) + "</p>" + lineEnd;
    return out;
}

TEST(LocationPage, TakesTheTextBetweenColonAndListEnd) {
    const std::string colon = gbk::text("：");
    const std::string place = gbk::text("北京市 联通");
    const std::string line = kMarker + colon + place + "</li><li>x</li>";
    const struct {
        const char* name;
        std::string page;
        std::string expected;
    } cases[] = {
        {"five lines after", page(line, 5), place},
        {"four lines after", page(line, 4), place},
        {"three lines after", page(line, 3), ""},
        {"lone LF lines", page(line, 4, "\n"), place},
        {"lone CR lines", page(line, 4, "\r"), place},
        {"no marker", page("<li>" + colon + place + "</li>", 5), ""},
        {"marker only in the last line", "a\r\nb\r\nc\r\nd\r\ne\r\n" + line, ""},
        {"no colon", page(kMarker + place + "</li>", 5), ""},
        {"ASCII colon only", page(kMarker + ":" + place + "</li>", 5), ""},
        {"no list end", page(kMarker + colon + place, 5), ""},
        {"list end before the colon", page(kMarker + "</li>" + colon + place + "</li>", 5), ""},
        {"empty between", page(kMarker + colon + "</li>", 5), ""},
        {"only the first marker line counts", page(kMarker + "</li>", 1) + page(line, 5), ""},
        {"empty page", "", ""},
        {"garbage", std::string(300, '\xA3') + "\xBA</li>\r\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(locationFromPage(c.page), c.expected);
    }
}

TEST(LocationPage, AddressTextCannotChangeTheRequest) {
    const struct {
        std::string ip;
        const char* url;
    } cases[] = {
        {"10.0.0.1", "http://h:1/ips.asp?ip=10.0.0.1&action=2"},
        {"1.2.3.4 ", "http://h:1/ips.asp?ip=1.2.3.4%20&action=2"},
        {"1.2.3.4&action=1#x", "http://h:1/ips.asp?ip=1.2.3.4%26action%3D1%23x&action=2"},
        {"x\r\nHost: evil", "http://h:1/ips.asp?ip=x%0D%0AHost:%20evil&action=2"},
        {"@evil/../a%", "http://h:1/ips.asp?ip=%40evil%2F..%2Fa%25&action=2"},
        {gbk::text("北京"), "http://h:1/ips.asp?ip=%B1%B1%BE%A9&action=2"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ipcityUrl("http://h:1", c.ip), c.url);
}

class LocationLookup : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_sandbox = new sandbox::Sandbox();
        test::pointHostsAt(s_sandbox->baseUrl());
    }
    static void TearDownTestSuite() {
        delete s_sandbox;
        s_sandbox = nullptr;
    }
    void SetUp() override { s_sandbox->clearRequests(); }

    // Everything the lookups left in the run folder.
    static QStringList leftovers() {
        return QDir(QString::fromStdString(RunDirectory::instance().path()))
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    std::vector<std::string> lookupTargets() const {
        std::vector<std::string> out;
        for (const auto& r : s_sandbox->requests())
            if (r.path == "/ips.asp")
                out.push_back(r.target);
        return out;
    }

    static sandbox::Sandbox* s_sandbox;
};
sandbox::Sandbox* LocationLookup::s_sandbox = nullptr;

TEST_F(LocationLookup, FillsBlankLocationsFromTheSite) {
    const std::string plain = "10.20.30.40";
    ASSERT_FALSE(sandbox::locationOf(plain).empty());
    const struct {
        std::string ip;
        const char* location;  // before the pass; nullptr: no value
        std::string expected;  // UTF-8
        bool lookedUp;
    } cases[] = {
        {"198.51.100.1", nullptr, "北京市 联通", true},
        {"198.51.100.3", nullptr, "未知", true},  // three lines after the marker
        {"198.51.100.4", "", "北京市 联通", true},
        {"198.51.100.45", " \t", "内蒙古自治区呼和浩特市赛罕区大学西街一号", true},   // 40 bytes
        {"198.51.100.46", nullptr, "A内蒙古自治区呼和浩特市赛罕区大学西街一", true},  // 39 bytes
        {plain, nullptr, utf8(sandbox::locationOf(plain)), true},
        {"1.2.3.4 ", nullptr, "未知", true},  // the site does not know "1.2.3.4 "
        {"not an address", nullptr, "未知", true},
        {"../../x/y", nullptr, "未知", true},
        {"198.51.100.1", "上海", "上海", false},
        {"198.51.100.1", "未知", "未知", false},
    };
    test::FakeHost host;
    for (const auto& c : cases)
        appendRow(host.table(), c.ip, "80", nullptr, c.location);

    getcity(host);

    std::vector<std::string> expectedEvents, expectedTargets;
    ProxyTable& t = host.table();
    ASSERT_EQ(t.count(), static_cast<int>(std::size(cases)));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.ip);
        EXPECT_EQ(utf8(t.at(int(i) + 1).text(Field::Location)), c.expected);
        EXPECT_EQ(utf8(host.grid().cell(4, int(i) + 1)), c.expected);
        if (c.lookedUp) {
            expectedEvents.push_back("showinfo:正在获取地址：" + c.ip);
            expectedEvents.push_back("pause:10");
            expectedTargets.push_back(ipcityUrl("", c.ip));
        }
    }
    expectedEvents.push_back("showinfo:共有11个代理");
    EXPECT_EQ(host.events, expectedEvents);
    EXPECT_EQ(lookupTargets(), expectedTargets);
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(u' ').toStdString();
}

// What the site cannot place comes from a .mmdb in the config folder; [locations] offline=0
// keeps "未知" for it.
TEST_F(LocationLookup, OfflineDatabaseFillsWhatTheSiteDoesNotKnow) {
    char tmpl[] = "/tmp/vorsa-geo-config-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string config = tmpl;
    ASSERT_EQ(::mkdir((config + "/VORSASOFT").c_str(), 0700), 0);
    namespace mm = test::mmdb;
    std::ofstream(config + "/VORSASOFT/GeoLite2-City.mmdb", std::ios::binary)
        << mm::database({{0xC6336400, 24,  // 198.51.100.0/24
                          mm::map({{"country", mm::names("United States", "美国")},
                                   {"city", mm::names("New York", "纽约")}})}});
    const char* savedXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string xdg = savedXdg ? savedXdg : "";
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    const std::string hostsFile = std::getenv("VORSA_HOSTS");
    for (const bool offline : {true, false}) {
        SCOPED_TRACE(offline ? "offline on" : "offline off");
        test::pointHostsAt(s_sandbox->baseUrl());
        if (!offline)
            std::ofstream(hostsFile, std::ios::app) << "[locations]\noffline=0\n";
        reloadHosts();
        reloadOfflineGeo();
        test::FakeHost host;
        for (const char* ip : {"198.51.100.1", "198.51.100.3", "not an address"})
            appendRow(host.table(), ip, "80");
        getcity(host);
        // .1: the site's answer wins; .3: the site's page has no usable location.
        EXPECT_EQ(utf8(host.table().at(1).text(Field::Location)), "北京市 联通");
        EXPECT_EQ(utf8(host.table().at(2).text(Field::Location)), offline ? "美国 纽约" : "未知");
        EXPECT_EQ(utf8(host.table().at(3).text(Field::Location)), "未知");
    }
    if (savedXdg)
        ::setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
    test::pointHostsAt(s_sandbox->baseUrl());
    reloadOfflineGeo();
    ASSERT_EQ(std::system(("rm -rf '" + config + "'").c_str()), 0);
}

TEST_F(LocationLookup, NothingBlankMeansNoTrafficButARedraw) {
    test::FakeHost host;
    getcity(host);  // empty table
    appendRow(host.table(), "198.51.100.1", "80", nullptr, "北京");
    getcity(host);
    EXPECT_EQ(host.events,
              (std::vector<std::string>{"showinfo:共有0个代理", "showinfo:共有1个代理"}));
    EXPECT_TRUE(lookupTargets().empty());
}

TEST_F(LocationLookup, TableEmptiedBetweenLookupsEndsThePass) {
    test::FakeHost host;
    for (int i = 0; i < 3; ++i)
        appendRow(host.table(), "198.51.100.1", "80");
    host.onProcessMessages = [&] { host.table().clear(); };  // as a harvest started meanwhile
    getcity(host);
    EXPECT_EQ(host.events, (std::vector<std::string>{"showinfo:正在获取地址：198.51.100.1",
                                                     "pause:10", "showinfo:共有0个代理"}));
}

TEST_F(LocationLookup, ASiteThatNeverAnswersIsGivenUpOnItsOwnLimit) {
    const DownloadLimits harvest = downloadLimits();
    const DownloadLimits saved = lookupLimits();
    DownloadLimits quick = saved;
    quick.totalTimeoutMs = 300;
    setLookupLimits(quick);
    const sandbox::Proxy& silent = s_sandbox->proxy(sandbox::Behaviour::NeverAnswer);
    test::pointHostsAt(s_sandbox->baseUrl(), {{"iplookup", "http://" + silent.proxyString()}});
    const std::string got = ipcity("198.51.100.1");
    test::pointHostsAt(s_sandbox->baseUrl());
    setLookupLimits(saved);
    EXPECT_EQ(got, "");
    EXPECT_EQ(downloadLimits().totalTimeoutMs, harvest.totalTimeoutMs);
    EXPECT_TRUE(leftovers().isEmpty());
}

}  // namespace
}  // namespace vorsa
