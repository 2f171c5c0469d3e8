// The validation run through the fake host: checkers that never touch the network and
// complete when the test says, and a tick count the test sets.
#include "validation/validation_run.h"

#include "platform/codec.h"
#include "platform/tick_count.h"
#include "table/grid_routines.h"
#include "tests/support/fake_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace vorsa {
namespace {

using test::appendRow;
using test::FakeHost;
using test::utf8;

struct FakeTicks : TickSource {
    std::uint32_t now = 1000;
    std::uint32_t ticks() const override { return now; }
};

class ValidationRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        setTickSource(&ticks);
        run.setCheckUrl("http://127.0.0.1:9/ip2city.asp");
        run.setCheckStarter([this](TRaVInetChecker& c) {
            started.push_back(&c);
            QObject::connect(&c, &QObject::destroyed,
                             [this, n = started.size()] { destroyed.insert(n - 1); });
            const bool ok = startResult ? startResult(c.Tag) : true;
            if (afterStart)
                afterStart(c);
            return ok;
        });
    }
    void TearDown() override { setTickSource(nullptr); }

    // Rows "10.0.0.<i>:80<i>" redrawn into the grid, as after a harvest.
    void rows(int n) {
        for (int i = 1; i <= n; ++i)
            appendRow(host.table(), "10.0.0." + std::to_string(i), "80" + std::to_string(i));
        refreshgrid(host);
    }
    void complete(TRaVInetChecker* c, bool ok) {
        c->windowProc(TRaVInetChecker::WM_CHECKCOMPLETE, ok ? 1 : 0);
    }
    // The checker started for grid row `row` most recently.
    TRaVInetChecker* startedFor(int row) {
        for (auto it = started.rbegin(); it != started.rend(); ++it)
            if ((*it)->Tag == row)
                return *it;
        return nullptr;
    }
    std::string cell(int col, int row) { return utf8(host.grid().cell(col, row)); }
    std::vector<std::string> gridIps() {
        std::vector<std::string> ips;
        for (int r = 1; r < host.grid().gridRowCount(); ++r)
            ips.push_back(host.grid().cell(1, r));
        return ips;
    }
    std::string lastInfo() { return host.panel1(); }
    int count(const std::string& event) {
        return static_cast<int>(std::count(host.events.begin(), host.events.end(), event));
    }

    FakeTicks ticks;
    FakeHost host;
    std::vector<TRaVInetChecker*> started;
    std::set<std::size_t> destroyed;  // indexes into started
    std::function<bool(int row)> startResult;
    std::function<void(TRaVInetChecker&)> afterStart;
    ValidationRun run{host};  // last: its checkers go first
};

TEST_F(ValidationRunTest, EachCheckIsConfiguredFromItsRowAndPaced) {
    appendRow(host.table(), " 10.1.2.3\t", " 8080 ");
    appendRow(host.table(), "10.1.2.4", "3128");
    refreshgrid(host);
    host.events.clear();
    run.actcheckExecute();

    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(started[0]->Proxy, "10.1.2.3:8080");
    EXPECT_EQ(started[1]->Proxy, "10.1.2.4:3128");
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(started[i]->AccessType, atProxy);
        EXPECT_EQ(started[i]->UserAgent, "Internet Explorer 7.0");
        EXPECT_EQ(started[i]->Url, "http://127.0.0.1:9/ip2city.asp");
        EXPECT_EQ(started[i]->Tag, i + 1);
        EXPECT_EQ(host.state().Checkers[i + 1], started[i]);
    }
    const std::vector<std::string> expected = {
        "showinfo:正在验证，请稍候...", "showinfo:正在验证，请稍候……", "pause:150", "pause:150"};
    EXPECT_EQ(host.events, expected);
    EXPECT_TRUE(host.state().Busy);
    EXPECT_FALSE(host.state().CheckDone);
    EXPECT_EQ(host.state().PendingChecks, 2);
}

TEST_F(ValidationRunTest, ResultsInAnyOrderLandInTheirRowsTimedFromTheirOwnStart) {
    rows(3);
    afterStart = [this](TRaVInetChecker&) { ticks.now += 100; };  // starts at 1000, 1100, 1200
    run.actcheckExecute();
    ASSERT_EQ(started.size(), 3u);

    ticks.now = 1500;
    complete(startedFor(3), true);
    EXPECT_EQ(cell(5, 3), "√");
    EXPECT_EQ(cell(6, 3), "300");
    ticks.now = 1510;
    complete(startedFor(1), false);
    EXPECT_EQ(cell(5, 1), "⊙");
    EXPECT_EQ(cell(6, 1), "99999");
    EXPECT_TRUE(host.state().Busy);
    ticks.now = 1650;
    complete(startedFor(2), true);

    // Finalised: the failed row is gone, the rest sorted by speed.
    EXPECT_FALSE(host.state().Busy);
    const std::vector<std::string> ips = {"10.0.0.3", "10.0.0.2"};
    EXPECT_EQ(gridIps(), ips);
    EXPECT_EQ(cell(6, 1), "300");
    EXPECT_EQ(cell(6, 2), "550");
    EXPECT_EQ(host.table().at(2).Speed, 550);
    EXPECT_EQ(lastInfo(), " 验证结束,共有2代理可用！");
}

