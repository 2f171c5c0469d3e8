// The system proxy switch over each store it can live in: the desktop's GSettings (keyfile
// backend in a config folder of our own), KDE's kioslaverc, and the INI file of our own.
#include "platform/codec.h"
#include "platform/internet_settings.h"
#include "platform/proxy_announce.h"
#include "platform/text_lines.h"
#include "sysproxy/system_proxy.h"
#include "tests/support/fake_host.h"

#include <gtest/gtest.h>

#include <gio/gio.h>
#include <QNetworkProxy>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

using vorsa::test::FakeHost;

namespace {

// GSettings picks its backend once per process, so the keyfile store in a folder of our own
// is set up before anything runs; the user's own settings are never touched.
const std::string g_dir = [] {
    char tmpl[] = "/tmp/vorsa-sysproxy-test-XXXXXX";
    std::string dir = ::mkdtemp(tmpl) ? tmpl : "/tmp";
    ::setenv("GSETTINGS_BACKEND", "keyfile", 1);
    ::setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    ::unsetenv("VORSA_INTERNET_SETTINGS");
    ::unsetenv("XDG_CURRENT_DESKTOP");
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    static char* removeAtExit = ::strdup(dir.c_str());
    std::atexit([] {
        [[maybe_unused]] int rc =
            std::system((std::string("rm -rf '") + removeAtExit + "'").c_str());
    });
    return dir;
}();

const std::string g_keyfile = g_dir + "/config/glib-2.0/settings/keyfile";

std::string gbk(const char* utf8) {
    return vorsa::gbk::text(utf8);
}

bool haveSchema() {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* s =
        source ? g_settings_schema_source_lookup(source, "org.gnome.system.proxy", TRUE) : nullptr;
    if (s)
        g_settings_schema_unref(s);
    return s != nullptr;
}

// What another program reads: the keyfile on disk, key by key. The backend drops the
// "org/gnome/" that its root covers from the group names.
std::string keyfileValue(const char* path, const char* key) {
    std::string group = path;
    group = group.substr(group.find("system/proxy"));
    GKeyFile* kf = g_key_file_new();
    std::string out;
    if (g_key_file_load_from_file(kf, g_keyfile.c_str(), G_KEY_FILE_NONE, nullptr)) {
        gchar* v = g_key_file_get_value(kf, group.c_str(), key, nullptr);
        out = v ? v : "";
        g_free(v);
    }
    g_key_file_free(kf);
    return out;
}

void setDesktop(const char* key, const char* child, GVariant* value) {
    GSettings* p = g_settings_new("org.gnome.system.proxy");
    GSettings* s = child ? g_settings_get_child(p, child) : p;
    g_settings_set_value(s, key, value);
    g_settings_sync();
    if (child)
        g_object_unref(s);
    g_object_unref(p);
}

class GSettingsStore : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveSchema())
            GTEST_SKIP() << "org.gnome.system.proxy is not installed";
        ::unsetenv("VORSA_INTERNET_SETTINGS");
        ::unsetenv("XDG_CURRENT_DESKTOP");
        ASSERT_EQ(vorsa::proxyStoreKind(), vorsa::ProxyStoreKind::GSettings);
        setDesktop("mode", nullptr, g_variant_new_string("none"));
        setDesktop("autoconfig-url", nullptr, g_variant_new_string(""));
        for (const char* scheme : {"http", "https"}) {
            setDesktop("host", scheme, g_variant_new_string(""));
            setDesktop("port", scheme, g_variant_new_int32(0));
        }
    }
};

TEST_F(GSettingsStore, SwitchOnAndOffAsTheDesktopSeesIt) {
    struct Case {
        const char* autoconfig;
        const char* modeAfterOff;
    };
    for (const Case c : {Case{"", "'none'"}, Case{"http://127.0.0.1/proxy.pac", "'auto'"}}) {
        SCOPED_TRACE(c.autoconfig);
        setDesktop("autoconfig-url", nullptr, g_variant_new_string(c.autoconfig));
        FakeHost host;
        vorsa::setproxy(host, "127.0.0.5:3128");
        EXPECT_EQ(keyfileValue("org/gnome/system/proxy", "mode"), "'manual'");
        for (const char* group : {"org/gnome/system/proxy/http", "org/gnome/system/proxy/https"}) {
            EXPECT_EQ(keyfileValue(group, "host"), "'127.0.0.5'") << group;
            EXPECT_EQ(keyfileValue(group, "port"), "3128") << group;
        }
        EXPECT_EQ(vorsa::getproxy(), "127.0.0.5:3128");
        EXPECT_EQ(host.panel2(), "当前代理为：127.0.0.5:3128");
        const QNetworkProxy qt = QNetworkProxy::applicationProxy();
        EXPECT_EQ(qt.type(), QNetworkProxy::HttpProxy);
        EXPECT_EQ(qt.hostName(), QStringLiteral("127.0.0.5"));
        EXPECT_EQ(qt.port(), 3128);

        vorsa::disableproxy(host);
        EXPECT_EQ(keyfileValue("org/gnome/system/proxy", "mode"), c.modeAfterOff);
        // The hosts stay, as ProxyServer does in the registry.
        EXPECT_EQ(keyfileValue("org/gnome/system/proxy/http", "host"), "'127.0.0.5'");
        EXPECT_EQ(vorsa::readInternetSettings().ProxyServer, "127.0.0.5:3128");
        EXPECT_EQ(vorsa::getproxy(), "");
        EXPECT_EQ(host.panel2(), "当前代理为：禁用");
        EXPECT_EQ(QNetworkProxy::applicationProxy().type(), QNetworkProxy::NoProxy);

        // Three pauses on the way on, two on the way off, each of 100 ms.
        std::vector<std::string> pauses;
        for (const std::string& e : host.events)
            if (e.rfind("pause:", 0) == 0)
                pauses.push_back(e);
        EXPECT_EQ(pauses, std::vector<std::string>(5, "pause:100"));
    }
}

