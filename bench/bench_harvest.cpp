// Harvest throughput: rows through the hand-over to the main thread, the custom-URL and
// discovery parsers on large pages, and a whole sandbox harvest with 100,000 listed proxies
// from the command to the redrawn grid. The fake host records pauses instead of sleeping, so
// the harvest time is the time beyond the fixed 300 ms gaps.
#include "harvest/source_worker.h"
#include "harvest/udlclass.h"
#include "harvest/ufun.h"
#include "harvest/undownurl.h"
#include "harvest/ungetnewurl.h"
#include "harvest/worker_thread.h"
#include "platform/hosts_config.h"
#include "platform/page_download.h"
#include "sandbox/sandbox.h"
#include "tests/support/fake_host.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace vorsa {
namespace {

// Hand-overs need a Qt application on the main thread, which runs the benchmarks.
void ensureApp() {
    static int argc = 1;
    static char name[] = "bench_harvest";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = QCoreApplication::instance() ? QCoreApplication::instance()
                                                                : new QCoreApplication(argc, argv);
    (void)app;
}

void pump(const std::function<bool()>& done) {
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Hands over n rows without downloading anything.
class RowPump : public SourceWorker {
public:
    RowPump(MainHost& host, int n) : SourceWorker(host, SourceFields{true, true}), m_n(n) {}
    void ParsePage(const std::string&) override {}

protected:
    void Execute() override {
        for (int i = 0; i < m_n; ++i) {
            Ip = "10." + std::to_string(i >> 16) + "." + std::to_string((i >> 8) & 255) + "." +
                 std::to_string(i & 255);
            Port = "8080";
            Protocol = "HTTP";
            Location = "CN";
            handOver();
        }
    }

private:
    int m_n;
};

void BM_HandOverRows(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    const int workers = static_cast<int>(state.range(1));
    ensureApp();
    for (auto _ : state) {
        test::FakeHost host;
        host.table().opentable();
        int done = 0;
        for (int w = 0; w < workers; ++w) {
            auto* worker = new RowPump(host, rows / workers);
            worker->FreeOnTerminate = true;
            worker->OnTerminate = [&](TWorkerThread*) { ++done; };
            worker->Start();
        }
        pump([&] { return done == workers; });
        benchmark::DoNotOptimize(host.table().count());
    }
    state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(BM_HandOverRows)->Args({20000, 1})->Args({20000, 8})->Unit(benchmark::kMillisecond);

std::vector<std::string> addressPage(int n) {
    std::vector<std::string> lines;
    for (int i = 0; i < n; ++i)
        lines.push_back("<tr><td>" + std::to_string(1 + i % 250) + ".2." + std::to_string(i % 256) +
                        "." + std::to_string(i / 256 % 256) +
                        ":3128</td><td>\xB8\xDF\xC4\xE4 anonymous 2026-12-10</td></tr>");
    return lines;
}

void BM_ParseDownurl(benchmark::State& state) {
    const auto lines = addressPage(static_cast<int>(state.range(0)));
    std::size_t bytes = 0;
    for (const auto& l : lines)
        bytes += l.size() + 2;
    for (auto _ : state) {
        int n = 0;
        parseDownurlLines(lines, [&](const HarvestRow&) { ++n; });
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_ParseDownurl)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_GetTagRow(benchmark::State& state) {
    const std::string row =
        "<tr><td>1.2.3.4</td><td>8080</td><td>HTTP</td><td>\xB1\xB1\xBE\xA9</td></tr>";
    for (auto _ : state) {
        std::string text = row;
        for (int i = 0; i < 4; ++i)
            benchmark::DoNotOptimize(GetTag(text, "td"));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetTagRow);

void BM_PortalD(benchmark::State& state) {
    std::vector<std::string> lines(static_cast<std::size_t>(state.range(0)),
                                   "<li><span>\xB6\xA5</span> <a href=\"html/1.html\">x</a></li>");
    lines.insert(lines.begin(), "<div id=\"nw_left\">");
    for (auto _ : state)
        benchmark::DoNotOptimize(parsePortalD(lines, "http://127.0.0.1:1"));
}
BENCHMARK(BM_PortalD)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_SandboxHarvest100k(benchmark::State& state) {
    ensureApp();
    sandbox::Options options;
    options.scale = 100000;
    sandbox::Sandbox web(options);
    const std::string hosts = "/tmp/vorsa-bench-harvest-hosts.ini";
    web.writeHostsIni(hosts);
    setenv("VORSA_HOSTS", hosts.c_str(), 1);
    reloadHosts();
    setDownloadLimits(DownloadLimits{});

    test::FakeHost host;
    host.pumpEvents = true;
    host.groups[0] = host.groups[1] = host.groups[2] = true;
    tdaili daili(host);
    pump([] { return harvestRunningWorkers() == 0; });
    std::size_t rows = 0;
    for (auto _ : state) {
        host.events.clear();
        actdownExecute(host, daili);
        pump([&] { return daili.JobCount == 0; });
        rows = static_cast<std::size_t>(host.table().count());
    }
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["pauses_ms"] = 300.0 * 7;  // recorded, not slept
    pump([] { return harvestRunningWorkers() == 0; });
}
BENCHMARK(BM_SandboxHarvest100k)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vorsa

BENCHMARK_MAIN();
