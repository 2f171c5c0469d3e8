// Import of a 1,000,000-line list and export of 1,000,000 records in each format.
#include "lists/import_export.h"
#include "platform/codec.h"
#include "table/grid_routines.h"
#include "tests/support/fake_host.h"

#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

using namespace vorsa;

namespace {

constexpr int kLines = 1000000;

std::string address(int i) {
    return std::to_string(10 + i % 200) + "." + std::to_string((i / 200) % 256) + "." +
           std::to_string((i * 7) % 256) + "." + std::to_string(i % 250);
}

QTemporaryDir& folder() {
    static QTemporaryDir dir;
    return dir;
}

// The list as another program or a user would have it: ip:port, CR LF.
const std::string& listFile() {
    static const std::string path = [] {
        const std::string p = folder().filePath(QStringLiteral("big.txt")).toStdString();
        std::ofstream out(p, std::ios::binary);
        for (int i = 0; i < kLines; ++i)
            out << address(i) << ':' << (1024 + i % 60000) << "\r\n";
        return p;
    }();
    return path;
}

void BM_Import(benchmark::State& state) {
    const std::string& path = listFile();
    for (auto _ : state) {
        ProxyTable t;
        t.opentable();
        if (state.range(0))
            t.sortby(Field::Speed);  // after a validation: every record goes to the front
        importlist(t, path);
        benchmark::DoNotOptimize(t.count());
    }
    state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_Import)->Arg(0)->Arg(1)->ArgNames({"speedSorted"})->Unit(benchmark::kMillisecond);

// Import through the command, with the grid redrawn as the window does.
void BM_ImportAndRedraw(benchmark::State& state) {
    const std::string& path = listFile();
    for (auto _ : state) {
        test::FakeHost host;
        importChosenFile(host, path);
        benchmark::DoNotOptimize(host.grid().gridRowCount());
    }
}
BENCHMARK(BM_ImportAndRedraw)->Unit(benchmark::kMillisecond);

void BM_Export(benchmark::State& state) {
    static ProxyTable table;
    if (table.count() == 0) {
        table.opentable();
        const std::string place = gbk::text("广东省广州市 电信");
        for (int i = 0; i < kLines; ++i) {
            table.addrecord();
            table.setfield(Field::Ip, address(i));
            table.setfield(Field::Port, std::to_string(1024 + i % 60000));
            table.setfield(Field::Location, place);
            table.setflag(Field::Verified, true);
            table.setinteger(Field::Speed, i % 3000);
            table.postrecord();
        }
    }
    const std::string out = folder().filePath(QStringLiteral("out")).toStdString();
    const QDateTime now = QDateTime::currentDateTime();
    for (auto _ : state)
        exportlist(table, out, static_cast<int>(state.range(0)), now);
    state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_Export)->DenseRange(1, 3)->ArgNames({"format"})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
