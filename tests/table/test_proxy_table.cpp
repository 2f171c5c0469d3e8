#include "platform/codec.h"
#include "table/proxy_table.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace vorsa;

namespace {

std::string order(ProxyTable& t, Field f = Field::Ip) {
    std::string out;
    for (int i = 1; i <= t.count(); ++i)
        out += (i > 1 ? "," : "") + t.at(i).text(f);
    return out;
}

void add(ProxyTable& t, const std::string& ip, std::optional<int> speed = std::nullopt) {
    t.addrecord();
    t.setfield(Field::Ip, ip);
    if (speed)
        t.setinteger(Field::Speed, *speed);
    t.postrecord();
}

}  // namespace

TEST(ProxyTable, ClosedTableReadsEmptyAndRefusesWrites) {
    ProxyTable t;
    EXPECT_EQ(t.count(), 0);
    EXPECT_EQ(t.getfield(Field::Ip), "");
    EXPECT_FALSE(t.getflag(Field::Verified));
    EXPECT_THROW(t.addrecord(), std::logic_error);
    t.opentable();
    t.opentable();  // a second open changes nothing
    add(t, "1.1.1.1");
    EXPECT_EQ(t.count(), 1);
}

TEST(ProxyTable, CursorMovesStopAtTheEnds) {
    ProxyTable t;
    t.opentable();
    for (const char* ip : {"a", "b", "c", "d"})
        add(t, ip);
    struct Case {
        int start;  // 1-based
        int forward;
        int expected;
    } cases[] = {{1, 1, 2}, {4, 1, 4}, {1, 10, 4}, {3, -1, 2}, {2, -5, 1}, {1, 0, 1}};
    for (const Case& c : cases) {
        t.gofirst();
        t.goforward(c.start - 1);
        t.goforward(c.forward);
        EXPECT_EQ(t.recno(), c.expected) << c.start << " + " << c.forward;
    }
    t.gofirst();
    for (int i = 0; i < 10; ++i)
        t.gonext();
    EXPECT_EQ(t.getfield(Field::Ip), "d");
}

TEST(ProxyTable, DeleteRestsOnTheFollowerOrTheNewLast) {
    ProxyTable t;
    t.opentable();
    for (const char* ip : {"a", "b", "c"})
        add(t, ip);
    t.gofirst();
    t.gonext();
    t.deleterecord();
    EXPECT_EQ(t.getfield(Field::Ip), "c");
    t.deleterecord();  // the last one: the cursor goes to the new last
    EXPECT_EQ(t.getfield(Field::Ip), "a");
    t.deleterecord();
    EXPECT_EQ(t.count(), 0);
    EXPECT_THROW(t.deleterecord(), std::logic_error);
}

TEST(ProxyTable, NullIsNotEmpty) {
    ProxyTable t;
    t.opentable();
    t.addrecord();
    t.setfield(Field::Ip, "1.2.3.4");
    t.setfield(Field::Location, "");
    t.postrecord();
    EXPECT_FALSE(t.isNull(Field::Location));
    EXPECT_TRUE(t.isNull(Field::Protocol));
    EXPECT_TRUE(t.isNull(Field::Speed));
    EXPECT_EQ(t.getfield(Field::Protocol), "");
    EXPECT_EQ(t.getfield(Field::Speed), "");
    EXPECT_FALSE(t.getflag(Field::Verified));
    t.setfield(Field::Speed, "235");
    t.postrecord();
    EXPECT_EQ(t.getfield(Field::Speed), "235");
    EXPECT_THROW(t.setfield(Field::Speed, "fast"), std::invalid_argument);
}

