// Any bytes as a proxynet page.
#include "fuzz/fuzz_source_common.h"
#include "harvest/unpnet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vorsa::fuzz::runParser(vorsa::parseProxynetLines, data, size);
    return 0;
}
