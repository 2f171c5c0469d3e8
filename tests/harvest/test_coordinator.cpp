#include "harvest/udlclass.h"
#include "harvest/worker_thread.h"
#include "harvest_test_env.h"
#include "platform/codec.h"
#include "platform/page_download.h"
#include "tests/support/fake_host.h"
#include "tests/support/tinyproxy.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

namespace vorsa {
namespace {

using test::FakeHost;

const char* const kCnp = "showinfo:正在从cnp下载，请稍候...";
const char* const kProxycn = "showinfo:正在从proxycn下载，请稍候...";
const char* const kHaozs = "showinfo:正在从haozs下载，请稍候...";
const char* const kProxynet = "showinfo:正在从proxynet网站下载，请稍候...";
const char* const kRos = "showinfo:正在从rosinstrument网站下载，请稍候...";
const char* const kProxylists = "showinfo:正在从proxylists网站下载，请稍候...";
const char* const kAnti = "showinfo:正在从antipalivo下载，请稍候...";
const char* const kUrls = "showinfo:正在从特定网站下载地址，请稍候...";
const char* const kPause = "pause:300";

class CoordinatorTest : public testing::Test {
protected:
    void SetUp() override {
        // Nothing listens there: every download fails at once.
        closedBase = "http://127.0.0.1:" + std::to_string(test::freeLoopbackPort());
        test::pointHostsAt(closedBase);
        DownloadLimits limits;
        limits.connectTimeoutMs = 300;
        limits.totalTimeoutMs = 2000;
        setDownloadLimits(limits);
        daili = std::make_unique<tdaili>(host, false);
        daili->OnMessage = [this](const std::string& text) { host.showinfo(text); };
    }
    void TearDown() override {
        EXPECT_TRUE(test::pumpUntil([] { return harvestRunningWorkers() == 0; }, 20000));
        test::pumpUntil([] { return false; }, 30);
        daili.reset();
    }

    bool waitForJobs(int timeoutMs = 20000) {
        host.pumpEvents = true;
        return test::pumpUntil([&] { return daili->JobCount == 0; }, timeoutMs);
    }

    int count(const std::string& event) const {
        return static_cast<int>(std::count(host.events.begin(), host.events.end(), event));
    }

