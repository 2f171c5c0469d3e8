#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vorsa {

// Base address "http://host[:port]" (no trailing slash) of a web endpoint key: cnp, proxycn,
// proxynet, ros, proxylists, antipalivo, portal_a, portal_b, portal_c, portal_d, iplookup,
// echo, maker. Read once: $VORSA_HOSTS, hosts.ini beside the executable, the user's config
// folder (~/.config/VORSASOFT/hosts.ini, honouring XDG_CONFIG_HOME), then built-in defaults.
// Each key is taken from the first of these that holds a valid value for it, so a missing,
// unreadable or malformed file (or one bad line) only loses what it got wrong.
// The default of every key, and of a key not in the list, is http://127.0.0.1:8790.
std::string hostBase(std::string_view key);

void reloadHosts();  // tests: forget what was read, read again on next use

// The raw value (trimmed, bytes as in the file) of key in another section of the same files,
// e.g. [check] or [locations]; the first file in the order above that has the key wins.
// The caller checks it: it is untrusted input.
std::optional<std::string> hostsFileValue(std::string_view section, std::string_view key);

// Every key the program looks up, in the order above.
std::span<const std::string_view> hostKeys();

// The value a hosts file line must have to count: http:// or https://, a host name, IPv4
// address or [IPv6] address, an optional port 1..65535, nothing else (one trailing '/' is
// dropped). Returns the normalised base, or "" when the value is not usable.
std::string normalisedHostBase(std::string_view value);

// The folder of the running executable, "" when unknown.
std::string executableDirectory();
// The user's config folder of the program ($XDG_CONFIG_HOME or ~/.config, then /VORSASOFT);
// "" when neither is set.
std::string userConfigFolder();

}  // namespace vorsa
