// Rows from source workers reach the table in batches: each worker's rows arrive in its order
// and only on the main thread, an append error ends the worker with exactly the rows before the
// failing one in the table, and a close in the middle of a batch appends nothing more.
#include "harvest/source_worker.h"
#include "harvest/worker_thread.h"
#include "harvest_test_env.h"
#include "tests/support/fake_host.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vorsa {
namespace {

constexpr int kBatch = static_cast<int>(SourceWorker::kBatchRows);

// A host whose table access is watched: every access must come from the main thread, and the
// access number failAt throws the way a failing append does.
class WatchedHost : public test::FakeHost {
public:
    ProxyTable& table() override {
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            offMain = true;
        if (++calls == failAt)
            throw std::runtime_error("append failed");
        return FakeHost::table();
    }
    int failAt = -1;
    int calls = 0;
    bool offMain = false;
};

// Hands over rows "<tag>.<i>" for i in [0, n); with stallAfter set it waits once that many
// rows are queued (before the batch is full) until it is released.
class CountingSource : public SourceWorker {
public:
    CountingSource(MainHost& host, std::string tag, int n)
        : SourceWorker(host, SourceFields{true, false}), m_tag(std::move(tag)), m_n(n) {}
    void ParsePage(const std::string&) override {}

    std::atomic<int> queued{0};
    std::atomic<bool> bodyEnded{false};

protected:
    void Execute() override {
        HarvestRow row{"", "80", "HTTP", ""};
        for (int i = 0; i < m_n; ++i) {
            row.Ip = m_tag + "." + std::to_string(i);
            queued = i + 1;
            handOver(row);
        }
        bodyEnded = true;
    }

private:
    std::string m_tag;
    int m_n;
};

// The numbers of the rows of tag in table order.
std::vector<int> rowsOf(ProxyTable& t, const std::string& tag) {
    std::vector<int> out;
    for (int i = 1; i <= t.count(); ++i) {
        const std::string ip = t.at(i).text(Field::Ip);
        if (ip.rfind(tag + ".", 0) == 0)
            out.push_back(std::stoi(ip.substr(tag.size() + 1)));
    }
    return out;
}

std::vector<int> range(int n) {
    std::vector<int> v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        v[static_cast<std::size_t>(i)] = i;
    return v;
}

class RowBatchesTest : public testing::Test {
protected:
    void SetUp() override {
        host.table().opentable();
        host.calls = 0;
    }
    void TearDown() override { harvestRevive(); }

    // Starts a worker that frees itself; its completion records the error that ended it.
    CountingSource* start(const std::string& tag, int n) {
        auto* w = new CountingSource(host, tag, n);
        w->FreeOnTerminate = true;
        w->OnTerminate = [this](TWorkerThread* t) {
            if (onEnd)
                onEnd(static_cast<CountingSource&>(*t));
            ++finished;
            if (t->FatalException()) {
                try {
                    std::rethrow_exception(t->FatalException());
                } catch (const std::exception& e) {
                    errors.push_back(e.what());
                }
            }
        };
        w->Start();
        return w;
    }

    WatchedHost host;
    int finished = 0;
    std::vector<std::string> errors;
    std::function<void(CountingSource&)> onEnd;
};

TEST_F(RowBatchesTest, EveryWorkersRowsArriveInItsOrderOnTheMainThread) {
    // Full batches, a partial last batch, and a worker with less than one batch.
    const std::vector<std::pair<std::string, int>> workers = {
        {"a", 2 * kBatch + 17}, {"b", kBatch}, {"c", 5}};
    for (const auto& [tag, n] : workers)
        start(tag, n);
    ASSERT_TRUE(test::pumpUntil([&] { return finished == 3; }, 30000));
    EXPECT_TRUE(errors.empty());
    EXPECT_FALSE(host.offMain);
    EXPECT_EQ(host.table().count(), 3 * kBatch + 22);
    for (const auto& [tag, n] : workers)
        EXPECT_EQ(rowsOf(host.table(), tag), range(n)) << tag;
}

TEST_F(RowBatchesTest, AnAppendErrorEndsTheWorkerAfterTheRowsBeforeIt) {
    struct Case {
        const char* what;
        int rows;    // handed over by the worker
        int failAt;  // the row (1-based) whose append throws
    };
    const Case cases[] = {
        {"first row", 3 * kBatch, 1},
        {"middle of the second batch", 3 * kBatch, kBatch + 10},
        {"last row of a full batch", 3 * kBatch, 2 * kBatch},
        {"in the rest sent when the body ends", kBatch + 7, kBatch + 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        host.table().clear();
        host.calls = 0;
        host.failAt = c.failAt;
        finished = 0;
        errors.clear();
        start("r", c.rows);
        ASSERT_TRUE(test::pumpUntil([&] { return finished == 1; }, 30000));
        EXPECT_EQ(errors, std::vector<std::string>{"append failed"});
        EXPECT_EQ(rowsOf(host.table(), "r"), range(c.failAt - 1));
    }
}

TEST_F(RowBatchesTest, AnAppendErrorStopsTheBodyAtTheFailingBatch) {
    host.failAt = 5;
    // Read before the worker frees itself: the body must not go on parsing the later batches.
    int queuedAtEnd = 0;
    bool endedAtEnd = true;
    onEnd = [&](CountingSource& s) {
        queuedAtEnd = s.queued.load();
        endedAtEnd = s.bodyEnded.load();
    };
    start("s", 4 * kBatch);
    ASSERT_TRUE(test::pumpUntil([&] { return finished == 1; }, 30000));
    EXPECT_EQ(queuedAtEnd, kBatch);
    EXPECT_FALSE(endedAtEnd);
    EXPECT_EQ(host.table().count(), 4);
}

TEST_F(RowBatchesTest, ACloseInTheMiddleOfABatchAppendsNothingMore) {
    CountingSource* w = start("z", kBatch + 5);
    // The main thread serves nothing: the worker blocks handing its first batch over.
    while (w->queued.load() < kBatch)
        QThread::msleep(1);
    QThread::msleep(20);
    harvestShutdown();
    EXPECT_TRUE(w->wait(5000)) << "a waiting batch was not released by the shutdown";
    test::pumpUntil([] { return false; }, 100);
    EXPECT_EQ(host.table().count(), 0);
    EXPECT_EQ(w->queued.load(), kBatch) << "the body went on after the close";
    EXPECT_EQ(finished, 0) << "completion ran after the window closed";
    EXPECT_EQ(harvestRunningWorkers(), 0);
    delete w;
}

}  // namespace
}  // namespace vorsa
