#pragma once

#include <string>

namespace vorsa::test {

// A real tinyproxy on 127.0.0.1 and a free port, started in the foreground with a private
// configuration and stopped (SIGTERM, then SIGKILL) when the object goes.
class Tinyproxy {
public:
    Tinyproxy();
    ~Tinyproxy();
    Tinyproxy(const Tinyproxy&) = delete;
    Tinyproxy& operator=(const Tinyproxy&) = delete;

    // False when tinyproxy is not installed or did not come up; tests then skip.
    bool running() const { return m_pid > 0; }
    int port() const { return m_port; }
    // "127.0.0.1:port"
    std::string address() const;

private:
    int m_pid = -1;
    int m_port = 0;
    std::string m_dir;
};

// A loopback TCP port that was free a moment ago.
int freeLoopbackPort();

// True once something accepts TCP connections on 127.0.0.1:port (polls up to timeoutMs).
bool waitForListener(int port, int timeoutMs);

}  // namespace vorsa::test
