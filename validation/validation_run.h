#pragma once

#include "table/main_host.h"
#include "validation/ra_vinet_checker.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace vorsa {

// The validation run of the main window: one asynchronous check per grid row, 150 ms apart,
// each result written into its row as it arrives; when every check has reported (or a stop
// was asked for) the rows that did not pass go and the rest is sorted by speed. Everything
// runs on the main thread; the window's actcheckExecute, actstopExecute and mycomplete
// forward here. The flags are host.state()'s.
//
// Choices of our own:
// - A run with nothing to wait for (no rows, every StartCheck false, a stop while none of its
//   checks is outstanding, rows removed while it ran) ends with the same finalisation, right
//   after the issuing loop, instead of leaving Busy set for good. While a check of the run is
//   still out, the run waits for the next completion, even when PendingChecks is down to 0.
// - The speed is the reply's arrival time (taken on the network side) less the start: the
//   completion itself is handled only after the loop's pause.
// - Rows above 10000 are checked too: Checkers grows with the grid.
// - When the pruning leaves no record the grid shows only its header, and the closing count
//   says 0.
// - A checker is destroyed once its completion has been delivered and a later check of its
//   row has replaced it in Checkers (or the run object goes), never while its request can
//   still complete; the last checker of each row stays, as later completions read its
//   starttime. A completion whose row no longer exists counts, but writes nothing.
class ValidationRun {
public:
    // Seams for tests: how a checker is made and how it is started. By default a real
    // TRaVInetChecker and its StartCheck.
    using CheckerFactory = std::function<std::unique_ptr<TRaVInetChecker>()>;
    using CheckStarter = std::function<bool(TRaVInetChecker& checker)>;

    explicit ValidationRun(MainHost& host);
    ~ValidationRun();
    ValidationRun(const ValidationRun&) = delete;
    ValidationRun& operator=(const ValidationRun&) = delete;

    void setCheckerFactory(CheckerFactory factory) { m_factory = std::move(factory); }
    void setCheckStarter(CheckStarter starter) { m_starter = std::move(starter); }
    // The page every check requests; by default the IP-lookup host's "/ip2city.asp".
    void setCheckUrl(std::string url) { m_checkUrl = std::move(url); }
    std::string checkUrl() const;
    // Called at the end of every finalisation, once the usable rows are in the table and the
    // grid (the window keeps them in a file). Must not throw.
    void setOnFinalised(std::function<void()> hook) { m_onFinalised = std::move(hook); }
    // A run was started and has not been finalised yet.
    bool running() const { return m_active; }

    void actcheckExecute();
    void actstopExecute();
    // The window has closed: no run starts from now on (a harvest may still end and ask).
    void shutdown() { m_closed = true; }
    void vailproxy();
    void mycomplete(TRaVInetChecker* Sender, bool Connected);

    // Checkers this run object holds (current ones and replaced ones still in flight).
    std::size_t checkersHeld() const { return m_held.size() + m_released.size(); }

private:
    struct Held {
        std::unique_ptr<TRaVInetChecker> checker;
        std::uint64_t run = 0;
        bool outstanding = false;  // started, completion not yet delivered
        bool current = true;       // still in its row's slot of Checkers
    };

    void finalise();
    void putInSlot(int row, TRaVInetChecker* checker);
    void release(TRaVInetChecker* checker);
    void sweep();

    MainHost& m_host;
    CheckerFactory m_factory;
    CheckStarter m_starter;
    std::string m_checkUrl;
    std::function<void()> m_onFinalised;
    std::unordered_map<TRaVInetChecker*, Held> m_held;
    // Released while a completion handler was on the stack; destroyed at the next safe point.
    std::vector<std::unique_ptr<TRaVInetChecker>> m_released;
    int m_handlerDepth = 0;
    std::uint64_t m_run = 0;
    bool m_active = false;    // a run was started and is not finalised yet
    bool m_loopDone = false;  // the issuing loop of the current run has ended
    bool m_closed = false;
    int m_outstanding = 0;  // checks of the current run still to complete
};

}  // namespace vorsa
