// The monitor's rules that hold for every source: the 300 ms throttle.
#include "sys/gpu.h"

#include "sys/timer.h"

namespace {
constexpr uint64_t kUpdatePeriodMs = 300;

uint64_t TimerTickMs() {
    return g_timer.GetTickMs();
}
}  // namespace

void CGPUInfo::Update() {
    if (!sharedMemoryOpen) return;
    const uint64_t now = (tickMs_ ? tickMs_ : TimerTickMs)();
    if (updated_ && now - lastUpdateMs_ < kUpdatePeriodMs) return;
    gpuLoad = vpuLoad = 0;
    memoryUsed = memoryDedicated = memoryDynamic = 0;
    ReadSensors();
    updated_ = true;
    lastUpdateMs_ = (tickMs_ ? tickMs_ : TimerTickMs)();
}
