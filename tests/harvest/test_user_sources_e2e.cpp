#include "harvest/udlclass.h"
#include "harvest/worker_thread.h"
#include "harvest_test_env.h"
#include "platform/page_download.h"
#include "platform/text_lines.h"
#include "sandbox/sandbox.h"
#include "tests/support/fake_host.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace vorsa {
namespace {

// The user's sources.txt names two of the sandbox's plain-text lists; the portals are out of
// reach, so discovery adds nothing and "从特定网站获取" harvests exactly those two pages.
TEST(UserSourcesEndToEnd, SourcesFileFeedsTheCustomUrlSource) {
    sandbox::Sandbox web;
    test::SilentListener closed;  // never answers: discovery finds no article links
    const std::string nowhere = "http://127.0.0.1:" + std::to_string(closed.port());
    test::pointHostsAt(web.baseUrl(), {{"portal_a", nowhere},
                                       {"portal_b", nowhere},
                                       {"portal_c", nowhere},
                                       {"portal_d", nowhere}});
    DownloadLimits limits;
    limits.connectTimeoutMs = 500;
    limits.totalTimeoutMs = 1000;
    setDownloadLimits(limits);

    char tmpl[] = "/tmp/vorsa-sources-e2e-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string config = tmpl;
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    replaceFileBytes(config + "/VORSASOFT/sources.txt", "# plain-text lists\n" +
                                                            web.url("/http_highanon.txt") + "\n\n" +
                                                            "not a list\n" + web.url("/http.txt") +
                                                            " \n" + web.url("/a b.txt") + "\n");

    test::FakeHost host;
    host.pumpEvents = true;
    host.groups[0] = host.groups[1] = false;
    host.groups[2] = true;
    tdaili daili(host);
    daili.OnMessage = [&](const std::string& text) { host.showinfo(text); };
    ASSERT_GE(daili.CustomUrls->count(), 2);
    EXPECT_EQ(daili.CustomUrls->at(0), web.url("/http_highanon.txt"));
    EXPECT_EQ(daili.CustomUrls->at(1), web.url("/http.txt"));
    ASSERT_TRUE(test::pumpUntil([] { return harvestRunningWorkers() == 0; }));
    EXPECT_EQ(daili.CustomUrls->count(), 2);

    actdownExecute(host, daili);
    ASSERT_TRUE(test::pumpUntil([&] { return daili.JobCount == 0 && !host.state().Busy; }, 30000));
    test::pumpUntil([] { return harvestRunningWorkers() == 0; });

    std::set<std::string> expected;
    for (const sandbox::ExpectedRow& row : web.expectedRows())
        if (row.source == "proxylists")
            expected.insert(row.Ip + ":" + row.Port);
    std::set<std::string> got;
    for (int i = 1; i <= host.table().count(); ++i)
        got.insert(host.table().at(i).text(Field::Ip) + ":" + host.table().at(i).text(Field::Port));
    EXPECT_EQ(got, expected);
    EXPECT_FALSE(expected.empty());

    const auto first = std::find_if(host.events.begin(), host.events.end(),
                                    [](const auto& e) { return e.rfind("showinfo:", 0) == 0; });
    ASSERT_NE(first, host.events.end());
    EXPECT_EQ(*first,
              "showinfo:正在从特定网站下载地址，请稍候...（sources.txt 中有2行无效，已跳过）");

    // A second harvest opens with the same note; later job-start messages carry none.
    host.events.clear();
    actdownExecute(host, daili);
    ASSERT_TRUE(test::pumpUntil([&] { return daili.JobCount == 0 && !host.state().Busy; }, 30000));
    EXPECT_EQ(
        std::count(host.events.begin(), host.events.end(),
                   "showinfo:正在从特定网站下载地址，请稍候...（sources.txt 中有2行无效，已跳过）"),
        1);
    test::pumpUntil([] { return harvestRunningWorkers() == 0; });

    ::unsetenv("XDG_CONFIG_HOME");
    std::filesystem::remove_all(config);
}

}  // namespace
}  // namespace vorsa
