#include "sandbox/http_engine.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <unordered_map>

namespace vorsa::sandbox {

namespace {

constexpr std::size_t kMaxHead = 32 * 1024;
constexpr std::size_t kMaxRequestBody = 1 << 20;
constexpr std::size_t kMaxStripBuffer = 64u << 20;
// Reading from an upstream pauses while this much is still waiting for the client.
constexpr std::size_t kRelayHighWater = 1u << 20;

using Clock = std::chrono::steady_clock;

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

const char* reasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 400:
            return "Bad Request";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 413:
            return "Payload Too Large";
        case 431:
            return "Request Header Fields Too Large";
        case 500:
            return "Internal Server Error";
        case 501:
            return "Not Implemented";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

std::string addressText(const sockaddr_in& a) {
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a.sin_addr, buf, sizeof buf);
    return buf;
}

bool parseIpv4(std::string_view text, in_addr& out) {
    if (text.empty() || text.size() > 15)
        return false;
    std::string s(text);
    return inet_pton(AF_INET, s.c_str(), &out) == 1;
}

void raiseFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int bindListener(const std::string& address, std::uint16_t port, bool listenToo) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("sandbox: socket() failed");
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        (listenToo && listen(fd, 4096) != 0)) {
        int err = errno;
        close(fd);
        throw std::runtime_error("sandbox: cannot bind " + address + ":" + std::to_string(port) +
                                 ": " + std::strerror(err));
    }
    return fd;
}

std::uint16_t boundPort(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

// Removes every occurrence of needle from the body of a complete HTTP response and
// corrects its Content-Length.
std::string stripFromBody(const std::string& response, const std::string& needle) {
    std::size_t headEnd = response.find("\r\n\r\n");
    if (headEnd == std::string::npos)
        return response;
    std::string head = response.substr(0, headEnd + 2);
    std::string body = response.substr(headEnd + 4);
    for (std::size_t p = body.find(needle); p != std::string::npos; p = body.find(needle, p))
        body.erase(p, needle.size());
    std::string out;
    std::size_t pos = 0;
    while (pos < head.size()) {
        std::size_t eol = head.find("\r\n", pos);
        std::string line = head.substr(pos, eol - pos);
        pos = eol + 2;
        if (startsWithNoCase(line, "content-length:"))
            line = "Content-Length: " + std::to_string(body.size());
        out += line + "\r\n";
    }
    return out + "\r\n" + body;
}

}  // namespace

std::string HttpRequest::header(std::string_view name) const {
    for (const auto& [key, value] : headers)
        if (equalsNoCase(key, name))
            return value;
    return {};
}

void splitTarget(std::string_view target, std::string& path, std::string& query) {
    if (startsWithNoCase(target, "http://") || startsWithNoCase(target, "https://")) {
        std::size_t scheme = target.find("://") + 3;
        std::size_t slash = target.find_first_of("/?", scheme);
        target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
    }
    std::size_t hash = target.find('#');
    if (hash != std::string_view::npos)
        target = target.substr(0, hash);
    std::size_t q = target.find('?');
    path = std::string(target.substr(0, q));
    query = q == std::string_view::npos ? std::string() : std::string(target.substr(q + 1));
    if (path.empty() || path[0] != '/')
        path.insert(path.begin(), '/');
}

bool loopbackTarget(std::string_view target, std::string& address, std::uint16_t& port,
                    std::string_view serverAddress) {
    if (!startsWithNoCase(target, "http://"))
        return false;
    std::string_view rest = target.substr(7);
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    if (authority.find('@') != std::string_view::npos)
        return false;
    std::string_view host = authority;
    port = 80;
    std::size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        std::string_view digits = authority.substr(colon + 1);
        if (digits.empty() || digits.size() > 5)
            return false;
        unsigned value = 0;
        for (char c : digits) {
            if (c < '0' || c > '9')
                return false;
            value = value * 10 + unsigned(c - '0');
        }
        if (value == 0 || value > 65535)
            return false;
        port = std::uint16_t(value);
    }
    if (equalsNoCase(host, "localhost"))
        host = "127.0.0.1";
    in_addr a{};
    if (!parseIpv4(host, a))
        return false;
    if ((ntohl(a.s_addr) >> 24) != 127 && host != serverAddress)
        return false;
    address = std::string(host);
    return true;
}

