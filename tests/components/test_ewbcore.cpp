// The browser panel with the real engine, against pages served on loopback.
#include "components/ewbcore.h"
#include "tests/support/loopback_server.h"

#include <QSignalSpy>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QtTest>

#include <atomic>

using vorsa::test::LoopbackServer;

namespace {

const char* const kPlainPage = "<html><body><p id=t>panel page</p></body></html>";

// Throws first, then goes on and puts its state in the title.
const char* const kScriptErrorPage =
    "<html><head><title>start</title></head><body>"
    "<script>undefinedFunction();</script>"
    "<script>document.title = 'ran on';</script></body></html>";

// Writes every key it sees into the title.
const char* const kKeyPage =
    "<html><head><title>keys:</title></head><body>"
    "<script>document.addEventListener('keydown', function (e) {"
    "  document.title += '|' + (e.ctrlKey ? 'C' : '') + (e.shiftKey ? 'S' : '')"
    "      + e.key.toLowerCase();"
    "});</script></body></html>";

QString pageText(QWebEngineView* view) {
    QString text;
    bool done = false;
    view->page()->toPlainText([&](const QString& t) {
        text = t;
        done = true;
    });
    for (int i = 0; i < 1000 && !done; ++i)
        QTest::qWait(10);
    return text;
}

// Whether the page itself has the keyboard focus yet (Chromium learns it asynchronously).
bool pageHasFocus(QWebEngineView* view) {
    bool focused = false, done = false;
    view->page()->runJavaScript(QStringLiteral("document.hasFocus()"), [&](const QVariant& v) {
        focused = v.toBool();
        done = true;
    });
    for (int i = 0; i < 500 && !done; ++i)
        QTest::qWait(10);
    return focused;
}

}  // namespace

class EwbCoreTest : public QObject {
    Q_OBJECT
private:
    std::atomic<int> m_pageHits{0};
    LoopbackServer m_server{[this](const LoopbackServer::Request& r) {
        const std::string html = "Content-Type: text/html\r\n";
        if (r.target == "/plain") {
            ++m_pageHits;
            return LoopbackServer::Reply{LoopbackServer::response(200, kPlainPage, html)};
        }
        if (r.target == "/error")
            return LoopbackServer::Reply{LoopbackServer::response(200, kScriptErrorPage, html)};
        if (r.target == "/keys")
            return LoopbackServer::Reply{LoopbackServer::response(200, kKeyPage, html)};
        return LoopbackServer::Reply{LoopbackServer::response(404, "no")};
    }};

    QString url(const char* target) { return QString::fromStdString(m_server.url(target)); }

private Q_SLOTS:
    void loadsAPageAndReportsIt() {
        TEwbCore panel(nullptr);
        panel.resize(736, 128);
        panel.show();
        QSignalSpy loaded(&panel, &BrowserPanel::pageLoaded);
        QVERIFY(panel.Navigate(url("/plain")));
        QTRY_COMPARE_WITH_TIMEOUT(loaded.count(), 1, 20000);
        QCOMPARE(loaded.at(0).at(0).toString(), url("/plain"));
        QVERIFY(pageText(panel.view()).contains(QStringLiteral("panel page")));
    }

    void everyLoadGoesToTheNetwork() {
        TEwbCore panel(nullptr);
        panel.show();
        QSignalSpy loaded(&panel, &BrowserPanel::pageLoaded);
        const int before = m_pageHits;
        for (int i = 1; i <= 2; ++i) {
            QVERIFY(panel.Navigate(url("/plain")));
            QTRY_COMPARE_WITH_TIMEOUT(loaded.count(), i, 20000);
        }
        QCOMPARE(m_pageHits - before, 2);
    }

    void scriptErrorsRunOnWithoutADialog() {
        TEwbCore panel(nullptr);
        panel.show();
        QVERIFY(panel.Navigate(url("/error")));
        QTRY_COMPARE_WITH_TIMEOUT(panel.view()->title(), QStringLiteral("ran on"), 20000);
        // No window of any kind was opened for the error.
        for (QWidget* w : QApplication::topLevelWidgets())
            QVERIFY2(w == &panel || !w->isVisible(), qPrintable(w->objectName()));
    }

    void ctrlNStaysWithTheHost() {
        TEwbCore panel(nullptr);
        panel.resize(400, 128);
        panel.show();
        QSignalSpy loaded(&panel, &BrowserPanel::pageLoaded);
        QVERIFY(panel.Navigate(url("/keys")));
        QTRY_COMPARE_WITH_TIMEOUT(loaded.count(), 1, 20000);
        QWidget* target = panel.view()->focusProxy();
        QVERIFY(target);
        panel.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&panel));
        panel.view()->setFocus();
        QTRY_VERIFY(target->hasFocus());
        QTRY_VERIFY_WITH_TIMEOUT(pageHasFocus(panel.view()), 10000);
        // The page takes keys a little after it has the focus: type until one arrives.
        for (int i = 0; i < 100 && !panel.view()->title().contains(QStringLiteral("|a")); ++i) {
            QTest::keyClick(target, Qt::Key_A);
            QTest::qWait(100);
        }
        QTest::keyClick(target, Qt::Key_N, Qt::ControlModifier);
        QTest::keyClick(target, Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyClick(target, Qt::Key_X);
        QTRY_VERIFY2_WITH_TIMEOUT(panel.view()->title().endsWith(QStringLiteral("|x")),
                                  qPrintable(panel.view()->title()), 10000);
        // The page saw the modifier keys themselves, Ctrl+Shift+N and X, but never Ctrl+N.
        const QString title = panel.view()->title();
        const QStringList seen =
            title.mid(title.lastIndexOf(QStringLiteral("|a"))).split(QLatin1Char('|'));
        QVERIFY2(seen.contains(QStringLiteral("CSn")), qPrintable(panel.view()->title()));
        QVERIFY2(!seen.contains(QStringLiteral("Cn")), qPrintable(panel.view()->title()));
    }

    void refusesWhatIsNotAWebAddress() {
        TEwbCore panel(nullptr);
        const char* const refused[] = {"",
                                       "not a url",
                                       "file:///etc/passwd",
                                       "javascript:alert(1)",
                                       "ftp://127.0.0.1/x",
                                       "http://",
                                       "http://exa mple/"};
        for (const char* u : refused)
            QVERIFY2(!panel.Navigate(QString::fromLatin1(u)), u);
    }
};

int main(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    TEwbCore::prepareEngine();
    QApplication app(argc, argv);
    EwbCoreTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_ewbcore.moc"
