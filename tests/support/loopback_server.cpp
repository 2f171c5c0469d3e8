#include "loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace vorsa::test {

namespace {

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

}  // namespace

std::string LoopbackServer::Request::header(const std::string& name) const {
    const std::string want = lower(name) + ":";
    std::size_t pos = head.find("\r\n");
    while (pos != std::string::npos && pos + 2 < head.size()) {
        const std::size_t start = pos + 2;
        const std::size_t end = head.find("\r\n", start);
        const std::string line = head.substr(start, end == std::string::npos ? end : end - start);
        if (lower(line.substr(0, want.size())) == want) {
            std::string v = line.substr(want.size());
            while (!v.empty() && v.front() == ' ')
                v.erase(v.begin());
            return v;
        }
        pos = end;
    }
    return {};
}

LoopbackServer::LoopbackServer(Handler handler) : m_handler(std::move(handler)) {
    if (::pipe(m_wake) != 0)
        throw std::runtime_error("pipe");
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(m_listen, 512) != 0 ||
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("cannot listen on loopback");
    m_port = ntohs(a.sin_port);
    m_acceptor = std::thread([this] { acceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    m_stop = true;
    [[maybe_unused]] auto n = ::write(m_wake[1], "x", 1);
    m_acceptor.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(m_mutex);
        threads.swap(m_connections);
    }
    for (auto& t : threads)
        t.join();
    ::close(m_listen);
    ::close(m_wake[0]);
    ::close(m_wake[1]);
}

std::string LoopbackServer::url(const std::string& target) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + target;
}

std::string LoopbackServer::response(int status, const std::string& body,
                                     const std::string& extraHeaders) {
    return "HTTP/1.1 " + std::to_string(status) +
           " X\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n" +
           extraHeaders + "\r\n" + body;
}

// True when fd is ready for events; false on stop or timeout (-1: wait for ever).
bool LoopbackServer::waitStop(int fd, int events, int timeoutMs) {
    pollfd p[2] = {{fd, static_cast<short>(events), 0}, {m_wake[0], POLLIN, 0}};
    for (;;) {
        const int r = ::poll(p, 2, timeoutMs);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0 || (p[1].revents & POLLIN) || m_stop)
            return false;
        return p[0].revents != 0;
    }
}

void LoopbackServer::acceptLoop() {
    while (waitStop(m_listen, POLLIN, -1)) {
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard lock(m_mutex);
        m_connections.emplace_back([this, fd] { serve(fd); });
    }
}

void LoopbackServer::serve(int fd) {
    std::string head;
    char buf[8192];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        if (!waitStop(fd, POLLIN, 10000)) {
            ::close(fd);
            return;
        }
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            ::close(fd);
            return;
        }
        head.append(buf, static_cast<std::size_t>(n));
    }
    Request req;
    req.head = head.substr(0, head.find("\r\n\r\n") + 2);
    const std::string first = head.substr(0, head.find("\r\n"));
    const auto sp1 = first.find(' ');
    const auto sp2 = first.find(' ', sp1 + 1);
    if (sp1 != std::string::npos) {
        req.method = first.substr(0, sp1);
        req.target = first.substr(sp1 + 1, sp2 == std::string::npos ? sp2 : sp2 - sp1 - 1);
    }
    ++m_requests;
    const Reply reply = m_handler(req);

    auto sendAll = [&](const char* data, std::size_t size) {
        std::size_t done = 0;
        while (done < size) {
            if (!waitStop(fd, POLLOUT, 10000))
                return false;
            const ssize_t n = ::send(fd, data + done, size - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    };
    bool ok = sendAll(reply.bytes.data(), reply.bytes.size());
    if (ok && reply.shared)
        ok = sendAll(reply.shared->data(), reply.shared->size());
    if (ok && reply.after == Reply::Stall) {
        waitStop(fd, POLLRDHUP, -1);  // until the client goes or the server stops
    } else if (ok && reply.after == Reply::Endless) {
        const std::string chunk(64 * 1024, 'x');
        while (sendAll(chunk.data(), chunk.size())) {
        }
    }
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
}

}  // namespace vorsa::test
