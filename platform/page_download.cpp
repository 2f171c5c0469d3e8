#include "page_download.h"

#include "internet_settings.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace vorsa {

namespace {

// The agent string of the browser whose download service this stands in for; some list
// sites answer other agents with an empty page.
constexpr const char* kUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)";

std::mutex g_limitsMutex;
DownloadLimits g_limits;
DownloadObserver g_observer;

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Sink {
    int fd = -1;
    long long written = 0;
    long long maxBytes = 0;
    bool tooLarge = false;
    bool writeFailed = false;
};

size_t writeBody(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const size_t n = size * count;
    if (sink->written + static_cast<long long>(n) > sink->maxBytes) {
        sink->tooLarge = true;
        return 0;  // aborts the transfer with CURLE_WRITE_ERROR
    }
    size_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(sink->fd, data + done, n - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            sink->writeFailed = true;
            return 0;
        }
        done += static_cast<size_t>(w);
    }
    sink->written += static_cast<long long>(n);
    return n;
}

std::string schemeOf(const std::string& url) {
    const auto colon = url.find("://");
    std::string s = colon == std::string::npos ? std::string() : url.substr(0, colon);
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string directoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

void setDownloadLimits(const DownloadLimits& limits) {
    std::lock_guard lock(g_limitsMutex);
    g_limits = limits;
}

DownloadLimits downloadLimits() {
    std::lock_guard lock(g_limitsMutex);
    return g_limits;
}

void setDownloadObserver(DownloadObserver observer) {
    std::lock_guard lock(g_limitsMutex);
    g_observer = std::move(observer);
}

int URLDownloadToFile(const std::string& url, const std::string& path) {
    return URLDownloadToFile(url, path, downloadLimits());
}

int URLDownloadToFile(const std::string& url, const std::string& path,
                      const DownloadLimits& limits) {
    DownloadObserver observer;
    {
        std::lock_guard lock(g_limitsMutex);
        observer = g_observer;
    }
    if (observer)
        observer(url, path);
    if (url.empty() || path.empty() || url.find('\0') != std::string::npos ||
        path.find('\0') != std::string::npos)
        return -1;
    const std::string scheme = schemeOf(url);
    if (scheme != "http" && scheme != "https")
        return CURLE_UNSUPPORTED_PROTOCOL;
    // The program's downloads follow the system proxy of the store, and nothing else: an
    // empty proxy also keeps http_proxy and friends of the environment out. The store's
    // ProxyServer may be text from a web page (a harvested row): only a plain host:port
    // reaches curl.
    std::string proxy;
    if (const auto server = preconfiguredProxy())
        proxy = proxyForScheme(*server, scheme);
    if (!proxy.empty()) {
        if (!isPlainProxyName(proxy))
            return CURLE_COULDNT_RESOLVE_PROXY;
        proxy = "http://" + proxy;
    }
    initCurlOnce();

    std::string tmp = directoryOf(path) + "/.vorsa-download-XXXXXX";
    Sink sink;
    sink.maxBytes = limits.maxBytes;
    sink.fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (sink.fd < 0)
        return -1;

    CURL* curl = curl_easy_init();
    if (!curl) {
        ::close(sink.fd);
        ::unlink(tmp.c_str());
        return -1;
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, static_cast<long>(limits.maxRedirects));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, limits.totalTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, limits.stallSeconds);
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBytes));
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, 512L * 1024L);

    curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "");

    const CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);

    const bool closed = ::close(sink.fd) == 0;
    int result = 0;
    if (rc != CURLE_OK)
        result = sink.tooLarge ? CURLE_FILESIZE_EXCEEDED : sink.writeFailed ? -1 : rc;
    else if (status < 200 || status > 299)
        result = status > 0 ? static_cast<int>(status) : CURLE_WEIRD_SERVER_REPLY;
    else if (!closed || ::rename(tmp.c_str(), path.c_str()) != 0)
        result = -1;
    if (result != 0)
        ::unlink(tmp.c_str());
    return result;
}

}  // namespace vorsa
