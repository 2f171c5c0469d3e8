#include "platform/codec.h"
#include "table/grid_routines.h"
#include "tests/support/fake_host.h"

#include <gtest/gtest.h>

using namespace vorsa;
using vorsa::test::appendRow;
using vorsa::test::FakeHost;
using vorsa::test::utf8;

namespace {

std::vector<std::string> column(StringGridModel& g, int col) {
    std::vector<std::string> out;
    for (int r = 1; r < g.gridRowCount(); ++r)
        out.push_back(utf8(g.cell(col, r)));
    return out;
}

}  // namespace

TEST(Grid, StartsWithHeadersAndOneEmptyRow) {
    FakeHost host;
    StringGridModel& g = host.grid();
    EXPECT_EQ(g.gridRowCount(), 2);
    const char* headers[] = {"序号", " IP地址", " 端口", "协议", "位置", "验证", "速度(ms)", ""};
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(utf8(g.cell(c, 0)), headers[c]) << c;
    EXPECT_EQ(g.cell(1, 1), "");
}

TEST(Grid, RefreshShowsRecordsAndTheCount) {
    FakeHost host;
    refreshgrid(host);  // closed, empty table
    EXPECT_EQ(host.grid().gridRowCount(), 1);
    EXPECT_EQ(host.panel1(), "共有0个代理");

    ProxyTable& t = host.table();
    appendRow(t, "1.1.1.1", "80", "HTTP", "北京");
    appendRow(t, "2.2.2.2", "8080");
    t.gofirst();
    t.setflag(Field::Verified, true);
    t.setinteger(Field::Speed, 235);
    t.postrecord();
    refreshgrid(host);
    EXPECT_EQ(column(host.grid(), 0), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(column(host.grid(), 1), (std::vector<std::string>{"1.1.1.1", "2.2.2.2"}));
    EXPECT_EQ(column(host.grid(), 4), (std::vector<std::string>{"北京", ""}));
    EXPECT_EQ(column(host.grid(), 5), (std::vector<std::string>{"√", ""}));
    EXPECT_EQ(column(host.grid(), 6), (std::vector<std::string>{"235", ""}));
    EXPECT_EQ(host.panel1(), "共有2个代理");

    // A row that showed a mark before the redraw but is not verified shows empty cells.
    host.grid().setCell(5, 2, gbk::text("⊙"));
    host.grid().setCell(6, 2, "99999");
    refreshgrid(host);
    EXPECT_EQ(column(host.grid(), 5), (std::vector<std::string>{"√", ""}));
    EXPECT_EQ(column(host.grid(), 6), (std::vector<std::string>{"235", ""}));
}

TEST(Grid, ListtableDropsBlankAndRepeatedAddresses) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> rows;
        std::vector<std::string> expectedIps;
    } cases[] = {
        {"blank and repeat",
         {{" ", "1"}, {"1.1.1.1", "80"}, {"1.1.1.1", "8080"}, {"2.2.2.2", "3"}},
         {"1.1.1.1", "2.2.2.2"}},
        {"one record", {{"5.5.5.5", "80"}}, {"5.5.5.5"}},
        {"control characters count as blank",
         {{"\t\r", "1"}, {"", "2"}, {"3.3.3.3", "3"}},
         {"3.3.3.3"}},
        // Trimmed addresses are compared with their sorted neighbour only: a leading blank
        // sorts first, so it meets its twin only when nothing sorts in between.
        {"blank-led address adjacent", {{" 1.1.1.1", "1"}, {"1.1.1.1", "2"}}, {" 1.1.1.1"}},
        {"blank-led address apart",
         {{" 1.1.1.1", "1"}, {"0.0.0.0", "2"}, {"1.1.1.1", "3"}},
         {" 1.1.1.1", "0.0.0.0", "1.1.1.1"}},
        {"three repeats at the end",
         {{"9.9.9.9", "1"}, {"9.9.9.9", "2"}, {"9.9.9.9", "3"}},
         {"9.9.9.9"}},
        {"only blanks", {{" ", "1"}, {"", "2"}}, {}},
    };
    for (const Case& c : cases) {
        FakeHost host;
        host.state().Busy = true;
        for (const auto& [ip, port] : c.rows)
            appendRow(host.table(), ip, port);
        listtable(host);
        EXPECT_EQ(column(host.grid(), 1), c.expectedIps) << c.name;
        EXPECT_EQ(host.panel1(), "共有" + std::to_string(c.expectedIps.size()) + "个代理")
            << c.name;
        EXPECT_FALSE(host.state().Busy) << c.name;
    }
}

TEST(Grid, ListtableOnAnEmptyTableDoesNothing) {
    FakeHost host;
    host.state().Busy = true;
    host.state().CheckAfterDown = true;
    listtable(host);
    EXPECT_TRUE(host.events.empty());
    EXPECT_TRUE(host.state().Busy);
    EXPECT_EQ(host.grid().gridRowCount(), 2);
}

