// GPU-Z's shared-memory block, read by pure functions: the card description from its data
// records and the five sensors from its sensor records. The block is another program's
// memory: every text is bounded by its field, every number is checked before conversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sys {

constexpr size_t kGpuzRecords = 128;
constexpr size_t kGpuzDataOffset = 12;
constexpr size_t kGpuzDataRecordBytes = 1024;
constexpr size_t kGpuzSensorOffset = kGpuzDataOffset + kGpuzRecords * kGpuzDataRecordBytes;
constexpr size_t kGpuzSensorRecordBytes = 540;
constexpr size_t kGpuzSensorValueOffset = 532;
constexpr size_t kGpuzTextUnits = 256;  // UTF-16 units of a key, a value or a name
// The part of the block that is read; a smaller block reads as empty.
constexpr size_t kGpuzBlockBytes = kGpuzSensorOffset + kGpuzRecords * kGpuzSensorRecordBytes;

struct GpuzCard {
    std::string cardName, gpuName, memSize, openCLVersion, driverVersion;
    bool cudaCapable = false;  // "CUDA" not 0 and "CUDA_Capability" at least 1.0
};

struct GpuzSensors {
    uint16_t gpuLoad = 0;
    uint16_t vpuLoad = 0;  // only read for a CUDA-capable card
    uint32_t memoryUsed = 0, memoryDedicated = 0, memoryDynamic = 0;
    bool memoryUsedSeen = false, memoryDedicatedSeen = false, memoryDynamicSeen = false;
};

// A zero-terminated UTF-16LE text of at most units code units, as UTF-8; a text without its
// terminator ends at the field's end, and a lone surrogate becomes a blank.
std::string Utf16FieldToUtf8(const uint8_t* field, size_t units);

// The card description; a later record with the same key replaces an earlier one, and a
// value of blanks only is ignored.
GpuzCard ReadGpuzCard(const uint8_t* block, size_t size);

// The sensors "GPU Load", "Video Engine Load", "Memory Used", "Memory Usage (Dedicated)"
// and "Memory Usage (Dynamic)", rounded half up; a later sensor replaces an earlier one.
GpuzSensors ReadGpuzSensors(const uint8_t* block, size_t size, bool cudaCapable);

// The window test's result over the top-level window titles (each read as at most 63
// characters): found when a lower-cased title contains "gpu-z"; the version is the last five
// characters of the last such title when they are digits and dots only, else "Unknown".
std::string GpuzVersionFromTitles(const std::vector<std::string>& titles, bool& found);

}  // namespace sys
