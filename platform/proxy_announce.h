#pragma once

#include <string>

namespace vorsa {

// Telling this process and the desktop which proxy is in force. The Internet Settings store
// is the record; these only announce it, and never fail the caller.

// This process's Qt networking (the browser panel) goes through the HTTP proxy server names
// ("host:port", or the http entry of a per-protocol list; no port means 80). A value that
// is not a plain host[:port] means direct.
void announceProxy(const std::string& server);

// This process's Qt networking goes direct.
void announceDirect();

// Re-reads the store and applies it to this process: its proxy when ProxyEnable is 1, else
// direct. Page downloads read the store on each call and need no refresh.
void refreshFromStore();

// Tells the other programs of the desktop that the store changed. On GSettings the write
// itself is the news (flushed here); on KDE the settings module's change signal goes out on
// the session bus; the INI file of our own has no other readers.
void notifySettingsChanged();

}  // namespace vorsa
