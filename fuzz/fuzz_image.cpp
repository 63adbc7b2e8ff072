// A library image as the installation check inspects it: ELF or PE headers, symbol and
// export names, the compiler record.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "avs/image_facts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    ImageFacts facts;
    std::string error;
    InspectImage(bytes, facts, error);
    return 0;
}
