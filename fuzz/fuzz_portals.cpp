// The four portal parsers on any page; every link they build stays on the portal's host.
#include "harvest/ungetnewurl.h"
#include "platform/text_lines.h"

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

// Host and port as libcurl (the download's parser) reads them, or false when it refuses url.
bool sameAuthority(const std::string& url, const char* host, const char* port) {
    CURLU* u = curl_url();
    bool same = false;
    if (u && curl_url_set(u, CURLUPART_URL, url.c_str(),
                          CURLU_GUESS_SCHEME | CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK) {
        char* h = nullptr;
        char* p = nullptr;
        char* user = nullptr;
        same = curl_url_get(u, CURLUPART_HOST, &h, 0) == CURLUE_OK && std::strcmp(h, host) == 0 &&
               curl_url_get(u, CURLUPART_PORT, &p, 0) == CURLUE_OK && std::strcmp(p, port) == 0 &&
               curl_url_get(u, CURLUPART_USER, &user, 0) != CURLUE_OK;
        curl_free(h);
        curl_free(p);
        curl_free(user);
    }
    curl_url_cleanup(u);
    return same;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto lines =
        vorsa::splitLines(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string base = "http://127.0.0.1:1";
    const auto a = vorsa::parsePortalA(lines, base);
    const auto b = vorsa::parsePortalB(lines, base);
    const auto c = vorsa::parsePortalC(lines, base);
    const auto d = vorsa::parsePortalD(lines, base);
    if (a.size() > 2 || b.size() > 2 || c.size() > 1 || d.size() > 7)
        std::abort();
    for (const auto* links : {&a, &b, &c, &d}) {
        for (const auto& link : *links) {
            if (link.compare(0, base.size(), base) != 0 || !sameAuthority(link, "127.0.0.1", "1"))
                std::abort();
        }
    }
    return 0;
}
