#include "harvest/worker_thread.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <chrono>
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
    bool done = false;  // guarded by the dispatcher's mutex
    std::condition_variable cv;
};

using Clock = std::chrono::steady_clock;

// How long the main thread keeps serving hand-overs before it lets the event loop run.
constexpr auto kServeBudget = std::chrono::milliseconds(8);
}  // namespace

// Lives on the main thread. Workers queue their hand-overs and completions under a plain mutex
// and only wake it with a queued call that carries no data, so every byte that crosses threads
// is ordered by that mutex. Neither side spins: a worker sleeps until its hand-over ran, and the
// main thread serves what is queued and goes back to its event loop (it never waits for a
// worker). A hand-over carries a batch of rows, so the two sleeps cost little per row even when
// another process keeps a core busy.
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
        if (!g_alive.load())
            return;  // closed meanwhile: never queue behind a window that is gone
        m_sync.push_back(&req);
        wakeLocked(lock);
        req.cv.wait(lock, [&] { return req.done; });
    }

    void completed(TWorkerThread* worker) {
        std::unique_lock lock(m_mutex);
        m_done.push_back(worker);
        wakeLocked(lock);
    }

    // Fails every waiting hand-over; their workers unwind with HarvestShutdown.
    void failPending() {
        std::lock_guard lock(m_mutex);
        for (SyncRequest* req : m_sync) {
            req->done = true;
            req->cv.notify_one();
        }
        m_sync.clear();
    }

    Q_INVOKABLE void drain() {
        const Clock::time_point until = Clock::now() + kServeBudget;
        std::unique_lock lock(m_mutex);
        m_wakePosted = false;
        // One item at a time without the lock: the functions may pump events and re-enter.
        for (;;) {
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
                // Under the lock: the worker cannot see done, leave and free req before this.
                req->cv.notify_one();
            } else if (!m_done.empty()) {
                TWorkerThread* worker = m_done.front();
                m_done.pop_front();
                lock.unlock();
                worker->terminated();
                lock.lock();
            } else {
                return;
            }
            if (Clock::now() >= until) {
                // Let the event loop breathe; come back for the rest.
                if (!m_sync.empty() || !m_done.empty())
                    wakeLocked(lock);
                return;
            }
        }
    }

private:
    void wakeLocked(std::unique_lock<std::mutex>& lock) {
        if (m_wakePosted)
            return;
        m_wakePosted = true;
        lock.unlock();
        QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
        lock.lock();
    }

    std::mutex m_mutex;
    bool m_wakePosted = false;
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
    // What the body left buffered goes over too, also after an error of its own; an error of
    // the hand-over itself (or the shutdown) has emptied the buffer already.
    try {
        flushPending();
    } catch (...) {
        if (!m_fatal)
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
