#pragma once

#include "app/udlmain.h"
#include "components/browser_panel.h"

#include <QStringList>

// A browser panel that only records what it was told to open. The window's logic tests use
// it: the real engine (Chromium) cannot run under the sanitizers, and it has tests of its own.
class RecordingBrowser : public BrowserPanel {
public:
    using BrowserPanel::BrowserPanel;

    bool Navigate(const QString& url) override {
        urls << url;
        if (refuse)
            return false;
        Q_EMIT pageLoaded(url);
        return true;
    }

    QStringList urls;
    bool refuse = false;
};

// For Tfrmvrdl's constructor; *made receives the panel.
inline Tfrmvrdl::BrowserFactory recordingBrowser(RecordingBrowser** made = nullptr) {
    return [made](QWidget* owner) {
        auto* b = new RecordingBrowser(owner);
        if (made)
            *made = b;
        return b;
    };
}
