// The graphics card monitor. Windows reads what GPU-Z publishes; Linux asks the NVIDIA
// driver's management library (NVML), loaded at run time so that Trevalo runs without it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class CGPUInfo {
  public:
    // Looks for the source: GPU-Z's window, or NVML with at least one device. tickMs: the
    // millisecond clock of the throttle (the timer's by default); library: NVML's file where
    // the system's is not meant.
    explicit CGPUInfo(uint64_t (*tickMs)() = nullptr, const char* library = nullptr);
    virtual ~CGPUInfo();
    CGPUInfo(const CGPUInfo&) = delete;
    CGPUInfo& operator=(const CGPUInfo&) = delete;

    // Opens the source and reads the card's description; false with openError.
    bool Open();
    // Refreshes the five readings, at most every 300 ms. A reading the source cannot give
    // stays 0.
    void Update();
    void Close();

    uint16_t gpuLoad = 0;
    uint16_t vpuLoad = 0;  // video engine; read only for a CUDA-capable card
    uint32_t memoryUsed = 0, memoryDedicated = 0, memoryDynamic = 0;  // MB
    std::string gpuzVersion = "Unknown";  // the source and its version, for the log
    std::string cardName, gpuName, memSize, openCLVersion, driverVersion;
    bool cudaCapable = false;
    bool memoryUsedAvailable = false, memoryDynamicAvailable = false,
         memoryDedicatedAvailable = false;
    bool gpuzRunning = false;  // the source is there
    bool sharedMemoryOpen = false;
    std::string openError;

    struct Source;  // one per system

  private:
    void ReadSensors();  // one per system

    std::unique_ptr<Source> source_;
    uint64_t (*tickMs_)();
    uint64_t lastUpdateMs_ = 0;
    bool updated_ = false;
};

namespace sys {
// The -gpu precondition's message when no source runs, for this system.
const char* GpuSourceMissingText();
// "Info collected with:" names the source: "GPU-Z 2.1.0", "NVML 12.535.98".
const char* GpuSourceName();
}  // namespace sys