bool parseRequestHead(std::string_view head, HttpRequest& out) {
    std::size_t eol = head.find("\r\n");
    std::string_view line = head.substr(0, eol);
    std::size_t s1 = line.find(' ');
    std::size_t s2 = s1 == std::string_view::npos ? s1 : line.find(' ', s1 + 1);
    if (s1 == 0 || s2 == std::string_view::npos || s2 == s1 + 1)
        return false;
    out.method = std::string(line.substr(0, s1));
    out.target = std::string(line.substr(s1 + 1, s2 - s1 - 1));
    out.version = std::string(line.substr(s2 + 1));
    if (out.version.rfind("HTTP/1.", 0) != 0)
        return false;
    for (char c : out.method)
        if (c < 'A' || c > 'Z')
            return false;
    out.headers.clear();
    std::size_t pos = eol == std::string_view::npos ? head.size() : eol + 2;
    while (pos < head.size()) {
        std::size_t next = head.find("\r\n", pos);
        if (next == std::string_view::npos)
            next = head.size();
        std::string_view h = head.substr(pos, next - pos);
        pos = next + 2;
        std::size_t colon = h.find(':');
        if (colon == std::string_view::npos || colon == 0)
            return false;
        out.headers.emplace_back(std::string(h.substr(0, colon)),
                                 std::string(trimmed(h.substr(colon + 1))));
    }
    splitTarget(out.target, out.path, out.query);
    return true;
}

std::string serializeResponse(const HttpResponse& r, bool keepAlive, bool headOnly) {
    std::string out = "HTTP/1.1 " + std::to_string(r.status) + " " + reasonPhrase(r.status) +
                      "\r\nServer: vorsa-sandbox\r\n";
    if (!r.contentType.empty())
        out += "Content-Type: " + r.contentType + "\r\n";
    out += "Content-Length: " + std::to_string(r.body.size()) + "\r\n";
    for (const auto& [key, value] : r.headers)
        out += key + ": " + value + "\r\n";
    out += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    out += "\r\n";
    if (!headOnly)
        out += r.body;
    return out;
}

// ---------------------------------------------------------------------------------------

struct HttpEngine::Loop {
    enum class Role { ServerClient, ProxyClient, Upstream };

    struct Conn {
        std::uint64_t id = 0;
        int fd = -1;
        Role role = Role::ServerClient;
        int proxy = -1;
        std::string peer;
        std::string in;
        std::string out;
        std::size_t outPos = 0;
        bool closeAfterFlush = false;
        bool headDone = false;
        bool holding = false;     // NeverAnswer: read and drop
        bool connecting = false;  // Upstream: connect() in progress
        bool strip = false;       // Upstream: buffer the whole answer, then strip
        bool gotBytes = false;    // Upstream: anything arrived
        std::uint64_t partner = 0;
        std::string pendingUpstream;  // ProxyClient: request bytes until the upstream exists
        std::string targetAddress;
        std::uint16_t targetPort = 0;
        std::uint32_t events = 0;
    };

    struct Listener {
        int fd = -1;
        int proxy = -1;  // -1: the server
    };

    HttpEngine& engine;
    const Options& options;
    std::vector<Proxy>& proxies;
    Handler handler;
    int epfd = -1;
    int wakefd = -1;
    int spareFd = -1;
    std::atomic<bool> stopping{false};
    std::vector<Listener> listeners;  // epoll id = index + 1
    std::unordered_map<std::uint64_t, std::unique_ptr<Conn>> conns;
    std::multimap<Clock::time_point, std::uint64_t> timers;
    std::uint64_t nextId = 1ull << 32;
    std::string marker = checkMarker();

    Loop(HttpEngine& e, const Options& o, std::vector<Proxy>& p)
        : engine(e), options(o), proxies(p) {}

