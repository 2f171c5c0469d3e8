// Any bytes as a cnp page.
#include "fuzz/fuzz_source_common.h"
#include "harvest/uncnp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vorsa::fuzz::runParser(vorsa::parseCnpLines, data, size);
    vorsa::DecodeCnpPort(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
