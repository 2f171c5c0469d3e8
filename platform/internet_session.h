#pragma once

#include <QObject>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// Internet sessions for checks through a proxy, on libcurl. A session is a set of options
// (user agent, access type, proxy, timeouts); each open-URL call is one fresh request that
// is never served from a cache. Asynchronous requests all run on one long-lived network
// thread; synchronous ones block the calling thread.
//
// Time bounds: a connect gives up after the connect timeout (60 s unless set); a request
// that connected but gets no complete answer gives up when connect timeout + receive
// timeout have passed since it was issued (receive timeout 30 s by default, the figure
// common clients use), so a proxy that accepts and never answers still completes, failed.
namespace vorsa {

enum class AccessType {
    Direct,                    // no proxy, whatever the environment says
    PreConfig,                 // the Internet Settings store's proxy when it is switched on
    PreConfigWithNoAutoProxy,  // the same: there is no automatic proxy discovery here
    Proxy,                     // the session's own proxy, "host:port"
};

// The answer to one request: what came back, kept until the request object goes.
class InternetRequest {
public:
    // The reply's status code as text ("200"). False when no reply came.
    bool queryStatusCode(std::string& text) const;
    // Copies up to size bytes of the body, continuing where the last read ended; read is 0
    // at the end of what was received. False when the body broke off before any byte came.
    bool readFile(char* buffer, std::size_t size, std::size_t& read);

    // The tick count (GetTickCount) when the reply was in, read on the network side.
    std::uint32_t arrivedTick() const { return m_arrivedTick; }

    // For the layer itself.
    InternetRequest(long status, std::string body, bool bodyFailed, std::uint32_t arrivedTick = 0);

private:
    std::uint32_t m_arrivedTick = 0;
    long m_status = 0;
    std::string m_body;
    std::size_t m_readPos = 0;
    bool m_bodyFailed = false;
};

// A thread-safe way to run code on a QObject's thread, for results that come from the
// network thread. Once detached (by the receiver, before it goes) a post does nothing, so a
// late result never reaches a destroyed object.
class CompletionTarget {
public:
    explicit CompletionTarget(QObject* receiver) : m_receiver(receiver) {}
    // Any thread: queue fn(receiver) to run on the receiver's thread through its event loop.
    void post(std::function<void(QObject* receiver)> fn);
    // The receiver's thread.
    void detach();

private:
    std::mutex m_mutex;
    QObject* m_receiver;
};

struct SessionOptions {
    std::string userAgent;
    AccessType access = AccessType::Direct;
    std::string proxy;  // AccessType::Proxy only: "host:port"
    std::uint32_t connectTimeoutMs = 60000;
    std::uint32_t receiveTimeoutMs = 0;  // 0: the process-wide default
};

class InternetSession {
public:
    // Called once per asynchronous request, on the network thread: the request, or nullptr
    // when no reply came (refused, timed out, dropped, malformed). The request object is
    // closed when the call returns.
    using Completion = std::function<void(InternetRequest* request)>;

    explicit InternetSession(SessionOptions options);

    const SessionOptions& options() const { return m_options; }
    void setConnectTimeout(std::uint32_t ms) { m_options.connectTimeoutMs = ms; }
    void setReceiveTimeout(std::uint32_t ms) { m_options.receiveTimeoutMs = ms; }

    // Blocks until the reply header came or the request failed; nullptr on failure. At most
    // bodyLimit body bytes are received; the transfer stops there.
    std::unique_ptr<InternetRequest> openUrl(const std::string& url, std::size_t bodyLimit);

    // True when the request is under way: exactly one call of done follows, on the network
    // thread. False when nothing was issued (bad URL or proxy); done is then never called.
    bool openUrlAsync(const std::string& url, std::size_t bodyLimit, Completion done);

    // The receive timeout of sessions that do not set their own (tests make it short).
    static void setDefaultReceiveTimeout(std::uint32_t ms);
    static std::uint32_t defaultReceiveTimeout();

    // Requests issued and not yet completed, process-wide (tests and benchmarks).
    static std::size_t requestsInFlight();

private:
    SessionOptions m_options;
};

}  // namespace vorsa
