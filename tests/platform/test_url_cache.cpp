#include "platform/url_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using vorsa::UrlCache;

namespace {

class UrlCacheTest : public ::testing::Test {
protected:
    void SetUp() override { UrlCache::instance().clear(); }
    void TearDown() override { UrlCache::instance().clear(); }

    static std::vector<std::string> all() {
        std::vector<std::string> out;
        UrlCache::Entry e;
        auto& c = UrlCache::instance();
        const UrlCache::FindHandle h = c.findFirst(e);
        if (!h)
            return out;
        do
            out.push_back(e.sourceUrl);
        while (c.findNext(h, e));
        c.findClose(h);
        return out;
    }

    // What the web verification does with it: delete every normal entry containing target.
    static void deleteContaining(const std::string& target) {
        auto& c = UrlCache::instance();
        UrlCache::Entry e;
        const UrlCache::FindHandle h = c.findFirst(e);
        if (!h)
            return;
        do
            if ((e.type & UrlCache::NORMAL_CACHE_ENTRY) &&
                e.sourceUrl.find(target) != std::string::npos)
                c.deleteEntry(e.sourceUrl);
        while (c.findNext(h, e));
        c.findClose(h);
    }
};

TEST_F(UrlCacheTest, EmptyCacheHasNoEnumeration) {
    UrlCache::Entry e{"untouched", 7};
    EXPECT_EQ(UrlCache::instance().findFirst(e), 0u);
    EXPECT_EQ(e.sourceUrl, "untouched");
    EXPECT_FALSE(UrlCache::instance().findNext(0, e));
    EXPECT_FALSE(UrlCache::instance().findNext(12345, e));
    UrlCache::instance().findClose(12345);
    deleteContaining("http://127.0.0.1:8790/showip.asp");
}

TEST_F(UrlCacheTest, DeletingWhileEnumeratingMatchesOnlyNormalEntries) {
    auto& c = UrlCache::instance();
    const std::string page = "http://127.0.0.1:8790/yourip.php";
    c.record(page);
    c.record("http://127.0.0.1:8790/showip.asp");
    c.record(page + "?x=1");
    c.record(page + "#top");
    c.record(page + "?cookie", 0x100000);  // not a normal entry: kept
    c.record("http://127.0.0.2:8790/yourip.php");
    c.record(page);  // recorded again: still one entry, in its first place

    EXPECT_EQ(all().size(), 6u);
    deleteContaining(page);
    EXPECT_EQ(all(), (std::vector<std::string>{"http://127.0.0.1:8790/showip.asp", page + "?cookie",
                                               "http://127.0.0.2:8790/yourip.php"}));
    EXPECT_TRUE(c.needsReload(page));
    EXPECT_TRUE(c.needsReload(page + "?x=1"));
    EXPECT_FALSE(c.needsReload("http://127.0.0.1:8790/showip.asp"));
    EXPECT_FALSE(c.deleteEntry(page));  // gone already

    c.record(page);  // the panel fetched it afresh
    EXPECT_FALSE(c.needsReload(page));
    deleteContaining("no such page");
    EXPECT_EQ(all().size(), 4u);
}

TEST_F(UrlCacheTest, ThreadsRecordWhileOthersEnumerate) {
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop)
            deleteContaining("/odd");
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([t] {
            for (int i = 0; i < 500; ++i)
                UrlCache::instance().record("http://127.0.0.1/" + std::to_string(t) +
                                            (i % 2 ? "/odd/" : "/even/") + std::to_string(i));
        });
    for (auto& w : writers)
        w.join();
    stop = true;
    reader.join();
    deleteContaining("/odd");
    EXPECT_EQ(all().size(), 1000u);
}

}  // namespace
