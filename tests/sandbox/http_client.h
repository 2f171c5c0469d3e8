#pragma once

#include <curl/curl.h>

#include <chrono>
#include <string>

namespace vorsa::test {

struct Fetched {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
    std::string contentType;
    long long elapsedMs = 0;
};

// One blocking GET with libcurl; proxy "" goes direct. Never follows redirects.
inline Fetched fetch(const std::string& url, const std::string& proxy = {}, long timeoutMs = 20000,
                     const std::string& userAgent = "sandbox-test/1.0") {
    Fetched out;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXY, proxy.empty() ? "" : ("http://" + proxy).c_str());
    curl_easy_setopt(curl, CURLOPT_NOPROXY, proxy.empty() ? "*" : "");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, userAgent.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(
        curl, CURLOPT_WRITEFUNCTION, +[](char* data, size_t size, size_t n, void* user) {
            static_cast<std::string*>(user)->append(data, size * n);
            return size * n;
        });
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &out.body);
    auto start = std::chrono::steady_clock::now();
    out.code = curl_easy_perform(curl);
    out.elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &out.status);
    char* type = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type)
        out.contentType = type;
    curl_easy_cleanup(curl);
    return out;
}

}  // namespace vorsa::test
