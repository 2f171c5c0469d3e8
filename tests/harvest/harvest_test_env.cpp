#include "harvest_test_env.h"

#include "platform/hosts_config.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <stdexcept>

namespace vorsa::test {

void pointHostsAt(const std::string& base, const std::map<std::string, std::string>& overrides) {
    static const std::string path = [] {
        char tmpl[] = "/tmp/vorsa-harvest-hosts-XXXXXX";
        const int fd = mkstemp(tmpl);
        if (fd < 0)
            throw std::runtime_error("mkstemp");
        close(fd);
        return std::string(tmpl);
    }();
    std::ofstream out(path, std::ios::trunc);
    out << "[hosts]\n";
    for (std::string_view key : hostKeys()) {
        const auto it = overrides.find(std::string(key));
        out << key << '=' << (it == overrides.end() ? base : it->second) << '\n';
    }
    out.close();
    setenv("VORSA_HOSTS", path.c_str(), 1);
    reloadHosts();
}

bool pumpUntil(const std::function<bool()>& pred, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(1);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return true;
}

SilentListener::SilentListener() {
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(m_fd, 64) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("silent listener");
    m_port = ntohs(addr.sin_port);
}

SilentListener::~SilentListener() {
    if (m_fd >= 0)
        ::close(m_fd);
}

}  // namespace vorsa::test