    ~Loop() {
        for (auto& [id, c] : conns)
            close(c->fd);
        for (auto& l : listeners)
            if (l.fd >= 0)
                close(l.fd);
        if (wakefd >= 0)
            close(wakefd);
        if (spareFd >= 0)
            close(spareFd);
        if (epfd >= 0)
            close(epfd);
    }

    Conn* find(std::uint64_t id) {
        auto it = conns.find(id);
        return it == conns.end() ? nullptr : it->second.get();
    }

    void setInterest(Conn& c) {
        std::uint32_t ev = EPOLLRDHUP;
        bool paused = false;
        if (c.role == Role::Upstream) {
            Conn* client = find(c.partner);
            paused = client && client->out.size() - client->outPos > kRelayHighWater;
        } else if (c.role == Role::ServerClient) {
            // A client that sends requests but never reads its answers stops being read.
            paused = c.out.size() - c.outPos > 4 * kRelayHighWater;
        }
        if (!paused && !c.connecting)
            ev |= EPOLLIN;
        if (c.connecting || c.outPos < c.out.size())
            ev |= EPOLLOUT;
        if (ev == c.events)
            return;
        epoll_event e{};
        e.events = ev;
        e.data.u64 = c.id;
        epoll_ctl(epfd, c.events == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, c.fd, &e);
        c.events = ev;
    }

    Conn& add(int fd, Role role, int proxy, std::string peer) {
        auto conn = std::make_unique<Conn>();
        conn->id = nextId++;
        conn->fd = fd;
        conn->role = role;
        conn->proxy = proxy;
        conn->peer = std::move(peer);
        Conn& c = *conn;
        conns.emplace(c.id, std::move(conn));
        return c;
    }

    void drop(std::uint64_t id) {
        auto it = conns.find(id);
        if (it == conns.end())
            return;
        std::unique_ptr<Conn> c = std::move(it->second);
        conns.erase(it);
        epoll_ctl(epfd, EPOLL_CTL_DEL, c->fd, nullptr);
        close(c->fd);
        if (c->partner) {
            Conn* other = find(c->partner);
            if (!other)
                return;
            other->partner = 0;
            if (c->role == Role::Upstream) {
                upstreamEnded(*other, *c);
            } else {
                drop(other->id);
            }
        }
    }

    // The client's upstream is gone: pass on what is left and close after it.
    void upstreamEnded(Conn& client, Conn& upstream) {
        if (!upstream.gotBytes) {
            HttpResponse r;
            r.status = 502;
            r.body = "upstream closed without an answer\n";
            client.out += serializeResponse(r, false, false);
        } else if (upstream.strip) {
            client.out += stripFromBody(upstream.in, marker);
        }
        client.closeAfterFlush = true;
        flush(client);
    }

