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
    std::atomic<bool> done{false};
    std::condition_variable cv;
};

using Clock = std::chrono::steady_clock;

// How long the main thread keeps serving hand-overs before it lets the event loop run, and how
// long it waits for a worker's next row before going back to the loop. A worker parses its next
// row in microseconds, so waiting briefly saves a trip through the event loop per row.
constexpr auto kServeBudget = std::chrono::milliseconds(8);
constexpr auto kLinger = std::chrono::microseconds(300);
// How long either side of a hand-over spins before it sleeps on its condition variable.
constexpr auto kSpin = std::chrono::microseconds(40);
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
        m_queued.store(true, std::memory_order_release);
        wakeLocked(lock);
        // The main thread usually answers within microseconds while it is serving rows; a
        // short spin saves two thread wake-ups per row. Then sleep as usual.
        lock.unlock();
        if (spinUntil([&] { return req.done.load(std::memory_order_acquire); }))
            return;
        lock.lock();
        req.cv.wait(lock, [&] { return req.done.load(); });
    }

    void completed(TWorkerThread* worker) {
        std::unique_lock lock(m_mutex);
        m_done.push_back(worker);
        m_queued.store(true, std::memory_order_release);
        wakeLocked(lock);
    }

    // Fails every waiting hand-over; their workers unwind with HarvestShutdown.
    void failPending() {
        std::lock_guard lock(m_mutex);
        for (SyncRequest* req : m_sync) {
            // Notify first: a spinning worker may leave (and free req) once it sees done.
            req->cv.notify_one();
            req->done.store(true, std::memory_order_release);
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
                req->cv.notify_one();
                req->done.store(true, std::memory_order_release);
            } else if (!m_done.empty()) {
                TWorkerThread* worker = m_done.front();
                m_done.pop_front();
                lock.unlock();
                worker->terminated();
                lock.lock();
            } else if (g_running.load() > 0 && Clock::now() < until) {
                m_queued.store(false, std::memory_order_relaxed);
                lock.unlock();
                const bool more =
                    spinUntil([&] { return m_queued.load(std::memory_order_acquire); });
                lock.lock();
                if (more)
                    continue;
                m_lingering = true;
                m_mainCv.wait_for(lock, kLinger,
                                  [&] { return !m_sync.empty() || !m_done.empty(); });
                m_lingering = false;
                if (m_sync.empty() && m_done.empty())
                    return;
                continue;
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
        if (m_lingering) {
            m_mainCv.notify_one();
            return;
        }
        if (m_wakePosted)
            return;
        m_wakePosted = true;
        lock.unlock();
        QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
        lock.lock();
    }

    // Spins up to kSpin for cond; true when it came true.
    template <typename Cond>
    static bool spinUntil(Cond cond) {
        const Clock::time_point until = Clock::now() + kSpin;
        do {
            for (int i = 0; i < 64; ++i) {
                if (cond())
                    return true;
#if defined(__x86_64__) || defined(__i386__)
                __builtin_ia32_pause();
#endif
            }
        } while (Clock::now() < until);
        return false;
    }

    std::mutex m_mutex;
    std::condition_variable m_mainCv;
    // Set whenever a hand-over or completion is queued; lets the spins above look without the lock.
    std::atomic<bool> m_queued{false};
    bool m_wakePosted = false;
    bool m_lingering = false;
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