TEST_F(ValidationRunTest, SpeedIsTheTickDifferenceModulo2To32) {
    struct Case {
        std::uint32_t start, done;
        const char* speed;
    } cases[] = {
        {0xFFFFFFFAu, 10, "16"},                   // 6 ms before the wrap, 10 ms after
        {0x80000010u, 0xFFFFFF00u, "2147483376"},  // both readings above 2^31
        {5, 5, "0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.speed);
        FakeHost h;
        ValidationRun r(h);
        r.setCheckUrl("http://127.0.0.1:9/ip2city.asp");
        TRaVInetChecker* checker = nullptr;
        r.setCheckStarter([&](TRaVInetChecker& ch) {
            checker = &ch;
            return true;
        });
        appendRow(h.table(), "10.0.0.1", "80");
        appendRow(h.table(), "10.0.0.2", "80");
        refreshgrid(h);
        ticks.now = c.start;
        // Stop after the first check so that its completion finalises with one row.
        h.onProcessMessages = [&] {
            if (checker)
                r.actstopExecute();
        };
        r.actcheckExecute();
        ticks.now = c.done;
        h.onProcessMessages = nullptr;
        checker->windowProc(TRaVInetChecker::WM_CHECKCOMPLETE, 1);
        EXPECT_EQ(utf8(h.grid().cell(6, 1)), c.speed);
    }
}

TEST_F(ValidationRunTest, StopInTheMiddlePrunesEveryUnverifiedRowAndLateResultsChangeNothing) {
    rows(5);
    afterStart = [this](TRaVInetChecker&) {
        if (started.size() == 2)
            run.actstopExecute();
    };
    run.actcheckExecute();
    ASSERT_EQ(started.size(), 2u);  // rows 3..5 never reached
    EXPECT_TRUE(host.state().Busy);
    EXPECT_TRUE(host.state().StopFlag);

    ticks.now = 1040;
    complete(started[0], true);  // Stopping: this completion finalises
    EXPECT_FALSE(host.state().Busy);
    EXPECT_TRUE(host.state().CheckDone);
    EXPECT_EQ(host.table().count(), 1);
    EXPECT_EQ(gridIps(), std::vector<std::string>{"10.0.0.1"});
    EXPECT_EQ(lastInfo(), " 验证结束,共有1代理可用！");

    // Row 2's check was still pending; its late success changes no cell and no record.
    const auto events = host.events.size();
    host.state().StopFlag = false;
    complete(started[1], true);
    EXPECT_TRUE(host.state().StopFlag);
    EXPECT_EQ(host.grid().gridRowCount(), 2);
    EXPECT_EQ(cell(5, 1), "√");
    EXPECT_EQ(cell(6, 1), "40");
    EXPECT_EQ(host.table().count(), 1);
    EXPECT_EQ(host.events.size(), events);
}

TEST_F(ValidationRunTest, EarlierVerifiedRowThatFailsNowKeepsItsOldSpeed) {
    rows(2);
    ProxyTable& t = host.table();
    t.gofirst();
    t.goforward(1);
    t.editrecord();
    t.setflag(Field::Verified, true);
    t.setinteger(Field::Speed, 70);
    t.postrecord();
    refreshgrid(host);

    run.actcheckExecute();
    complete(startedFor(2), false);
    EXPECT_EQ(cell(5, 2), "⊙");
    EXPECT_EQ(cell(6, 2), "99999");
    EXPECT_EQ(t.at(2).Speed, 70);
    EXPECT_EQ(t.at(2).Verified, true);

    ticks.now += 500;
    complete(startedFor(1), true);
    // After the closing refresh: both usable, the old one first with its old speed.
    EXPECT_EQ(gridIps(), (std::vector<std::string>{"10.0.0.2", "10.0.0.1"}));
    EXPECT_EQ(cell(5, 1), "√");
    EXPECT_EQ(cell(6, 1), "70");
    EXPECT_EQ(cell(6, 2), "500");
    EXPECT_EQ(lastInfo(), " 验证结束,共有2代理可用！");
}

TEST_F(ValidationRunTest, AllPassDeletesNothingAndSortsBySpeed) {
    rows(4);
    run.actcheckExecute();
    const int speeds[] = {0, 300, 100, 400, 200};  // by row
    for (int row : {4, 2, 1, 3}) {
        TRaVInetChecker* c = startedFor(row);
        ticks.now = static_cast<std::uint32_t>(c->starttime + speeds[row]);
        complete(c, true);
    }
    EXPECT_EQ(gridIps(),
              (std::vector<std::string>{"10.0.0.2", "10.0.0.4", "10.0.0.1", "10.0.0.3"}));
    for (int r = 1; r <= 4; ++r)
        EXPECT_EQ(cell(6, r), std::to_string(100 * r));
    EXPECT_EQ(lastInfo(), " 验证结束,共有4代理可用！");
    const std::vector<std::string> tail = {"showinfo:验证结束……", "showinfo:共有4个代理",
                                           "showinfo: 验证结束,共有4代理可用！"};
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), host.events.end() - 3));
    EXPECT_FALSE(host.state().CheckAfterDown);
    EXPECT_EQ(host.state().PendingChecks, 200);
}

