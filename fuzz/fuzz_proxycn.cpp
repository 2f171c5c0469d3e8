// Any bytes as a proxycn page.
#include "fuzz/fuzz_source_common.h"
#include "harvest/uproxycn.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vorsa::fuzz::runParser(vorsa::parseProxycnLines, data, size);
    return 0;
}
