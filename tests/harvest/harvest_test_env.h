#pragma once

#include <functional>
#include <map>
#include <string>

namespace vorsa::test {

// Points every web endpoint key at base (for example a closed loopback port) through a
// private hosts file named by VORSA_HOSTS, and rereads it.
void pointHostsAt(const std::string& base,
                  const std::map<std::string, std::string>& overrides = {});

// Runs the main thread's events (deferred deletes included) until pred holds or timeoutMs
// passed; returns pred().
bool pumpUntil(const std::function<bool()>& pred, int timeoutMs = 10000);

// A loopback listener that never accepts: connections wait in its backlog until they time out.
class SilentListener {
public:
    SilentListener();
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

}  // namespace vorsa::test
