#include "lists/import_export.h"

#include "platform/codec.h"
#include "table/grid_routines.h"
#include "tests/support/fake_host.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace vorsa {
namespace {

using test::appendRow;
using test::utf8;

const QDateTime kNow(QDate(2011, 9, 2), QTime(14, 3, 5));
const QLocale kZh(QLocale::Chinese, QLocale::China);

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Lines in UTF-8, joined with CR LF, as GBK bytes.
std::string gbkLines(std::initializer_list<const char*> lines) {
    std::string out;
    for (const char* l : lines)
        out += gbk::text(l) + "\r\n";
    return out;
}

class ListFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        table.opentable();
    }
    std::string path(const char* name) const {
        return m_dir.filePath(QString::fromUtf8(name)).toStdString();
    }
    std::string dir() const { return m_dir.path().toStdString(); }

    // Three records: validated with a speed; unvalidated with a padded location; an empty
    // address with texts that need escaping.
    void fillFixedTable() {
        table.addrecord();
        table.setfield(Field::Ip, "10.0.0.1");
        table.setfield(Field::Port, "8080");
        table.setflag(Field::Verified, true);
        table.setinteger(Field::Speed, 235);
        table.postrecord();
        table.addrecord();
        table.setfield(Field::Ip, "1.2.3.4");
        table.setfield(Field::Port, "80");
        table.setfield(Field::Protocol, "HTTP");
        table.setfield(Field::Location, gbk::text("  北京市 联通 "));
        table.setflag(Field::Verified, false);
        table.postrecord();
        table.addrecord();
        table.setfield(Field::Ip, "");
        table.setfield(Field::Port, "3128");
        table.setfield(Field::Protocol, "a%b\"c");
        table.setfield(Field::Location, "x\r\ny");
        table.postrecord();
    }

    std::vector<std::string> rows() {
        std::vector<std::string> out;
        for (int i = 1; i <= table.count(); ++i) {
            const ProxyRecord& r = table.at(i);
            out.push_back(utf8(r.text(Field::Ip)) + "|" + utf8(r.text(Field::Port)) +
                          (r.isNull(Field::Protocol) && r.isNull(Field::Location) &&
                                   r.isNull(Field::Verified) && r.isNull(Field::Speed)
                               ? ""
                               : "|not null"));
        }
        return out;
    }

    ProxyTable table;

private:
    QTemporaryDir m_dir;
};

TEST_F(ListFiles, EveryFormatByteForByte) {
    fillFixedTable();
    const std::string text =
        gbkLines({"Vorsa智能代理最新验证:2011/9/2 14:03:05", "10.0.0.1:8080@未知#235ms",
                  "1.2.3.4:80@北京市 联通#ms", ":3128@x\r\ny#ms"});
    const std::string html =
        std::string("<html><head><title>") + "Vorsa智能代理最新验证，   时间：" +
        gbkLines({"2011/9/2 14:03:05</title></head><body><table><tr><td>IP:端口</td>"
                  "<td>速度(ms)</td></tr>",
                  "<tr><td>10.0.0.1:8080</td><td>235</td></tr>",
                  "<tr><td>1.2.3.4:80</td><td></td></tr>", "<tr><td>:3128</td><td></td></tr>",
                  "</table></body></html>"});
    const std::string csv = gbkLines({
        R"("@@FILE VERSION@@","251")",
        R"("@@TABLEDEF START@@")",
        R"("IP地址=String,50,""IP地址"","""",50,Data,""""")",
        R"("端口=String,8,""端口"","""",8,Data,""""")",
        R"("协议=String,10,""协议"","""",10,Data,""""")",
        R"("位置=String,40,""位置"","""",40,Data,""""")",
        R"("验证=Boolean,0,""验证"","""",5,Data,""""")",
        R"("速度=Integer,0,""速度"","""",10,Data,""""")",
        R"("@@INDEXDEF START@@")",
        R"("@@INDEXDEF END@@")",
        R"("@@TABLEDEF END@@")",
        R"("IP地址","端口","协议","位置","验证","速度",)",
        R"("10.0.0.1","8080",,,"True","235",)",
        R"("1.2.3.4","80","HTTP","  北京市 联通 ","False",,)",
        R"("","3128","a%%b""c","x%c%ny",,,)",
    });
    const struct {
        int format;
        const std::string& bytes;
    } cases[] = {{1, text}, {2, html}, {3, csv}, {4, text}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        const std::string file = path("out");
        exportlist(table, file, c.format, kNow, kZh);
        EXPECT_EQ(readAll(file), c.bytes);
    }
    // The HTML title is UTF-8 while the rest of its line is GBK.
    EXPECT_NE(html.find("\xE6\x97\xB6\xE9\x97\xB4"), std::string::npos);  // 时间, UTF-8
    EXPECT_NE(html.find(gbk::text("IP:端口")), std::string::npos);
}

