#pragma once

#include "sandbox/sandbox.h"

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vorsa::sandbox {

struct HttpRequest {
    std::string method, target, version;
    std::string path, query;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string header(std::string_view name) const;  // case-insensitive, "" when absent
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "text/html";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // extra ones (Location, ...)
};

// Parses a request head (request line and header lines, without the blank line).
// False on anything that is not a plausible HTTP/1.x request.
bool parseRequestHead(std::string_view head, HttpRequest& out);

// Splits "http://host:port/p?q" or "/p?q" into path and query.
void splitTarget(std::string_view target, std::string& path, std::string& query);

// For an absolute "http://" target: the IPv4 loopback address and port to connect to.
// False for other schemes, other hosts (names other than "localhost" are never resolved)
// and anything outside 127.0.0.0/8.
bool loopbackTarget(std::string_view target, std::string& address, std::uint16_t& port,
                    std::string_view serverAddress = "127.0.0.1");

std::string serializeResponse(const HttpResponse& response, bool keepAlive, bool headOnly);

// The one event thread that runs the server and every proxy (epoll, non-blocking sockets).
class HttpEngine {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&, const std::string& peer)>;

    // Binds the server and the proxies (filling in their ports); throws std::runtime_error.
    // Nothing is served before start().
    HttpEngine(const Options& options, std::vector<Proxy>& proxies);
    ~HttpEngine();

    // Starts the event thread; handler runs on it and must be ready before this call.
    void start(Handler handler);

    std::uint16_t port() const { return m_port; }

    std::vector<LoggedRequest> requests() const;
    std::size_t requestCount() const;
    void clearRequests();

    struct Loop;

private:
    void record(LoggedRequest entry);

    std::uint16_t m_port = 0;
    std::size_t m_maxLog;
    mutable std::mutex m_logMutex;
    std::deque<LoggedRequest> m_log;
    std::unique_ptr<Loop> m_loop;
    std::thread m_thread;
};

}  // namespace vorsa::sandbox
