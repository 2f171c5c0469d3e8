#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vorsa {

// The "Internet Settings" store: ProxyEnable (integer) and ProxyServer (string), an INI file
// in the user's config folder on Linux (~/.config/VORSASOFT/internet-settings.ini, honouring
// XDG_CONFIG_HOME; $VORSA_INTERNET_SETTINGS overrides the path for tests).
// The values keep the registry's meaning: ProxyEnable 1 means ProxyServer is in force, any
// other value means direct; ProxyServer is "host:port" or a per-protocol list
// ("http=host:port;https=host:port"). A value that is missing or not an integer reads as
// nullopt. Every call reads or writes the file afresh, under one lock, so other processes
// and this one see each change at once.
struct InternetSettingsValues {
    std::optional<int> ProxyEnable;
    std::optional<std::string> ProxyServer;
};

// Where the values live: the desktop's own proxy setting wherever the desktop has one, so the
// program and the desktop never disagree. GSettings org.gnome.system.proxy (ProxyEnable 1 is
// mode "manual", ProxyServer the http host:port, or "http=h:p;https=h2:p2" where the two
// differ); KDE's kioslaverc where the desktop is KDE (written to GSettings as well); the INI
// file where neither exists, or where $VORSA_INTERNET_SETTINGS names one.
enum class ProxyStoreKind { IniFile, GSettings, Kde };
ProxyStoreKind proxyStoreKind();

InternetSettingsValues readInternetSettings();
// Writes the values given, both in one go where the store allows it. Switching off
// (enable != 1) keeps the stored proxy; on GSettings it returns to mode "auto" when an
// autoconfig URL is set, else "none". Throws std::runtime_error when it cannot write.
void writeInternetSettings(std::optional<int> enable, const std::optional<std::string>& server);
void writeProxyEnable(int value);                 // throws std::runtime_error when it cannot write
void writeProxyServer(const std::string& value);  // throws

// ProxyServer when ProxyEnable is exactly 1, else nullopt: what "preconfigured" access uses.
// An empty or missing ProxyServer also gives nullopt (nothing to go through, so direct).
std::optional<std::string> preconfiguredProxy();

// The file the store lives in (for messages and tests).
std::string internetSettingsPath();

// The proxy a ProxyServer value names for one URL scheme ("http" or "https"): a plain
// "host:port" for every scheme, or the scheme's entry of a per-protocol list (an "http="
// entry also serves https when there is no "https=" one). "" when the value names none.
std::string proxyForScheme(const std::string& proxyServer, const std::string& scheme);

// One plain proxy entry, "host", "host:port" or "[v6]:port": a host name or address and a
// port 1..65535 (0 when none is given), nothing that could carry a scheme, credentials,
// blanks or options. nullopt for anything else. The host comes without brackets.
struct ProxyEntry {
    std::string host;
    int port = 0;
};
std::optional<ProxyEntry> parseProxyEntry(std::string_view text);
// A proxy name as curl may be given it (parseProxyEntry accepts it). Every proxy that came
// from a table row or the store (text that may come from a web page) passes this before it
// reaches curl.
bool isPlainProxyName(std::string_view name);

}  // namespace vorsa
