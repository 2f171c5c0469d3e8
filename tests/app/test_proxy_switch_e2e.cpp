// The whole road in the real window with the real browser panel: "启用代理" on a sandbox
// proxy's row, "网页验证" shows the proxy's address; "禁用代理", and it shows the direct one.
// The desktop store is GSettings (keyfile backend in a folder of our own), read back from disk
// at each step.
//
// Chromium never sends loopback hosts through a proxy, so the test runs in a private network
// namespace where 198.18.0.1 is put on "lo" and the sandbox's pages are served there. It skips
// (exit 77) where namespaces are not allowed.
#include "app/udlmain.h"
#include "components/ewbcore.h"
#include "components/uvrpngbtn.h"
#include "platform/codec.h"
#include "platform/hosts_config.h"
#include "sandbox/sandbox.h"
#include "table/grid_routines.h"

#include <QItemSelectionModel>
#include <QLabel>
#include <QTableView>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QtTest>

#include <gio/gio.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

using vorsa::sandbox::Behaviour;

namespace {

constexpr const char* kWebAddress = "198.18.0.1";

QString u8(const char* s) {
    return QString::fromUtf8(s);
}

QString pageText(Tfrmvrdl& w) {
    auto* view = static_cast<TEwbCore*>(w.eweb)->view();
    QString text;
    bool done = false;
    view->page()->toPlainText([&](const QString& t) {
        text = t;
        done = true;
    });
    for (int i = 0; i < 500 && !done; ++i)
        QTest::qWait(10);
    return text;
}

// The keyfile backend drops the "org/gnome/" that its root covers from the group names.
std::string keyfileValue(const std::string& file, const char* path, const char* key) {
    std::string group = path;
    group = group.substr(group.find("system/proxy"));
    GKeyFile* kf = g_key_file_new();
    std::string out;
    if (g_key_file_load_from_file(kf, file.c_str(), G_KEY_FILE_NONE, nullptr)) {
        gchar* v = g_key_file_get_value(kf, group.c_str(), key, nullptr);
        out = v ? v : "";
        g_free(v);
    }
    g_key_file_free(kf);
    return out;
}

}  // namespace

class ProxySwitchEndToEnd : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_home;
    std::unique_ptr<vorsa::sandbox::Sandbox> m_web;

    static std::string keyfile() {
        return std::string(std::getenv("XDG_CONFIG_HOME")) + "/glib-2.0/settings/keyfile";
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_home.isValid());
        vorsa::sandbox::Options o;
        o.serverAddress = kWebAddress;
        o.proxies = vorsa::sandbox::repeat(Behaviour::Forward, 2);
        m_web = std::make_unique<vorsa::sandbox::Sandbox>(o);
        const QString hosts = m_home.filePath(QStringLiteral("hosts.ini"));
        m_web->writeHostsIni(hosts.toStdString());
        qputenv("VORSA_HOSTS", hosts.toUtf8());
        vorsa::reloadHosts();
    }

    void cleanupTestCase() { m_web.reset(); }

    void switchOnSeeTheProxySwitchOffSeeTheDirectAddress() {
        Tfrmvrdl w;
        w.show();
        // Start-up: no proxy in force, the maker's echo page shows the direct address.
        QCOMPARE(w.stbPanels[1]->text(), u8("当前代理为：停用"));
        QTRY_VERIFY_WITH_TIMEOUT(pageText(w).contains(QLatin1String(kWebAddress)), 30000);

        const auto& proxy = m_web->proxy(Behaviour::Forward);
        vorsa::ProxyTable& t = w.table();
        t.opentable();
        t.addrecord();
        t.setfield(vorsa::Field::Ip, proxy.address);
        t.setfield(vorsa::Field::Port, std::to_string(proxy.port));
        t.postrecord();
        vorsa::refreshgrid(w);
        w.sgrid->selectRow(0);

        QTest::mousePress(w.buttons.at("vrpngbtn4"), Qt::LeftButton);  // "启用代理"
        QCOMPARE(w.stbPanels[1]->text(),
                 u8("当前代理为：") + QString::fromStdString(proxy.proxyString()));
        QCOMPARE(keyfileValue(keyfile(), "org/gnome/system/proxy", "mode"), "'manual'");
        QCOMPARE(keyfileValue(keyfile(), "org/gnome/system/proxy/http", "host"),
                 "'" + proxy.address + "'");
        QCOMPARE(keyfileValue(keyfile(), "org/gnome/system/proxy/http", "port"),
                 std::to_string(proxy.port));

        m_web->clearRequests();
        QTest::mousePress(w.buttons.at("btnvail"), Qt::LeftButton);  // "网页验证": external page
        QTRY_VERIFY2_WITH_TIMEOUT(
            pageText(w).contains(u8("您的IP地址是：") + QString::fromStdString(proxy.address)),
            qPrintable(pageText(w)), 30000);
        bool viaProxy = false;
        for (const auto& r : m_web->requests())
            viaProxy = viaProxy || (r.path == "/showip.asp" && r.proxyIndex == proxy.index);
        QVERIFY(viaProxy);

        QTest::mousePress(w.buttons.at("vrpngbtn5"), Qt::LeftButton);  // "禁用代理"
        QCOMPARE(w.stbPanels[1]->text(), u8("当前代理为：禁用"));
        QCOMPARE(keyfileValue(keyfile(), "org/gnome/system/proxy", "mode"), "'none'");

        QTest::mousePress(w.buttons.at("btnvail"), Qt::LeftButton);  // the maker's page, direct
        QTRY_VERIFY2_WITH_TIMEOUT(
            pageText(w).contains(u8("您的IP地址是：") + QLatin1String(kWebAddress)),
            qPrintable(pageText(w)), 30000);
        w.close();
    }
};

int main(int argc, char** argv) {
    if (!std::getenv("VORSA_IN_NETNS")) {
        const char* unshareFlag = ::geteuid() == 0 ? "-n" : "-rn";
        const std::string probe = std::string("unshare ") + unshareFlag + " true >/dev/null 2>&1";
        if (std::system(probe.c_str()) != 0) {
            std::puts("SKIPPED: network namespaces are not allowed here (unshare -n failed)");
            return 77;
        }
        ::setenv("VORSA_IN_NETNS", "1", 1);
        std::vector<char*> args = {const_cast<char*>("unshare"), const_cast<char*>(unshareFlag),
                                   const_cast<char*>("--")};
        char self[4096] = {};
        if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
            return 1;
        args.push_back(self);
        for (int i = 1; i < argc; ++i)
            args.push_back(argv[i]);
        args.push_back(nullptr);
        ::execvp("unshare", args.data());
        std::perror("unshare");
        return 1;
    }
    if (std::system("ip link set lo up && ip addr add 198.18.0.1/32 dev lo") != 0) {
        std::puts("SKIPPED: cannot put 198.18.0.1 on lo in the test's network namespace");
        return 77;
    }
    // Everything the program keeps stays in a folder of this test; the desktop store is a
    // GSettings keyfile there (chosen once per process, so before anything reads it).
    static QTemporaryDir home;
    ::setenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8().constData(), 1);
    ::setenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8().constData(), 1);
    ::setenv("XDG_RUNTIME_DIR", home.path().toUtf8().constData(), 1);
    ::setenv("GSETTINGS_BACKEND", "keyfile", 1);
    ::unsetenv("VORSA_INTERNET_SETTINGS");
    ::unsetenv("XDG_CURRENT_DESKTOP");
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");

    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    TEwbCore::prepareEngine();
    QApplication app(argc, argv);
    ProxySwitchEndToEnd test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_proxy_switch_e2e.moc"
