// The check page settings of hosts.ini: read, converted, and refused when they make no sense.
#include "platform/check_settings.h"

#include "platform/codec.h"
#include "platform/hosts_config.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <fstream>

namespace vorsa {
namespace {

class CheckSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vorsa-check-test-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        ::setenv("XDG_CONFIG_HOME", (m_dir + "/config").c_str(), 1);
        ::setenv("VORSA_HOSTS", (m_dir + "/hosts.ini").c_str(), 1);
        reload();
    }
    void TearDown() override {
        ::unsetenv("VORSA_HOSTS");
        reload();
        ASSERT_EQ(std::system(("rm -rf '" + m_dir + "'").c_str()), 0);
    }
    static void reload() {
        reloadHosts();
        reloadCheckSettings();
    }
    void writeHosts(const std::string& text) {
        std::ofstream(m_dir + "/hosts.ini", std::ios::binary) << text;
        reload();
    }
    std::string m_dir;
};

TEST_F(CheckSettingsTest, DefaultsWithoutASection) {
    writeHosts("[hosts]\niplookup=http://127.0.0.1:9100\n");
    const CheckSettings s = checkSettings();
    EXPECT_EQ(s.url, "http://127.0.0.1:9100/ip2city.asp");
    EXPECT_EQ(s.marker, gbk::text("您的IP地址"));
    EXPECT_EQ(s.bytes, 120u);
    EXPECT_TRUE(s.problems.empty());
}

TEST_F(CheckSettingsTest, ReadFromTheFileWithAUtf8MarkerInGbk) {
    writeHosts(
        "[check]\nurl = https://judge.example:8443/azenv.php?x=1\nmarker=来自 AZ\n"
        "bytes=4096\n");
    const CheckSettings s = checkSettings();
    EXPECT_EQ(s.url, "https://judge.example:8443/azenv.php?x=1");
    EXPECT_EQ(s.marker, gbk::text("来自 AZ"));
    EXPECT_EQ(s.marker.size(), 7u);
    EXPECT_EQ(s.bytes, 4096u);
    EXPECT_TRUE(s.problems.empty());
}

TEST_F(CheckSettingsTest, NonsenseIsRefusedWithItsMessageAndTheDefaultKept) {
    const CheckSettings d = defaultCheckSettings();
    struct Case {
        const char* ini;
        const char* message;  // UTF-8, part of the one problem reported
        bool urlKept, markerKept, bytesKept;
    } cases[] = {
        {"marker=\n", "marker 不能为空", true, true, true},
        {"bytes=0\n", "bytes 须是 1 到 1048576", true, true, true},
        {"bytes=104857600\n", "bytes 须是 1 到 1048576", true, true, true},
        {"bytes=1048577\n", "bytes 须是 1 到 1048576", true, true, true},
        {"bytes=-5\n", "bytes 须是 1 到 1048576", true, true, true},
        {"bytes=12k\n", "bytes 须是 1 到 1048576", true, true, true},
        {"url=ftp://127.0.0.1/x\n", "url 须是带主机名的", true, true, true},
        {"url=http:///ip2city.asp\n", "url 须是带主机名的", true, true, true},
        {"url=127.0.0.1/ip2city.asp\n", "url 须是带主机名的", true, true, true},
        {"url=http://a b/\n", "url 须是带主机名的", true, true, true},
        {"url=file:///etc/passwd\n", "url 须是带主机名的", true, true, true},
        {"marker=\xff\xfe\n", "marker 须是可用 GBK 表示的 UTF-8 文字", true, true, true},
        {"marker=😀\n", "marker 须是可用 GBK 表示的 UTF-8 文字", true, true, true},
        {"marker=0123456789\nbytes=4\n", "marker 比读取的字节数 bytes 还长", true, true, true},
        {"marker=您的IP地址\nbytes=9\n", "marker 比读取的字节数 bytes 还长", true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ini);
        writeHosts(std::string("[check]\n") + c.ini);
        const CheckSettings s = checkSettings();
        ASSERT_EQ(s.problems.size(), 1u);
        EXPECT_NE(s.problems[0].find(gbk::text(c.message)), std::string::npos)
            << gbk::toUnicode(s.problems[0]).toStdString();
        EXPECT_NE(s.problems[0].find(gbk::text("已改用默认值")), std::string::npos);
        EXPECT_EQ(s.url, d.url);
        EXPECT_EQ(s.marker, d.marker);
        EXPECT_EQ(s.bytes, d.bytes);
    }
}

TEST_F(CheckSettingsTest, OneBadValueKeepsTheGoodOnes) {
    writeHosts("[check]\nurl=http://127.0.0.1:9/judge.txt\nmarker=OK\nbytes=0\n");
    const CheckSettings s = checkSettings();
    EXPECT_EQ(s.url, "http://127.0.0.1:9/judge.txt");
    EXPECT_EQ(s.marker, "OK");
    EXPECT_EQ(s.bytes, 120u);
    EXPECT_EQ(s.problems.size(), 1u);
}

TEST_F(CheckSettingsTest, OtherSectionsDoNotLeakIntoHosts) {
    writeHosts("[check]\niplookup=http://10.9.9.9\n[hosts]\niplookup=http://127.0.0.1:9101\n");
    EXPECT_EQ(hostBase("iplookup"), "http://127.0.0.1:9101");
    EXPECT_EQ(hostsFileValue("check", "iplookup").value_or(""), "http://10.9.9.9");
    EXPECT_FALSE(hostsFileValue("hosts", "iplookup").has_value());
}

}  // namespace
}  // namespace vorsa