TEST_F(ListFiles, DateTimeText) {
    const struct {
        QDateTime at;
        QLocale locale;
        const char* expected;
    } cases[] = {
        {kNow, kZh, "2011/9/2 14:03:05"},
        {QDateTime(QDate(2011, 9, 2), QTime(0, 0)), kZh, "2011/9/2"},  // midnight: date only
        {QDateTime(QDate(2011, 9, 2), QTime(0, 0, 1)), kZh, "2011/9/2 00:00:01"},
        {kNow, QLocale(QLocale::German, QLocale::Germany), "02.09.11 14:03:05"},
        {kNow, QLocale(QLocale::English, QLocale::UnitedStates), "9/2/11 2:03:05\u202fPM"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        const std::string got = utf8(exportDateTime(c.at, c.locale));
        // Some Qt versions put a narrow no-break space before AM/PM, others a blank.
        std::string expected = c.expected;
        if (got.find("\u202f") == std::string::npos && expected.find("\u202f") != std::string::npos)
            expected.replace(expected.find("\u202f"), 3, " ");
        EXPECT_EQ(got, expected);
    }
}

TEST_F(ListFiles, ValidatedImportedRecordInCsv) {
    writeAll(path("in.txt"), "10.0.0.1:8080\r\n");
    importlist(table, path("in.txt"));
    table.gofirst();
    table.editrecord();
    table.setflag(Field::Verified, true);
    table.setfield(Field::Speed, "235");
    table.postrecord();
    exportlist(table, path("out.csv"), CsvTable, kNow, kZh);
    const std::string bytes = readAll(path("out.csv"));
    const std::string last = "\"10.0.0.1\",\"8080\",,,\"True\",\"235\",\r\n";
    ASSERT_GE(bytes.size(), last.size());
    EXPECT_EQ(bytes.substr(bytes.size() - last.size()), last);
}

TEST_F(ListFiles, HtmlCellsKeepMarkupAsText) {
    appendRow(table, "<script>\"x\"&", "80");
    exportlist(table, path("x.html"), HtmlTable, kNow, kZh);
    EXPECT_NE(readAll(path("x.html"))
                  .find("<tr><td>&lt;script&gt;&quot;x&quot;&amp;:80</td><td></td></tr>\r\n"),
              std::string::npos);
}

TEST_F(ListFiles, EmptyTableOrUnknownFormatWritesNothing) {
    for (int format = 0; format <= 5; ++format) {
        SCOPED_TRACE(format);
        exportlist(table, path("empty"), format, kNow, kZh);
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path("empty"))));
    }
    appendRow(table, "1.1.1.1", "80");
    for (int format : {0, 5, -1}) {
        exportlist(table, path("none"), format, kNow, kZh);
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path("none"))));
    }
    EXPECT_TRUE(QDir(QString::fromStdString(dir()))
                    .isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

TEST_F(ListFiles, ChosenNameIsTrimmedAndGetsTheFormatsExtension) {
    appendRow(table, "1.1.1.1", "80");
    const struct {
        const char* typed;  // before the folder: {lead}{folder}/{typed}{trail}
        const char* lead;
        const char* trail;
        int format;
        const char* written;
    } cases[] = {
        {"list.dat", "", "", HtmlTable, "list.html"},
        {"list", "", "", CsvTable, "list.csv"},
        {"name.x.y", " \t", " \r\n", TextList, "name.x.txt"},
        {"list.txt", "", "", TextListLong, "list.txt"},
        {"sub.d/list", "", "", HtmlTable, "sub.d/list.html"},
    };
    QDir(QString::fromStdString(dir())).mkdir(QStringLiteral("sub.d"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        ExportChoice remembered;
        const std::string chosen = c.lead + path(c.typed) + c.trail;
        exportChosenFile(table, remembered, chosen, c.format, kNow, kZh);
        EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(path(c.written))));
        EXPECT_EQ(remembered.format, c.format);
        EXPECT_EQ(remembered.fileName, chosen);
    }
    EXPECT_EQ(forceExtension("/a.b/c", CsvTable), "/a.b/c.csv");
    EXPECT_EQ(forceExtension("x.txt", 9), "x.txt");
}