    std::string closedBase;
    FakeHost host;
    std::unique_ptr<tdaili> daili;
};

struct MenuCase {
    const char* label;
    bool groups[3];
    bool lists;                       // both URL lists hold entries
    std::vector<std::string> events;  // what the command itself records
    int jobs;
};

class MenuCombination : public CoordinatorTest, public testing::WithParamInterface<MenuCase> {};

TEST_P(MenuCombination, MessagesPausesAndOneListtable) {
    const MenuCase& c = GetParam();
    for (int i = 0; i < 3; ++i)
        host.groups[i] = c.groups[i];
    if (c.lists) {
        daili->ArticleUrls->append(closedBase + "/a0.html");
        daili->ArticleUrls->append(closedBase + "/a1.html");
        daili->CustomUrls->append(closedBase + "/c0.html");
    }
    test::appendRow(host.table(), "9.9.9.9", "1");
    host.state().Busy = false;

    actdownExecute(host, *daili);
    EXPECT_EQ(host.events, c.events);
    EXPECT_EQ(daili->JobCount, c.jobs);
    EXPECT_EQ(host.table().count(), 0);
    EXPECT_EQ(host.state().Busy, c.jobs > 0);

    host.events.clear();
    ASSERT_TRUE(waitForJobs());
    EXPECT_EQ(count("listtable"), c.jobs > 0 ? 1 : 0);
    EXPECT_FALSE(host.state().Busy);
}

const std::vector<std::string> kDomestic = {kCnp, kPause, kProxycn, kPause, kPause};
const std::vector<std::string> kDomesticLists = {kCnp, kPause, kProxycn, kPause, kHaozs, kPause};
const std::vector<std::string> kForeign = {kProxynet,   kPause, kRos,  kPause,
                                           kProxylists, kPause, kAnti, kPause};

std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

const MenuCase kMenuCases[] = {
    {"Nothing", {false, false, false}, true, {}, 0},
    {"OnlyCustomEmptyList", {false, false, true}, false, {}, 0},
    {"OnlyCustom", {false, false, true}, true, {kUrls}, 1},
    {"DomesticEmptyLists", {true, false, false}, false, kDomestic, 2},
    {"Domestic", {true, false, false}, true, kDomesticLists, 3},
    {"Foreign", {false, true, false}, false, kForeign, 4},
    {"DomesticForeign", {true, true, false}, false, join({kDomestic, kForeign}), 6},
    {"ForeignCustom", {false, true, true}, true, join({kForeign, {kUrls}}), 5},
    {"AllEmptyLists", {true, true, true}, false, join({kDomestic, kForeign}), 6},
    {"All", {true, true, true}, true, join({kDomesticLists, kForeign, {kUrls}}), 8},
};

INSTANTIATE_TEST_SUITE_P(Menus, MenuCombination, testing::ValuesIn(kMenuCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(CoordinatorTest, NoJobLeavesFlagsAlone) {
    host.groups[0] = false;
    host.state().Busy = true;  // whatever it was stays
    test::appendRow(host.table(), "1.1.1.1", "80");
    host.grid().setGridRowCount(3);
    host.grid().setCell(0, 1, "1.1.1.1");
    actdwoncheckExecute(host, *daili);
    EXPECT_TRUE(host.events.empty());
    EXPECT_EQ(daili->JobCount, 0);
    EXPECT_TRUE(host.state().Busy);
    EXPECT_TRUE(host.state().CheckAfterDown);
    EXPECT_EQ(host.table().count(), 0);
    EXPECT_EQ(host.grid().gridRowCount(), 3);
    EXPECT_EQ(host.grid().cell(0, 1), "");
    test::pumpUntil([] { return false; }, 50);
    EXPECT_TRUE(host.events.empty());
}

TEST_F(CoordinatorTest, RepeatedCommandRunsListtableOnceAfterTheLastJob) {
    // Downloads hang in the listener's backlog until the total time-out: the first command's
    // job is still running when the second command starts.
    test::SilentListener silent;
    DownloadLimits limits;
    limits.connectTimeoutMs = 2000;
    limits.totalTimeoutMs = 300;
    setDownloadLimits(limits);
    const std::string slow = "http://127.0.0.1:" + std::to_string(silent.port());
    for (int i = 0; i < 2; ++i)
        daili->CustomUrls->append(slow + "/p" + std::to_string(i) + ".html");
    host.groups[0] = false;
    host.groups[2] = true;
    std::vector<int> jobCountsAtListtable;
    host.onListtable = [&] { jobCountsAtListtable.push_back(daili->JobCount); };

    actdownExecute(host, *daili);
    test::appendRow(host.table(), "5.5.5.5", "5");  // as if the first job had delivered
    actdownExecute(host, *daili);
    EXPECT_EQ(daili->JobCount, 2);
    EXPECT_EQ(host.table().count(), 0) << "the second command empties the table again";
    ASSERT_TRUE(waitForJobs());
    EXPECT_EQ(jobCountsAtListtable, std::vector<int>{0});
    EXPECT_FALSE(host.state().Busy);
}

TEST_F(CoordinatorTest, JobsEndingBetweenStartsFinishTheHarvestOnceAfterTheCommand) {
    // Downloads fail at once and the command's status messages let completions run, so
    // every job may end before the next one starts: the harvest still ends only once, after
    // the last start, not in the middle of the command with a partial table.
    host.groups[0] = host.groups[1] = true;
    host.pumpEvents = true;
    host.realPauses = true;
    actdownExecute(host, *daili);
    ASSERT_TRUE(waitForJobs());
    const auto last = std::find(host.events.begin(), host.events.end(), kAnti);
    ASSERT_NE(last, host.events.end());
    EXPECT_EQ(count("listtable"), 1);
    EXPECT_EQ(std::count(host.events.begin(), last, "listtable"), 0)
        << "listtable ran while jobs were still being started";
}

TEST_F(CoordinatorTest, AnErrorInTheCompletionEndsWithTheErrorReport) {
    // listtable runs from the last job's completion, outside any command: an error there is
    // reported like a command's, and the program goes on.
    host.groups[0] = false;
    host.groups[1] = true;
    host.onListtable = [this] { host.table().deleterecord(); };  // the table is empty
    actdownExecute(host, *daili);
    ASSERT_TRUE(waitForJobs());
    ASSERT_TRUE(test::pumpUntil([this] { return count("listtable") == 1; }));
    test::pumpUntil([] { return false; }, 50);
    EXPECT_EQ(host.events.back(), "error:ProxyTable is empty: no record to delete");
    EXPECT_EQ(count("listtable"), 1);
    EXPECT_FALSE(host.state().Busy);
}

// A second download command can run inside the first one (its status messages let events
// run). The harvest still ends once, after the last start of the outer command and the last
// job of both.
TEST_F(CoordinatorTest, InnerCommandEndingFirstDoesNotFinishTheOuterHarvestEarly) {
    host.groups[0] = host.groups[1] = true;
    host.pumpEvents = true;
    int calls = 0;
    bool inner = false;
    host.onProcessMessages = [&] {
        if (inner)
            return;
        ++calls;
        if (calls == 1) {  // the outer command's first start message
            inner = true;
            actdownExecute(host, *daili);
            inner = false;
        } else if (calls == 2) {  // the outer command's second start: every job has ended
            inner = true;
            ASSERT_TRUE(test::pumpUntil([&] { return daili->JobCount == 0; }));
            inner = false;
        }
    };
    actdownExecute(host, *daili);
    host.onProcessMessages = nullptr;
    ASSERT_TRUE(waitForJobs());
    ASSERT_TRUE(test::pumpUntil([] { return harvestRunningWorkers() == 0; }));
    test::pumpUntil([] { return false; }, 50);
    EXPECT_EQ(count("listtable"), 1);
    const auto lastStart = std::find(host.events.rbegin(), host.events.rend(), kAnti);
    const auto listed = std::find(host.events.rbegin(), host.events.rend(), "listtable");
    ASSERT_NE(listed, host.events.rend());
    EXPECT_LT(listed - host.events.rbegin(), lastStart - host.events.rbegin())
        << "listtable ran before the outer command's last start";
    EXPECT_FALSE(host.state().Busy);
}

TEST_F(CoordinatorTest, InnerCommandAfterTheOuterJobsEndedStillFinishesTheHarvest) {
    host.groups[0] = false;
    host.groups[2] = true;
    daili->CustomUrls->append(closedBase + "/c0.html");
    host.pumpEvents = true;
    bool inner = false;
    host.onProcessMessages = [&] {
        if (inner)
            return;
        inner = true;
        // The outer command's only job ends while it is still starting; then a command that
        // starts nothing runs inside it.
        ASSERT_TRUE(test::pumpUntil([&] { return daili->JobCount == 0; }));
        const bool groups[3] = {host.groups[0], host.groups[1], host.groups[2]};
        host.groups[0] = host.groups[1] = host.groups[2] = false;
        actdownExecute(host, *daili);
        std::copy(groups, groups + 3, host.groups);
    };
    actdownExecute(host, *daili);
    host.onProcessMessages = nullptr;
    ASSERT_TRUE(waitForJobs());
    test::pumpUntil([] { return false; }, 50);
    EXPECT_EQ(count("listtable"), 1);
    EXPECT_FALSE(host.state().Busy);
}

TEST_F(CoordinatorTest, NoListtableAfterTheWindowClosedInsideTheCommand) {
    host.groups[0] = false;
    host.groups[2] = true;
    daili->CustomUrls->append(closedBase + "/c0.html");
    host.pumpEvents = true;
    host.onProcessMessages = [&] {
        host.onProcessMessages = nullptr;
        // The job ends while the command is still starting, then the window closes.
        ASSERT_TRUE(test::pumpUntil([&] { return daili->JobCount == 0; }));
        harvestShutdown();
    };
    actdownExecute(host, *daili);
    test::pumpUntil([] { return false; }, 50);
    EXPECT_EQ(count("listtable"), 0);
    harvestRevive();
}

TEST_F(CoordinatorTest, JobCountNeverBelowZero) {
    daili->JobDone();
    EXPECT_EQ(daili->JobCount, 0);
    EXPECT_EQ(count("listtable"), 1);
}

TEST_F(CoordinatorTest, DiscoveryWithEveryPortalDownFindsNothing) {
    tdaili withDiscovery(host);
    ASSERT_TRUE(test::pumpUntil([] { return harvestRunningWorkers() == 0; }));
    EXPECT_EQ(withDiscovery.CustomUrls->count(), 0);
    EXPECT_EQ(withDiscovery.ArticleUrls->count(), 0);
    host.groups[0] = false;
    host.groups[2] = true;
    actdownExecute(host, withDiscovery);
    EXPECT_TRUE(host.events.empty());
}

TEST_F(CoordinatorTest, NoMessageWhileUnbound) {
    daili->OnMessage = nullptr;
    host.groups[0] = false;
    host.groups[1] = true;
    actdownExecute(host, *daili);
    EXPECT_EQ(host.events, (std::vector<std::string>(4, kPause)));
    ASSERT_TRUE(waitForJobs());
}

TEST_F(CoordinatorTest, NothingStartsOnceTheWindowHasClosed) {
    host.groups[1] = host.groups[2] = true;
    daili->CustomUrls->append(closedBase + "/c0.html");
    harvestShutdown();
    actdownExecute(host, *daili);
    EXPECT_EQ(daili->JobCount, 0);
    EXPECT_EQ(harvestRunningWorkers(), 0);
    EXPECT_EQ(count("listtable"), 0);
    harvestRevive();
}

}  // namespace
}  // namespace vorsa
