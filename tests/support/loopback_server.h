#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vorsa::test {

// A tiny HTTP server on 127.0.0.1 and a port of its own, for behaviours a real server does
// not show on demand: stalls, endless bodies, raw malformed answers. One thread accepts, one
// thread per connection answers one request and closes. Everything stops with the object.
class LoopbackServer {
public:
    struct Request {
        std::string method, target;
        std::string head;                                   // request line and headers as received
        std::string header(const std::string& name) const;  // "" when missing; name any case
    };
    struct Reply {
        enum After { Close, Stall, Endless };
        std::string bytes;    // sent as they are: status line, headers, body
        After after = Close;  // Stall: keep the connection open, silent; Endless: then send
                              // body bytes until the client goes
        std::shared_ptr<const std::string> shared{};  // sent after bytes; a large body is
                                                      // built once, not copied per request
    };
    using Handler = std::function<Reply(const Request&)>;

    explicit LoopbackServer(Handler handler);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return m_port; }
    std::string url(const std::string& target) const;  // "http://127.0.0.1:port" + target
    int requestCount() const { return m_requests.load(); }

    // A complete answer with Content-Length and Connection: close.
    static std::string response(int status, const std::string& body,
                                const std::string& extraHeaders = {});

private:
    void acceptLoop();
    void serve(int fd);
    bool waitStop(int fd, int events, int timeoutMs);

    Handler m_handler;
    int m_listen = -1;
    int m_port = 0;
    int m_wake[2] = {-1, -1};
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_requests{0};
    std::thread m_acceptor;
    std::mutex m_mutex;
    std::vector<std::thread> m_connections;
};

}  // namespace vorsa::test