TEST_F(ListFiles, FailedExportLeavesTheOldFileWhole) {
    fillFixedTable();
    const std::string old = "the user's own list\r\n";

    // A folder that cannot be written (root may write anyway: then this part is moot).
    const std::string locked = dir() + "/locked";
    ASSERT_EQ(::mkdir(locked.c_str(), 0755), 0);
    writeAll(locked + "/list.txt", old);
    ::chmod(locked.c_str(), 0555);
    if (::access(locked.c_str(), W_OK) != 0) {
        EXPECT_THROW(exportlist(table, locked + "/list.txt", TextList, kNow, kZh),
                     std::runtime_error);
        EXPECT_EQ(readAll(locked + "/list.txt"), old);
    }
    ::chmod(locked.c_str(), 0755);

    // A write that fails half way (the file size limit stands in for a full disk).
    writeAll(path("big.csv"), old);
    for (int i = 0; i < 20000; ++i)
        appendRow(table, "10.1.2." + std::to_string(i % 250), std::to_string(i));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            exportlist(table, path("big.csv"), CsvTable, kNow, kZh);
        } catch (const std::runtime_error&) {
            ::_exit(7);
        }
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
    EXPECT_EQ(readAll(path("big.csv")), old);
    // Nothing of the failed attempt is left beside it.
    EXPECT_EQ(QDir(QString::fromStdString(dir())).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(ListFiles, ImportLines) {
    const std::string header = gbk::text("Vorsa智能代理最新验证:2011/9/2 14:03:05");
    const struct {
        const char* name;
        std::string bytes;
        std::vector<std::string> rows;
    } cases[] = {
        {"CR LF", "1.1.1.1:80\r\n2.2.2.2:8080\r\n", {"1.1.1.1|80", "2.2.2.2|8080"}},
        {"lone LF", "1.1.1.1:80\n2.2.2.2:8080\n", {"1.1.1.1|80", "2.2.2.2|8080"}},
        {"lone CR", "1.1.1.1:80\r2.2.2.2:8080", {"1.1.1.1|80", "2.2.2.2|8080"}},
        {"mixed, blank lines",
         "1.1.1.1:80\r\r\n\n2.2.2.2:8080\n\r",
         {"1.1.1.1|80", "2.2.2.2|8080"}},
        {"NUL ends the text",
         std::string("1.1.1.1:80\r\n2.2.2.2:8", 21) + '\0' + "080\r\n3.3.3.3:1\r\n",
         {"1.1.1.1|80", "2.2.2.2|8"}},
        {"empty parts, more colons, no trimming",
         ":8080\r\n1.2.3.4:\r\na:b:c\r\n 5.5.5.5 : 81 \r\nno colon\r\n",
         {"|8080", "1.2.3.4|", "a|b:c", " 5.5.5.5 | 81 "}},
        {"port cut to 8 bytes", "1.1.1.1:123456789\r\n", {"1.1.1.1|12345678"}},
        // Our own text export reads back as its proxies: the header goes, the port ends at
        // '@', a place other than 未知 is kept; lines only resembling it keep the plain rule.
        {"own export",
         header + "\r\n10.0.0.1:8080@" + gbk::text("北京市 联通") + "#235ms\r\n" +
             "10.0.0.2:3128@" + gbk::text("未知") + "#ms\r\n",
         {"10.0.0.1|8080|not null", "10.0.0.2|3128"}},
        {"like an export, but not one",
         "u:pass@h#1ms\r\n1.1.1.1:80@x\r\n1.1.1.1:80@x#12s\r\n1.1.1.1:123456@x#1ms\r\n"
         ":@x#1ms\r\n",
         {"u|pass@h#1", "1.1.1.1|80@x", "1.1.1.1|80@x#12s", "1.1.1.1|123456@x", "|@x#1ms"}},
        {"no colon at all", "abc\r\ndef\r\n", {}},
        {"empty file", "", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        table.clear();
        appendRow(table, "9.9.9.9", "99");  // whatever was there before goes
        writeAll(path("in.txt"), c.bytes);
        importlist(table, path("in.txt"));
        EXPECT_EQ(rows(), c.rows);
    }
}

// What the program saves (the autosave is format 1) imports as the same proxies and places.
TEST_F(ListFiles, TextExportImportsAsItsProxies) {
    fillFixedTable();
    exportlist(table, path("out.txt"), TextList, kNow, kZh);
    importlist(table, path("out.txt"));
    ASSERT_EQ(table.count(), 3);
    const struct {
        const char *ip, *port, *place;  // place nullptr: no location
    } want[] = {{"10.0.0.1", "8080", nullptr},
                {"1.2.3.4", "80", "北京市 联通"},
                // A place holding a line break splits its line; the plain rule takes the rest.
                {"", "3128@x", nullptr}};
    for (int i = 1; i <= 3; ++i) {
        SCOPED_TRACE(i);
        const ProxyRecord& r = table.at(i);
        EXPECT_EQ(utf8(r.text(Field::Ip)), want[i - 1].ip);
        EXPECT_EQ(utf8(r.text(Field::Port)), want[i - 1].port);
        EXPECT_EQ(r.isNull(Field::Location), want[i - 1].place == nullptr);
        if (want[i - 1].place) {
            EXPECT_EQ(utf8(r.text(Field::Location)), want[i - 1].place);
        }
        EXPECT_TRUE(r.isNull(Field::Speed) && r.isNull(Field::Verified));
    }
}

TEST_F(ListFiles, UnreadableFileKeepsTheTable) {
    appendRow(table, "9.9.9.9", "99");
    for (const std::string& bad : {path("missing.txt"), dir()}) {
        try {
            importlist(table, bad);
            ADD_FAILURE() << "no error for " << bad;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(bad), std::string::npos) << e.what();
        }
        EXPECT_EQ(rows(), std::vector<std::string>{"9.9.9.9|99"});
    }
}

TEST_F(ListFiles, ImportCommandRedrawsTheGrid) {
    test::FakeHost host;
    appendRow(host.table(), "9.9.9.9", "99");
    writeAll(path("in.txt"), "1.1.1.1:80\r\n2.2.2.2:81\r\n");
    importChosenFile(host, path("in.txt"));
    EXPECT_EQ(host.grid().gridRowCount(), 3);
    EXPECT_EQ(host.panel1(), "共有2个代理");
    // A name that does not exist imports nothing, and the grid is still redrawn.
    host.events.clear();
    importChosenFile(host, path("nothing-here.txt"));
    EXPECT_EQ(host.table().count(), 2);
    EXPECT_EQ(host.events, std::vector<std::string>{"showinfo:共有2个代理"});
}

TEST_F(ListFiles, ImportAfterASpeedSortPutsNewRecordsInFront) {
    appendRow(table, "1.1.1.1", "80");
    table.sortby(Field::Speed);
    writeAll(path("in.txt"), "A:1\r\nB:2\r\nC:3\r\n");
    importlist(table, path("in.txt"));
    EXPECT_EQ(rows(), (std::vector<std::string>{"C|3", "B|2", "A|1"}));
}

}  // namespace
}  // namespace vorsa
