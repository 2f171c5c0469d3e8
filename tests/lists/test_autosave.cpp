#include "lists/autosave.h"
#include "lists/import_export.h"
#include "platform/codec.h"
#include "platform/text_lines.h"
#include "table/grid_routines.h"
#include "tests/support/fake_host.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace vorsa {
namespace {

class Autosave : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vorsa-autosave-test-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        ::setenv("XDG_DATA_HOME", m_dir.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("XDG_DATA_HOME");
        std::filesystem::remove_all(m_dir);
    }
    // Rows 1..4; 1 and 3 passed, 2 never did, 4 passed an earlier run but failed this one
    // (its table flag is still set, its grid row shows the failure).
    void fill(test::FakeHost& host) {
        ProxyTable& t = host.table();
        t.opentable();
        const char* ips[] = {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"};
        for (const char* ip : ips)
            test::appendRow(t, ip, "8080", nullptr, "北京");
        for (int row : {1, 3, 4}) {
            t.gofirst();
            t.goforward(row - 1);
            t.editrecord();
            t.setflag(Field::Verified, true);
            t.setinteger(Field::Speed, row * 100);
            t.postrecord();
        }
        refreshgrid(host);
        host.grid().setCell(5, 4, gbk::text("⊙"));
    }
    std::vector<std::string> fileLines() {
        std::string bytes;
        if (!readFileBytes(autosavePath(), bytes))
            return {};
        return splitLines(bytes);
    }
    std::string m_dir;
};

TEST_F(Autosave, WritesThePassedRowsInExportFormatOne) {
    EXPECT_EQ(autosavePath(), m_dir + "/VORSASOFT/last-valid.txt");
    test::FakeHost host;
    fill(host);
    EXPECT_EQ(autosaveValidated(host, autosavePath()), 2);
    const std::vector<std::string> lines = fileLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind(gbk::text("Vorsa智能代理最新验证:"), 0), 0u);
    EXPECT_EQ(lines[1], "10.0.0.1:8080@" + gbk::text("北京") + "#100ms");
    EXPECT_EQ(lines[2], "10.0.0.3:8080@" + gbk::text("北京") + "#300ms");
    // The window's table is left as it was.
    EXPECT_EQ(host.table().count(), 4);

    // "导入代理列表" reads the file back as the proxies it holds, with their places.
    ProxyTable imported;
    importlist(imported, autosavePath());
    ASSERT_EQ(imported.count(), 2);
    for (int i : {1, 2}) {
        EXPECT_EQ(imported.at(i).text(Field::Port), "8080");
        EXPECT_EQ(imported.at(i).text(Field::Location), gbk::text("北京"));
    }
    EXPECT_EQ(imported.at(1).text(Field::Ip), "10.0.0.1");
    EXPECT_EQ(imported.at(2).text(Field::Ip), "10.0.0.3");
}

TEST_F(Autosave, NothingPassedKeepsTheLastFile) {
    test::FakeHost good;
    fill(good);
    ASSERT_EQ(autosaveValidated(good, autosavePath()), 2);
    const std::vector<std::string> before = fileLines();

    test::FakeHost none;
    test::appendRow(none.table(), "10.0.0.9", "80");
    refreshgrid(none);
    EXPECT_EQ(autosaveValidated(none, autosavePath()), 0);
    test::FakeHost empty;
    EXPECT_EQ(autosaveValidated(empty, autosavePath()), 0);
    EXPECT_EQ(fileLines(), before);
}

TEST_F(Autosave, AnUnwritablePlaceThrowsAndLeavesNoFile) {
    // The data folder's place is taken by a file.
    replaceFileBytes(m_dir + "/VORSASOFT", "x");
    test::FakeHost host;
    fill(host);
    EXPECT_THROW(autosaveValidated(host, autosavePath()), std::runtime_error);
    ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", m_dir.c_str(), 1);
    EXPECT_EQ(autosavePath(), m_dir + "/.local/share/VORSASOFT/last-valid.txt");
}

}  // namespace
}  // namespace vorsa
