#include "proxy_announce.h"

#include "codec.h"
#include "desktop_proxy.h"
#include "internet_settings.h"

#include <QNetworkProxy>

#include <gio/gio.h>

namespace vorsa {

void announceProxy(const std::string& server) {
    // Only a plain host[:port] reaches Qt; anything else in the store means direct.
    const auto entry = parseProxyEntry(proxyForScheme(server, "http"));
    if (!entry) {
        announceDirect();
        return;
    }
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, gbk::toUnicode(entry->host),
                      static_cast<quint16>(entry->port > 0 ? entry->port : 80)));
}

void announceDirect() {
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::NoProxy));
}

void refreshFromStore() {
    if (const auto server = preconfiguredProxy())
        announceProxy(*server);
    else
        announceDirect();
}

void notifySettingsChanged() {
    switch (proxyStoreKind()) {
        case ProxyStoreKind::Kde:
            notifyKdeProxyChanged();
            break;
        case ProxyStoreKind::GSettings:
            // The write is the announcement: dconf tells every reader itself.
            g_settings_sync();
            break;
        case ProxyStoreKind::IniFile:
            break;  // a store of our own: no other program reads it
    }
}

}  // namespace vorsa
