#include "internet_settings.h"

#include "codec.h"
#include "desktop_proxy.h"
#include "hosts_config.h"
#include "text_lines.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace vorsa {

namespace {

constexpr const char* kSection = "[Internet Settings]";
constexpr off_t kMaxStoreBytes = 1024 * 1024;

std::mutex g_mutex;

// Values may hold any bytes (the registry would), so line ends, NUL, '\\' and the blanks at
// either end (which the reader trims) are written as escapes.
std::string escape(const std::string& v) {
    std::string out;
    for (std::size_t i = 0; i < v.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(v[i]);
        const bool edge = i == 0 || i + 1 == v.size();
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n' || c == '\r' || c == 0 || (edge && c <= 32)) {
            static const char hex[] = "0123456789ABCDEF";
            out += "\\x";
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string unescape(std::string_view v) {
    std::string out;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\\' && i + 1 < v.size() && v[i + 1] == '\\') {
            out.push_back('\\');
            ++i;
        } else if (v[i] == '\\' && i + 3 < v.size() && v[i + 1] == 'x' && hexValue(v[i + 2]) >= 0 &&
                   hexValue(v[i + 3]) >= 0) {
            out.push_back(static_cast<char>(hexValue(v[i + 2]) * 16 + hexValue(v[i + 3])));
            i += 3;
        } else {
            out.push_back(v[i]);
        }
    }
    return out;
}

using Values = std::map<std::string, std::string>;

// Every name=value of the section, in file order by name; names as written.
Values readValues(const std::string& path) {
    Values out;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxStoreBytes)
        return out;
    std::string bytes;
    if (!readFileBytes(path, bytes))
        return out;
    bool inSection = false;
    for (const std::string& raw : splitLines(bytes)) {
        const std::string line = gbk::trim(raw);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[') {
            inSection = gbk::toLowerAscii(line) == gbk::toLowerAscii(kSection);
            continue;
        }
        const auto eq = line.find('=');
        if (!inSection || eq == std::string::npos)
            continue;
        out[gbk::trim(std::string_view(line).substr(0, eq))] =
            unescape(gbk::trim(std::string_view(line).substr(eq + 1)));
    }
    return out;
}

std::optional<int> parseInteger(const std::string& text) {
    const std::string t = gbk::trim(text);
    if (t.empty() || t.size() > 12)
        return std::nullopt;
    std::size_t i = t[0] == '-' ? 1 : 0;
    if (i == t.size())
        return std::nullopt;
    long long n = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9')
            return std::nullopt;
        n = n * 10 + (t[i] - '0');
    }
    if (t[0] == '-')
        n = -n;
    // A DWORD: 0..0xFFFFFFFF, kept as the int of the same bits; negatives as written.
    if (n < INT_MIN || n > 0xFFFFFFFFLL)
        return std::nullopt;
    return static_cast<int>(static_cast<unsigned int>(n));
}

void writeValues(const Values& changes) {
    std::lock_guard lock(g_mutex);
    const std::string path = internetSettingsPath();
    if (path.empty())
        throw std::runtime_error("no folder for the Internet Settings");
    Values values = readValues(path);
    for (const auto& [name, value] : changes)
        values[name] = value;
    std::string text = std::string(kSection) + "\n";
    for (const auto& [k, v] : values)
        text += k + "=" + escape(v) + "\n";

    // Renamed into place, so a reader in another process never sees half a file.
    replaceFileBytes(path, text);
}

}  // namespace

std::string internetSettingsPath() {
    if (const char* env = std::getenv("VORSA_INTERNET_SETTINGS"); env && *env)
        return env;
    const std::string folder = userConfigFolder();
    return folder.empty() ? folder : folder + "/internet-settings.ini";
}

namespace {

InternetSettingsValues readIniStore() {
    std::lock_guard lock(g_mutex);
    InternetSettingsValues out;
    const std::string path = internetSettingsPath();
    if (path.empty())
        return out;
    const Values values = readValues(path);
    if (auto it = values.find("ProxyEnable"); it != values.end())
        out.ProxyEnable = parseInteger(it->second);
    if (auto it = values.find("ProxyServer"); it != values.end())
        out.ProxyServer = it->second;
    return out;
}

void writeIniStore(std::optional<int> enable, const std::optional<std::string>& server) {
    Values changes;
    if (enable)
        changes["ProxyEnable"] = std::to_string(*enable);
    if (server)
        changes["ProxyServer"] = *server;
    writeValues(changes);
}

}  // namespace

