// The real window holding 100,000 rows (or the count given as the first argument): how much
// the process grows, how long the redraw takes, and how long one scroll step and repaint of the
// grid takes (offscreen platform).
#include "app/udlmain.h"
#include "table/grid_routines.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTableView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

long rssKb() {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("VORSA_HOSTS", "/nonexistent");
    QApplication app(argc, argv);
    const int rows = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;
    Tfrmvrdl w;
    w.show();
    QApplication::processEvents();
    const long before = rssKb();

    vorsa::ProxyTable& t = w.table();
    t.opentable();
    for (int i = 0; i < rows; ++i) {
        t.addrecord();
        t.setfield(vorsa::Field::Ip, "10." + std::to_string(i / 65536) + "." +
                                         std::to_string((i / 256) % 256) + "." +
                                         std::to_string(i % 256));
        t.setfield(vorsa::Field::Port, "8080");
        t.postrecord();
    }
    QElapsedTimer timer;
    timer.start();
    vorsa::refreshgrid(w);
    QApplication::processEvents();
    const qint64 redrawMs = timer.elapsed();
    const long after = rssKb();

    QScrollBar* bar = w.sgrid->verticalScrollBar();
    timer.restart();
    const int steps = 200;
    for (int i = 0; i < steps; ++i) {
        bar->setValue(bar->maximum() * i / steps);
        w.sgrid->viewport()->repaint();
    }
    const double perStepMs = double(timer.elapsed()) / steps;

    std::printf(
        "rows: %d\nredraw: %lld ms\nprocess growth: %.1f MB\nscroll step + repaint: %.2f ms\n",
        w.grid().gridRowCount() - 1, static_cast<long long>(redrawMs), (after - before) / 1024.0,
        perStepMs);
    return 0;
}
