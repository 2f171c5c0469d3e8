// Test helper, not part of the program: shows the main window on the X server in $DISPLAY with
// a validated list in the grid, one toolbar button hot (the real pointer rests on it) and one
// held down, and writes a screenshot of the window. Run it under Xvfb:
//   xvfb-run -a -s "-screen 0 1024x768x24" build/main/tests/app/window_screenshot
//   docs/screenshot.png
// With VORSA_HOSTS set (a running vorsa-sandbox's --hosts-out file) the browser panel shows
// the sandbox's echo page; VORSA_INTERNET_SETTINGS may name a store with a proxy in force.
#include "app/udlmain.h"
#include "components/ewbcore.h"
#include "components/uvrpngbtn.h"
#include "platform/codec.h"
#include "platform/hosts_config.h"
#include "table/grid_routines.h"

#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QMouseEvent>
#include <QScreen>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

struct Row {
    const char* ip;
    const char* port;
    const char* protocol;
    const char* location;
    int speed;
};

void fill(Tfrmvrdl& w) {
    const Row rows[] = {
        {"127.0.0.3", "42599", "HTTP", "上海市 电信", 150},
        {"127.0.0.5", "38613", "", "", 150},
        {"127.0.0.4", "39815", "HTTP", "广东省广州市 电信", 165},
        {"127.0.0.2", "33417", "", "", 175},
        {"127.0.0.6", "38345", "HTTP", "江苏省南京市 联通ADSL", 311},
        {"127.0.0.7", "35117", "HTTP", "四川省成都市 电信", 320},
    };
    vorsa::ProxyTable& t = w.table();
    t.opentable();
    for (const Row& r : rows) {
        t.addrecord();
        t.setfield(vorsa::Field::Ip, r.ip);
        t.setfield(vorsa::Field::Port, r.port);
        t.setfield(vorsa::Field::Protocol, r.protocol);
        t.setfield(vorsa::Field::Location, vorsa::gbk::text(r.location));
        t.setflag(vorsa::Field::Verified, true);
        t.setfield(vorsa::Field::Speed, std::to_string(r.speed));
        t.postrecord();
    }
    vorsa::refreshgrid(w);
    w.showinfo(vorsa::gbk::text(" 验证结束,共有6代理可用！"));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: window_screenshot OUT.png\n", stderr);
        return 2;
    }
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
    if (qEnvironmentVariableIsEmpty("VORSA_HOSTS")) {
        // Every web address on a loopback port where nothing listens.
        QFile hosts(home.filePath(QStringLiteral("hosts.ini")));
        if (!hosts.open(QIODevice::WriteOnly))
            return 1;
        hosts.write("[hosts]\n");
        for (std::string_view key : vorsa::hostKeys())
            hosts.write(QByteArray(key.data(), qsizetype(key.size())) + "=http://127.0.0.1:9\n");
        hosts.close();
        qputenv("VORSA_HOSTS", hosts.fileName().toUtf8());
    }
    if (qEnvironmentVariableIsEmpty("VORSA_INTERNET_SETTINGS"))
        qputenv("VORSA_INTERNET_SETTINGS", home.filePath(QStringLiteral("inet.ini")).toUtf8());

    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    TEwbCore::prepareEngine();
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("vorsa"));
    Tfrmvrdl w;
    w.show();
    const QString out = QString::fromLocal8Bit(argv[1]);
    int rc = 1;

    QTimer::singleShot(300, &w, [&] {
        fill(w);
        w.sgrid->selectRow(2);
        // The pointer rests on "下载并验证": a real enter, so the hot frame and the tooltip.
        Tvrpngbtn* hot = w.buttons.at("vrpngbtn11");
        QCursor::setPos(hot->mapToGlobal(QPoint(hot->width() / 2, hot->height() / 2)));
    });
    QTimer::singleShot(900, &w, [&] {
        // "删除所选" held down; its command is not run for the picture.
        Tvrpngbtn* pressed = w.buttons.at("vrpngbtn8");
        pressed->Onclick = nullptr;
        const QPointF at(10, 10);
        QMouseEvent press(QEvent::MouseButtonPress, at, pressed->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(pressed, &press);
    });
    QTimer::singleShot(2500, &w, [&] {
        const QRect frame = w.frameGeometry();
        const QPixmap shot =
            w.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
        rc = shot.save(out, "PNG") ? 0 : 1;
        QCoreApplication::quit();
    });
    QApplication::exec();
    return rc;
}
