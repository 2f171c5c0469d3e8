// The window on a 150 % screen (ctest sets QT_SCALE_FACTOR=1.5): the fixed pixel layout is
// scaled as a whole, text and pictures drawn at the screen's own resolution.
#include "app/udlmain.h"
#include "components/uvrpngbtn.h"
#include "platform/hosts_config.h"
#include "tests/app/recording_browser.h"

#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

class WindowHidpiTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_home;

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_home.isValid());
        qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral("config")).toUtf8());
        qputenv("XDG_RUNTIME_DIR", m_home.path().toUtf8());
        QFile hosts(m_home.filePath(QStringLiteral("hosts.ini")));
        QVERIFY(hosts.open(QIODevice::WriteOnly));
        hosts.write("[hosts]\n");
        for (std::string_view key : vorsa::hostKeys())
            hosts.write(QByteArray(key.data(), qsizetype(key.size())) + "=http://127.0.0.1:9\n");
        hosts.close();
        qputenv("VORSA_HOSTS", hosts.fileName().toUtf8());
        vorsa::reloadHosts();
    }

    void layoutScaledAsAWhole() {
        Tfrmvrdl w(nullptr, recordingBrowser());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const qreal dpr = w.devicePixelRatio();
        if (!qFuzzyCompare(dpr, 1.5))
            QSKIP("not running at 150 % (QT_SCALE_FACTOR=1.5 is set by ctest)");

        // The layout keeps its pixel sizes in the window's own units.
        QCOMPARE(w.size(), QSize(736, 559));
        QCOMPARE(w.Panel2->geometry(), QRect(0, 0, 736, 40));
        QCOMPARE(w.buttons.at("vrpngbtn1")->geometry(), QRect(8, 4, 32, 32));
        QCOMPARE(w.buttons.at("vrpngbtn9")->geometry(), QRect(280, 6, 19, 28));
        QCOMPARE(w.sgrid->horizontalHeader()->height(), 18);
        QCOMPARE(w.sgrid->rowHeight(0), 18);
        // Text in pixels of the layout, so it grows with it, and the long link still fits.
        QCOMPARE(w.font().pixelSize(), 11);
        QVERIFY(w.Lb2->fontMetrics().horizontalAdvance(w.Lb2->text()) <= w.Lb2->width());
        QVERIFY(w.Label1->geometry().right() < w.Lb2->geometry().left());

        // Drawn at 1.5 device pixels per pixel: the banner reaches the panel's far corner,
        // and the first button's picture covers its scaled area.
        const QImage shot = w.grab().toImage();
        QCOMPARE(shot.size(), QSize(1104, 839));
        const QColor banner = shot.pixelColor(1100, 58);
        QVERIFY2(banner.blue() > banner.red() + 40, "the banner does not fill the top panel");
        const QImage normal = w.Panel2->grab(QRect(600, 4, 32, 32)).toImage();
        const QImage button = w.Panel2->grab(QRect(8, 4, 32, 32)).toImage();
        QCOMPARE(button.size(), QSize(48, 48));
        QVERIFY(button != normal);
    }
};

QTEST_MAIN(WindowHidpiTest)
#include "test_window_hidpi.moc"
