#pragma once

#include "table/proxy_table.h"
#include "validation/ra_vinet_checker.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace vorsa {

// Checks every record of a table with many checks in flight: the window's checker (the same
// page, marker, body window, user agent and timeouts through prepareProxyCheck), without the
// window's 150 ms pacing. Keeps at most `jobs` checks out and at least `paceMs` between two
// issues. Afterwards the table holds the records that passed, Verified and Speed set, sorted
// by speed, as the window's validation leaves it. Main thread; the completions come through
// its event loop.
class CheckLoop {
public:
    struct Options {
        int jobs = 256;
        int paceMs = 0;
        std::string url;  // the check page; checkSettings().url when empty
        // Asked between events: true stops issuing, the checks out get at most the check
        // timeout to complete.
        std::function<bool()> stopRequested;
        // Called about four times a second with done, total and passed counts.
        std::function<void(int done, int total, int passed)> progress;
    };

    explicit CheckLoop(Options options);
    ~CheckLoop();
    CheckLoop(const CheckLoop&) = delete;
    CheckLoop& operator=(const CheckLoop&) = delete;

    // False when a stop ended it before every record was checked.
    bool run(ProxyTable& table);

    int checked() const { return m_done; }
    int passed() const { return m_passed; }

private:
    void issue(ProxyTable& table, int row);
    void complete(TRaVInetChecker* sender, bool connected);

    Options m_options;
    std::unordered_map<TRaVInetChecker*, std::unique_ptr<TRaVInetChecker>> m_out;
    // Checkers whose completion handler may be on the stack; destroyed by the loop.
    std::vector<std::unique_ptr<TRaVInetChecker>> m_finished;
    std::vector<std::int32_t> m_speed;  // per row (0-based): -1 not passed
    int m_done = 0;
    int m_passed = 0;
};

}  // namespace vorsa
