// The graphics card on Linux: the NVIDIA management library, device 0. The library is
// loaded at run time and never linked, so that Trevalo runs where it is missing. A call
// that fails leaves its reading at 0; nothing here ends a run.
#include <cstdio>

#include "sys/gpu.h"
#include "sys/library.h"

namespace {

// The library's interface as its documentation gives it; results are 0 for success.
using NvmlReturn = int;
using NvmlDevice = struct NvmlDeviceOpaque*;
struct NvmlUtilization {
    unsigned int gpu;
    unsigned int memory;
};
struct NvmlMemory {
    unsigned long long total;
    unsigned long long free;
    unsigned long long used;
};
constexpr NvmlReturn kNvmlSuccess = 0;
constexpr unsigned kTextLength = 96;

struct NvmlApi {
    NvmlReturn (*init)();
    NvmlReturn (*shutdown)();
    NvmlReturn (*deviceCount)(unsigned int*);
    NvmlReturn (*deviceByIndex)(unsigned int, NvmlDevice*);
    NvmlReturn (*utilization)(NvmlDevice, NvmlUtilization*);
    NvmlReturn (*encoder)(NvmlDevice, unsigned int*, unsigned int*);
    NvmlReturn (*decoder)(NvmlDevice, unsigned int*, unsigned int*);
    NvmlReturn (*memory)(NvmlDevice, NvmlMemory*);
    NvmlReturn (*name)(NvmlDevice, char*, unsigned int);
    NvmlReturn (*driverVersion)(char*, unsigned int);
    NvmlReturn (*nvmlVersion)(char*, unsigned int);
    NvmlReturn (*capability)(NvmlDevice, int*, int*);
};

template <class F>
bool Resolve(const sys::Library& library, const char* name, F& function) {
    function = reinterpret_cast<F>(library.Symbol(name));
    return function != nullptr;
}

std::string Text(NvmlReturn (*get)(char*, unsigned int)) {
    char text[kTextLength] = {};
    if (get(text, kTextLength) != kNvmlSuccess) return "n/a";
    text[kTextLength - 1] = '\0';
    return text;
}

uint16_t Percent(unsigned int value) {
    return static_cast<uint16_t>(value > 100 ? 100 : value);
}

}  // namespace

struct CGPUInfo::Source {
    sys::Library library;
    NvmlApi api{};
    NvmlDevice device = nullptr;
    bool initialised = false;

    // The library, its functions, and a first device; false leaves nothing initialised.
    bool Start(const char* path) {
        if (!library.Open(path != nullptr ? path : "libnvidia-ml.so.1")) return false;
        const bool resolved =
            Resolve(library, "nvmlInit_v2", api.init) &&
            Resolve(library, "nvmlShutdown", api.shutdown) &&
            Resolve(library, "nvmlDeviceGetCount_v2", api.deviceCount) &&
            Resolve(library, "nvmlDeviceGetHandleByIndex_v2", api.deviceByIndex) &&
            Resolve(library, "nvmlDeviceGetUtilizationRates", api.utilization) &&
            Resolve(library, "nvmlDeviceGetEncoderUtilization", api.encoder) &&
            Resolve(library, "nvmlDeviceGetDecoderUtilization", api.decoder) &&
            Resolve(library, "nvmlDeviceGetMemoryInfo", api.memory) &&
            Resolve(library, "nvmlDeviceGetName", api.name) &&
            Resolve(library, "nvmlSystemGetDriverVersion", api.driverVersion) &&
            Resolve(library, "nvmlSystemGetNVMLVersion", api.nvmlVersion) &&
            Resolve(library, "nvmlDeviceGetCudaComputeCapability", api.capability);
        if (!resolved || api.init() != kNvmlSuccess) return false;
        initialised = true;
        unsigned int count = 0;
        return api.deviceCount(&count) == kNvmlSuccess && count > 0 &&
               api.deviceByIndex(0, &device) == kNvmlSuccess;
    }
    ~Source() {
        if (initialised) api.shutdown();
    }
};

CGPUInfo::CGPUInfo(uint64_t (*tickMs)(), const char* library)
    : source_(new Source), tickMs_(tickMs) {
    gpuzRunning = source_->Start(library);
}

CGPUInfo::~CGPUInfo() = default;

bool CGPUInfo::Open() {
    openError.clear();
    if (!gpuzRunning) {
        openError = "No NVIDIA device is available";
        return false;
    }
    const NvmlApi& api = source_->api;
    char name[kTextLength] = {};
    const bool named = api.name(source_->device, name, kTextLength) == kNvmlSuccess;
    name[kTextLength - 1] = '\0';
    cardName = named ? name : "n/a";
    gpuName = cardName;
    NvmlMemory memory{};
    memSize = api.memory(source_->device, &memory) == kNvmlSuccess
                  ? std::to_string(memory.total / (1024 * 1024)) + " MB"
                  : "n/a";
    openCLVersion = "n/a";
    driverVersion = Text(api.driverVersion);
    gpuzVersion = Text(api.nvmlVersion);
    int major = 0;
    int minor = 0;
    cudaCapable = api.capability(source_->device, &major, &minor) == kNvmlSuccess && major >= 1;
    memoryUsedAvailable = memoryDedicatedAvailable = memoryDynamicAvailable = false;
    sharedMemoryOpen = true;
    return true;
}

void CGPUInfo::ReadSensors() {
    const NvmlApi& api = source_->api;
    NvmlUtilization utilization{};
    if (api.utilization(source_->device, &utilization) == kNvmlSuccess) {
        gpuLoad = Percent(utilization.gpu);
    }
    if (cudaCapable) {
        unsigned int encoder = 0, decoder = 0, period = 0;
        if (api.encoder(source_->device, &encoder, &period) != kNvmlSuccess) encoder = 0;
        if (api.decoder(source_->device, &decoder, &period) != kNvmlSuccess) decoder = 0;
        vpuLoad = Percent(encoder > decoder ? encoder : decoder);
    }
    NvmlMemory memory{};
    if (api.memory(source_->device, &memory) == kNvmlSuccess) {
        memoryUsedAvailable = true;
        const unsigned long long mb = (memory.used + 512 * 1024) / (1024 * 1024);
        memoryUsed = mb > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(mb);
    }
}

void CGPUInfo::Close() {
    sharedMemoryOpen = false;
}

namespace sys {

const char* GpuSourceMissingText() {
    return "In order to measure GPU usage, an NVIDIA driver with its management library must "
           "be installed.";
}

const char* GpuSourceName() {
    return "NVML";
}

}  // namespace sys
