// The real window on the offscreen platform against the sandbox: the two download commands
// from their toolbar buttons, and a close while a validation run is under way.
#include "app/udlmain.h"
#include "components/uvrpngbtn.h"
#include "harvest/udlclass.h"
#include "harvest/worker_thread.h"
#include "lists/autosave.h"
#include "platform/codec.h"
#include "platform/hosts_config.h"
#include "platform/internet_session.h"
#include "platform/text_lines.h"
#include "sandbox/sandbox.h"
#include "tests/app/recording_browser.h"

#include <QAction>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <set>

using vorsa::sandbox::Behaviour;

namespace {

QString u8(const char* s) {
    return QString::fromUtf8(s);
}

std::set<std::string> gridProxies(Tfrmvrdl& w) {
    std::set<std::string> out;
    for (int r = 1; r < w.grid().gridRowCount(); ++r)
        out.insert(w.grid().cell(1, r) + ":" + w.grid().cell(2, r));
    return out;
}

// The proxies of the autosave file ("ip:port" of each line after the heading); empty when
// there is no file.
std::set<std::string> autosaved() {
    std::string bytes;
    std::set<std::string> out;
    if (!vorsa::readFileBytes(vorsa::autosavePath(), bytes))
        return out;
    const std::vector<std::string> lines = vorsa::splitLines(bytes);
    for (std::size_t i = 1; i < lines.size(); ++i)
        out.insert(lines[i].substr(0, lines[i].find('@')));
    return out;
}

std::set<std::string> gridPassed(Tfrmvrdl& w) {
    std::set<std::string> out;
    for (int r = 1; r < w.grid().gridRowCount(); ++r)
        if (vorsa::gbk::toUnicode(w.grid().cell(5, r)) == QString::fromUtf8("√"))
            out.insert(w.grid().cell(1, r) + ":" + w.grid().cell(2, r));
    return out;
}

void check(Tfrmvrdl& w, bool domestic, bool foreign, bool custom) {
    w.mn01->setChecked(domestic);
    w.mn02->setChecked(foreign);
    w.mn03->setChecked(custom);
}

void press(Tfrmvrdl& w, const char* button) {
    QTest::mousePress(w.buttons.at(button), Qt::LeftButton);
    QTest::mouseRelease(w.buttons.at(button), Qt::LeftButton);
}

}  // namespace

