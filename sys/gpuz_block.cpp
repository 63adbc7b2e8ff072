#include "sys/gpuz_block.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "sys/utils.h"

namespace sys {
namespace {

uint16_t UnitAt(const uint8_t* field, size_t i) {
    return static_cast<uint16_t>(field[2 * i] | (field[2 * i + 1] << 8));
}

void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The exact name in a UTF-16 field: compared unit by unit, so no conversion can make two
// different names equal.
bool FieldEquals(const uint8_t* field, const char* name) {
    size_t i = 0;
    for (; name[i] != '\0'; ++i) {
        if (i == kGpuzTextUnits || UnitAt(field, i) != static_cast<unsigned char>(name[i])) {
            return false;
        }
    }
    return i == kGpuzTextUnits || UnitAt(field, i) == 0;
}

template <class T>
T Rounded(double value) {
    if (!(value >= 0.0)) return 0;  // negative or not a number
    const double rounded = value + 0.5;
    if (rounded >= static_cast<double>(std::numeric_limits<T>::max())) {
        return std::numeric_limits<T>::max();
    }
    return static_cast<T>(rounded);
}

}  // namespace

std::string Utf16FieldToUtf8(const uint8_t* field, size_t units) {
    std::string out;
    for (size_t i = 0; i < units; ++i) {
        const uint32_t unit = UnitAt(field, i);
        if (unit == 0) break;
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
            const uint32_t low = UnitAt(field, i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, unit >= 0xD800 && unit <= 0xDFFF ? ' ' : unit);
    }
    return out;
}

GpuzCard ReadGpuzCard(const uint8_t* block, size_t size) {
    GpuzCard card;
    if (block == nullptr || size < kGpuzBlockBytes) return card;
    long cudaMark = 0;
    double capability = 0.0;
    for (size_t r = 0; r < kGpuzRecords; ++r) {
        const uint8_t* record = block + kGpuzDataOffset + r * kGpuzDataRecordBytes;
        std::string value = Utf16FieldToUtf8(record + 2 * kGpuzTextUnits, kGpuzTextUnits);
        CUtils::Trim(value);
        if (value.empty()) continue;
        if (FieldEquals(record, "CardName")) card.cardName = value;
        if (FieldEquals(record, "GPUName")) card.gpuName = value;
        if (FieldEquals(record, "MemSize")) card.memSize = value;
        if (FieldEquals(record, "DriverVersion")) card.driverVersion = value;
        if (FieldEquals(record, "OpenCL_Version")) card.openCLVersion = value;
        if (FieldEquals(record, "CUDA"))
            cudaMark = static_cast<uint8_t>(std::strtol(value.c_str(), nullptr, 10));
        if (FieldEquals(record, "CUDA_Capability"))
            capability = std::strtod(value.c_str(), nullptr);
    }
    card.cudaCapable = cudaMark != 0 && capability >= 1.0;
    return card;
}

GpuzSensors ReadGpuzSensors(const uint8_t* block, size_t size, bool cudaCapable) {
    GpuzSensors sensors;
    if (block == nullptr || size < kGpuzBlockBytes) return sensors;
    for (size_t r = 0; r < kGpuzRecords; ++r) {
        const uint8_t* record = block + kGpuzSensorOffset + r * kGpuzSensorRecordBytes;
        double value = 0.0;
        std::memcpy(&value, record + kGpuzSensorValueOffset, sizeof value);
        if (FieldEquals(record, "GPU Load")) {
            sensors.gpuLoad = Rounded<uint16_t>(value);
        } else if (cudaCapable && FieldEquals(record, "Video Engine Load")) {
            sensors.vpuLoad = Rounded<uint16_t>(value);
        } else if (FieldEquals(record, "Memory Used")) {
            sensors.memoryUsedSeen = true;
            sensors.memoryUsed = Rounded<uint32_t>(value);
        } else if (FieldEquals(record, "Memory Usage (Dedicated)")) {
            sensors.memoryDedicatedSeen = true;
            sensors.memoryDedicated = Rounded<uint32_t>(value);
        } else if (FieldEquals(record, "Memory Usage (Dynamic)")) {
            sensors.memoryDynamicSeen = true;
            sensors.memoryDynamic = Rounded<uint32_t>(value);
        }
    }
    return sensors;
}

std::string GpuzVersionFromTitles(const std::vector<std::string>& titles, bool& found) {
    found = false;
    std::string lastFive;
    for (const std::string& title : titles) {
        std::string lowered = title.substr(0, 63);
        CUtils::ToLower(lowered);
        if (lowered.find("gpu-z") == std::string::npos) continue;
        found = true;
        lastFive = lowered.size() > 5 ? lowered.substr(lowered.size() - 5) : lowered;
    }
    if (lastFive.empty() || lastFive.find_first_not_of("0123456789.") != std::string::npos) {
        return "Unknown";
    }
    return lastFive;
}

}  // namespace sys
