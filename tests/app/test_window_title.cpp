// The real program on a real X server (Xvfb): the caption and the taskbar title as the window
// manager reads them from the window's properties.
#include "platform/hosts_config.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString run(const QString& program, const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(10000))
        return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

// xprop prints bytes it cannot show in the locale as \ooo; undo that and read UTF-8.
QString unescape(const QString& quoted) {
    QByteArray bytes;
    const QByteArray in = quoted.toUtf8();
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] == '\\' && i + 3 < in.size() + 0 && QChar::fromLatin1(in[i + 1]).isDigit()) {
            bytes.append(char(in.mid(i + 1, 3).toInt(nullptr, 8)));
            i += 3;
        } else if (in[i] == '\\' && i + 1 < in.size()) {
            bytes.append(in[++i]);
        } else {
            bytes.append(in[i]);
        }
    }
    return QString::fromUtf8(bytes);
}

// The first quoted value of a property, or a null string when it is not set.
QString windowProperty(const QString& window, const char* name) {
    const QString out = run(QStringLiteral(VORSA_XPROP),
                            {QStringLiteral("-id"), window, QString::fromLatin1(name)});
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("= \"((?:[^\"\\\\]|\\\\.)*)\"")).match(out);
    return m.hasMatch() ? unescape(m.captured(1)) : QString();
}

// The mapped top-level window of the process, once it has a caption.
QString findWindow(qint64 pid) {
    const QString tree =
        run(QStringLiteral(VORSA_XWININFO), {QStringLiteral("-root"), QStringLiteral("-children")});
    static const QRegularExpression idRe(QStringLiteral("^\\s+(0x[0-9a-f]+)\\s"),
                                         QRegularExpression::MultilineOption);
    for (auto it = idRe.globalMatch(tree); it.hasNext();) {
        const QString id = it.next().captured(1);
        const QString pidProp = run(QStringLiteral(VORSA_XPROP),
                                    {QStringLiteral("-id"), id, QStringLiteral("_NET_WM_PID")});
        if (!pidProp.trimmed().endsWith(QStringLiteral("= ") + QString::number(pid)))
            continue;
        const QString info = run(QStringLiteral(VORSA_XWININFO), {QStringLiteral("-id"), id});
        if (info.contains(QStringLiteral("IsViewable")) &&
            !windowProperty(id, "_NET_WM_NAME").isEmpty())
            return id;
    }
    return {};
}

}  // namespace

class WindowTitleTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void captionAndTaskbarTitle() {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("no X display (ctest runs this under xvfb-run)");
        QTemporaryDir home;
        QVERIFY(home.isValid());
        QFile hosts(home.filePath(QStringLiteral("hosts.ini")));
        QVERIFY(hosts.open(QIODevice::WriteOnly));
        // Every web address on a loopback port where nothing listens.
        hosts.write("[hosts]\n");
        for (std::string_view key : vorsa::hostKeys())
            hosts.write(QByteArray(key.data(), qsizetype(key.size())) + "=http://127.0.0.1:9\n");
        hosts.close();

        QProcess vorsa;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("VORSA_HOSTS"), hosts.fileName());
        env.insert(QStringLiteral("VORSA_INTERNET_SETTINGS"),
                   home.filePath(QStringLiteral("inet.ini")));
        // The program runs its browser panel, whose Chromium the sanitizers cannot follow: in
        // those builds they stay quiet for it.
        env.insert(QStringLiteral("ASAN_OPTIONS"),
                   QStringLiteral("detect_leaks=0:new_delete_type_mismatch=0"));
        env.insert(QStringLiteral("TSAN_OPTIONS"), QStringLiteral("report_bugs=0"));
        vorsa.setProcessEnvironment(env);
        vorsa.start(QStringLiteral(VORSA_EXE), {});
        QVERIFY(vorsa.waitForStarted());

        QString window;
        QDeadlineTimer deadline(30000);
        while (window.isEmpty() && !deadline.hasExpired() && vorsa.state() == QProcess::Running) {
            window = findWindow(vorsa.processId());
            if (window.isEmpty())
                QTest::qWait(100);
        }
        const QString name = window.isEmpty() ? QString() : windowProperty(window, "_NET_WM_NAME");
        const QString wmName = window.isEmpty() ? QString() : windowProperty(window, "WM_NAME");
        const QString iconName =
            window.isEmpty() ? QString() : windowProperty(window, "_NET_WM_ICON_NAME");
        vorsa.kill();
        vorsa.waitForFinished();
        QVERIFY2(!window.isEmpty(), "the main window did not appear");

        QCOMPARE(name, QString::fromUtf8("Vorsa智能代理 V4.2"));
        QCOMPARE(wmName, QString::fromUtf8("Vorsa智能代理 V4.2"));
        QCOMPARE(iconName, QString::fromUtf8("Vorsa智能代理"));
    }
};

QTEST_GUILESS_MAIN(WindowTitleTest)
#include "test_window_title.moc"
