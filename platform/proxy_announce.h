#pragma once

#include <string>

namespace vorsa {

// Telling this process and the desktop which proxy is in force. The Internet Settings store
// is the record; these only announce it, and never fail the caller.

// This process's Qt networking (the browser panel) goes through the HTTP proxy server names
// ("host:port", or the http entry of a per-protocol list; no port means 80).
void announceProxy(const std::string& server);

// This process's Qt networking goes direct.
void announceDirect();

// Re-reads the store and applies it to this process: its proxy when ProxyEnable is 1, else
// direct. Page downloads read the store on each call and need no refresh.
void refreshFromStore();

// Tells the other programs of the desktop what the store now says, through GSettings
// org.gnome.system.proxy: mode "manual" with the http and https host and port, or mode
// "none" (host and port stay). Silently skipped where that schema is not installed.
void notifySettingsChanged();

}  // namespace vorsa
