#include "desktop_proxy.h"

#include "codec.h"
#include "text_lines.h"

#include <gio/gio.h>

#include <sys/stat.h>

#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace vorsa {

namespace {

constexpr const char* kGroup = "[Proxy Settings]";
constexpr off_t kMaxFileBytes = 1024 * 1024;

std::mutex g_mutex;

std::string readFile(const std::string& path) {
    struct stat st {};
    std::string bytes;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxFileBytes)
        readFileBytes(path, bytes);
    return bytes;
}

// "key", "key[$e]" and "key[de]" name the same setting; the bare key is what KDE writes.
std::string keyName(std::string_view line) {
    const auto eq = line.find('=');
    std::string key = gbk::trim(line.substr(0, eq));
    if (const auto bracket = key.find('['); bracket != std::string::npos)
        key.resize(bracket);
    return key;
}

// Values of the proxy group by key.
std::vector<std::pair<std::string, std::string>> proxyGroup(const std::string& bytes) {
    std::vector<std::pair<std::string, std::string>> out;
    bool inGroup = false;
    for (const std::string& raw : splitLines(bytes)) {
        const std::string line = gbk::trim(raw);
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[') {
            inGroup = line == kGroup;
            continue;
        }
        const auto eq = line.find('=');
        if (inGroup && eq != std::string::npos)
            out.emplace_back(keyName(line), gbk::trim(std::string_view(line).substr(eq + 1)));
    }
    return out;
}

std::string value(const std::vector<std::pair<std::string, std::string>>& group,
                  const std::string& key) {
    std::string out;
    for (const auto& [k, v] : group)
        if (k == key)
            out = v;  // the last one wins, as in KConfig
    return out;
}

// KDE writes "http://host port"; "host:port" and "http://host:port/" are read as well.
std::string entryFromKde(std::string v) {
    if (const auto scheme = v.find("://"); scheme != std::string::npos)
        v = v.substr(scheme + 3);
    if (const auto space = v.find(' '); space != std::string::npos) {
        std::string port = gbk::trim(std::string_view(v).substr(space + 1));
        v = v.substr(0, space) + ":" + port;
    }
    if (!v.empty() && v.back() == '/')
        v.pop_back();
    const auto ep = parseProxyEntry(v);
    if (!ep)
        return gbk::trim(v);  // as stored; readers check before they use it
    return ep->host + ":" + std::to_string(ep->port > 0 ? ep->port : 80);
}

std::string entryToKde(const std::string& entry) {
    const auto ep = parseProxyEntry(entry);
    if (!ep)
        return {};
    return "http://" + ep->host + " " + std::to_string(ep->port > 0 ? ep->port : 80);
}

}  // namespace

std::string userConfigDir() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        return xdg;
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.config";
    return {};
}

bool kdeDesktop() {
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    if (!desktop)
        return false;
    // A colon-separated list, such as "KDE" or "ubuntu:KDE".
    const std::string list = std::string(":") + desktop + ":";
    return list.find(":KDE:") != std::string::npos;
}

std::string kioslavercPath() {
    const std::string dir = userConfigDir();
    return dir.empty() ? std::string() : dir + "/kioslaverc";
}

InternetSettingsValues readKdeProxy() {
    std::lock_guard lock(g_mutex);
    InternetSettingsValues out;
    const auto group = proxyGroup(readFile(kioslavercPath()));
    out.ProxyEnable = value(group, "ProxyType") == "1" ? 1 : 0;
    const std::string http = value(group, "httpProxy");
    const std::string https = value(group, "httpsProxy");
    const std::string server = composeProxyServer(http.empty() ? http : entryFromKde(http),
                                                  https.empty() ? https : entryFromKde(https));
    if (!server.empty())
        out.ProxyServer = server;
    return out;
}

void writeKdeProxy(std::optional<int> enable, const std::optional<std::string>& server) {
    std::lock_guard lock(g_mutex);
    const std::string path = kioslavercPath();
    if (path.empty())
        throw std::runtime_error("no folder for kioslaverc");
    std::vector<std::pair<std::string, std::string>> changes;
    if (enable)
        changes.emplace_back("ProxyType", *enable == 1 ? "1" : "0");
    if (server) {
        for (const char* scheme : {"http", "https"}) {
            const std::string kde = entryToKde(proxyForScheme(*server, scheme));
            if (!kde.empty())
                changes.emplace_back(std::string(scheme) + "Proxy", kde);
        }
    }

    // Every other line of the file stays as it is; changed keys are replaced in place and
    // missing ones added at the end of the group.
    std::vector<std::string> lines = splitLines(readFile(path));
    std::vector<bool> done(changes.size(), false);
    std::size_t groupEnd = std::string::npos;
    bool inGroup = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string line = gbk::trim(lines[i]);
        if (!line.empty() && line[0] == '[') {
            inGroup = line == kGroup;
            if (inGroup)
                groupEnd = i + 1;
            continue;
        }
        if (!inGroup)
            continue;
        if (!line.empty())
            groupEnd = i + 1;
        if (line.find('=') == std::string::npos || line[0] == '#')
            continue;
        for (std::size_t c = 0; c < changes.size(); ++c) {
            if (keyName(line) == changes[c].first) {
                lines[i] = changes[c].first + "=" + changes[c].second;
                done[c] = true;
            }
        }
    }
    std::vector<std::string> added;
    for (std::size_t c = 0; c < changes.size(); ++c)
        if (!done[c])
            added.push_back(changes[c].first + "=" + changes[c].second);
    if (groupEnd == std::string::npos) {
        if (!lines.empty() && !lines.back().empty())
            lines.emplace_back();
        lines.emplace_back(kGroup);
        lines.insert(lines.end(), added.begin(), added.end());
    } else {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(groupEnd), added.begin(),
                     added.end());
    }
    std::string text;
    for (const std::string& l : lines)
        text += l + "\n";
    replaceFileBytes(path, text);
}

void notifyKdeProxyChanged() {
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS"))
        return;  // never start a bus just to say this
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus)
        return;
    g_dbus_connection_emit_signal(bus, nullptr, "/KIO/Scheduler", "org.kde.KIO.Scheduler",
                                  "reparseSlaveConfiguration", g_variant_new("(s)", ""), nullptr);
    g_dbus_connection_flush_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
}

std::string composeProxyServer(const std::string& http, const std::string& https) {
    if (https.empty() || https == http)
        return http;
    if (http.empty())
        return "https=" + https;
    return "http=" + http + ";https=" + https;
}

}  // namespace vorsa
