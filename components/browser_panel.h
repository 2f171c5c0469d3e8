#pragma once

#include <QString>
#include <QWidget>

// The bottom strip of the main window that shows a web page. The program only ever tells it
// to open a URL; the window records what it loaded in the URL cache.
class BrowserPanel : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    // Opens url and returns at once while the page loads; false when the panel refuses the
    // address (not an absolute http or https URL).
    virtual bool Navigate(const QString& url) = 0;

Q_SIGNALS:
    // A page the panel was told to open has finished loading (ok or with its error page).
    void pageLoaded(const QString& url);
};
