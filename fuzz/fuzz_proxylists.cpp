// Any bytes as a proxylists page.
#include "fuzz/fuzz_source_common.h"
#include "harvest/unplist.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vorsa::fuzz::runParser(vorsa::parseProxylistsLines, data, size);
    return 0;
}