TEST(Grid, ListtableStartsValidationAfterAPauseWhenAsked) {
    FakeHost host;
    appendRow(host.table(), "1.1.1.1", "80");
    host.state().CheckAfterDown = true;
    listtable(host);
    ASSERT_EQ(host.events.size(), 3u);
    EXPECT_EQ(host.events[0], "showinfo:共有1个代理");
    EXPECT_EQ(host.events[1], "pause:1200");
    EXPECT_EQ(host.events[2], "actcheckExecute");
    EXPECT_TRUE(host.state().CheckAfterDown);  // the run clears it, not listtable
}

TEST(Grid, DeleteRowsKeepsTheOthersInOrder) {
    struct Case {
        int top, bottom;
        std::vector<std::string> expected;
    } cases[] = {
        {2, 4, {"1", "5", "6", "7", "8", "9", "10"}},
        {9, 15, {"1", "2", "3", "4", "5", "6", "7", "8"}},  // past the end: only what exists
        {10, 10, {"1", "2", "3", "4", "5", "6", "7", "8", "9"}},
        {11, 12, {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}},  // no record there
    };
    for (const Case& c : cases) {
        FakeHost host;
        for (int i = 1; i <= 10; ++i)
            appendRow(host.table(), std::to_string(i), "80");
        refreshgrid(host);
        host.selection = {c.top, c.bottom};
        actlistdelExecute(host);
        EXPECT_EQ(column(host.grid(), 1), c.expected) << c.top << "-" << c.bottom;
        std::vector<std::string> numbers;
        for (std::size_t i = 1; i <= c.expected.size(); ++i)
            numbers.push_back(std::to_string(i));
        EXPECT_EQ(column(host.grid(), 0), numbers);
    }
}

TEST(Grid, SorttableAndClearing) {
    FakeHost host;
    sorttable(host, Field::Speed);  // empty: nothing at all
    EXPECT_TRUE(host.events.empty());

    appendRow(host.table(), "2.2.2.2", "80");
    appendRow(host.table(), "1.1.1.1", "80");
    sorttable(host, Field::Ip);
    EXPECT_EQ(column(host.grid(), 1), (std::vector<std::string>{"1.1.1.1", "2.2.2.2"}));

    clearrows(host.grid());
    EXPECT_EQ(host.grid().gridRowCount(), 3);
    EXPECT_EQ(column(host.grid(), 1), (std::vector<std::string>{"", ""}));
    cleartable(host.table());
    EXPECT_EQ(host.table().count(), 0);
    EXPECT_EQ(host.table().sortKey(), Field::Ip);  // emptying keeps the sort key
}

// A drawn row shows its record as it was drawn: a later edit or delete of the record shows
// after the next redraw only. Cells written afterwards (a check's result) sit beside the drawn
// ones, an empty written text included; rows added by a larger row count start empty.
TEST(Grid, DrawnRowsKeepTheirTextsUntilTheNextRedraw) {
    FakeHost host;
    ProxyTable& t = host.table();
    appendRow(t, "1.1.1.1", "80", "HTTP", "北京");
    appendRow(t, "2.2.2.2", "8080");
    t.gofirst();
    t.gonext();
    t.setflag(Field::Verified, true);
    t.setinteger(Field::Speed, 42);
    t.postrecord();
    refreshgrid(host);
    StringGridModel& g = host.grid();
    EXPECT_EQ(column(g, 0), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(column(g, 4), (std::vector<std::string>{"北京", ""}));
    EXPECT_EQ(column(g, 5), (std::vector<std::string>{"", "√"}));
    EXPECT_EQ(column(g, 6), (std::vector<std::string>{"", "42"}));

    t.gofirst();
    t.setfield(Field::Ip, "9.9.9.9");
    t.postrecord();
    t.gonext();
    t.deleterecord();
    EXPECT_EQ(column(g, 1), (std::vector<std::string>{"1.1.1.1", "2.2.2.2"}));

    g.setCell(5, 1, gbk::text("⊙"));
    g.setCell(6, 1, "120");
    g.setCell(4, 2, "");
    g.setCell(6, 1, "130");
    EXPECT_EQ(column(g, 5), (std::vector<std::string>{"⊙", "√"}));
    EXPECT_EQ(column(g, 6), (std::vector<std::string>{"130", "42"}));
    EXPECT_EQ(column(g, 4), (std::vector<std::string>{"北京", ""}));
    EXPECT_EQ(column(g, 2), (std::vector<std::string>{"80", "8080"}));
    EXPECT_EQ(g.data(g.index(0, 5)).toString().toStdString(), "⊙");
    EXPECT_EQ(g.data(g.index(1, 0)).toString().toStdString(), "2");

    g.setGridRowCount(4);
    EXPECT_EQ(column(g, 1), (std::vector<std::string>{"1.1.1.1", "2.2.2.2", ""}));
    g.setCell(7, 3, "x");
    EXPECT_EQ(column(g, 7), (std::vector<std::string>{"", "", "x"}));

    refreshgrid(host);
    EXPECT_EQ(column(g, 1), (std::vector<std::string>{"9.9.9.9"}));
    EXPECT_EQ(column(g, 5), (std::vector<std::string>{""}));
}
