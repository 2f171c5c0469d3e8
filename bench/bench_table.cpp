// The proxy table at the size of a large harvest: 100,000 records; and its memory and its
// longest step at 1,000,000 records. BM_MemoryMillionRows reads the process's resident size,
// so run it alone (--benchmark_filter=Memory) for figures that are its own.
#include "platform/codec.h"
#include "table/grid_routines.h"
#include "tests/support/fake_host.h"

#include <benchmark/benchmark.h>

#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <string>

using namespace vorsa;

namespace {

constexpr int kRows = 100000;

std::string address(int i) {
    return std::to_string(10 + i % 200) + "." + std::to_string((i / 200) % 256) + "." +
           std::to_string((i * 7) % 256) + "." + std::to_string(i % 250);
}

const std::vector<std::string>& addresses() {
    static const std::vector<std::string> all = [] {
        std::vector<std::string> v;
        for (int i = 0; i < kRows; ++i)
            v.push_back(address(i));
        return v;
    }();
    return all;
}

void append(ProxyTable& t, int n, int distinct) {
    const auto& ips = addresses();
    t.opentable();
    for (int i = 0; i < n; ++i) {
        t.addrecord();
        t.setfield(Field::Ip, ips[static_cast<std::size_t>((i * 7919LL) % distinct)]);
        t.setfield(Field::Port, "8080");
        t.postrecord();
    }
}

void BM_Append(benchmark::State& state) {
    for (auto _ : state) {
        ProxyTable t;
        append(t, kRows, kRows);
        benchmark::DoNotOptimize(t.count());
    }
}
BENCHMARK(BM_Append)->Unit(benchmark::kMillisecond);

void BM_SortByAddress(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        ProxyTable t;
        append(t, kRows, kRows);
        state.ResumeTiming();
        t.sortby(Field::Ip);
    }
}
BENCHMARK(BM_SortByAddress)->Unit(benchmark::kMillisecond);

// Half of the records repeat an address; includes the redraw of the grid model.
void BM_ListtableHalfRepeats(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        test::FakeHost host;
        append(host.table(), kRows, kRows / 2);
        state.ResumeTiming();
        listtable(host);
        benchmark::DoNotOptimize(host.grid().gridRowCount());
    }
}
BENCHMARK(BM_ListtableHalfRepeats)->Unit(benchmark::kMillisecond);

// New records into a table with a sort key: each is placed by the key, here at the front
// (no speed), the worst case of a list placement.
void BM_PostIntoSortedTable(benchmark::State& state) {
    for (auto _ : state) {
        ProxyTable t;
        t.opentable();
        t.sortby(Field::Speed);
        append(t, kRows, kRows);
        benchmark::DoNotOptimize(t.count());
    }
}
BENCHMARK(BM_PostIntoSortedTable)->Unit(benchmark::kMillisecond);

void BM_PostIntoAddressSortedTable(benchmark::State& state) {
    for (auto _ : state) {
        ProxyTable t;
        t.opentable();
        t.sortby(Field::Ip);
        append(t, kRows, kRows);
        benchmark::DoNotOptimize(t.count());
    }
}
BENCHMARK(BM_PostIntoAddressSortedTable)->Unit(benchmark::kMillisecond);

// Resident size of this process in bytes.
double residentBytes() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// n ordinary harvested rows, appended the way a source worker's AppendRow does: an address,
// a port, a protocol and a place name (GBK), all different addresses.
void appendHarvest(ProxyTable& t, int n) {
    static const std::string places[] = {gbk::text("广东省深圳市 电信"), gbk::text("北京市 联通"),
                                         gbk::text("美国"), gbk::text("浙江省杭州市")};
    static const char* protocols[] = {"HTTP", "HTTPS", "SOCKS5"};
    t.opentable();
    for (int i = 0; i < n; ++i) {
        t.addrecord();
        t.setfield(Field::Ip, std::to_string(1 + i % 223) + "." + std::to_string((i >> 8) & 255) +
                                  "." + std::to_string((i >> 16) & 255) + "." +
                                  std::to_string(i & 255));
        t.setfield(Field::Port, std::to_string(1000 + i % 9000));
        t.setfield(Field::Protocol, protocols[i % 3]);
        t.setfield(Field::Location, places[i % 4]);
        t.postrecord();
    }
}

// 1,000,000 rows harvested, listed (sorted, de-duplicated, drawn into the grid), then pruned to
// 7 rows with the delete command. Counters: table and grid bytes per row, and how far the
// resident size is above the start after the pruning (goals: under 150 bytes a row, within
// 50 MB of the start).
void BM_MemoryMillionRows(benchmark::State& state) {
    constexpr int kMillion = 1000000;
    double perRow = 0, afterPrune = 0, peak = 0;
    for (auto _ : state) {
        const double start = residentBytes();
        {
            test::FakeHost host;
            appendHarvest(host.table(), kMillion);
            listtable(host);
            const double full = residentBytes();
            perRow = (full - start) / kMillion;
            peak = (full - start) / 1e6;
            host.selection = {8, host.table().count()};
            actlistdelExecute(host);
            afterPrune = (residentBytes() - start) / 1e6;
            benchmark::DoNotOptimize(host.grid().gridRowCount());
        }
    }
    state.counters["bytes_per_row"] = perRow;
    state.counters["growth_MB"] = peak;
    state.counters["after_prune_MB"] = afterPrune;
}
BENCHMARK(BM_MemoryMillionRows)->Iterations(1)->Unit(benchmark::kMillisecond);

// The main thread at the end of a 1,000,000-row harvest (a third of the addresses repeat):
// listtable with its sort, de-duplication and redraw. The window handles its events whenever
// the routine lets them run (processMessages); the longest time between two such chances,
// from the call to the return, is the longest the window does not answer (goal: under 500 ms).
void BM_ListtableMillionRows(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    double longest = 0, total = 0;
    for (auto _ : state) {
        state.PauseTiming();
        test::FakeHost host;
        appendHarvest(host.table(), 1000000);
        appendHarvest(host.table(), 333333);  // repeats
        Clock::time_point last;
        const auto gap = [&] {
            const auto now = Clock::now();
            longest =
                std::max(longest, std::chrono::duration<double, std::milli>(now - last).count());
            last = now;
        };
        host.onProcessMessages = gap;
        state.ResumeTiming();
        const auto start = Clock::now();
        last = start;
        listtable(host);
        gap();
        total += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        state.PauseTiming();
        host.onProcessMessages = nullptr;
        host.table().clear();
        state.ResumeTiming();
    }
    state.counters["longest_stall_ms"] = longest;
    state.counters["listtable_ms"] = total / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ListtableMillionRows)->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
