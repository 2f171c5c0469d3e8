// GetTag and ReplaceAll on any bytes: first byte = name length, then the name, then the text.
#include "harvest/ufun.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t nameLen = std::min<std::size_t>(data[0] % 16, size - 1);
    const std::string name(reinterpret_cast<const char*>(data + 1), nameLen);
    std::string text(reinterpret_cast<const char*>(data + 1 + nameLen), size - 1 - nameLen);

    // Each call that finds an element removes at least that element, so the text shrinks.
    for (int i = 0; i < 1000; ++i) {
        const std::size_t before = text.size();
        const std::string value = vorsa::GetTag(text, name);
        if (text.size() > before || value.size() > before)
            std::abort();
        if (text.size() == before)
            break;
    }

    // Replacing a name by itself changes nothing; by "" never grows the text.
    const std::string all(reinterpret_cast<const char*>(data), size);
    if (vorsa::ReplaceAll(all, name, name) != all || vorsa::ReplaceAll(all, name, "").size() > size)
        std::abort();
    return 0;
}
