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

const std::string& tickMark() {
    static const std::string s = gbk::text("√");
    return s;
}

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
    std::vector<StringGridModel::Row> rows(static_cast<std::size_t>(n));
    t.gofirst();
    for (int r = 1; r <= n; ++r) {
        const ProxyRecord& rec = t.current();
        auto& row = rows[static_cast<std::size_t>(r - 1)];
        row[0] = std::to_string(r);
        row[1] = rec.text(Field::Ip);
        row[2] = rec.text(Field::Port);
        row[3] = rec.text(Field::Protocol);
        row[4] = rec.text(Field::Location);
        if (rec.Verified.value_or(false)) {
            row[5] = tickMark();
            row[6] = rec.text(Field::Speed);
        }
        t.gonext();
    }
    host.grid().setDataRows(std::move(rows));
    host.showinfo(countMessage(n));
}

void listtable(MainHost& host) {
    ProxyTable& t = host.table();
    if (t.count() == 0)
        return;
    t.opentable();
    t.sortby(Field::Ip);
    t.gofirst();
    while (t.count() > 0 && gbk::trim(t.getfield(Field::Ip)).empty())
        t.deleterecord();
    // Only blank addresses were harvested: the table is empty now and the walk below is
    // skipped. The rest runs as usual: the grid shows only its header with "共有0个代理",
    // Busy is cleared, and a requested validation starts and, finding no rows, ends at once
    // (which also clears CheckAfterDown, so the next plain harvest does not validate).
    if (t.count() > 0) {
        std::string reference = gbk::trim(t.getfield(Field::Ip));
        t.gonext();
        while (t.recno() > 1) {
            std::string ip = gbk::trim(t.getfield(Field::Ip));
            const bool last = t.recno() == t.count();
            if (ip == reference) {
                t.deleterecord();
                // deleterecord rests on the next record, or on the new last one when the
                // removed record was the last: then the walk is over.
                if (last)
                    break;
            } else {
                reference = std::move(ip);
                if (last)
                    break;
                t.gonext();
            }
        }
    }
    refreshgrid(host);
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
    table.opentable();
    while (table.count() > 0)
        table.deleterecord();
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
