#include "lists/import_export.h"
#include "lists/list_reader.h"
#include "platform/codec.h"
#include "tests/support/fake_host.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vorsa {
namespace {

struct Read {
    std::vector<std::string> rows;
    ListReader::Counts counts;
};

Read readBytes(const std::string& bytes) {
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("list.txt")).toStdString();
    std::ofstream(path, std::ios::binary) << bytes;
    const int fd = ::open(path.c_str(), O_RDONLY);
    Read r;
    ListReader reader;
    std::string error;
    EXPECT_TRUE(reader.read(
        fd,
        [&](std::string_view ip, std::string_view port) {
            r.rows.push_back(std::string(ip) + "|" + std::string(port));
        },
        error));
    ::close(fd);
    r.counts = reader.counts();
    return r;
}

TEST(ListReader, LinesByTheImportRules) {
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<std::string> rows;
        long long skipped;
        long long lines = -1;  // -1: not asserted
    };
    // "1.2.3.4:80" + pad puts the CR at the last byte of the reader's first 64 KiB block; the LF
    // opening the second block belongs to it and ends no second line.
    const std::string pad(65535 - 10, ' ');
    const Case cases[] = {
        {"line ends",
         "1.1.1.1:1\r\n2.2.2.2:2\r3.3.3.3:3\n4.4.4.4:4",
         {"1.1.1.1|1", "2.2.2.2|2", "3.3.3.3|3", "4.4.4.4|4"},
         0},
        {"blanks trimmed", "  5.5.5.5 : 8080 \n\n \t\n", {"5.5.5.5|8080"}, 0},
        {"host names", "proxy-1.example.test:3128\n", {"proxy-1.example.test|3128"}, 0},
        {"bad ports", "1.1.1.1:0\n1.1.1.1:65536\n1.1.1.1:\n1.1.1.1:+80\n1.1.1.1:8 0\n", {}, 5},
        {"no colon", "1.1.1.1 80\n", {}, 1},
        // The program's own text export (the autosave): its heading is not a proxy.
        {"our text export",
         gbk::text("Vorsa智能代理最新验证:2026-12-10 19:46:55\r\n1.2.3.4:8080@美国#12ms\r\n"),
         {"1.2.3.4|8080"},
         0},
        {"ipv6", "[::1]:80\n::1\n", {}, 2},
        {"address longer than its field",
         std::string(51, 'a') + ":80\n" + std::string(50, 'a') + ":80\n",
         {std::string(50, 'a') + "|80"},
         1},
        {"CR LF across a block boundary",
         "1.2.3.4:80" + pad + "\r\n5.6.7.8:80\n",
         {"5.6.7.8|80"},
         1,
         2},
        {"NUL ends the text",
         std::string("1.1.1.1:1\n2.2.2.2:2", 19) + std::string(1, '\0') + "3.3.3.3:3\n",
         {"1.1.1.1|1", "2.2.2.2|2"},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Read r = readBytes(c.bytes);
        EXPECT_EQ(r.rows, c.rows);
        EXPECT_EQ(r.counts.skipped, c.skipped);
        if (c.lines >= 0) {
            EXPECT_EQ(r.counts.lines, c.lines);
        }
    }
}

TEST(ListReader, OverlongLinesAreDroppedUnkept) {
    const std::string longLine(3 * ListReader::kMaxLine, '9');
    const Read r = readBytes(longLine + ":80\n7.7.7.7:80\n" + longLine);
    EXPECT_EQ(r.rows, std::vector<std::string>{"7.7.7.7|80"});
    EXPECT_EQ(r.counts.tooLong, 2);
    EXPECT_EQ(r.counts.skipped, 2);
    EXPECT_EQ(r.counts.lines, 3);
}

TEST(ExportJson, EscapesAndTypes) {
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("out.json")).toStdString();
    ProxyTable table;
    test::appendRow(table, "1.2.3.4\"\\", "8080", "HTTP", "北京市\x01 联通");
    test::appendRow(table, "5.6.7.8", "80x");
    table.opentable();
    table.gofirst();
    table.editrecord();
    table.setflag(Field::Verified, true);
    table.setinteger(Field::Speed, 42);
    table.postrecord();
    exportjson(table, path);
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    QJsonParseError error;
    const QJsonArray rows =
        QJsonDocument::fromJson(QByteArray::fromStdString(s.str()), &error).array();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << s.str();
    ASSERT_EQ(rows.size(), 2);
    const QJsonObject first = rows[0].toObject();
    EXPECT_EQ(first.value(u"ip").toString(), QStringLiteral("1.2.3.4\"\\"));
    EXPECT_EQ(first.value(u"port").toInt(), 8080);
    EXPECT_EQ(first.value(u"protocol").toString(), QStringLiteral("HTTP"));
    EXPECT_EQ(first.value(u"location").toString(), QString::fromUtf8("北京市\x01 联通"));
    EXPECT_TRUE(first.value(u"verified").toBool());
    EXPECT_EQ(first.value(u"speed_ms").toInt(), 42);
    const QJsonObject second = rows[1].toObject();
    EXPECT_TRUE(second.value(u"port").isNull());
    EXPECT_TRUE(second.value(u"location").isNull());
    EXPECT_TRUE(second.value(u"verified").isNull());
    EXPECT_TRUE(second.value(u"speed_ms").isNull());

    // An empty table writes nothing, like the window's export.
    ProxyTable empty;
    exportjson(empty, dir.filePath(QStringLiteral("none.json")).toStdString());
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("none.json"))));
}

}  // namespace
}  // namespace vorsa
