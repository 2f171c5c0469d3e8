#pragma once

#include <functional>
#include <string>

namespace vorsa {

// Blocking download of url into the file path on the calling thread. 0 when the file holds
// the response body byte for byte (content decoding done); anything else is failure, and an
// existing file of that name is left untouched (temp name beside it + rename on success).
//
// How it behaves, for callers that need to know: only http:// and https:// URLs are
// fetched, also after a redirect (a page can never make us read file:// or another scheme);
// redirects are followed up to maxRedirects; the final status must be 2xx; the body is
// decoded (gzip, deflate) as a browser would; a transfer that cannot connect, takes longer
// than the whole-transfer time, or moves no byte for stallSeconds fails; a decoded body above
// maxBytes fails. When the Internet Settings store has ProxyEnable=1 the request goes through
// its ProxyServer, otherwise direct (proxy variables of the environment are ignored); a
// ProxyServer that is not a plain host:port is never handed to curl, and the download fails
// with CURLE_COULDNT_RESOLVE_PROXY.
// Failure values: a libcurl error code (1..99), the HTTP status of a non-2xx answer
// (100..599), or -1 for a bad argument or a local file error. Safe to call from any thread.
int URLDownloadToFile(const std::string& url, const std::string& path);

struct DownloadLimits {
    long connectTimeoutMs = 15000;
    long totalTimeoutMs = 60000;
    long long maxBytes = (64LL << 20) - 1;  // a page of 64 MiB or more is refused
    int maxRedirects = 10;
    long stallSeconds = 30;  // below one byte a second for this long: the server is gone
};

void setDownloadLimits(const DownloadLimits&);  // tests inject short ones
DownloadLimits downloadLimits();

// Tests watch the downloads: called on the downloading thread as each URLDownloadToFile
// begins, with its URL and target path. An empty function removes it.
using DownloadObserver = std::function<void(const std::string& url, const std::string& path)>;
void setDownloadObserver(DownloadObserver observer);

// The same download with limits of its own for this one call (the location lookup bounds
// each answer more tightly than a harvest page); the process-wide limits stay as they are.
int URLDownloadToFile(const std::string& url, const std::string& path,
                      const DownloadLimits& limits);

}  // namespace vorsa