ProxyStoreKind proxyStoreKind() {
    if (const char* env = std::getenv("VORSA_INTERNET_SETTINGS"); env && *env)
        return ProxyStoreKind::IniFile;
    if (kdeDesktop())
        return ProxyStoreKind::Kde;
    if (gsettingsProxyAvailable())
        return ProxyStoreKind::GSettings;
    return ProxyStoreKind::IniFile;
}

InternetSettingsValues readInternetSettings() {
    switch (proxyStoreKind()) {
        case ProxyStoreKind::Kde:
            return readKdeProxy();
        case ProxyStoreKind::GSettings:
            return readGSettingsProxy();
        case ProxyStoreKind::IniFile:
            break;
    }
    return readIniStore();
}

void writeInternetSettings(std::optional<int> enable, const std::optional<std::string>& server) {
    switch (proxyStoreKind()) {
        case ProxyStoreKind::Kde:
            writeKdeProxy(enable, server);
            // GTK and GNOME programs on a Plasma desktop read GSettings.
            if (gsettingsProxyAvailable())
                writeGSettingsProxy(enable, server);
            return;
        case ProxyStoreKind::GSettings:
            writeGSettingsProxy(enable, server);
            return;
        case ProxyStoreKind::IniFile:
            break;
    }
    writeIniStore(enable, server);
}

void writeProxyEnable(int value) {
    writeInternetSettings(value, std::nullopt);
}

void writeProxyServer(const std::string& value) {
    writeInternetSettings(std::nullopt, value);
}

std::optional<std::string> preconfiguredProxy() {
    const InternetSettingsValues v = readInternetSettings();
    if (v.ProxyEnable != 1 || !v.ProxyServer || v.ProxyServer->empty())
        return std::nullopt;
    return v.ProxyServer;
}

std::optional<ProxyEntry> parseProxyEntry(std::string_view name) {
    if (name.empty() || name.size() > 255)
        return std::nullopt;
    ProxyEntry out;
    std::string_view host = name;
    std::string_view port;
    auto isDigit = [](unsigned char c) { return c >= '0' && c <= '9'; };
    if (name.front() == '[') {
        const auto close = name.find(']');
        if (close == std::string_view::npos || close < 2)
            return std::nullopt;
        host = name.substr(1, close - 1);
        const std::string_view rest = name.substr(close + 1);
        if (!rest.empty() && (rest.front() != ':' || rest.size() < 2))
            return std::nullopt;
        port = rest.empty() ? rest : rest.substr(1);
        for (unsigned char c : host)
            if (!(isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' ||
                  c == '.'))
                return std::nullopt;
    } else {
        const auto colon = name.find(':');
        if (colon != std::string_view::npos) {
            host = name.substr(0, colon);
            port = name.substr(colon + 1);
            if (port.empty())
                return std::nullopt;
        }
        if (host.empty())
            return std::nullopt;
        for (unsigned char c : host)
            if (!(isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' ||
                  c == '-' || c == '_'))
                return std::nullopt;
    }
    out.host = std::string(host);
    if (!port.empty()) {
        if (port.size() > 5)
            return std::nullopt;
        for (unsigned char c : port) {
            if (!isDigit(c))
                return std::nullopt;
            out.port = out.port * 10 + (c - '0');
        }
        if (out.port < 1 || out.port > 65535)
            return std::nullopt;
    }
    return out;
}

std::string proxyForScheme(const std::string& proxyServer, const std::string& scheme) {
    const std::string server = gbk::trim(proxyServer);
    if (server.find('=') == std::string::npos)
        return server;
    std::string plain, http, own;
    std::size_t start = 0;
    while (start <= server.size()) {
        std::size_t end = server.find_first_of("; ", start);
        if (end == std::string::npos)
            end = server.size();
        const std::string entry = server.substr(start, end - start);
        const auto eq = entry.find('=');
        if (eq == std::string::npos) {
            if (plain.empty())
                plain = entry;
        } else {
            const std::string name = gbk::toLowerAscii(entry.substr(0, eq));
            const std::string value = entry.substr(eq + 1);
            if (name == scheme && own.empty())
                own = value;
            if (name == "http" && http.empty())
                http = value;
        }
        start = end + 1;
    }
    if (!own.empty())
        return own;
    if (!plain.empty())
        return plain;
    return scheme == "https" ? http : std::string();
}

bool isPlainProxyName(std::string_view name) {
    return parseProxyEntry(name).has_value();
}

}  // namespace vorsa