TEST_F(GSettingsStore, ReadsWhatTheDesktopHolds) {
    struct Case {
        const char* mode;
        const char *httpHost, *httpsHost;
        int httpPort, httpsPort;
        const char* proxy;   // getproxy()
        const char* server;  // ProxyServer
    };
    const Case cases[] = {
        {"none", "127.0.0.5", "127.0.0.5", 3128, 3128, "", "127.0.0.5:3128"},
        {"auto", "127.0.0.5", "", 3128, 0, "", "127.0.0.5:3128"},
        {"manual", "127.0.0.5", "", 3128, 0, "127.0.0.5:3128", "127.0.0.5:3128"},
        {"manual", "h1", "h2", 81, 82, "http=h1:81;https=h2:82", "http=h1:81;https=h2:82"},
        {"manual", "", "h2", 0, 82, "https=h2:82", "https=h2:82"},
        {"manual", "", "", 0, 0, "", nullptr},
        // Junk the user may have typed: read as it stands, never a crash.
        {"manual", "a b\nc", "", 65535, 0, "a b\nc:65535", "a b\nc:65535"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + " " + c.httpHost + " " + c.httpsHost);
        setDesktop("mode", nullptr, g_variant_new_string(c.mode));
        setDesktop("host", "http", g_variant_new_string(c.httpHost));
        setDesktop("port", "http", g_variant_new_int32(c.httpPort));
        setDesktop("host", "https", g_variant_new_string(c.httpsHost));
        setDesktop("port", "https", g_variant_new_int32(c.httpsPort));
        EXPECT_EQ(vorsa::getproxy(), c.proxy);
        const auto v = vorsa::readInternetSettings();
        EXPECT_EQ(v.ProxyServer.has_value(), c.server != nullptr);
        if (c.server) {
            EXPECT_EQ(*v.ProxyServer, c.server);
        }
    }
    // A ProxyServer that is not a plain host:port never reaches Qt as anything else.
    vorsa::refreshFromStore();
    EXPECT_EQ(QNetworkProxy::applicationProxy().type(), QNetworkProxy::NoProxy);
}

TEST_F(GSettingsStore, FailedWriteEndsTheSwitch) {
    // A folder where the settings file should be: no process, root included, can write it.
    ASSERT_EQ(std::system(("rm -f '" + g_keyfile + "' && mkdir -p '" + g_keyfile + "/x'").c_str()),
              0);
    FakeHost host;
    EXPECT_THROW(vorsa::setproxy(host, "127.0.0.5:3128"), std::runtime_error);
    EXPECT_THROW(vorsa::disableproxy(host), std::runtime_error);
    EXPECT_TRUE(host.events.empty()) << host.events.front();  // no pause, no status text
    ASSERT_EQ(std::system(("rm -rf '" + g_keyfile + "'").c_str()), 0);
}

