#include "harvest/worker_thread.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <condition_variable>
#include <deque>
#include <mutex>

namespace vorsa {

namespace {

std::atomic<bool> g_alive{true};
std::atomic<int> g_running{0};

// A hand-over waiting for the main thread; lives on the worker's stack.
struct SyncRequest {
    const std::function<void()>* fn = nullptr;
    std::exception_ptr error;
    bool ran = false;
    bool done = false;
};

}  // namespace

// Lives on the main thread. Workers queue their hand-overs and completions under a plain mutex
// and only wake it with a queued call that carries no data, so every byte that crosses threads
// is ordered by that mutex.
class WorkerDispatcher : public QObject {
    Q_OBJECT
public:
    static WorkerDispatcher& instance() {
        static WorkerDispatcher* d = [] {
            auto* obj = new WorkerDispatcher;
            if (auto* app = QCoreApplication::instance())
                obj->moveToThread(app->thread());
            return obj;
        }();
        return *d;
    }

    void submit(SyncRequest& req) {
        std::unique_lock lock(m_mutex);
        if (!g_alive.load()) {
            req.done = true;  // closed meanwhile: never queue behind a window that is gone
            return;
        }
        m_sync.push_back(&req);
        lock.unlock();
        wake();
        lock.lock();
        m_cv.wait(lock, [&] { return req.done; });
    }

    void completed(TWorkerThread* worker) {
        {
            std::lock_guard lock(m_mutex);
            m_done.push_back(worker);
        }
        wake();
    }

    // Fails every waiting hand-over; their workers unwind with HarvestShutdown.
    void failPending() {
        std::lock_guard lock(m_mutex);
        for (SyncRequest* req : m_sync)
            req->done = true;
        m_sync.clear();
        m_cv.notify_all();
    }

    Q_INVOKABLE void drain() {
        // One item at a time without the lock: the functions may pump events and re-enter.
        for (;;) {
            std::unique_lock lock(m_mutex);
            if (!m_sync.empty()) {
                SyncRequest* req = m_sync.front();
                m_sync.pop_front();
                lock.unlock();
                std::exception_ptr error;
                bool ran = false;
                if (g_alive.load()) {
                    ran = true;
                    try {
                        (*req->fn)();
                    } catch (...) {
                        error = std::current_exception();
                    }
                }
                lock.lock();
                req->error = error;
                req->ran = ran;
                req->done = true;
                m_cv.notify_all();
                continue;
            }
            if (!m_done.empty()) {
                TWorkerThread* worker = m_done.front();
                m_done.pop_front();
                lock.unlock();
                worker->terminated();
                continue;
            }
            return;
        }
    }

private:
    void wake() { QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection); }

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<SyncRequest*> m_sync;
    std::deque<TWorkerThread*> m_done;
};

void harvestShutdown() {
    g_alive.store(false);
    WorkerDispatcher::instance().failPending();
}

bool harvestAlive() {
    return g_alive.load();
}

void harvestRevive() {
    g_alive.store(true);
}

int harvestRunningWorkers() {
    return g_running.load();
}

TWorkerThread::TWorkerThread() {
    // Created on the main thread; make sure the dispatcher lives there before any worker runs.
    WorkerDispatcher::instance();
}

TWorkerThread::~TWorkerThread() {
    // Only reached after the body ended; wait out QThread's own last steps.
    wait();
}

void TWorkerThread::Start() {
    // Counted from here, so a caller that waits for the count to drop never misses a worker
    // whose thread has not been scheduled yet.
    g_running.fetch_add(1);
    start();
}

void TWorkerThread::run() {
    try {
        Execute();
    } catch (...) {
        m_fatal = std::current_exception();
    }
    g_running.fetch_sub(1);
    // After this the thread touches nothing of the object: the main thread may free it.
    WorkerDispatcher::instance().completed(this);
}

void TWorkerThread::terminated() {
    if (!g_alive.load())
        return;  // abandoned with the closed window; the process is about to end
    if (OnTerminate)
        OnTerminate(this);
    if (FreeOnTerminate)
        deleteLater();
}

void TWorkerThread::Synchronize(const std::function<void()>& fn) {
    if (!g_alive.load())
        throw HarvestShutdown();
    auto* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        fn();
        return;
    }
    SyncRequest req;
    req.fn = &fn;
    WorkerDispatcher::instance().submit(req);
    if (req.error)
        std::rethrow_exception(req.error);
    if (!req.ran)
        throw HarvestShutdown();
}

}  // namespace vorsa

#include "worker_thread.moc"
