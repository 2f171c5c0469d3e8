#pragma once

#include <string>

namespace vorsa {

class MainHost;

// The system proxy in force: ProxyServer when ProxyEnable is 1, else "" (also when the store
// cannot be read or holds no integer).
std::string getproxy();

// Makes proxy ("ip:port") the system proxy: the store first (a failed write ends the
// command there), then this process and the other programs are told, 100 ms apart, and the
// second status panel shows it.
void setproxy(MainHost& host, const std::string& proxy);

// Switches the system proxy off; the stored proxy stays.
void disableproxy(MainHost& host);

// "启用代理": the proxy of the bottom row of the grid selection; a row marked "⊙" is refused.
void actstartExecute(MainHost& host);

// "禁用代理".
void actstopproxyExecute(MainHost& host);

// The text the second status panel shows at start-up.
std::string startupProxyText();

}  // namespace vorsa
