#pragma once

#include "internet_settings.h"

#include <optional>
#include <string>

// The desktop's own proxy settings behind the Internet Settings store (internal to platform/).
namespace vorsa {

// GSettings org.gnome.system.proxy, where the schema is installed and the settings backend
// keeps what is written (dconf, keyfile); the "memory" backend of a machine without a
// desktop does not count.
bool gsettingsProxyAvailable();
InternetSettingsValues readGSettingsProxy();
// Throws std::runtime_error when the desktop settings cannot be written.
void writeGSettingsProxy(std::optional<int> enable, const std::optional<std::string>& server);

// KDE Plasma: ~/.config/kioslaverc, group "Proxy Settings". kdeDesktop() is true where
// XDG_CURRENT_DESKTOP names KDE.
bool kdeDesktop();
std::string kioslavercPath();
InternetSettingsValues readKdeProxy();
void writeKdeProxy(std::optional<int> enable, const std::optional<std::string>& server);
// The signal KDE's own proxy settings module sends, so that running KDE programs re-read
// kioslaverc. Only where a session bus is known; never fails the caller.
void notifyKdeProxyChanged();

// The user's config folder: $XDG_CONFIG_HOME when absolute, else ~/.config; "" when unknown.
std::string userConfigDir();

// The ProxyServer text for an http and an https entry: the http one alone when both are the
// same (or https is empty), else a per-protocol list.
std::string composeProxyServer(const std::string& http, const std::string& https);

}  // namespace vorsa