TEST(ProxyTable, TextsAreCutToTheirSizeAtCharacterBoundaries) {
    struct Case {
        Field field;
        std::string utf8;
        std::string expectedUtf8;
    } cases[] = {
        // 45 ASCII bytes in a 40-byte field
        {Field::Location, std::string(45, 'x'), std::string(40, 'x')},
        // 21 Chinese characters = 42 bytes: 20 characters fit in 40
        {Field::Location, "北京市北京市北京市北京市北京市北京市北京市",
         "北京市北京市北京市北京市北京市北京市北京"},
        // one ASCII byte then Chinese: byte 40 would be the first half of a character
        {Field::Location, "a" + std::string("北京市北京市北京市北京市北京市北京市北京市"),
         "a北京市北京市北京市北京市北京市北京市北"},
        {Field::Port, "80808080123", "80808080"},
        {Field::Protocol, "高匿名代理服务", "高匿名代理"},
        {Field::Protocol, "H高匿名代理服务", "H高匿名代"},
    };
    ProxyTable t;
    t.opentable();
    for (const Case& c : cases) {
        t.addrecord();
        t.setfield(c.field, gbk::text(c.utf8));
        t.postrecord();
        const std::string stored = t.getfield(c.field);
        EXPECT_EQ(gbk::toUnicode(stored).toStdString(), c.expectedUtf8);
        EXPECT_LE(stored.size(), fieldDef(c.field).size);
    }
}

TEST(ProxyTable, SortOrders) {
    ProxyTable t;
    t.opentable();
    add(t, "9.0.0.1", 120);
    add(t, "10.0.0.1", 99);
    add(t, "192.168.0.1", 1000);
    t.addrecord();  // no address, no speed
    t.postrecord();
    t.sortby(Field::Ip);
    EXPECT_EQ(order(t), ",10.0.0.1,192.168.0.1,9.0.0.1");
    t.sortby(Field::Speed);
    EXPECT_EQ(order(t, Field::Speed), ",99,120,1000");

    ProxyTable f;
    f.opentable();
    for (bool v : {true, false, true}) {
        f.addrecord();
        f.setflag(Field::Verified, v);
        f.postrecord();
    }
    f.addrecord();
    f.postrecord();
    f.sortby(Field::Verified);
    EXPECT_EQ(order(f, Field::Verified), ",False,True,True");
}

TEST(ProxyTable, NewRecordsFollowTheSortKey) {
    // Before any sort: appended at the end.
    ProxyTable t;
    t.opentable();
    for (const char* ip : {"3.3.3.3", "1.1.1.1", "2.2.2.2"})
        add(t, ip);
    EXPECT_EQ(order(t), "3.3.3.3,1.1.1.1,2.2.2.2");

    // With the address as key: before the first equal or greater value.
    t.sortby(Field::Ip);
    add(t, "1.5.0.0");
    add(t, "9.9.9.9");
    add(t, "0.0.0.0");
    EXPECT_EQ(order(t), "0.0.0.0,1.1.1.1,1.5.0.0,2.2.2.2,3.3.3.3,9.9.9.9");

    // After a speed sort, emptied and refilled as an import does: no record has a speed, so
    // each goes to the front and the list ends reversed.
    t.sortby(Field::Speed);
    t.clear();
    for (const char* ip : {"A", "B", "C"})
        add(t, ip);
    EXPECT_EQ(order(t), "C,B,A");
}

TEST(ProxyTable, PlacementAfterAnEditUsesTableOrder) {
    // An edit never moves its record, so the table can be out of key order; placement then
    // takes the first record in table order that is equal or greater.
    ProxyTable t;
    t.opentable();
    add(t, "a", 10);
    add(t, "b", 20);
    add(t, "c", 30);
    t.sortby(Field::Speed);
    t.gofirst();
    t.editrecord();
    t.setinteger(Field::Speed, 50);
    t.postrecord();
    EXPECT_EQ(order(t), "a,b,c");  // not moved
    add(t, "n", 25);
    EXPECT_EQ(order(t), "n,a,b,c");  // "a" (50) is the first value >= 25
}

TEST(ProxyTable, ManySortedInsertsStayOrdered) {
    ProxyTable t;
    t.opentable();
    t.sortby(Field::Speed);
    for (int i = 0; i < 5000; ++i)
        add(t, std::to_string(i), (i * 7919) % 1000);
    ASSERT_EQ(t.count(), 5000);
    for (int i = 2; i <= t.count(); ++i)
        ASSERT_LE(*t.at(i - 1).Speed, *t.at(i).Speed) << i;
}

