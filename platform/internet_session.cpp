#include "platform/internet_session.h"

#include "platform/internet_settings.h"
#include "platform/network_thread.h"

#include <QMetaObject>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <optional>
#include <string_view>

namespace vorsa {
namespace {

std::atomic<std::uint32_t> g_defaultReceiveTimeout{30000};

bool isHttpUrl(const std::string& url) {
    auto startsWith = [&](const char* p) {
        const std::size_t n = std::strlen(p);
        return url.size() > n && url.compare(0, n, p) == 0;
    };
    return startsWith("http://") || startsWith("https://");
}

// The proxy of a session, "" for a direct connection; nullopt when the options are unusable.
std::optional<std::string> proxyFor(const SessionOptions& o) {
    switch (o.access) {
        case AccessType::Direct:
            return std::string();
        case AccessType::PreConfig:
        case AccessType::PreConfigWithNoAutoProxy: {
            const auto server = preconfiguredProxy();
            if (!server)
                return std::string();
            std::string p = proxyForScheme(*server, "http");
            if (p.empty())
                return std::string();
            if (!isPlainProxyName(p))
                return std::nullopt;
            return "http://" + p;
        }
        case AccessType::Proxy:
            if (!isPlainProxyName(o.proxy))
                return std::nullopt;
            return "http://" + o.proxy;
    }
    return std::nullopt;
}

std::unique_ptr<net::Transfer> makeTransfer(const SessionOptions& o, const std::string& url,
                                            std::size_t bodyLimit, net::Transfer::Done done) {
    if (!isHttpUrl(url) || url.find_first_of(std::string_view("\0\r\n ", 4)) != std::string::npos)
        return nullptr;
    const auto proxy = proxyFor(o);
    if (!proxy)
        return nullptr;
    net::ensureCurlInitialised();
    CURL* easy = curl_easy_init();
    if (!easy)
        return nullptr;
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");
    auto t = std::make_unique<net::Transfer>(easy, headers, bodyLimit, std::move(done));

    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, o.userAgent.c_str());
    // An empty proxy switches off the environment's proxy variables as well, and an empty
    // no-proxy list sends loopback targets through the proxy too.
    curl_easy_setopt(easy, CURLOPT_PROXY, proxy->c_str());
    curl_easy_setopt(easy, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
    const std::uint32_t connectMs = o.connectTimeoutMs ? o.connectTimeoutMs : 60000;
    const std::uint32_t receiveMs =
        o.receiveTimeoutMs ? o.receiveTimeoutMs : InternetSession::defaultReceiveTimeout();
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectMs));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(connectMs) + receiveMs);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // Each check goes through a proxy of its own: a connection is never worth keeping.
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
    // Only a few body bytes are ever wanted; a small receive buffer keeps thousands of
    // requests in flight cheap.
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 4096L);
    return t;
}

std::unique_ptr<InternetRequest> requestFrom(net::Transfer& t) {
    if (!t.answered())
        return nullptr;
    return std::make_unique<InternetRequest>(t.status(), t.takeBody(), t.bodyFailed(),
                                             t.doneTick());
}

}  // namespace

InternetRequest::InternetRequest(long status, std::string body, bool bodyFailed,
                                 std::uint32_t arrivedTick)
    : m_arrivedTick(arrivedTick),
      m_status(status),
      m_body(std::move(body)),
      m_bodyFailed(bodyFailed) {}

bool InternetRequest::queryStatusCode(std::string& text) const {
    if (m_status <= 0)
        return false;
    text = std::to_string(m_status);
    return true;
}

bool InternetRequest::readFile(char* buffer, std::size_t size, std::size_t& read) {
    read = 0;
    if (m_bodyFailed)
        return false;
    read = std::min(size, m_body.size() - m_readPos);
    if (read)
        std::memcpy(buffer, m_body.data() + m_readPos, read);
    m_readPos += read;
    return true;
}

void CompletionTarget::post(std::function<void(QObject* receiver)> fn) {
    std::lock_guard lock(m_mutex);
    // Under the lock the receiver cannot be destroyed; once queued, Qt drops the call if
    // the receiver goes before its thread gets to it.
    if (m_receiver)
        QMetaObject::invokeMethod(
            m_receiver, [receiver = m_receiver, fn = std::move(fn)] { fn(receiver); },
            Qt::QueuedConnection);
}

void CompletionTarget::detach() {
    std::lock_guard lock(m_mutex);
    m_receiver = nullptr;
}

InternetSession::InternetSession(SessionOptions options) : m_options(std::move(options)) {}

std::unique_ptr<InternetRequest> InternetSession::openUrl(const std::string& url,
                                                          std::size_t bodyLimit) {
    auto t = makeTransfer(m_options, url, bodyLimit, nullptr);
    if (!t)
        return nullptr;
    t->finish(curl_easy_perform(t->easy()));
    return requestFrom(*t);
}

bool InternetSession::openUrlAsync(const std::string& url, std::size_t bodyLimit, Completion done) {
    auto t = makeTransfer(m_options, url, bodyLimit, [done = std::move(done)](net::Transfer& t) {
        std::unique_ptr<InternetRequest> request = requestFrom(t);
        if (done)
            done(request.get());
    });
    if (!t)
        return false;
    net::NetworkThread::instance().submit(std::move(t));
    return true;
}

void InternetSession::setDefaultReceiveTimeout(std::uint32_t ms) {
    g_defaultReceiveTimeout.store(ms ? ms : 30000);
}

std::uint32_t InternetSession::defaultReceiveTimeout() {
    return g_defaultReceiveTimeout.load();
}

std::size_t InternetSession::requestsInFlight() {
    return net::NetworkThread::instance().inFlight();
}

}  // namespace vorsa
