#include "tinyproxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace vorsa::test {

int freeLoopbackPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ::close(fd);
    return port;
}

bool waitForListener(int port, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        if (ok)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

Tinyproxy::Tinyproxy() {
    const char* bin = "/usr/bin/tinyproxy";
    if (::access(bin, X_OK) != 0)
        return;
    char tmpl[] = "/tmp/vorsa-tinyproxy-XXXXXX";
    if (!::mkdtemp(tmpl))
        return;
    m_dir = tmpl;
    m_port = freeLoopbackPort();
    const std::string conf = m_dir + "/tinyproxy.conf";
    {
        std::ofstream f(conf);
        f << "Port " << m_port << "\n"
          << "Listen 127.0.0.1\n"
          << "Timeout 60\n"
          << "MaxClients 4096\n"
          << "Allow 127.0.0.1\n"
          << "LogLevel Critical\n"
          << "LogFile \"" << m_dir << "/tinyproxy.log\"\n"
          << "DisableViaHeader Yes\n";
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(bin, bin, "-d", "-c", conf.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (pid < 0)
        return;
    m_pid = pid;
    if (!waitForListener(m_port, 5000)) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}

Tinyproxy::~Tinyproxy() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        for (int i = 0; i < 50; ++i) {
            if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                m_pid = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    if (!m_dir.empty()) {
        std::string cmdless = m_dir;  // remove our own files only
        ::unlink((cmdless + "/tinyproxy.conf").c_str());
        ::unlink((cmdless + "/tinyproxy.log").c_str());
        ::rmdir(cmdless.c_str());
    }
}

std::string Tinyproxy::address() const {
    return "127.0.0.1:" + std::to_string(m_port);
}

}  // namespace vorsa::test
