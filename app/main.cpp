#include "app/udlmain.h"
#include "components/ewbcore.h"
#include "platform/single_instance.h"
#include "table/proxy_record.h"

#include <QApplication>
#include <QSettings>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    vorsa::returnLargeBlocksWhenFreed();
    // A second instance ends before anything else is read or written, window included.
    vorsa::SingleInstance guard("vorsadaili");
    if (guard.result() == vorsa::SingleInstance::Result::AlreadyRunning)
        return 0;

    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
        !std::getenv("QT_QPA_PLATFORM")) {
        std::fputs("vorsa: no display (set DISPLAY, or run under Xvfb: xvfb-run scripts/run.sh)\n",
                   stderr);
        return 1;
    }

    // The browser panel: Qt WebEngine wants shared GL contexts before the application exists,
    // and no Chromium sandbox when the program runs as root.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    TEwbCore::prepareEngine();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vorsadaili"));
    QApplication::setOrganizationName(QStringLiteral("VORSASOFT"));
    // No application display name: Qt would append it to every window caption on X11. The
    // taskbar title "Vorsa智能代理" is the window's icon text and the menu entry's name.
    QGuiApplication::setDesktopFileName(QStringLiteral("vorsa"));

    auto* frmvrdl = new Tfrmvrdl;
    frmvrdl->show();
    const int rc = QApplication::exec();

    // Harvest workers and checks that still run end with the process: nothing waits for
    // them and no running thread object is destroyed. Settings were flushed by the close.
    std::fflush(nullptr);
    std::quick_exit(rc);
}
