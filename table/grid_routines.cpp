#include "table/grid_routines.h"

#include "platform/codec.h"

#include <array>

namespace vorsa {
namespace {

constexpr std::array<GridColumn, StringGridModel::kColumnCount> kColumns{{
    {"序号", 40},
    {" IP地址", 170},
    {" 端口", 60},
    {"协议", 80},
    {"位置", 220},
    {"验证", 50},
    {"速度(ms)", 50},
    {"", 64},
}};

std::string countMessage(int n) {
    static const std::string head = gbk::text("共有"), tail = gbk::text("个代理");
    return head + std::to_string(n) + tail;
}

}  // namespace

const GridColumn& gridColumn(int col) {
    return kColumns[static_cast<std::size_t>(col)];
}

void initgrid(StringGridModel& grid) {
    for (int c = 0; c < StringGridModel::kColumnCount; ++c)
        grid.setCell(c, 0, gbk::text(kColumns[static_cast<std::size_t>(c)].titleUtf8));
    grid.setGridRowCount(2);  // the header and one empty data row until the first redraw
}

void refreshgrid(MainHost& host) {
    ProxyTable& t = host.table();
    const int n = t.count();
    // Each row keeps the stored record it shows; the cells are derived when read.
    std::vector<StringGridModel::Row> rows;
    rows.reserve(static_cast<std::size_t>(n));
    t.gofirst();
    for (int r = 1; r <= n; ++r)
        rows.emplace_back(t.stored(r));
    // Where a walk over the rows leaves the cursor: on the last one.
    if (n > 0)
        t.goforward(n - 1);
    host.grid().setDataRows(std::move(rows));
    host.showinfo(countMessage(n));
}

void listtable(MainHost& host) {
    ProxyTable& t = host.table();
    if (t.count() == 0)
        return;
    t.opentable();
    const int harvested = t.count();
    // Three steps, with the window's events handled between them, so that none of them holds
    // the window for long on a large harvest. Whatever runs between them sees a consistent
    // table: sorted, then without repeats, then drawn.
    t.sortby(Field::Ip);
    host.processMessages();
    // Blank addresses at the front go, then every address equal (trimmed) to the one kept
    // before it, in one pass over the sorted records.
    // When only blank addresses were harvested the table is empty now. The rest runs as usual:
    // the grid shows only its header with "共有0个代理", Busy is cleared, and a requested
    // validation starts and, finding no rows, ends at once (which also clears CheckAfterDown,
    // so the next plain harvest does not validate).
    bool leading = true;
    std::string reference;
    t.keepIf([&](const PackedRecord& rec) {
        const std::string_view ip = gbk::trimView(rec.view(Field::Ip));
        if (leading) {
            if (ip.empty())
                return false;
            leading = false;
        } else if (ip == reference) {
            return false;
        }
        reference.assign(ip);
        return true;
    });
    host.processMessages();
    refreshgrid(host);
    // A large harvest leaves the workers' pages and the repeats freed: give that memory back.
    if (harvested >= 65536)
        releaseFreeMemory();
    SharedState& s = host.state();
    s.Busy = false;
    if (s.CheckAfterDown) {
        host.pause(1200);
        host.actcheckExecute();
    }
}

void sorttable(MainHost& host, Field key) {
    ProxyTable& t = host.table();
    if (t.count() == 0)
        return;
    t.opentable();
    t.sortby(key);
    refreshgrid(host);
}

void cleartable(ProxyTable& table) {
    // Every record deleted, in one step (one by one costs a shift each on a large table).
    table.opentable();
    table.clear();
}

void clearrows(StringGridModel& grid) {
    std::vector<StringGridModel::Row> rows(static_cast<std::size_t>(grid.gridRowCount() - 1));
    grid.setDataRows(std::move(rows));
}

void deleterows(ProxyTable& table, int row, int n) {
    table.opentable();
    table.gofirst();
    table.goforward(row - 1);
    // Stop early when no record is left at or after the starting position.
    for (int i = 0; i < n && row >= 1 && table.count() >= row; ++i)
        table.deleterecord();
}

void actlistdelExecute(MainHost& host) {
    const MainHost::Selection sel = host.gridSelection();
    deleterows(host.table(), sel.top, sel.bottom - sel.top + 1);
    refreshgrid(host);
}

}  // namespace vorsa
