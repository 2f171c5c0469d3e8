#include "proxy_announce.h"

#include "codec.h"
#include "internet_settings.h"

#include <QNetworkProxy>

#include <gio/gio.h>

namespace vorsa {

namespace {

struct HostPort {
    std::string host;
    int port = 80;
};

// "host:port", "[v6]:port" or "host"; a port that is not 1..65535 counts as missing.
HostPort splitHostPort(const std::string& text) {
    HostPort hp;
    std::string s = gbk::trim(text);
    if (const auto scheme = s.find("://"); scheme != std::string::npos)
        s = s.substr(scheme + 3);
    if (const auto slash = s.find('/'); slash != std::string::npos)
        s.resize(slash);
    std::size_t colon = std::string::npos;
    if (!s.empty() && s[0] == '[') {
        const auto close = s.find(']');
        if (close != std::string::npos) {
            hp.host = s.substr(1, close - 1);
            if (close + 1 < s.size() && s[close + 1] == ':')
                colon = close + 1;
        } else {
            hp.host = s;
        }
    } else {
        colon = s.rfind(':');
        hp.host = s.substr(0, colon);
    }
    if (colon != std::string::npos) {
        const std::string port = s.substr(colon + 1);
        int n = 0;
        bool ok = !port.empty() && port.size() <= 5;
        for (char c : port) {
            ok = ok && c >= '0' && c <= '9';
            n = ok ? n * 10 + (c - '0') : 0;
        }
        if (ok && n >= 1 && n <= 65535)
            hp.port = n;
    }
    return hp;
}

}  // namespace

void announceProxy(const std::string& server) {
    const HostPort hp = splitHostPort(proxyForScheme(server, "http"));
    if (hp.host.empty()) {
        announceDirect();
        return;
    }
    QNetworkProxy::setApplicationProxy(QNetworkProxy(
        QNetworkProxy::HttpProxy, gbk::toUnicode(hp.host), static_cast<quint16>(hp.port)));
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
    static constexpr const char* kSchema = "org.gnome.system.proxy";
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source)
        return;
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, kSchema, TRUE);
    if (!schema)
        return;
    g_settings_schema_unref(schema);

    GSettings* proxy = g_settings_new(kSchema);
    const auto server = preconfiguredProxy();
    if (server) {
        for (const char* scheme : {"http", "https"}) {
            const HostPort hp = splitHostPort(proxyForScheme(*server, scheme));
            if (hp.host.empty())
                continue;
            GSettings* child = g_settings_get_child(proxy, scheme);
            // GSettings strings are UTF-8; a host name is ASCII in practice.
            const QByteArray host = gbk::toUnicode(hp.host).toUtf8();
            g_settings_set_string(child, "host", host.constData());
            g_settings_set_int(child, "port", hp.port);
            g_object_unref(child);
        }
        g_settings_set_string(proxy, "mode", "manual");
    } else {
        g_settings_set_string(proxy, "mode", "none");
    }
    g_settings_sync();
    g_object_unref(proxy);
}

}  // namespace vorsa
