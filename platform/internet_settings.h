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

InternetSettingsValues readInternetSettings();
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

// A proxy name as curl may be given it: a host name, an IPv4 address or a bracketed IPv6
// address, and an optional port 1..65535; nothing that could smuggle in a scheme,
// credentials, a path or options. Every proxy that came from a table row or the store (text
// that may come from a web page) passes this before it reaches curl.
bool isPlainProxyName(std::string_view name);

}  // namespace vorsa
