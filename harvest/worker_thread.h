#pragma once

#include <QThread>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

namespace vorsa {

// Thrown inside a worker by Synchronize once the window has closed: the worker unwinds without
// touching the coordinator or the table, which may already be gone.
class HarvestShutdown : public std::runtime_error {
public:
    HarvestShutdown() : std::runtime_error("harvest shut down") {}
};

// Called by the window's close handler before it frees Daili and the table. From then on no
// hand-over runs its function and no completion callback runs; workers still blocked in a
// download simply die with the process. Nothing waits for them: a worker object is only freed
// after its body ended, and the program leaves with std::quick_exit once settings are flushed,
// so no running QThread is ever destroyed and no static is torn down under a live worker.
void harvestShutdown();
// False after harvestShutdown(). Main thread.
bool harvestAlive();
// Tests only: make hand-overs and completions run again.
void harvestRevive();
// Workers started and whose body has not yet ended (any thread; for tests and the exit path).
int harvestRunningWorkers();

// A thread whose body is Execute. Created suspended on the main thread: nothing runs before
// Start(). The completion callback runs on the main thread after the body ended, normally or by
// an escaped exception; with FreeOnTerminate the object then releases itself (deleteLater).
class TWorkerThread : public QThread {
    Q_OBJECT
public:
    TWorkerThread();
    ~TWorkerThread() override;

    void Start();

    bool FreeOnTerminate = false;
    std::function<void(TWorkerThread*)> OnTerminate;

    // The exception that ended Execute, if one escaped it; read it in OnTerminate.
    std::exception_ptr FatalException() const { return m_fatal; }

    // Keeps p (a list of the coordinator the body reads) alive as long as this worker: the
    // coordinator may be freed while an abandoned worker still runs.
    void keepAlive(std::shared_ptr<void> p) { m_keep.push_back(std::move(p)); }

protected:
    // The thread body.
    virtual void Execute() = 0;

    // Runs on the worker after Execute, also when Execute threw: a body that buffers its
    // hand-overs sends the rest here, so it reaches the main thread before the completion.
    virtual void flushPending() {}

    // Runs fn on the main thread and waits for it; an exception fn throws is rethrown here.
    // After harvestShutdown() fn is not run and HarvestShutdown is thrown instead. Called on
    // the main thread itself, fn simply runs.
    void Synchronize(const std::function<void()>& fn);

private:
    friend class WorkerDispatcher;

    void run() final;
    // Main thread, from the dispatcher.
    void terminated();

    std::exception_ptr m_fatal;
    std::vector<std::shared_ptr<void>> m_keep;
};

}  // namespace vorsa
