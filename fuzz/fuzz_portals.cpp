// The four portal parsers on any page.
#include "harvest/ungetnewurl.h"
#include "platform/text_lines.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto lines =
        vorsa::splitLines(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string base = "http://127.0.0.1:1";
    if (vorsa::parsePortalA(lines, base).size() > 2 ||
        vorsa::parsePortalB(lines, base).size() > 2 ||
        vorsa::parsePortalC(lines, base).size() > 1 || vorsa::parsePortalD(lines, base).size() > 7)
        std::abort();
    for (const auto& link : vorsa::parsePortalD(lines, base))
        if (link.compare(0, base.size(), base) != 0)
            std::abort();
    return 0;
}
