// The location rule on any answer page, and the lookup URL on any address text.
#include "lists/location_lookup.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    // The location is a piece of one line of the page.
    const std::string place = vorsa::locationFromPage(text);
    if (place.size() > size || place.find_first_of("\r\n") != std::string::npos ||
        (!place.empty() && text.find(place) == std::string::npos))
        std::abort();

    // Whatever the address, the URL keeps its host, path and fixed parameter.
    const std::string base = "http://127.0.0.1:1";
    const std::string url = vorsa::ipcityUrl(base, text);
    const std::string tail = "&action=2";
    if (url.rfind(base + "/ips.asp?ip=", 0) != 0 || url.size() < tail.size() ||
        url.compare(url.size() - tail.size(), tail.size(), tail) != 0)
        std::abort();
    for (std::size_t i = base.size() + 12; i + tail.size() < url.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(url[i]);
        if (c <= ' ' || c >= 0x7F || c == '&' || c == '#' || c == '/' || c == '?')
            std::abort();
    }
    return 0;
}
