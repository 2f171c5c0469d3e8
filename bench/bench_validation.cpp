// Validation runs at full size: 200 sandbox proxies of mixed behaviour with real checks and
// real 150 ms pauses, and the heap across repeated runs over 10,000 rows.
#include "platform/tick_count.h"
#include "sandbox/sandbox.h"
#include "table/grid_routines.h"
#include "tests/support/fake_host.h"
#include "validation/validation_run.h"

#include <QCoreApplication>
#include <QThread>

#include <malloc.h>

#include <benchmark/benchmark.h>

#include <chrono>

namespace {

using namespace vorsa;
using sandbox::Behaviour;
using Clock = std::chrono::steady_clock;

QCoreApplication* app() {
    static int argc = 1;
    static char arg0[] = "bench_validation";
    static char* argv[] = {arg0, nullptr};
    static QCoreApplication* a = new QCoreApplication(argc, argv);
    return a;
}

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The whole run from the command to the closing message, against the bound
// 200 x 150 ms + the slowest single check + 0.5 s.
void BM_RunOver200SandboxProxies(benchmark::State& state) {
    app();
    constexpr std::uint32_t kReceiveTimeoutMs = 2000;
    TRaVInetChecker::setReceiveTimeout(kReceiveTimeoutMs);
    sandbox::Options o;
    o.proxies.clear();
    const Behaviour failing[] = {Behaviour::Answer404,   Behaviour::Answer502,
                                 Behaviour::StripMarker, Behaviour::CloseAtOnce,
                                 Behaviour::NeverAnswer, Behaviour::NotListening};
    for (int i = 0; i < 200; ++i) {
        if (i % 2 == 0)
            o.proxies.push_back({Behaviour::ForwardDelayed, (i * 37) % 400});
        else
            o.proxies.push_back({failing[(i / 2) % 6]});
    }
    sandbox::Sandbox box(o);

    double slowestMs = 0, totalMs = 0;
    int usable = 0;
    for (auto _ : state) {
        test::FakeHost host;
        host.realPauses = true;
        host.pumpEvents = true;
        for (const auto& p : box.proxies())
            test::appendRow(host.table(), p.address, std::to_string(p.port));
        refreshgrid(host);
        ValidationRun run(host);
        run.setCheckUrl(box.url("/ip2city.asp"));
        slowestMs = 0;
        run.setCheckStarter([&](TRaVInetChecker& c) {
            const auto t0 = Clock::now();
            auto inner = c.OnComplete;
            c.OnComplete = [inner, t0, &slowestMs](TRaVInetChecker* s, bool ok) {
                slowestMs = std::max(slowestMs, ms(Clock::now() - t0));
                inner(s, ok);
            };
            return c.StartCheck();
        });
        const auto t0 = Clock::now();
        run.actcheckExecute();
        while (host.state().Busy) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            QThread::msleep(1);
        }
        totalMs = ms(Clock::now() - t0);
        usable = host.table().count();
    }
    state.counters["run_ms"] = totalMs;
    state.counters["slowest_check_ms"] = slowestMs;
    state.counters["bound_ms"] = 200 * 150 + slowestMs + 500;
    state.counters["usable"] = usable;
}
BENCHMARK(BM_RunOver200SandboxProxies)->Iterations(1)->Unit(benchmark::kSecond);

struct SteppingTicks : TickSource {
    mutable std::uint32_t now = 0;
    std::uint32_t ticks() const override { return now += 3; }
};

// Heap in use after each of several runs over 10,000 rows whose checks all complete: the
// checkers of a run replace and release those of the one before.
void BM_TenThousandRowRunsKeepMemoryFlat(benchmark::State& state) {
    app();
    SteppingTicks ticks;
    setTickSource(&ticks);
    constexpr int kRows = 10000;
    std::vector<double> heap;
    for (auto _ : state) {
        test::FakeHost host;
        ValidationRun run(host);
        run.setCheckUrl("http://127.0.0.1:9/ip2city.asp");
        std::vector<TRaVInetChecker*> started;
        run.setCheckStarter([&](TRaVInetChecker& c) {
            started.push_back(&c);
            return true;
        });
        for (int r = 0; r < 5; ++r) {
            host.table().clear();
            for (int i = 1; i <= kRows; ++i)
                test::appendRow(
                    host.table(),
                    "10." + std::to_string(i / 250) + "." + std::to_string(i % 250) + ".9", "80");
            refreshgrid(host);
            host.events.clear();
            started.clear();
            run.actcheckExecute();
            for (TRaVInetChecker* c : started)
                c->windowProc(TRaVInetChecker::WM_CHECKCOMPLETE, 1);
            malloc_trim(0);
            heap.push_back(static_cast<double>(mallinfo2().uordblks) / 1024.0);
            state.counters["checkers_held_run" + std::to_string(r + 1)] =
                static_cast<double>(run.checkersHeld());
        }
    }
    for (std::size_t i = 0; i < heap.size(); ++i)
        state.counters["heap_kb_after_run" + std::to_string(i + 1)] = heap[i];
    setTickSource(nullptr);
}
BENCHMARK(BM_TenThousandRowRunsKeepMemoryFlat)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