class WindowEndToEnd : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_home;
    std::unique_ptr<vorsa::sandbox::Sandbox> m_web;

    std::unique_ptr<Tfrmvrdl> startWindow() {
        auto w = std::make_unique<Tfrmvrdl>(nullptr, recordingBrowser());
        w->openInBrowser = [](const QString&) {};
        w->show();
        // Discovery runs on its own thread from FormShow on; wait until it has read the portals.
        [&] { QTRY_VERIFY_WITH_TIMEOUT(vorsa::harvestRunningWorkers() == 0, 20000); }();
        return w;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_home.isValid());
        qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral("config")).toUtf8());
        qputenv("XDG_RUNTIME_DIR", m_home.path().toUtf8());
        qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral("data")).toUtf8());
        // The store stays switched off, so downloads go direct to the sandbox.
        qputenv("VORSA_INTERNET_SETTINGS", m_home.filePath(QStringLiteral("inet.ini")).toUtf8());
        m_web = std::make_unique<vorsa::sandbox::Sandbox>();
        const QString hosts = m_home.filePath(QStringLiteral("hosts.ini"));
        m_web->writeHostsIni(hosts.toStdString());
        qputenv("VORSA_HOSTS", hosts.toUtf8());
        vorsa::reloadHosts();
        // A proxy that never answers fails after 1.5 s instead of the usual half minute.
        vorsa::InternetSession::setDefaultReceiveTimeout(1500);
    }

    void cleanupTestCase() { m_web.reset(); }

    void harvestAllGroups() {
        auto w = startWindow();
        QVERIFY(w->Daili()->CustomUrls->count() > 0);
        QVERIFY(w->Daili()->ArticleUrls->count() > 1);
        check(*w, true, true, true);
        press(*w, "vrpngbtn1");  // "下载列表"
        QTRY_VERIFY_WITH_TIMEOUT(!w->state().Busy && w->Daili()->JobCount == 0, 30000);

        const std::vector<std::string> expected = m_web->expectedHarvest();
        QVERIFY(!expected.empty());
        const std::set<std::string> shown = gridProxies(*w);
        QCOMPARE(shown, std::set<std::string>(expected.begin(), expected.end()));
        // De-duplicated by address: no address appears twice.
        std::set<std::string> ips;
        for (int r = 1; r < w->grid().gridRowCount(); ++r)
            QVERIFY(ips.insert(w->grid().cell(1, r)).second);
        QCOMPARE(w->stbPanels[0]->text(), u8("共有%1个代理").arg(expected.size()));
        QVERIFY(!w->state().CheckAfterDown);
    }

    void harvestAndValidate() {
        QFile::remove(QString::fromStdString(vorsa::autosavePath()));
        auto w = startWindow();
        check(*w, true, true, false);
        press(*w, "vrpngbtn11");  // "下载并验证"
        QTRY_VERIFY_WITH_TIMEOUT(w->state().CheckDone && !w->state().Busy, 60000);

        // Only the sandbox's working proxies are left, fastest first.
        std::set<std::string> working;
        for (const auto& p : m_web->proxies())
            if (p.behaviour == Behaviour::Forward || p.behaviour == Behaviour::ForwardDelayed)
                working.insert(p.proxyString());
        const std::set<std::string> shown = gridProxies(*w);
        QVERIFY(!shown.empty());
        for (const std::string& p : shown)
            QVERIFY2(working.count(p), p.c_str());
        int last = -1;
        for (int r = 1; r < w->grid().gridRowCount(); ++r) {
            QCOMPARE(vorsa::gbk::toUnicode(w->grid().cell(5, r)), u8("√"));
            const int speed = std::stoi(w->grid().cell(6, r));
            QVERIFY(speed >= last);
            last = speed;
        }
        const int n = w->grid().gridRowCount() - 1;
        QCOMPARE(w->stbPanels[0]->text(), u8(" 验证结束,共有%1代理可用！").arg(n));
        QVERIFY(!w->state().CheckAfterDown);
        // The usable proxies are also in the autosave file, in export format 1.
        QCOMPARE(autosaved(), shown);
        std::string bytes;
        QVERIFY(vorsa::readFileBytes(vorsa::autosavePath(), bytes));
        QVERIFY(bytes.rfind(vorsa::gbk::text("Vorsa智能代理最新验证:"), 0) == 0);
    }

    // A close while checks are out keeps the rows that had passed by then.
    void closeDuringValidationKeepsWhatPassed() {
        QFile::remove(QString::fromStdString(vorsa::autosavePath()));
        auto w = startWindow();
        check(*w, true, true, false);
        bool closed = false;
        std::set<std::string> passedAtClose;
        QTimer poll;
        poll.setInterval(5);
        connect(&poll, &QTimer::timeout, w.get(), [&] {
            if (closed || w->state().CheckDone || gridPassed(*w).empty())
                return;
            closed = true;
            passedAtClose = gridPassed(*w);
            w->close();
        });
        poll.start();
        press(*w, "vrpngbtn11");
        QTRY_VERIFY_WITH_TIMEOUT(closed, 60000);
        poll.stop();
        QVERIFY(!passedAtClose.empty());
        QCOMPARE(autosaved(), passedAtClose);
        w.reset();
        QTest::qWait(2000);
        vorsa::harvestRevive();
    }

    void closeDuringValidation() {
        auto w = startWindow();
        check(*w, true, true, true);
        // Close from inside the issuing loop: its pauses let this timer run, as they let a
        // click on the close box run.
        bool closed = false;
        std::size_t checksAtClose = 0;
        auto checksSeen = [this] {
            std::size_t n = 0;
            for (const auto& r : m_web->requests())
                n += r.path == "/ip2city.asp" && r.proxyIndex >= 0;
            return n;
        };
        QTimer poll;
        poll.setInterval(20);
        connect(&poll, &QTimer::timeout, w.get(), [&] {
            if (!closed && w->stbPanels[0]->text().startsWith(u8("正在验证")) && checksSeen() > 0) {
                closed = true;
                checksAtClose = checksSeen();
                w->close();  // FormClose with checks in flight
            }
        });
        poll.start();
        press(*w, "vrpngbtn11");
        QTRY_VERIFY_WITH_TIMEOUT(closed, 30000);
        poll.stop();
        // No check is issued after the close (one may be on its way to the proxy already).
        QTest::qWait(600);
        QVERIFY(checksSeen() <= checksAtClose + 1);
        w.reset();
        // Completions that still arrive find nothing to write to.
        QTest::qWait(2000);
        vorsa::harvestRevive();
    }

    void closeDuringHarvest() {
        auto w = startWindow();
        check(*w, true, true, true);
        QTimer::singleShot(700, w.get(), [&w] { w->close(); });  // inside the job-start pauses
        press(*w, "vrpngbtn1");
        QVERIFY(!w->isVisible());
        w.reset();
        QTest::qWait(1000);
        vorsa::harvestRevive();
    }
};

QTEST_MAIN(WindowEndToEnd)
#include "test_window_e2e.moc"
