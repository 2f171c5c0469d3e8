// Any bytes as a ros page.
#include "fuzz/fuzz_source_common.h"
#include "harvest/unros.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vorsa::fuzz::runParser(vorsa::parseRosLines, data, size);
    return 0;
}
