#pragma once

#include "components/browser_panel.h"

#include <QNetworkProxy>

class QWebEngineProfile;
class QWebEngineView;

// The embedded browser (Qt WebEngine). An off-the-record profile without an HTTP cache, so
// every load goes to the network; images and scripts on, plugins off; script errors never
// show a dialog; Ctrl+N is taken by the host so the page cannot open a window from the
// keyboard (Ctrl+Shift+N goes on to the page). Network access follows the application proxy
// (QNetworkProxy::setApplicationProxy), switched at run time: the engine reads it only when
// a profile is made, so a Navigate after a switch opens the page in a fresh profile.
class TEwbCore : public BrowserPanel {
    Q_OBJECT
public:
    explicit TEwbCore(QWidget* owner);
    ~TEwbCore() override;

    bool Navigate(const QString& url) override;

    QWebEngineView* view() const { return m_view; }

    // Chromium refuses to start as root with its sandbox on; the sandbox is turned off for
    // root only (the program runs as root in containers and CI). Call before the first
    // browser is made; TEwbCore's constructor calls it too.
    static void prepareEngine();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void makePage();
    void watchKeys(QObject* object);

    QWebEngineProfile* m_profile = nullptr;
    QWebEngineView* m_view = nullptr;
    QNetworkProxy m_proxy;  // the application proxy when m_profile was made
};
