#include "hosts_config.h"

#include "codec.h"
#include "text_lines.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace vorsa {

namespace {

constexpr std::string_view kDefaultBase = "http://127.0.0.1:8790";

// A hosts file is a few hundred bytes; anything far larger is not one.
constexpr off_t kMaxHostsFileBytes = 256 * 1024;

constexpr std::array<std::string_view, 13> kKeys = {
    "cnp",      "proxycn",  "proxynet", "ros",      "proxylists", "antipalivo", "portal_a",
    "portal_b", "portal_c", "portal_d", "iplookup", "echo",       "maker"};

using HostMap = std::map<std::string, std::string, std::less<>>;

struct HostsFiles {
    HostMap hosts;   // [hosts]: key -> normalised base
    HostMap values;  // every other section: "section.key" -> raw trimmed value
};

std::mutex g_mutex;
std::optional<HostsFiles> g_hosts;

bool isHostChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

// One file: the [hosts] section (bad values left out) and the raw values of other sections.
HostsFiles readHostsFile(const std::string& path) {
    HostsFiles out;
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size > kMaxHostsFileBytes)
        return out;
    std::string bytes;
    if (!readFileBytes(path, bytes))
        return out;
    std::string section;
    for (const std::string& raw : splitLines(bytes)) {
        const std::string line = gbk::trim(raw);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line.front() == '[') {
            section = line.back() == ']' ? gbk::toLowerAscii(gbk::trim(
                                               std::string_view(line).substr(1, line.size() - 2)))
                                         : std::string();
            continue;
        }
        const auto eq = line.find('=');
        if (section.empty() || eq == std::string::npos)
            continue;
        const std::string key = gbk::toLowerAscii(gbk::trim(std::string_view(line).substr(0, eq)));
        const std::string value = gbk::trim(std::string_view(line).substr(eq + 1));
        // A later line of the same key wins, as in most INI readers.
        if (section != "hosts") {
            out.values[section + '.' + key] = value;
            continue;
        }
        const std::string base = normalisedHostBase(value);
        if (!base.empty())
            out.hosts[key] = base;
    }
    return out;
}

}  // namespace

std::string executableDirectory() {
    std::string buf(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0)
        return {};
    buf.resize(static_cast<std::size_t>(n));
    const auto slash = buf.rfind('/');
    return slash == std::string::npos ? std::string() : buf.substr(0, slash);
}

std::string userConfigFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return std::string(xdg) + "/VORSASOFT";
    const char* home = std::getenv("HOME");
    if (home && *home)
        return std::string(home) + "/.config/VORSASOFT";
    return {};
}

namespace {

HostsFiles loadAll() {
    std::vector<std::string> files;
    if (const char* env = std::getenv("VORSA_HOSTS"); env && *env)
        files.emplace_back(env);
    if (const std::string exe = executableDirectory(); !exe.empty())
        files.push_back(exe + "/hosts.ini");
    if (const std::string cfg = userConfigFolder(); !cfg.empty())
        files.push_back(cfg + "/hosts.ini");
    HostsFiles merged;
    for (const std::string& f : files) {
        HostsFiles one = readHostsFile(f);
        for (auto& [key, base] : one.hosts)
            merged.hosts.try_emplace(key, base);  // the earlier file keeps the key
        for (auto& [key, value] : one.values)
            merged.values.try_emplace(key, value);
    }
    return merged;
}

}  // namespace

std::string normalisedHostBase(std::string_view value) {
    std::string_view rest;
    std::string scheme;
    const std::string lower = gbk::toLowerAscii(value);
    if (lower.rfind("http://", 0) == 0)
        scheme = "http://";
    else if (lower.rfind("https://", 0) == 0)
        scheme = "https://";
    else
        return {};
    rest = value.substr(scheme.size());
    if (!rest.empty() && rest.back() == '/')
        rest.remove_suffix(1);
    std::string_view host = rest;
    std::string_view port;
    if (!rest.empty() && rest.front() == '[') {
        const auto close = rest.find(']');
        if (close == std::string_view::npos || close < 2)
            return {};
        for (char c : rest.substr(1, close - 1))
            if (!(std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.'))
                return {};
        host = rest.substr(0, close + 1);
        std::string_view after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                return {};
            port = after.substr(1);
            if (port.empty())
                return {};
        }
    } else {
        const auto colon = rest.find(':');
        if (colon != std::string_view::npos) {
            host = rest.substr(0, colon);
            port = rest.substr(colon + 1);
            if (port.empty())
                return {};
        }
        if (host.empty())
            return {};
        for (char c : host)
            if (!isHostChar(c))
                return {};
    }
    if (!port.empty()) {
        if (port.size() > 5)
            return {};
        long n = 0;
        for (char c : port) {
            if (c < '0' || c > '9')
                return {};
            n = n * 10 + (c - '0');
        }
        if (n < 1 || n > 65535)
            return {};
    }
    std::string out = scheme;
    out.append(host);
    if (!port.empty()) {
        out.push_back(':');
        out.append(port);
    }
    return out;
}

std::string hostBase(std::string_view key) {
    std::lock_guard lock(g_mutex);
    if (!g_hosts)
        g_hosts = loadAll();
    const auto it = g_hosts->hosts.find(gbk::toLowerAscii(key));
    return it == g_hosts->hosts.end() ? std::string(kDefaultBase) : it->second;
}

std::optional<std::string> hostsFileValue(std::string_view section, std::string_view key) {
    std::lock_guard lock(g_mutex);
    if (!g_hosts)
        g_hosts = loadAll();
    std::string name = gbk::toLowerAscii(section);
    name += '.';
    name += gbk::toLowerAscii(key);
    const auto it = g_hosts->values.find(name);
    if (it == g_hosts->values.end())
        return std::nullopt;
    return it->second;
}

void reloadHosts() {
    std::lock_guard lock(g_mutex);
    g_hosts.reset();
}

std::span<const std::string_view> hostKeys() {
    return kKeys;
}

}  // namespace vorsa
