// "网页验证": the alternation of the two echo pages and the URL cache entries it deletes.
#include "platform/hosts_config.h"
#include "platform/url_cache.h"
#include "sysproxy/web_verification.h"
#include "tests/support/fake_host.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <fstream>

using vorsa::UrlCache;
using vorsa::test::FakeHost;

namespace {

class WebVerification : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vorsa-vail-test-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        std::ofstream(m_dir + "/hosts.ini")
            << "[hosts]\necho=http://127.0.0.31:8001\nmaker=http://127.0.0.32:8002\n";
        ::setenv("VORSA_HOSTS", (m_dir + "/hosts.ini").c_str(), 1);
        vorsa::reloadHosts();
        UrlCache::instance().clear();
    }
    void TearDown() override {
        ::unsetenv("VORSA_HOSTS");
        vorsa::reloadHosts();
        UrlCache::instance().clear();
        ASSERT_EQ(std::system(("rm -rf '" + m_dir + "'").c_str()), 0);
    }
    static std::vector<std::string> cached() {
        std::vector<std::string> out;
        UrlCache::Entry e;
        const auto h = UrlCache::instance().findFirst(e);
        if (!h)
            return out;
        do
            out.push_back(e.sourceUrl);
        while (UrlCache::instance().findNext(h, e));
        UrlCache::instance().findClose(h);
        return out;
    }
    std::string m_dir;
};

const char* const kExternal = "http://127.0.0.31:8001/showip.asp";
const char* const kMaker = "http://127.0.0.32:8002/yourip.php";

TEST_F(WebVerification, PressesAlternateAndDeleteTheOtherPage) {
    EXPECT_EQ(vorsa::externalEchoUrl(), kExternal);
    EXPECT_EQ(vorsa::makerEchoUrl(), kMaker);
    EXPECT_EQ(vorsa::startupEchoUrl(), "http://127.0.0.32:8002/proxy/showip.asp");

    FakeHost host;
    int tag = 0;  // as the window creates the button
    UrlCache& cache = UrlCache::instance();
    cache.record(kMaker);
    cache.record(kExternal);
    for (int press = 0; press < 4; ++press) {
        SCOPED_TRACE(press);
        host.events.clear();
        const bool external = press % 2 == 0;
        vorsa::actvailExecute(host, tag);
        const std::vector<std::string> expected = {
            std::string("navigate:") + (external ? kExternal : kMaker), "pause:150"};
        EXPECT_EQ(host.events, expected);
        EXPECT_EQ(tag, external ? 1 : 0);
        // The page opened keeps its copy; the other one is gone, so it is fetched anew.
        EXPECT_EQ(cached(), std::vector<std::string>{external ? kExternal : kMaker});
        EXPECT_TRUE(cache.needsReload(external ? kMaker : kExternal));
        cache.record(external ? kMaker : kExternal);  // what the panel would have loaded
        cache.record(external ? kExternal : kMaker);
    }
}

TEST_F(WebVerification, DelcacheTakesOnlyNormalEntriesOfThatPage) {
    UrlCache& cache = UrlCache::instance();
    vorsa::delcache(kMaker);  // an empty cache: nothing to do
    EXPECT_TRUE(cached().empty());

    struct Entry {
        std::string url;
        std::uint32_t type;
        bool deleted;
    };
    const std::string maker = kMaker;
    const Entry entries[] = {
        {maker, UrlCache::NORMAL_CACHE_ENTRY, true},
        {maker + "?x=1", UrlCache::NORMAL_CACHE_ENTRY, true},
        {maker + "#top", UrlCache::NORMAL_CACHE_ENTRY | 0x100, true},
        {"http://127.0.0.99/?u=" + maker, UrlCache::NORMAL_CACHE_ENTRY, true},  // contains it
        {maker + "?sticky", 0x4, false},                                        // not NORMAL
        {kExternal, UrlCache::NORMAL_CACHE_ENTRY, false},
        {"http://127.0.0.32:8002/YOURIP.PHP", UrlCache::NORMAL_CACHE_ENTRY, false},  // case
        {"http://127.0.0.32:8002/proxy/showip.asp", UrlCache::NORMAL_CACHE_ENTRY, false},
    };
    std::vector<std::string> kept;
    for (const Entry& e : entries) {
        cache.record(e.url, e.type);
        if (!e.deleted)
            kept.push_back(e.url);
    }
    vorsa::delcache(kMaker);
    EXPECT_EQ(cached(), kept);
}

}  // namespace
