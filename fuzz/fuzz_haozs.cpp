// Any bytes as a haozs page.
#include "fuzz/fuzz_source_common.h"
#include "harvest/ugethaozs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vorsa::fuzz::runParser(vorsa::parseHaozsLines, data, size);
    return 0;
}