TEST_F(ValidationRunTest, NoPassEmptiesTheGridToItsHeaderAndCountsZero) {
    rows(3);
    host.state().CheckAfterDown = true;
    run.actcheckExecute();
    for (int row = 1; row <= 3; ++row)
        complete(startedFor(row), false);
    EXPECT_EQ(host.table().count(), 0);
    EXPECT_EQ(host.grid().gridRowCount(), 1);
    EXPECT_EQ(lastInfo(), " 验证结束,共有0代理可用！");
    EXPECT_FALSE(host.state().CheckAfterDown);
    EXPECT_FALSE(host.state().Busy);
}

TEST_F(ValidationRunTest, RunWithNothingToWaitForStillFinishes) {
    struct Case {
        const char* name;
        int rows;
        bool startsOk;
        bool completeAndStopInPause;
        int usable;
    } cases[] = {
        {"no rows", 0, true, false, 0},
        {"every start fails", 3, false, false, 0},
        {"stopped with none outstanding", 3, true, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeHost h;
        ValidationRun r(h);
        r.setCheckUrl("http://127.0.0.1:9/ip2city.asp");
        std::vector<TRaVInetChecker*> mine;
        r.setCheckStarter([&](TRaVInetChecker& ch) {
            mine.push_back(&ch);
            return c.startsOk;
        });
        for (int i = 1; i <= c.rows; ++i)
            appendRow(h.table(), "10.0.0." + std::to_string(i), "80");
        refreshgrid(h);
        h.onProcessMessages = [&] {
            if (c.completeAndStopInPause && mine.size() == 1 && !h.state().StopFlag) {
                // The one check reports, then the stop comes: no completion is left to
                // finalise the run.
                mine[0]->windowProc(TRaVInetChecker::WM_CHECKCOMPLETE, 1);
                r.actstopExecute();
            }
        };
        r.actcheckExecute();
        EXPECT_FALSE(h.state().Busy);
        EXPECT_TRUE(h.state().CheckDone);
        EXPECT_EQ(h.panel1(), " 验证结束,共有" + std::to_string(c.usable) + "代理可用！");
    }
}

TEST_F(ValidationRunTest, RowsRemovedUnderARunStillLetItFinish) {
    // The grid loses rows while the loop runs: fewer checks go out than were counted.
    rows(3);
    afterStart = [this](TRaVInetChecker&) {
        if (started.size() == 1)
            host.grid().setGridRowCount(2);
    };
    run.actcheckExecute();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_TRUE(host.state().Busy);
    complete(started[0], true);
    EXPECT_FALSE(host.state().Busy);
    EXPECT_EQ(lastInfo(), " 验证结束,共有1代理可用！");
}

TEST_F(ValidationRunTest, CompletionBetweenFlagResetAndLoopCannotFinaliseTheNewRun) {
    rows(3);
    afterStart = [this](TRaVInetChecker&) {
        if (started.size() == 2)
            run.actstopExecute();
    };
    run.actcheckExecute();
    complete(started[0], true);  // finalises run 1; started[1] still in flight
    ASSERT_EQ(host.state().PendingChecks, 200);
    TRaVInetChecker* late = started[1];
    afterStart = nullptr;

    // Run 2 (over the one row left): the late completion arrives inside the first showinfo.
    appendRow(host.table(), "10.0.0.7", "80");
    appendRow(host.table(), "10.0.0.8", "80");
    refreshgrid(host);
    bool delivered = false;
    host.onProcessMessages = [&] {
        if (!delivered) {
            delivered = true;
            complete(late, true);
            EXPECT_EQ(host.state().PendingChecks, 199);
        }
    };
    started.clear();
    run.actcheckExecute();
    EXPECT_TRUE(delivered);
    EXPECT_EQ(started.size(), 3u);  // the loop issued every row of the new run
    EXPECT_TRUE(host.state().Busy);
    EXPECT_EQ(host.state().PendingChecks, 3);
}

TEST_F(ValidationRunTest, LoopEndingWithPendingAtZeroWaitsForItsOwnCheckInFlight) {
    // Run 1 stops with row 2's check still out; its late result is counted against run 2,
    // whose last start fails: PendingChecks reaches 0 while run 2's own check of row 2 is in
    // flight. That check decides its row; the run ends with it, not before.
    rows(2);
    afterStart = [this](TRaVInetChecker&) {
        if (started.size() == 2)
            run.actstopExecute();
    };
    run.actcheckExecute();
    complete(started[0], true);  // finalises run 1
    TRaVInetChecker* late = started[1];
    afterStart = nullptr;
    appendRow(host.table(), "10.0.0.7", "80");
    appendRow(host.table(), "10.0.0.8", "80");
    refreshgrid(host);  // 10.0.0.1 (verified), 10.0.0.7, 10.0.0.8
    started.clear();
    startResult = [](int row) { return row == 2; };
    host.onProcessMessages = [&] {
        if (late && started.size() == 1) {
            complete(late, false);
            late = nullptr;
        }
    };
    run.actcheckExecute();
    host.onProcessMessages = nullptr;
    ASSERT_EQ(started.size(), 3u);
    EXPECT_LE(host.state().PendingChecks, 0);
    EXPECT_TRUE(host.state().Busy) << "finalised with a check of the run still in flight";
    EXPECT_FALSE(host.state().CheckDone);

    ticks.now = static_cast<std::uint32_t>(startedFor(2)->starttime) + 90;
    complete(startedFor(2), true);
    EXPECT_FALSE(host.state().Busy);
    EXPECT_EQ(gridIps(), (std::vector<std::string>{"10.0.0.1", "10.0.0.7"}));
    EXPECT_EQ(cell(6, 2), "90");
    EXPECT_EQ(lastInfo(), " 验证结束,共有2代理可用！");
}

TEST_F(ValidationRunTest, BusyBlocksAStartAndStopWhenIdleChangesNothing) {
    rows(2);
    run.actstopExecute();
    EXPECT_FALSE(host.state().StopFlag);
    host.state().Busy = true;  // a harvest runs
    run.actcheckExecute();
    EXPECT_TRUE(started.empty());
    EXPECT_EQ(count("showinfo:正在验证，请稍候..."), 0);
    run.actstopExecute();
    EXPECT_TRUE(host.state().StopFlag);  // set, cleared by the next start
    host.state().Busy = false;
    run.actcheckExecute();
    EXPECT_EQ(started.size(), 2u);
    EXPECT_FALSE(host.state().StopFlag);
}

TEST_F(ValidationRunTest, MoreThan10000RowsAreAllChecked) {
    constexpr int n = 10003;
    for (int i = 1; i <= n; ++i)
        appendRow(host.table(),
                  "10." + std::to_string(i / 256) + "." + std::to_string(i % 256) + ".1", "80");
    refreshgrid(host);
    run.actcheckExecute();
    ASSERT_EQ(static_cast<int>(started.size()), n);
    ASSERT_GE(static_cast<int>(host.state().Checkers.size()), n + 1);
    EXPECT_EQ(host.state().Checkers[n]->Tag, n);
    ticks.now += 7;
    for (int row = n; row >= 1; --row)
        complete(host.state().Checkers[row], row > 10000);
    EXPECT_EQ(host.table().count(), 3);
    EXPECT_EQ(lastInfo(), " 验证结束,共有3代理可用！");
}

TEST_F(ValidationRunTest, CheckerIsReleasedOnlyOnceDeliveredAndReplaced) {
    rows(2);
    afterStart = [this](TRaVInetChecker&) {
        if (started.size() == 2)
            run.actstopExecute();
    };
    run.actcheckExecute();
    complete(started[1], true);  // run 1 ends with row 2's proxy; row 1's check in flight
    afterStart = nullptr;
    ASSERT_EQ(host.table().count(), 1);

    // Run 2 over the one row left replaces row 1's checker while its request is under way.
    run.actcheckExecute();
    ASSERT_EQ(started.size(), 3u);
    EXPECT_TRUE(destroyed.empty());
    EXPECT_EQ(run.checkersHeld(), 3u);

    // Delivered now (and counted against run 2, which it finalises): released, and gone at
    // the next safe point; the current checkers of both rows stay.
    complete(started[0], false);
    EXPECT_FALSE(host.state().Busy);
    run.actcheckExecute();
    EXPECT_EQ(destroyed, std::set<std::size_t>{0});
    // started[2] was still in flight when run 3 replaced it: kept too.
    EXPECT_EQ(run.checkersHeld(), 3u);
    complete(started[2], true);
    complete(started[3], true);
    run.actcheckExecute();
    EXPECT_TRUE(destroyed.count(2));
    EXPECT_TRUE(destroyed.count(3));
}

}  // namespace
}  // namespace vorsa
