// Any bytes as the antipalivo page, and the address pattern against a plain scan of it.
#include "fuzz/fuzz_source_common.h"
#include "harvest/unantipalivo.h"

#include <string>

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The leftmost run of four dot-joined digit groups, the last group taken whole.
std::string reference(std::string_view s) {
    for (std::size_t start = 0; start < s.size(); ++start) {
        if (!isDigit(s[start]))
            continue;
        std::size_t i = start;
        int groups = 0;
        for (;;) {
            const std::size_t from = i;
            while (i < s.size() && isDigit(s[i]))
                ++i;
            if (i == from)
                break;
            if (++groups == 4)
                return std::string(s.substr(start, i - start));
            if (i >= s.size() || s[i] != '.')
                break;
            ++i;
        }
    }
    return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    vorsa::fuzz::runParser(vorsa::parseAntipalivoLines, data, size);
    // Only short inputs: the reference scan is quadratic.
    if (size <= 4096 && vorsa::findDottedAddress(text) != reference(text))
        std::abort();
    const std::string port = vorsa::DecodeAntiPort(text);
    if (port.size() > size)
        std::abort();
    return 0;
}
