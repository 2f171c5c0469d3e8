// The custom-URL address search on any page: every row is digits and dots, a colon's worth of
// digits for the port.
#include "harvest/undownurl.h"
#include "platform/text_lines.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

bool only(const std::string& s, std::string_view allowed) {
    return !s.empty() && s.find_first_not_of(allowed) == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto lines =
        vorsa::splitLines(std::string_view(reinterpret_cast<const char*>(data), size));
    vorsa::parseDownurlLines(lines, [](const vorsa::HarvestRow& row) {
        if (!only(row.Ip, "0123456789.") || !only(row.Port, "0123456789"))
            std::abort();
    });
    return 0;
}
