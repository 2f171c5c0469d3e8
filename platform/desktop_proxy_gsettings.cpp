#include "desktop_proxy.h"

#include "codec.h"

#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace vorsa {

namespace {

constexpr const char* kSchema = "org.gnome.system.proxy";

// Owns one GObject reference.
template <typename T>
struct GRef {
    T* p = nullptr;
    explicit GRef(T* object) : p(object) {}
    ~GRef() {
        if (p)
            g_object_unref(p);
    }
    GRef(const GRef&) = delete;
    GRef& operator=(const GRef&) = delete;
};

std::string getString(GSettings* s, const char* key) {
    gchar* v = g_settings_get_string(s, key);
    // GSettings holds UTF-8; the store's values are the program's GBK text.
    std::string out = v ? gbk::fromUnicode(QString::fromUtf8(v)) : std::string();
    g_free(v);
    return out;
}

std::string entryText(GSettings* proxy, const char* scheme) {
    GRef<GSettings> child(g_settings_get_child(proxy, scheme));
    const std::string host = getString(child.p, "host");
    if (gbk::trim(host).empty())
        return {};
    return host + ":" + std::to_string(g_settings_get_int(child.p, "port"));
}

const char* backendName() {
    GSettingsBackend* backend = g_settings_backend_get_default();
    const char* name = G_OBJECT_TYPE_NAME(backend);
    g_object_unref(backend);
    return name;
}

// The file the keyfile backend keeps its values in (GSETTINGS_BACKEND=keyfile).
std::string keyfilePath() {
    gchar* p =
        g_build_filename(g_get_user_config_dir(), "glib-2.0", "settings", "keyfile", nullptr);
    std::string out = p;
    g_free(p);
    return out;
}

// One value written, as the keyfile backend stores it: group, key and GVariant text.
struct Written {
    std::string group, key, value;
};

std::string printed(GVariant* v) {
    g_variant_ref_sink(v);
    gchar* text = g_variant_print(v, FALSE);
    std::string out = text;
    g_free(text);
    g_variant_unref(v);
    return out;
}

// The group the keyfile backend keeps a settings path in: the path, less the part of it
// that the backend's root covers ("system/proxy/http" for "org/gnome/system/proxy/http" in
// the default file).
std::string keyfileGroup(GKeyFile* kf, const std::string& path) {
    gsize n = 0;
    gchar** groups = g_key_file_get_groups(kf, &n);
    std::string best;
    for (gsize i = 0; i < n; ++i) {
        const std::string g = groups[i];
        const bool suffix = g.size() <= path.size() &&
                            path.compare(path.size() - g.size(), g.size(), g) == 0 &&
                            (g.size() == path.size() || path[path.size() - g.size() - 1] == '/');
        if (suffix && g.size() > best.size())
            best = g;
    }
    g_strfreev(groups);
    return best;
}

// The keyfile backend writes at once and drops a failure with a warning; read the file back
// to know whether the values really reached it.
bool keyfileHolds(const std::vector<Written>& written) {
    GKeyFile* kf = g_key_file_new();
    bool ok = g_key_file_load_from_file(kf, keyfilePath().c_str(), G_KEY_FILE_NONE, nullptr);
    for (const Written& w : written) {
        if (!ok)
            break;
        const std::string group = keyfileGroup(kf, w.group);
        gchar* v = group.empty() ? nullptr
                                 : g_key_file_get_value(kf, group.c_str(), w.key.c_str(), nullptr);
        ok = v && w.value == v;
        g_free(v);
    }
    g_key_file_free(kf);
    return ok;
}

[[noreturn]] void fail(const std::string& why) {
    throw std::runtime_error("cannot write the desktop proxy settings (" + std::string(kSchema) +
                             "): " + why);
}

void setEntry(GSettings* proxy, const char* scheme, const std::string& entry,
              std::vector<Written>& written) {
    const auto ep = parseProxyEntry(entry);
    if (!ep)
        return;  // nothing usable for this scheme: the desktop keeps what it had
    GRef<GSettings> child(g_settings_get_child(proxy, scheme));
    const QByteArray host = gbk::toUnicode(ep->host).toUtf8();
    const int port = ep->port > 0 ? ep->port : 80;
    if (!g_settings_set_string(child.p, "host", host.constData()) ||
        !g_settings_set_int(child.p, "port", port))
        fail(std::string(scheme) + " proxy is locked");
    const std::string group = std::string("org/gnome/system/proxy/") + scheme;
    written.push_back({group, "host", printed(g_variant_new_string(host.constData()))});
    written.push_back({group, "port", printed(g_variant_new_int32(port))});
}

}  // namespace

bool gsettingsProxyAvailable() {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source)
        return false;
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, kSchema, TRUE);
    if (!schema)
        return false;
    g_settings_schema_unref(schema);
    const char* backend = backendName();
    return std::strcmp(backend, "GMemorySettingsBackend") != 0 &&
           std::strcmp(backend, "GNullSettingsBackend") != 0;
}

InternetSettingsValues readGSettingsProxy() {
    InternetSettingsValues out;
    GRef<GSettings> proxy(g_settings_new(kSchema));
    gchar* mode = g_settings_get_string(proxy.p, "mode");
    out.ProxyEnable = mode && std::strcmp(mode, "manual") == 0 ? 1 : 0;
    g_free(mode);
    const std::string server =
        composeProxyServer(entryText(proxy.p, "http"), entryText(proxy.p, "https"));
    if (!server.empty())
        out.ProxyServer = server;
    return out;
}

void writeGSettingsProxy(std::optional<int> enable, const std::optional<std::string>& server) {
    const std::string backend = backendName();
    // dconf writes through its service on the session bus; without one the write is lost.
    if (backend == "DConfSettingsBackend" && !std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
        const std::string bus = std::string(g_get_user_runtime_dir()) + "/bus";
        struct stat st {};
        if (::stat(bus.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode))
            fail("no D-Bus session for dconf");
    }
    GRef<GSettings> proxy(g_settings_new(kSchema));
    std::vector<Written> written;
    if (server) {
        setEntry(proxy.p, "http", proxyForScheme(*server, "http"), written);
        setEntry(proxy.p, "https", proxyForScheme(*server, "https"), written);
    }
    if (enable) {
        std::string mode;
        if (*enable == 1) {
            mode = "manual";
        } else {
            // Like switching a Windows proxy off: an automatic configuration script stays.
            gchar* url = g_settings_get_string(proxy.p, "autoconfig-url");
            mode = url && *url ? "auto" : "none";
            g_free(url);
        }
        if (!g_settings_set_string(proxy.p, "mode", mode.c_str()))
            fail("the proxy mode is locked");
        written.push_back(
            {"org/gnome/system/proxy", "mode", printed(g_variant_new_string(mode.c_str()))});
    }
    g_settings_sync();
    if (backend == "GKeyfileSettingsBackend" && !keyfileHolds(written))
        fail("the settings file " + keyfilePath() + " was not written");
}

}  // namespace vorsa
