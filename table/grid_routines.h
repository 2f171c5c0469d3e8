#pragma once

#include "table/main_host.h"

namespace vorsa {

// The column titles and the widths of the grid, in column order.
struct GridColumn {
    const char* titleUtf8;
    int width;
};
const GridColumn& gridColumn(int col);

// Headers of columns 0..6 and one empty data row; the table stays closed.
void initgrid(StringGridModel& grid);

// Redraws every data row from the table and shows "共有N个代理".
void refreshgrid(MainHost& host);

// After a harvest: sort by address, drop blank and repeated addresses, redraw, clear Busy,
// and validate when CheckAfterDown is set.
void listtable(MainHost& host);

void sorttable(MainHost& host, Field key);
void cleartable(ProxyTable& table);
void clearrows(StringGridModel& grid);
// Deletes n records starting with the record of grid row `row`.
void deleterows(ProxyTable& table, int row, int n);
// The "删除所选" command.
void actlistdelExecute(MainHost& host);

}  // namespace vorsa
