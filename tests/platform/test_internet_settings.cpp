#include "platform/internet_settings.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

namespace {

class InternetSettings : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vorsa-inet-test-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        m_file = m_dir + "/sub/internet-settings.ini";
        ::setenv("VORSA_INTERNET_SETTINGS", m_file.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("VORSA_INTERNET_SETTINGS");
        ASSERT_EQ(std::system(("rm -rf '" + m_dir + "'").c_str()), 0);
    }
    std::string m_dir, m_file;
};

TEST_F(InternetSettings, MissingStoreHasNoValues) {
    const auto v = vorsa::readInternetSettings();
    EXPECT_FALSE(v.ProxyEnable);
    EXPECT_FALSE(v.ProxyServer);
    EXPECT_FALSE(vorsa::preconfiguredProxy());
}

TEST_F(InternetSettings, RoundTripKeepsTheRegistryMeaning) {
    vorsa::writeProxyEnable(1);
    vorsa::writeProxyServer("1.2.3.4:8080");
    EXPECT_EQ(vorsa::readInternetSettings().ProxyEnable, 1);
    EXPECT_EQ(vorsa::preconfiguredProxy(), "1.2.3.4:8080");

    vorsa::writeProxyEnable(0);  // switching off keeps the last proxy
    EXPECT_EQ(vorsa::readInternetSettings().ProxyServer, "1.2.3.4:8080");
    EXPECT_FALSE(vorsa::preconfiguredProxy());

    const std::string odd[] = {"http=1.2.3.4:80;https=5.6.7.8:443", "\xB4\xFA\xC0\xED:80",
                               "a\r\nProxyEnable=1\n[x]", std::string("nul\0in\\it", 9), " "};
    for (const std::string& s : odd) {
        vorsa::writeProxyServer(s);
        EXPECT_EQ(vorsa::readInternetSettings().ProxyServer, s);
        EXPECT_EQ(vorsa::readInternetSettings().ProxyEnable, 0);
    }
}

TEST_F(InternetSettings, HandWrittenValues) {
    struct Case {
        const char* text;
        std::optional<int> enable;
        std::optional<std::string> proxy;  // preconfiguredProxy()
    };
    const Case cases[] = {
        {"[Internet Settings]\nProxyEnable=1\nProxyServer=9.9.9.9:99\n", 1, "9.9.9.9:99"},
        {"[internet settings]\r\nProxyEnable = 1\r\nProxyServer=9.9.9.9:99\r\n", 1, "9.9.9.9:99"},
        {"[Internet Settings]\nProxyEnable=2\nProxyServer=9.9.9.9:99\n", 2, std::nullopt},
        {"[Internet Settings]\nProxyEnable=yes\nProxyServer=9.9.9.9:99\n", std::nullopt,
         std::nullopt},
        {"[Internet Settings]\nProxyEnable=4294967295\n", -1, std::nullopt},
        {"[Internet Settings]\nProxyEnable=99999999999\n", std::nullopt, std::nullopt},
        {"[Internet Settings]\nProxyEnable=1\n", 1, std::nullopt},
        {"[Other]\nProxyEnable=1\nProxyServer=9.9.9.9:99\n", std::nullopt, std::nullopt},
        {"\x01\x02\xff garbage", std::nullopt, std::nullopt},
    };
    ::mkdir((m_dir + "/sub").c_str(), 0700);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::ofstream(m_file, std::ios::binary) << c.text;
        EXPECT_EQ(vorsa::readInternetSettings().ProxyEnable, c.enable);
        EXPECT_EQ(vorsa::preconfiguredProxy(), c.proxy);
    }
}

TEST_F(InternetSettings, WriteFailureThrows) {
    std::ofstream(m_dir + "/file") << "x";
    ::setenv("VORSA_INTERNET_SETTINGS", (m_dir + "/file/internet-settings.ini").c_str(), 1);
    EXPECT_THROW(vorsa::writeProxyEnable(1), std::runtime_error);
    EXPECT_THROW(vorsa::writeProxyServer("1.2.3.4:80"), std::runtime_error);
}

TEST(ProxyForScheme, PicksTheEntryOfTheScheme) {
    struct Case {
        const char *server, *scheme, *proxy;
    };
    const Case cases[] = {
        {"1.2.3.4:80", "http", "1.2.3.4:80"},
        {"1.2.3.4:80", "https", "1.2.3.4:80"},
        {" 1.2.3.4:80 ", "http", "1.2.3.4:80"},
        {"http=1.1.1.1:1;https=2.2.2.2:2", "http", "1.1.1.1:1"},
        {"http=1.1.1.1:1;https=2.2.2.2:2", "https", "2.2.2.2:2"},
        {"HTTP=1.1.1.1:1", "https", "1.1.1.1:1"},
        {"ftp=3.3.3.3:3;socks=4.4.4.4:4", "http", ""},
        {"https=2.2.2.2:2", "http", ""},
        {"=;;=", "http", ""},
        {"", "http", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(vorsa::proxyForScheme(c.server, c.scheme), c.proxy)
            << c.server << " " << c.scheme;
}

}  // namespace

namespace {

TEST(ParseProxyEntry, OnlyPlainHostAndPort) {
    struct Case {
        const char* text;
        bool ok;
        const char* host;
        int port;
    };
    const Case cases[] = {
        {"1.2.3.4:8080", true, "1.2.3.4", 8080},
        {"proxy-1.example_x:1", true, "proxy-1.example_x", 1},
        {"host", true, "host", 0},
        {"[::1]:3128", true, "::1", 3128},
        {"[fe80::1]", true, "fe80::1", 0},
        {"1.2.3.4:65536", false, "", 0},
        {"1.2.3.4:0", false, "", 0},
        {"1.2.3.4:", false, "", 0},
        {":80", false, "", 0},
        {"1.2.3.4:80x", false, "", 0},
        {"a b:80", false, "", 0},
        {"user@h:80", false, "", 0},
        {"http://h:80", false, "", 0},
        {"h:80\r\nHost: x", false, "", 0},
        {"h:80/path", false, "", 0},
        {"-x h:80", false, "", 0},
        {"[::1", false, "", 0},
        {"[]:80", false, "", 0},
        {"[::1]x", false, "", 0},
        {"\xB4\xFA\xC0\xED:80", false, "", 0},
        {"", false, "", 0},
    };
    for (const Case& c : cases) {
        const auto e = vorsa::parseProxyEntry(c.text);
        EXPECT_EQ(e.has_value(), c.ok) << c.text;
        if (e && c.ok) {
            EXPECT_EQ(e->host, c.host);
            EXPECT_EQ(e->port, c.port);
        }
    }
    EXPECT_FALSE(vorsa::parseProxyEntry(std::string(300, 'a')));
}

}  // namespace