    void flush(Conn& c) {
        while (c.outPos < c.out.size()) {
            ssize_t n = send(c.fd, c.out.data() + c.outPos, c.out.size() - c.outPos, MSG_NOSIGNAL);
            if (n > 0) {
                c.outPos += std::size_t(n);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            if (n < 0 && errno == EINTR)
                continue;
            drop(c.id);
            return;
        }
        if (c.outPos == c.out.size()) {
            c.out.clear();
            c.outPos = 0;
            if (c.closeAfterFlush) {
                drop(c.id);
                return;
            }
        }
        setInterest(c);
        if (c.role == Role::ProxyClient && c.partner)
            if (Conn* up = find(c.partner))
                setInterest(*up);
    }

    void log(const HttpRequest& req, const Conn& c) {
        LoggedRequest entry;
        entry.method = req.method;
        entry.target = req.target;
        entry.path = req.path;
        entry.query = req.query;
        entry.host = req.header("Host");
        entry.userAgent = req.header("User-Agent");
        entry.peer = c.peer;
        entry.proxyIndex = c.proxy;
        entry.listener = c.proxy < 0 ? std::string("server") : proxies[c.proxy].proxyString();
        engine.record(std::move(entry));
    }

    void answer(Conn& c, int status, std::string body) {
        HttpResponse r;
        r.status = status;
        r.contentType = "text/html";
        r.body = std::move(body);
        c.out += serializeResponse(r, false, false);
        c.closeAfterFlush = true;
    }

    // Server side: every complete request in the buffer, in order.
    void serve(Conn& c) {
        while (!c.closeAfterFlush) {
            std::size_t end = c.in.find("\r\n\r\n");
            if (end == std::string::npos) {
                if (c.in.size() > kMaxHead)
                    answer(c, 431, "request head too large\n");
                break;
            }
            HttpRequest req;
            if (!parseRequestHead(std::string_view(c.in).substr(0, end), req)) {
                answer(c, 400, "bad request\n");
                break;
            }
            std::size_t bodyLength = 0;
            std::string cl = req.header("Content-Length");
            if (!cl.empty()) {
                char* endp = nullptr;
                unsigned long long v = std::strtoull(cl.c_str(), &endp, 10);
                if (*endp != '\0' || v > kMaxRequestBody) {
                    answer(c, 413, "request body too large\n");
                    break;
                }
                bodyLength = std::size_t(v);
            }
            if (c.in.size() < end + 4 + bodyLength)
                break;
            c.in.erase(0, end + 4 + bodyLength);
            log(req, c);
            std::string connection = req.header("Connection");
            bool keepAlive = req.version == "HTTP/1.1" ? !equalsNoCase(connection, "close")
                                                       : equalsNoCase(connection, "keep-alive");
            HttpResponse r;
            try {
                r = handler(req, c.peer);
            } catch (const std::exception&) {
                r = HttpResponse{};
                r.status = 500;
                r.body = "internal error\n";
            }
            c.out += serializeResponse(r, keepAlive, req.method == "HEAD");
            if (!keepAlive)
                c.closeAfterFlush = true;
        }
        flush(c);
    }

    // Proxy side, once the request head is complete.
    void proxyHead(Conn& c) {
        std::size_t end = c.in.find("\r\n\r\n");
        if (end == std::string::npos) {
            if (c.in.size() > kMaxHead) {
                answer(c, 431, "request head too large\n");
                flush(c);
            }
            return;
        }
        c.headDone = true;
        HttpRequest req;
        if (!parseRequestHead(std::string_view(c.in).substr(0, end), req)) {
            answer(c, 400, "bad request\n");
            flush(c);
            return;
        }
        log(req, c);
        const Proxy& p = proxies[c.proxy];
        switch (p.behaviour) {
            case Behaviour::NeverAnswer:
                c.holding = true;
                c.in.clear();
                return;
            case Behaviour::Answer404:
                answer(c, 404, "<html><body>404 Not Found</body></html>\n");
                flush(c);
                return;
            case Behaviour::Answer502:
                answer(c, 502, "<html><body>502 Bad Gateway</body></html>\n");
                flush(c);
                return;
            default:
                break;
        }
        if (req.method == "CONNECT") {
            answer(c, 501, "CONNECT is not supported\n");
            flush(c);
            return;
        }
        if (!loopbackTarget(req.target, c.targetAddress, c.targetPort, options.serverAddress)) {
            answer(c, 502, "only loopback http targets are forwarded\n");
            flush(c);
            return;
        }
        std::string up = req.method + " " + req.path + (req.query.empty() ? "" : "?" + req.query) +
                         " HTTP/1.1\r\n";
        for (const auto& [key, value] : req.headers) {
            if (equalsNoCase(key, "Proxy-Connection") || equalsNoCase(key, "Connection") ||
                equalsNoCase(key, "Keep-Alive") || equalsNoCase(key, "Proxy-Authorization"))
                continue;
            up += key + ": " + value + "\r\n";
        }
        up += "Connection: close\r\n\r\n";
        up += c.in.substr(end + 4);
        c.in.clear();
        c.pendingUpstream = std::move(up);
        if (p.behaviour == Behaviour::ForwardDelayed && p.delayMs > 0) {
            timers.emplace(Clock::now() + std::chrono::milliseconds(p.delayMs), c.id);
            return;
        }
        connectUpstream(c);
    }

    void connectUpstream(Conn& c) {
        const Proxy& p = proxies[c.proxy];
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            answer(c, 502, "proxy out of sockets\n");
            flush(c);
            return;
        }
        // The web must see the proxy's own address, as it would with a real proxy host.
        sockaddr_in local{};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, p.address.c_str(), &local.sin_addr);
        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_port = htons(c.targetPort);
        inet_pton(AF_INET, c.targetAddress.c_str(), &remote.sin_addr);
        if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            (connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0 &&
             errno != EINPROGRESS)) {
            close(fd);
            answer(c, 502, "cannot reach the target\n");
            flush(c);
            return;
        }
        Conn& up = add(fd, Role::Upstream, c.proxy, p.address);
        up.connecting = true;
        up.strip = p.behaviour == Behaviour::StripMarker;
        up.out = std::move(c.pendingUpstream);
        c.pendingUpstream.clear();
        up.partner = c.id;
        c.partner = up.id;
        setInterest(up);
    }

    void readable(Conn& c) {
        char buf[64 * 1024];
        for (;;) {
            ssize_t n = recv(c.fd, buf, sizeof buf, 0);
            if (n > 0) {
                if (!onBytes(c, buf, std::size_t(n)))
                    return;
                if (c.role == Role::Upstream) {
                    Conn* client = find(c.partner);
                    if (client && client->out.size() - client->outPos > kRelayHighWater)
                        break;
                } else if (c.role == Role::ServerClient &&
                           c.out.size() - c.outPos > 4 * kRelayHighWater) {
                    break;
                }
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            drop(c.id);  // end of stream or a reset
            return;
        }
        if (Conn* still = find(c.id))
            setInterest(*still);
    }

    // False when c is gone.
    bool onBytes(Conn& c, const char* data, std::size_t n) {
        std::uint64_t id = c.id;
        switch (c.role) {
            case Role::ServerClient:
                c.in.append(data, n);
                serve(c);
                return find(id) != nullptr;
            case Role::ProxyClient:
                if (c.holding || c.closeAfterFlush)
                    return true;
                if (c.headDone) {
                    if (Conn* up = find(c.partner)) {
                        up->out.append(data, n);
                        flush(*up);
                    } else if (c.pendingUpstream.size() < kMaxRequestBody) {
                        c.pendingUpstream.append(data, n);
                    }
                    return find(id) != nullptr;
                }
                c.in.append(data, n);
                proxyHead(c);
                return find(id) != nullptr;
            case Role::Upstream: {
                c.gotBytes = true;
                if (c.strip) {
                    if (c.in.size() + n > kMaxStripBuffer) {
                        drop(id);
                        return false;
                    }
                    c.in.append(data, n);
                    return true;
                }
                Conn* client = find(c.partner);
                if (!client) {
                    drop(id);
                    return false;
                }
                client->out.append(data, n);
                flush(*client);
                return find(id) != nullptr;
            }
        }
        return true;
    }

    void writable(Conn& c) {
        if (c.connecting) {
            int err = 0;
            socklen_t len = sizeof err;
            getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &err, &len);
            if (err != 0) {
                drop(c.id);  // the client gets a 502 (nothing arrived)
                return;
            }
            c.connecting = false;
        }
        flush(c);
    }

    void acceptAll(const Listener& l) {
        for (;;) {
            sockaddr_in a{};
            socklen_t len = sizeof a;
            int fd =
                accept4(l.fd, reinterpret_cast<sockaddr*>(&a), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED)
                    continue;
                if ((errno == EMFILE || errno == ENFILE) && spareFd >= 0) {
                    // Out of descriptors: refuse this one with the spare, or the level-
                    // triggered listener would spin the loop until a descriptor is freed.
                    close(spareFd);
                    int refused = accept(l.fd, nullptr, nullptr);
                    if (refused >= 0)
                        close(refused);
                    spareFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
                    continue;
                }
                return;  // EAGAIN: everything pending was taken
            }
            if (conns.size() >= options.maxConnections ||
                (l.proxy >= 0 && proxies[l.proxy].behaviour == Behaviour::CloseAtOnce)) {
                close(fd);
                continue;
            }
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            Conn& c = add(fd, l.proxy < 0 ? Role::ServerClient : Role::ProxyClient, l.proxy,
                          addressText(a));
            setInterest(c);
        }
    }

    void runTimers() {
        auto now = Clock::now();
        while (!timers.empty() && timers.begin()->first <= now) {
            std::uint64_t id = timers.begin()->second;
            timers.erase(timers.begin());
            if (Conn* c = find(id))
                connectUpstream(*c);
        }
    }

    int nextTimeoutMs() {
        if (timers.empty())
            return -1;
        auto wait =
            std::chrono::ceil<std::chrono::milliseconds>(timers.begin()->first - Clock::now());
        return wait.count() < 0 ? 0 : int(wait.count());
    }

    void run() {
        std::vector<epoll_event> events(1024);
        while (!stopping.load()) {
            int n = epoll_wait(epfd, events.data(), int(events.size()), nextTimeoutMs());
            if (n < 0 && errno != EINTR)
                break;
            for (int i = 0; i < n; ++i) {
                std::uint64_t id = events[i].data.u64;
                std::uint32_t ev = events[i].events;
                if (id == 0)
                    continue;  // wake-up: the loop condition decides
                if (id <= listeners.size()) {
                    acceptAll(listeners[id - 1]);
                    continue;
                }
                Conn* c = find(id);
                if (!c)
                    continue;
                if (ev & EPOLLOUT) {
                    writable(*c);
                    c = find(id);
                    if (!c)
                        continue;
                }
                if (ev & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
                    if (c->connecting) {
                        writable(*c);  // a failed connect shows up as an error here
                        continue;
                    }
                    readable(*c);
                }
            }
            runTimers();
        }
    }
};

