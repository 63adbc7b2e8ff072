// GPU-Z's shared memory: the data placed over the first data records and, again, over the
// first sensor records of an otherwise empty block, so that both readers meet it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "sys/gpuz_block.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::vector<uint8_t> block(sys::kGpuzBlockBytes);
    static size_t written = 0;  // only what the last input wrote needs zeroing again
    const size_t dataBytes = std::min(size, sys::kGpuzSensorOffset - sys::kGpuzDataOffset);
    const size_t sensorBytes = std::min(size, sys::kGpuzBlockBytes - sys::kGpuzSensorOffset);
    std::fill_n(block.begin() + sys::kGpuzDataOffset,
                std::min(written, sys::kGpuzSensorOffset - sys::kGpuzDataOffset), 0);
    std::fill_n(block.begin() + sys::kGpuzSensorOffset,
                std::min(written, sys::kGpuzBlockBytes - sys::kGpuzSensorOffset), 0);
    written = size;
    std::memcpy(block.data() + sys::kGpuzDataOffset, data, dataBytes);
    std::memcpy(block.data() + sys::kGpuzSensorOffset, data, sensorBytes);
    const sys::GpuzCard card = sys::ReadGpuzCard(block.data(), block.size());
    sys::ReadGpuzSensors(block.data(), block.size(), card.cudaCapable);
    bool found = false;
    sys::GpuzVersionFromTitles({std::string(reinterpret_cast<const char*>(data), size)}, found);
    return 0;
}
