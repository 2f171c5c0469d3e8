#include "harvest/udlclass.h"
#include "harvest/worker_thread.h"
#include "harvest_test_env.h"
#include "platform/page_download.h"
#include "platform/run_directory.h"
#include "sandbox/sandbox.h"
#include "tests/support/fake_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace vorsa {
namespace {

std::vector<std::string> tableAddresses(ProxyTable& t) {
    std::vector<std::string> out;
    for (int i = 1; i <= t.count(); ++i)
        out.push_back(t.at(i).text(Field::Ip) + ":" + t.at(i).text(Field::Port));
    return out;
}

std::size_t jobFolders() {
    std::size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(RunDirectory::instance().path()))
        n += entry.is_directory() ? 1 : 0;
    return n;
}

TEST(HarvestEndToEnd, AllGroupsThroughTheSandbox) {
    sandbox::Sandbox web;
    test::pointHostsAt(web.baseUrl());
    setDownloadLimits(DownloadLimits{});

    test::FakeHost host;
    host.pumpEvents = true;
    host.groups[0] = host.groups[1] = host.groups[2] = true;
    tdaili daili(host);
    daili.OnMessage = [&](const std::string& text) { host.showinfo(text); };
    ASSERT_TRUE(test::pumpUntil([] { return harvestRunningWorkers() == 0; }));
    EXPECT_GT(daili.CustomUrls->count(), 0);
    EXPECT_GT(daili.ArticleUrls->count(), 1);

    actdwoncheckExecute(host, daili);
    ASSERT_TRUE(test::pumpUntil([&] { return daili.JobCount == 0; }, 30000));
    test::pumpUntil([] { return harvestRunningWorkers() == 0; });

    std::vector<std::string> expected = web.expectedHarvest();
    std::vector<std::string> got = tableAddresses(host.table());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, expected);
    // Rows that carry a protocol or location keep them (cnp and proxynet fill both).
    bool sawLocation = false;
    for (int i = 1; i <= host.table().count(); ++i)
        sawLocation |= !host.table().at(i).text(Field::Location).empty();
    EXPECT_TRUE(sawLocation);

    EXPECT_EQ(std::count(host.events.begin(), host.events.end(), "listtable"), 1);
    EXPECT_EQ(std::count(host.events.begin(), host.events.end(), "actcheckExecute"), 1);
    EXPECT_EQ(host.panel1(), "共有" + std::to_string(expected.size()) + "个代理");
    EXPECT_FALSE(host.state().Busy);
    EXPECT_TRUE(test::pumpUntil([] { return jobFolders() == 0; }, 5000))
        << "a job left its folder behind";
}

}  // namespace
}  // namespace vorsa
