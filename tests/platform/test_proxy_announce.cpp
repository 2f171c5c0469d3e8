#include "platform/internet_settings.h"
#include "platform/proxy_announce.h"
#include "platform/text_lines.h"

#include <gtest/gtest.h>

#include <gio/gio.h>
#include <QNetworkProxy>

#include <stdlib.h>

#include <unistd.h>
#include <cstdlib>
#include <cstring>

namespace {

// GSettings picks its backend on first use, so the private desktop store is set up before
// any test runs: a keyfile in a config folder of our own, never the user's settings.
std::string g_dir = [] {
    char tmpl[] = "/tmp/vorsa-announce-test-XXXXXX";
    std::string dir = ::mkdtemp(tmpl) ? tmpl : "/tmp";
    ::setenv("GSETTINGS_BACKEND", "keyfile", 1);
    ::setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    ::setenv("VORSA_INTERNET_SETTINGS", (dir + "/internet-settings.ini").c_str(), 1);
    // A plain copy: this runs before g_dir exists and after it is gone.
    static char* removeAtExit = ::strdup(dir.c_str());
    std::atexit([] {
        [[maybe_unused]] int rc =
            std::system((std::string("rm -rf '") + removeAtExit + "'").c_str());
    });
    return dir;
}();

TEST(ProxyAnnounce, ThisProcessFollowsTheStore) {
    struct Case {
        int enable;
        const char* server;
        QNetworkProxy::ProxyType type;
        const char* host;
        int port;
    };
    const Case cases[] = {
        {1, "127.0.0.9:3128", QNetworkProxy::HttpProxy, "127.0.0.9", 3128},
        {0, "127.0.0.9:3128", QNetworkProxy::NoProxy, "", 0},
        {1, "http=127.0.0.7:81;https=127.0.0.8:82", QNetworkProxy::HttpProxy, "127.0.0.7", 81},
        {1, "127.0.0.6", QNetworkProxy::HttpProxy, "127.0.0.6", 80},
        // Only a plain host[:port] reaches Qt; anything else means direct.
        {1, "127.0.0.6:99999", QNetworkProxy::NoProxy, "", 0},
        {1, "a b:80", QNetworkProxy::NoProxy, "", 0},
        {1, "user@127.0.0.6:80", QNetworkProxy::NoProxy, "", 0},
        {1, "127.0.0.6:80\r\nX: y", QNetworkProxy::NoProxy, "", 0},
        {1, "http://127.0.0.6:80", QNetworkProxy::NoProxy, "", 0},
        {1, "", QNetworkProxy::NoProxy, "", 0},
        {1, "ftp=127.0.0.5:21", QNetworkProxy::NoProxy, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.server);
        vorsa::writeProxyEnable(c.enable);
        vorsa::writeProxyServer(c.server);
        vorsa::refreshFromStore();
        const QNetworkProxy p = QNetworkProxy::applicationProxy();
        EXPECT_EQ(p.type(), c.type);
        if (c.type == QNetworkProxy::HttpProxy) {
            EXPECT_EQ(p.hostName().toStdString(), c.host);
            EXPECT_EQ(p.port(), c.port);
        }
    }
}

TEST(ProxyAnnounce, MissingSchemaIsSkipped) {
    // A process whose schema folder holds no proxy schema: nothing to tell, no crash.
    if (std::getenv("VORSA_ANNOUNCE_CHILD"))
        return;
    char self[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string cmd = "GSETTINGS_SCHEMA_DIR=" + g_dir + " XDG_DATA_DIRS=" + g_dir + " " +
                            self + " --gtest_filter=ProxyAnnounce.NotifyOnly";
    ::setenv("VORSA_ANNOUNCE_CHILD", "1", 1);
    EXPECT_EQ(std::system((cmd + " > /dev/null 2>&1").c_str()), 0);
    ::unsetenv("VORSA_ANNOUNCE_CHILD");
}

TEST(ProxyAnnounce, NotifyOnly) {
    vorsa::notifySettingsChanged();
}

}  // namespace
