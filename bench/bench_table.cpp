// The proxy table at the size of a large harvest: 100,000 records.
#include "table/grid_routines.h"
#include "tests/support/fake_host.h"

#include <benchmark/benchmark.h>

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

}  // namespace

BENCHMARK_MAIN();
