#include "components/ewbcore.h"

#include <QChildEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEngineHttpRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <unistd.h>

namespace {

// Scripts that throw go on running and never ask the user anything; their console output
// is not ours to print.
class QuietPage : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                  const QString&) override {}
};

}  // namespace

void TEwbCore::prepareEngine() {
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

TEwbCore::TEwbCore(QWidget* owner) : BrowserPanel(owner) {
    prepareEngine();
    m_view = new QWebEngineView(this);
    makePage();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);

    // Keys typed into the page arrive at the view's render widget, made when the first page
    // loads; watch the view for it.
    m_view->installEventFilter(this);
    watchKeys(m_view);
}

void TEwbCore::makePage() {
    QWebEngineProfile* old = m_profile;
    // No storage name: off the record, nothing written to disk.
    m_profile = new QWebEngineProfile(this);
    m_profile->setHttpCacheType(QWebEngineProfile::NoCache);
    m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    m_proxy = QNetworkProxy::applicationProxy();

    auto* page = new QuietPage(m_profile, m_view);
    QWebEngineSettings* s = page->settings();
    s->setAttribute(QWebEngineSettings::AutoLoadImages, true);
    s->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    s->setAttribute(QWebEngineSettings::ErrorPageEnabled, true);
    s->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, true);
    connect(page, &QWebEnginePage::loadFinished, this,
            [this, page](bool) { Q_EMIT pageLoaded(page->requestedUrl().toString()); });
    // A profile must outlive its pages: the old page goes first, then its profile.
    // (page() would make a page of the default profile when there is none yet.)
    QPointer<QWebEnginePage> oldPage = old ? m_view->page() : nullptr;
    m_view->setPage(page);
    delete oldPage.data();
    delete old;
}

TEwbCore::~TEwbCore() {
    // The page uses the profile: it must go first.
    delete m_view;
    m_view = nullptr;
}

void TEwbCore::watchKeys(QObject* object) {
    for (QObject* child : object->children())
        if (child->isWidgetType())
            child->installEventFilter(this);
}

bool TEwbCore::Navigate(const QString& url) {
    const QUrl u(url, QUrl::StrictMode);
    if (!u.isValid() || u.host().isEmpty() ||
        (u.scheme() != QLatin1String("http") && u.scheme() != QLatin1String("https")))
        return false;
    // The engine took the proxy when the profile was made; a switch since needs a new one.
    if (QNetworkProxy::applicationProxy() != m_proxy)
        makePage();
    QWebEngineHttpRequest request(u);
    request.setHeader(QByteArrayLiteral("Pragma"), QByteArrayLiteral("no-cache"));
    request.setHeader(QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-cache"));
    m_view->load(request);
    watchKeys(m_view);
    return true;
}

bool TEwbCore::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_view && event->type() == QEvent::ChildAdded) {
        QObject* child = static_cast<QChildEvent*>(event)->child();
        if (child->isWidgetType())
            child->installEventFilter(this);
    } else if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers mods =
            key->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier);
        if (key->key() == Qt::Key_N && mods == Qt::ControlModifier)
            return true;
    }
    return BrowserPanel::eventFilter(watched, event);
}
