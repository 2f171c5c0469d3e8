#include "harvest/worker_thread.h"
#include "harvest_test_env.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>

namespace vorsa {
namespace {

// A worker whose body is a test's lambda, with the base's protected hand-over made callable.
class LambdaWorker : public TWorkerThread {
public:
    explicit LambdaWorker(std::function<void(LambdaWorker&)> body, bool* destroyed = nullptr)
        : m_body(std::move(body)), m_destroyed(destroyed) {}
    ~LambdaWorker() override {
        if (m_destroyed)
            *m_destroyed = true;
    }
    using TWorkerThread::Synchronize;

protected:
    void Execute() override { m_body(*this); }

private:
    std::function<void(LambdaWorker&)> m_body;
    bool* m_destroyed;
};

QThread* mainThread() {
    return QCoreApplication::instance()->thread();
}

class WorkerThreadTest : public testing::Test {
protected:
    void TearDown() override { harvestRevive(); }
};

TEST_F(WorkerThreadTest, NothingRunsBeforeStart) {
    std::atomic<bool> ran{false};
    auto* w = new LambdaWorker([&](LambdaWorker&) { ran = true; });
    QThread::msleep(50);
    EXPECT_FALSE(ran.load());
    bool terminated = false;
    w->OnTerminate = [&](TWorkerThread*) { terminated = true; };
    w->Start();
    ASSERT_TRUE(test::pumpUntil([&] { return terminated; }));
    EXPECT_TRUE(ran.load());
    delete w;
}

TEST_F(WorkerThreadTest, HandOverRunsOnMainThreadAndCarriesErrorsBack) {
    std::vector<std::string> log;  // written on the main thread only, inside hand-overs
    std::string caught;
    bool destroyed = false;
    bool terminated = false;
    auto* w = new LambdaWorker(
        [&](LambdaWorker& self) {
            for (int i = 0; i < 3; ++i)
                self.Synchronize([&, i] {
                    log.push_back(QThread::currentThread() == mainThread() ? "main" : "other");
                    log.back() += std::to_string(i);
                });
            try {
                self.Synchronize([] { throw std::runtime_error("append failed"); });
            } catch (const std::runtime_error& e) {
                caught = e.what();  // read by the main thread after completion
            }
        },
        &destroyed);
    w->FreeOnTerminate = true;
    w->OnTerminate = [&](TWorkerThread* t) {
        EXPECT_EQ(QThread::currentThread(), mainThread());
        EXPECT_FALSE(t->FatalException());
        terminated = true;
    };
    w->Start();
    ASSERT_TRUE(test::pumpUntil([&] { return destroyed; }));
    EXPECT_TRUE(terminated);
    EXPECT_EQ(log, (std::vector<std::string>{"main0", "main1", "main2"}));
    EXPECT_EQ(caught, "append failed");
}

TEST_F(WorkerThreadTest, EscapedErrorStillCompletes) {
    bool destroyed = false;
    std::string error;
    auto* w = new LambdaWorker(
        [](LambdaWorker& self) {
            self.Synchronize([] { throw std::logic_error("from the append step"); });
            ADD_FAILURE() << "the body went on after the error";
        },
        &destroyed);
    w->FreeOnTerminate = true;
    w->OnTerminate = [&](TWorkerThread* t) {
        try {
            std::rethrow_exception(t->FatalException());
        } catch (const std::logic_error& e) {
            error = e.what();
        }
    };
    w->Start();
    ASSERT_TRUE(test::pumpUntil([&] { return destroyed; }));
    EXPECT_EQ(error, "from the append step");
}

TEST_F(WorkerThreadTest, AfterShutdownNothingRunsOnTheMainThread) {
    std::atomic<int> stage{0};
    std::atomic<bool> fnRan{false};
    std::atomic<bool> gotShutdown{false};
    bool terminated = false;
    auto* w = new LambdaWorker([&](LambdaWorker& self) {
        stage = 1;
        try {
            self.Synchronize([&] { fnRan = true; });
        } catch (const HarvestShutdown&) {
            gotShutdown = true;
        }
        stage = 2;
    });
    w->OnTerminate = [&](TWorkerThread*) { terminated = true; };
    w->Start();
    // The worker now waits for a main thread that never serves it.
    while (stage.load() == 0)
        QThread::msleep(1);
    QThread::msleep(20);
    harvestShutdown();
    EXPECT_TRUE(w->wait(5000)) << "a waiting hand-over was not released by the shutdown";
    test::pumpUntil([] { return false; }, 100);
    EXPECT_FALSE(fnRan.load());
    EXPECT_TRUE(gotShutdown.load());
    EXPECT_FALSE(terminated) << "completion ran after the window closed";
    EXPECT_EQ(harvestRunningWorkers(), 0);
    delete w;
}

TEST_F(WorkerThreadTest, SynchronizeOnMainThreadRunsDirectly) {
    struct Direct : TWorkerThread {
        void Execute() override {}
        void call(const std::function<void()>& fn) { Synchronize(fn); }
    } direct;
    bool ran = false;
    direct.call([&] { ran = true; });
    EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace vorsa
