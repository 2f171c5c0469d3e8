// The window's import, export and location commands as a user runs them, with the file
// dialogs replaced and the sandbox as the IP-lookup site.
#include "app/udlmain.h"
#include "components/uvrpngbtn.h"
#include "harvest/worker_thread.h"
#include "platform/codec.h"
#include "platform/hosts_config.h"
#include "sandbox/sandbox.h"
#include "tests/app/recording_browser.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString u8(const char* s) {
    return QString::fromUtf8(s);
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class WindowLists : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_home;
    std::unique_ptr<vorsa::sandbox::Sandbox> m_web;

    QString file(const char* name) const { return m_home.filePath(QString::fromUtf8(name)); }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_home.isValid());
        qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral("config")).toUtf8());
        qputenv("XDG_RUNTIME_DIR", m_home.path().toUtf8());
        qputenv("VORSA_INTERNET_SETTINGS", m_home.filePath(QStringLiteral("inet.ini")).toUtf8());
        m_web = std::make_unique<vorsa::sandbox::Sandbox>();
        const QString hosts = m_home.filePath(QStringLiteral("hosts.ini"));
        m_web->writeHostsIni(hosts.toStdString());
        qputenv("VORSA_HOSTS", hosts.toUtf8());
        vorsa::reloadHosts();
    }

    void cleanupTestCase() { m_web.reset(); }

    void importLookUpAndExport() {
        Tfrmvrdl w(nullptr, recordingBrowser());
        w.openInBrowser = [](const QString&) {};
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(vorsa::harvestRunningWorkers() == 0, 20000);

        // Import: a cancelled dialog changes nothing; a chosen file fills the grid.
        QFile list(file("my list.txt"));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write("198.51.100.1:8080\n10.20.30.40:3128\n");
        for (int i = 1; i <= 9; ++i)
            list.write(QByteArray("61.135.") + QByteArray::number(i * 17) + '.' +
                       QByteArray::number(i * 23) + ":80" + QByteArray::number(i) + '\n');
        list.write("198.51.100.3:80\n");
        list.close();
        w.chooseImportFile = [] { return QString(); };
        w.ActionList1.at("actimport")->trigger();
        QCOMPARE(w.grid().gridRowCount(), 2);  // the header and the empty row of start-up
        w.chooseImportFile = [&] { return list.fileName(); };
        w.ActionList1.at("actimport")->trigger();
        QCOMPARE(w.grid().gridRowCount(), 13);
        QCOMPARE(w.stbPanels[0]->text(), u8("共有12个代理"));
        QCOMPARE(QString::fromStdString(w.grid().cell(1, 2) + ":" + w.grid().cell(2, 2)),
                 u8("10.20.30.40:3128"));

        // Locations from the lookup site, from the popup menu's action.
        w.N3->trigger();
        QCOMPARE(vorsa::gbk::toUnicode(w.grid().cell(4, 1)), u8("北京市 联通"));
        QCOMPARE(w.grid().cell(4, 2), vorsa::sandbox::locationOf("10.20.30.40"));
        QCOMPARE(vorsa::gbk::toUnicode(w.grid().cell(4, 12)), u8("未知"));
        QCOMPARE(w.stbPanels[0]->text(), u8("共有12个代理"));
        // VORSA_SCREENSHOT=file.png keeps a picture of the grid (run under Xvfb for real fonts).
        if (const QByteArray shot = qgetenv("VORSA_SCREENSHOT"); !shot.isEmpty()) {
            QTest::qWait(300);
            QVERIFY(w.grab().save(QString::fromLocal8Bit(shot)));
        }

        // Export from the toolbar button: the dialog opens with the last choice.
        std::vector<std::pair<QString, int>> opened;
        QString typed;
        int picked = 0;
        w.chooseExportFile = [&](QString& name, int& format) {
            opened.emplace_back(name, format);
            name = typed;
            format = picked;
            return !typed.isEmpty();
        };
        auto save = [&](const QString& name, int format) {
            typed = name;
            picked = format;
            QTest::mousePress(w.buttons.at("vrpngbtn7"), Qt::LeftButton);
            QTest::mouseRelease(w.buttons.at("vrpngbtn7"), Qt::LeftButton);
        };
        save(file("out.dat"), 2);
        save(file("out"), 3);
        save(file("out.txt"), 1);
        save(QString(), 4);  // cancelled: nothing written, nothing remembered
        save(file("out"), 4);
        QCOMPARE(opened.size(), std::size_t(5));
        QCOMPARE(opened[0], std::make_pair(QString(), 1));
        QCOMPARE(opened[1], std::make_pair(file("out.dat"), 2));
        QCOMPARE(opened[3], std::make_pair(file("out.txt"), 1));
        QCOMPARE(opened[4], std::make_pair(file("out.txt"), 1));

        const QByteArray html = readAll(file("out.html"));
        QVERIFY(html.startsWith("<html><head><title>"));
        QVERIFY(html.contains("<tr><td>10.20.30.40:3128</td><td></td></tr>\r\n"));
        QVERIFY(readAll(file("out.csv"))
                    .endsWith("\"198.51.100.3\",\"80\",," +
                              QByteArray::fromStdString(vorsa::gbk::text("\"未知\"")) + ",,,\r\n"));
        const QByteArray text = readAll(file("out.txt"));
        QVERIFY(text.contains(
            QByteArray::fromStdString(vorsa::gbk::text("198.51.100.1:8080@北京市 联通#ms\r\n"))));
        QCOMPARE(text.count("\r\n"), 13);
        w.close();
    }
};

QTEST_MAIN(WindowLists)
#include "test_window_lists.moc"