// The stored form keeps every field exactly, a missing value apart from an empty one.
TEST(ProxyTable, StoredRecordsKeepEveryValue) {
    ProxyRecord full;
    full.Ip = "123.123.123.123";
    full.Port = "65535";
    full.Protocol = "";
    full.Location = std::string(40, '\xB1');
    full.Verified = false;
    full.Speed = -7;
    ProxyRecord onlySpeed;
    onlySpeed.Speed = 0;
    ProxyRecord verified;
    verified.Ip = "";
    verified.Verified = true;
    for (const ProxyRecord& r : {ProxyRecord{}, full, onlySpeed, verified}) {
        const ProxyRecord back = PackedRecord(r).unpack();
        EXPECT_EQ(back.Ip, r.Ip);
        EXPECT_EQ(back.Port, r.Port);
        EXPECT_EQ(back.Protocol, r.Protocol);
        EXPECT_EQ(back.Location, r.Location);
        EXPECT_EQ(back.Verified, r.Verified);
        EXPECT_EQ(back.Speed, r.Speed);
        for (int f = 0; f < kFieldCount; ++f)
            EXPECT_EQ(PackedRecord(r).text(static_cast<Field>(f)), r.text(static_cast<Field>(f)));
    }
}

// Sorting on the address: missing values first, then byte order of the whole text (also past
// the first 16 bytes, and a text before the longer ones it begins), ties in table order. A
// large table is sorted in two halves and merged; both sizes must give the reference order.
TEST(ProxyTable, AddressSortMatchesByteOrderAndKeepsTies) {
    const std::vector<std::optional<std::string>> texts = {"10.0.0.1",
                                                           "1234567890123456",
                                                           "1234567890123456.9",
                                                           std::nullopt,
                                                           "1234567890123456.1",
                                                           "",
                                                           "10.0.0.1",
                                                           "9",
                                                           "10.0.0",
                                                           "1234567890123455.99",
                                                           "1234567890123456",
                                                           "0.0.0.0"};
    for (const int n : {24, 70000}) {
        SCOPED_TRACE(n);
        ProxyTable t;
        t.opentable();
        std::vector<std::pair<std::optional<std::string>, int>> expected;
        for (int i = 0; i < n; ++i) {
            const auto& ip =
                texts[static_cast<std::size_t>(i * 7 % static_cast<int>(texts.size()))];
            t.addrecord();
            if (ip)
                t.setfield(Field::Ip, *ip);
            t.setfield(Field::Port, std::to_string(i));
            t.postrecord();
            expected.emplace_back(ip, i);
        }
        std::stable_sort(expected.begin(), expected.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        t.sortby(Field::Ip);
        ASSERT_EQ(t.count(), n);
        for (int i = 1; i <= n; ++i) {
            const ProxyRecord r = t.at(i);
            ASSERT_EQ(r.Ip, expected[static_cast<std::size_t>(i - 1)].first) << i;
            ASSERT_EQ(r.Port, std::to_string(expected[static_cast<std::size_t>(i - 1)].second))
                << i;
        }
    }
}

// keepIf removes in one pass, keeps the order and the sort key, and rests on the last record;
// new records are still placed by the key afterwards.
TEST(ProxyTable, KeepIfRemovesInOnePassAndKeepsTheOrder) {
    ProxyTable t;
    t.opentable();
    for (int i = 0; i < 3000; ++i) {
        t.addrecord();
        t.setfield(Field::Ip, std::to_string(10000 + i));
        t.postrecord();
    }
    t.sortby(Field::Ip);
    t.keepIf([](const PackedRecord& r) { return r.view(Field::Ip).back() == '7'; });
    ASSERT_EQ(t.count(), 300);
    EXPECT_EQ(t.recno(), 300);
    EXPECT_EQ(t.getfield(Field::Ip), "12997");
    t.addrecord();
    t.setfield(Field::Ip, "10008");
    t.postrecord();
    EXPECT_EQ(t.recno(), 2);
    EXPECT_EQ(t.at(1).Ip, "10007");
    EXPECT_EQ(t.at(3).Ip, "10017");

    t.keepIf([](const PackedRecord&) { return false; });
    EXPECT_EQ(t.count(), 0);
    EXPECT_EQ(t.recno(), 0);
}