TEST(KdeStore, KioslavercWrittenAndReadBack) {
    ::unsetenv("VORSA_INTERNET_SETTINGS");
    ::setenv("XDG_CURRENT_DESKTOP", "ubuntu:KDE", 1);
    const std::string rc = g_dir + "/config/kioslaverc";
    {
        std::ofstream out(rc);
        out << "[Cache]\nCacheSize=100\n\n[Proxy Settings]\nNoProxyFor=localhost\n"
               "ProxyType=0\nhttpProxy=http://10.9.9.9 8000\n\n[Other]\nx=1\n";
    }
    ASSERT_EQ(vorsa::proxyStoreKind(), vorsa::ProxyStoreKind::Kde);
    EXPECT_EQ(vorsa::getproxy(), "");
    EXPECT_EQ(vorsa::readInternetSettings().ProxyServer, "10.9.9.9:8000");

    FakeHost host;
    vorsa::setproxy(host, "127.0.0.5:3128");
    std::string text;
    ASSERT_TRUE(vorsa::readFileBytes(rc, text));
    EXPECT_EQ(text,
              "[Cache]\nCacheSize=100\n\n[Proxy Settings]\nNoProxyFor=localhost\n"
              "ProxyType=1\nhttpProxy=http://127.0.0.5 3128\nhttpsProxy=http://127.0.0.5 3128\n"
              "\n[Other]\nx=1\n");
    EXPECT_EQ(vorsa::getproxy(), "127.0.0.5:3128");

    vorsa::disableproxy(host);
    EXPECT_EQ(vorsa::getproxy(), "");
    EXPECT_EQ(vorsa::readInternetSettings().ProxyServer, "127.0.0.5:3128");

    // A file without the group gets one; the newer "http://host:port" form reads too.
    {
        std::ofstream out(rc);
        out << "[Proxy Settings]\nProxyType=1\nhttpProxy=http://127.0.0.6:81/\n";
    }
    EXPECT_EQ(vorsa::getproxy(), "127.0.0.6:81");
    ::unlink(rc.c_str());
    vorsa::setproxy(host, "127.0.0.7:82");
    ASSERT_TRUE(vorsa::readFileBytes(rc, text));
    EXPECT_EQ(text,
              "[Proxy Settings]\nProxyType=1\nhttpProxy=http://127.0.0.7 82\n"
              "httpsProxy=http://127.0.0.7 82\n");
    ::unsetenv("XDG_CURRENT_DESKTOP");
}

TEST(IniStore, UsedWhereItIsNamed) {
    const std::string ini = g_dir + "/own/internet-settings.ini";
    ::setenv("VORSA_INTERNET_SETTINGS", ini.c_str(), 1);
    ASSERT_EQ(vorsa::proxyStoreKind(), vorsa::ProxyStoreKind::IniFile);
    EXPECT_EQ(vorsa::startupProxyText(), gbk("当前代理为：停用"));
    FakeHost host;
    vorsa::setproxy(host, "127.0.0.5:3128");
    std::string text;
    ASSERT_TRUE(vorsa::readFileBytes(ini, text));
    EXPECT_NE(text.find("ProxyEnable=1"), std::string::npos) << text;
    EXPECT_EQ(vorsa::startupProxyText(), gbk("当前代理为：127.0.0.5:3128"));
    vorsa::disableproxy(host);
    EXPECT_EQ(vorsa::startupProxyText(), gbk("当前代理为：停用"));
    ::unsetenv("VORSA_INTERNET_SETTINGS");
}

// The command on the grid: which row, and which rows are refused.
TEST(ActStart, TakesTheBottomRowOfTheSelection) {
    const std::string ini = g_dir + "/cmd/internet-settings.ini";
    ::setenv("VORSA_INTERNET_SETTINGS", ini.c_str(), 1);
    struct Case {
        const char *ip, *port, *mark;
        int top, bottom;
        const char* expect;  // panel 2 after the command, "" when nothing happened
        bool refused;
    };
    const Case cases[] = {
        {"127.0.0.5", "3128", "", 1, 3, "当前代理为：127.0.0.5:3128", false},
        {" 127.0.0.5 ", " 3128 ", "√", 3, 3, "当前代理为：127.0.0.5:3128", false},
        {"127.0.0.5", "3128", "⊙", 3, 3, "", true},
        {"", "3128", "", 3, 3, "", false},                    // empty IP cell: nothing
        {" ", "3128", "", 3, 3, "当前代理为：:3128", false},  // the IP test is untrimmed
        {"127.0.0.5", "  ", "", 3, 3, "", false},             // the port test is trimmed
        {"127.0.0.5", "3128", "", 0, 0, "", false},           // no proxy row
        {"127.0.0.5", "3128", "", 4, 4, "", false},           // past the last row
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.ip) + "|" + c.port + "|" + c.mark);
        FakeHost host;
        auto& g = host.grid();
        g.setGridRowCount(4);
        for (int r = 1; r <= 2; ++r) {
            g.setCell(1, r, "10.0.0." + std::to_string(r));
            g.setCell(2, r, "80");
        }
        g.setCell(1, 3, gbk(c.ip));
        g.setCell(2, 3, gbk(c.port));
        g.setCell(5, 3, gbk(c.mark));
        host.selection = {c.top, c.bottom};
        vorsa::actstartExecute(host);
        EXPECT_EQ(host.panel2(), c.expect);
        const bool refused =
            !host.events.empty() && host.events.front() == "showMessage:此代理无效 ";
        EXPECT_EQ(refused, c.refused);
    }
    ::unsetenv("VORSA_INTERNET_SETTINGS");
}

}  // namespace
