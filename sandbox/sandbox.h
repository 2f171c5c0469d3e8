#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A simulated web on loopback for tests and demos: one HTTP/1.1 server on 127.0.0.1 that
// serves every page the program reads, and a set of HTTP forward proxies on 127.0.0.2,
// 127.0.0.3, ... with chosen behaviours. Everything runs on one event thread of its own,
// started by the constructor and stopped by the destructor (well under a second), so the
// thread that creates it may block freely. Nothing here ever connects outside 127.0.0.0/8.
namespace vorsa::sandbox {

enum class Behaviour {
    Forward,         // forwards the request; the web sees the proxy's own address
    ForwardDelayed,  // waits delayMs after the request arrived, then forwards
    Answer404,       // answers "404 Not Found" itself
    Answer502,       // answers "502 Bad Gateway" itself
    StripMarker,     // forwards, but removes the check marker (GBK "您的IP地址") from the body
    CloseAtOnce,     // accepts and closes the connection without reading
    NeverAnswer,     // accepts, reads, never answers; holds the socket until the client goes
    NotListening,    // an address and port with nothing bound: connections are refused
};

// "Forward", "ForwardDelayed", ... for logs and test names.
const char* behaviourName(Behaviour behaviour);

struct ProxySpec {
    Behaviour behaviour = Behaviour::Forward;
    int delayMs = 0;  // ForwardDelayed only
};

// n proxies of one behaviour, for building Options::proxies.
std::vector<ProxySpec> repeat(Behaviour behaviour, int n, int delayMs = 0);

// The demo mix: 6 forwarding proxies (delays 0, 0, 40, 80, 150, 300 ms) and 2 of every
// failing kind (404, 502, StripMarker, CloseAtOnce, NeverAnswer, NotListening): 18 in all.
std::vector<ProxySpec> defaultProxies();

struct Proxy {
    Behaviour behaviour = Behaviour::Forward;
    int delayMs = 0;
    int index = 0;        // position in proxies()
    std::string address;  // "127.0.0.2"
    std::uint16_t port = 0;
    // "127.0.0.2:41234", the proxy string the program stores and checks
    std::string proxyString() const;
};

struct Options {
    std::uint16_t port = 0;  // server port on serverAddress; 0 picks a free one
    // Where the server listens: loopback, or an address that a test put on "lo" inside a
    // network namespace of its own (browsers never send loopback hosts through a proxy).
    // The proxies forward to 127.0.0.0/8 and to this address only.
    std::string serverAddress = "127.0.0.1";
    std::uint16_t proxyPort = 0;  // the same port on every proxy address; 0: a free one each
    int firstProxyAddress = 2;    // proxies get 127.0.0.<first>, <first + 1>, ... (<= 254)
    std::vector<ProxySpec> proxies = defaultProxies();
    // > 0: the plain-text list "/http.txt" and the custom-URL article pages also carry this
    // many synthetic addresses 10.x.y.z:port (text only, never contacted), for benchmarks.
    int scale = 0;
    std::size_t maxConnections = 16384;  // further connections are accepted and closed
    std::size_t maxLogEntries = 200000;  // the oldest log entries are dropped beyond this
};

// One request as a listener received it (after its header was complete).
struct LoggedRequest {
    std::string method;     // "GET"
    std::string target;     // as on the request line: "/x?y" or "http://127.0.0.1:P/x?y"
    std::string path;       // "/x" (also for an absolute-form target)
    std::string query;      // "y" (without '?'), empty when none
    std::string host;       // Host header
    std::string userAgent;  // User-Agent header
    std::string peer;       // the connecting address, "127.0.0.2"
    std::string listener;   // "server" or the receiving proxy's proxyString()
    int proxyIndex = -1;    // -1 for the server, else the receiving proxy's index
};

// One proxy row a source page lists, as the harvest should store it (values upper-cased
// where the source upper-cases them).
struct ExpectedRow {
    std::string source;  // "cnp", "proxycn", "haozs", "proxynet", "ros", "proxylists",
                         // "antipalivo", "custom"
    std::string Ip, Port, Protocol, Location;  // GBK bytes
};

class Sandbox {
public:
    // Binds everything and starts the event thread. Throws std::runtime_error when a listener
    // cannot be bound (for example a fixed port in use).
    explicit Sandbox(Options options = {});
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    std::uint16_t port() const;
    // "http://<serverAddress>:P" without a trailing slash: the value of every hosts.ini key.
    std::string baseUrl() const;
    // baseUrl() + pathAndQuery ("/ip2city.asp")
    std::string url(std::string_view pathAndQuery) const;

    const std::vector<Proxy>& proxies() const;
    std::vector<Proxy> proxiesWith(Behaviour behaviour) const;
    // The first proxy of that behaviour; throws std::out_of_range when there is none.
    const Proxy& proxy(Behaviour behaviour) const;

    // Thread-safe snapshot of the request log, oldest first.
    std::vector<LoggedRequest> requests() const;
    std::size_t requestCount() const;
    void clearRequests();

    // The [hosts] INI that points every endpoint key at baseUrl().
    std::string hostsIni() const;
    // Writes hostsIni() to path; throws std::runtime_error when it cannot.
    void writeHostsIni(const std::string& path) const;

    // Every row the source pages list, in page order, duplicates across sources included.
    // Portal D's first article (entry 0 of the article list, never downloaded) is left out,
    // and so are synthetic rows (see Options::scale).
    std::vector<ExpectedRow> expectedRows() const;
    // The de-duplicated, sorted "ip:port" set a full harvest of all three groups yields,
    // synthetic addresses included when Options::scale > 0.
    std::vector<std::string> expectedHarvest() const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

// The GBK bytes of the check marker "您的IP地址".
const std::string& checkMarker();

// The location (GBK) that "/ips.asp?ip=X&action=2" carries in the program's layout for the
// address ip, or "" when its page has none the program can use. Usually one of ten places
// picked by the address; 198.51.100.1, .3, .4, .45 and .46 have pages made for test cases
// (see README.md).
std::string locationOf(const std::string& ip);

}  // namespace vorsa::sandbox
