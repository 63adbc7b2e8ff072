// The graphics card on Windows: what GPU-Z publishes. Its main window tells that it runs and
// which version it is; its shared memory "GPUZShMem" holds the card's description and the
// sensors, read without a lock and never written.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sys/gpu.h"
#include "sys/gpuz_block.h"

namespace {

constexpr DWORD kPauseAfterWindowTestMs = 100;

BOOL CALLBACK CollectTitle(HWND window, LPARAM context) {
    char title[64] = {};
    GetWindowTextA(window, title, sizeof title);
    reinterpret_cast<std::vector<std::string>*>(context)->push_back(title);
    return TRUE;  // the last matching window gives the version
}

std::string SystemErrorText() {
    const DWORD code = GetLastError();
    if (code == 0) return "";
    char* text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string result = length > 0 && text != nullptr ? std::string(text, length) : "";
    if (text != nullptr) LocalFree(text);
    return result;
}

}  // namespace

struct CGPUInfo::Source {
    std::string windowVersion = "Unknown";
    HANDLE mapping = nullptr;
    const uint8_t* view = nullptr;
    size_t viewBytes = 0;  // what the mapping really holds, so that no read passes its end

    ~Source() { Unmap(); }
    void Unmap() {
        if (view != nullptr) UnmapViewOfFile(view);
        if (mapping != nullptr) CloseHandle(mapping);
        view = nullptr;
        mapping = nullptr;
        viewBytes = 0;
    }
};

CGPUInfo::CGPUInfo(uint64_t (*tickMs)(), const char*) : source_(new Source), tickMs_(tickMs) {
    std::vector<std::string> titles;
    EnumWindows(CollectTitle, reinterpret_cast<LPARAM>(&titles));
    source_->windowVersion = sys::GpuzVersionFromTitles(titles, gpuzRunning);
    Sleep(kPauseAfterWindowTestMs);
}

CGPUInfo::~CGPUInfo() = default;

bool CGPUInfo::Open() {
    openError.clear();
    source_->mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "GPUZShMem");
    if (source_->mapping == nullptr) {
        openError = SystemErrorText();
        return false;
    }
    void* view = MapViewOfFile(source_->mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (view == nullptr) {
        openError = SystemErrorText();
        source_->Unmap();
        return false;
    }
    MEMORY_BASIC_INFORMATION region{};
    VirtualQuery(view, &region, sizeof region);
    source_->view = static_cast<const uint8_t*>(view);
    source_->viewBytes = region.RegionSize;
    sharedMemoryOpen = true;

    const sys::GpuzCard card = sys::ReadGpuzCard(source_->view, source_->viewBytes);
    cardName = card.cardName;
    gpuName = card.gpuName;
    memSize = card.memSize;
    openCLVersion = card.openCLVersion;
    driverVersion = card.driverVersion;
    cudaCapable = card.cudaCapable;
    gpuzVersion = source_->windowVersion;
    memoryUsedAvailable = memoryDedicatedAvailable = memoryDynamicAvailable = false;
    return true;
}

void CGPUInfo::ReadSensors() {
    const sys::GpuzSensors s = sys::ReadGpuzSensors(source_->view, source_->viewBytes, cudaCapable);
    gpuLoad = s.gpuLoad;
    vpuLoad = s.vpuLoad;
    memoryUsed = s.memoryUsed;
    memoryDedicated = s.memoryDedicated;
    memoryDynamic = s.memoryDynamic;
    // Once seen, a sensor stays available until the next Open.
    memoryUsedAvailable = memoryUsedAvailable || s.memoryUsedSeen;
    memoryDedicatedAvailable = memoryDedicatedAvailable || s.memoryDedicatedSeen;
    memoryDynamicAvailable = memoryDynamicAvailable || s.memoryDynamicSeen;
}

void CGPUInfo::Close() {
    if (!sharedMemoryOpen) return;
    source_->Unmap();
    sharedMemoryOpen = false;
}

namespace sys {

const char* GpuSourceMissingText() {
    return "In order to measure GPU usage, GPU-Z must be running.";
}

const char* GpuSourceName() {
    return "GPU-Z";
}

}  // namespace sys