HttpEngine::HttpEngine(const Options& options, std::vector<Proxy>& proxies)
    : m_maxLog(options.maxLogEntries) {
    raiseFileLimit();
    m_loop = std::make_unique<Loop>(*this, options, proxies);
    Loop& loop = *m_loop;
    loop.epfd = epoll_create1(EPOLL_CLOEXEC);
    loop.wakefd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    loop.spareFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (loop.epfd < 0 || loop.wakefd < 0)
        throw std::runtime_error("sandbox: epoll setup failed");
    epoll_event we{};
    we.events = EPOLLIN;
    we.data.u64 = 0;
    epoll_ctl(loop.epfd, EPOLL_CTL_ADD, loop.wakefd, &we);

    auto addListener = [&](int fd, int proxy) {
        loop.listeners.push_back({fd, proxy});
        epoll_event e{};
        e.events = EPOLLIN;
        e.data.u64 = loop.listeners.size();
        epoll_ctl(loop.epfd, EPOLL_CTL_ADD, fd, &e);
    };
    int serverFd = bindListener(options.serverAddress, options.port, true);
    m_port = boundPort(serverFd);
    addListener(serverFd, -1);
    for (Proxy& p : proxies) {
        if (p.behaviour == Behaviour::NotListening) {
            // Reserve a port the way a listener would get one, then let it go again.
            int fd = bindListener(p.address, options.proxyPort, false);
            p.port = boundPort(fd);
            close(fd);
            continue;
        }
        int fd = bindListener(p.address, options.proxyPort, true);
        p.port = boundPort(fd);
        addListener(fd, p.index);
    }
}

void HttpEngine::start(Handler handler) {
    m_loop->handler = std::move(handler);
    m_thread = std::thread([this] { m_loop->run(); });
}

HttpEngine::~HttpEngine() {
    m_loop->stopping.store(true);
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(m_loop->wakefd, &one, sizeof one);
    if (m_thread.joinable())
        m_thread.join();
    m_loop.reset();
}

void HttpEngine::record(LoggedRequest entry) {
    std::lock_guard lock(m_logMutex);
    m_log.push_back(std::move(entry));
    while (m_log.size() > m_maxLog)
        m_log.pop_front();
}

std::vector<LoggedRequest> HttpEngine::requests() const {
    std::lock_guard lock(m_logMutex);
    return {m_log.begin(), m_log.end()};
}

std::size_t HttpEngine::requestCount() const {
    std::lock_guard lock(m_logMutex);
    return m_log.size();
}

void HttpEngine::clearRequests() {
    std::lock_guard lock(m_logMutex);
    m_log.clear();
}

}  // namespace vorsa::sandbox
