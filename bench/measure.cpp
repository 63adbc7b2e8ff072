#include "bench/measure.h"

#include <string>

#include "app/settings.h"
#include "bench/display.h"
#include "bench/loop.h"
#include "sys/gpu.h"
#include "sys/process_info.h"
#include "sys/se_exception.h"
#include "sys/terminal.h"
#include "sys/timer.h"
#include "sys/utils.h"

namespace bench {

namespace {

bool Con() {
    return g_settings.ConUseSTDOUT != 0;
}

// "\r", the text padded to the console width, then tail.
void PrintPadded(const char* text, const char* tail) {
    g_utils.Print(Con(), 0, "\r%s%s", g_utils.PadToConsoleWidth(text).c_str(), tail);
}

void ShowReading(uint32_t frames) {
    PrintPadded(frames > 1 ? "Reading frames..." : "Reading frame...", "\r");
}

// Clears the four lines of the range prompt from the bottom up.
void ClearRangePrompt() {
    for (int i = 0; i < 3; ++i) {
        PrintPadded("", "");
        g_utils.CursorUp(1);
    }
    PrintPadded("", "");
}

}  // namespace

bool ResolveFrameRange(const avs::VideoInfo& videoInfo, FrameRange& range) {
    g_utils.Print(Con(), 0, "\n");
    const int64_t frames = videoInfo.raw.num_frames;
    const int64_t first = g_settings.FrameRangeFirst;
    const int64_t last = g_settings.FrameRangeLast == -1 ? frames - 1 : g_settings.FrameRangeLast;
    if (first >= 0 && first <= last && last < frames) {
        range.first = static_cast<uint32_t>(first);
        range.last = static_cast<uint32_t>(last);
        ShowReading(range.last - range.first + 1);
        return true;
    }
    PrintPadded("", "");
    g_utils.Print(Con(), 0x0B, "\rInvalid frame range specified:\n");
    g_utils.Print(Con(), 0x0F, "\r\"%s\"\n\n", g_settings.FrameRangeText.c_str());
    // A clip without frames never gets here; even so, 0 - 1 must not show as 4294967295.
    g_utils.Print(Con(), 0, "\rProceed with default (%u,%u)? [y/n]", 0u,
                  static_cast<unsigned>(frames > 0 ? frames - 1 : 0));
    const bool accepted = sys::AskYesNo(100);
    ClearRangePrompt();
    if (!accepted) {
        PrintPadded("", "\n");
        PrintPadded("", "\n");
        return false;
    }
    range.first = 0;
    range.last = static_cast<uint32_t>(frames - 1);
    ShowReading(static_cast<uint32_t>(frames));
    return true;
}

uint32_t WidenedInterval(uint32_t rangeFrames, uint32_t interval) {
    uint64_t widened = interval > 0 ? interval : 1;
    while (rangeFrames / widened > kMostSamples)
        widened *= 10;
    return static_cast<uint32_t>(widened);
}

size_t SampleCapacity(uint32_t rangeFrames, uint32_t interval) {
    return static_cast<size_t>(rangeFrames / interval) + 2;
}

namespace {

// The loop's host in a real run: the clip, the high-resolution clock, the process probe, the
// live block on a terminal, and Esc or Ctrl+C to stop.
class LiveHost {
  public:
    LiveHost(const avs::Clip& clip, CGPUInfo* gpu) : clip_(clip), gpu_(gpu) {}

    avs::FrameRequester Frames() const { return clip_.Requester(); }
    double Seconds() { return g_timer.GetSeconds(); }
    ProcessFigures Probe() {
        probe_.Update();
        return {probe_.cpuUsage, probe_.threadCount, probe_.physicalMB, probe_.virtualMB,
                probe_.cpuMeasured};
    }
    bool Gpu(GpuFigures& figures) {
        if (gpu_ == nullptr) return false;
        gpu_->Update();
        figures.gpuLoad = gpu_->gpuLoad;
        figures.vpuLoad = gpu_->vpuLoad;
        figures.memoryUsedMB = gpu_->memoryUsed;
        figures.dedicatedMB = gpu_->memoryDedicated;
        figures.dynamicMB = gpu_->memoryDynamic;
        figures.vpuAvailable = gpu_->cudaCapable;
        figures.memoryUsedAvailable = gpu_->memoryUsedAvailable;
        figures.dedicatedAvailable = gpu_->memoryDedicatedAvailable;
        figures.dynamicAvailable = gpu_->memoryDynamicAvailable;
        return true;
    }
    void Refresh(RunTotals& t, uint32_t n, const ProcessFigures& probe, const GpuFigures* gpu) {
        // A redirected run gets no block: it would append the whole block at each refresh.
        if (!draw_) return;
        if (!t.firstRefresh) g_utils.CursorUp(static_cast<int>(t.displayLines));
        t.displayLines = PrintBlock(LiveBlock(t, n, probe.cpuUsage, gpu, g_settings));
        t.firstRefresh = false;
    }
    bool StopRequested() {
        if (interrupt_.Requested()) return true;
        // Every waiting key is consumed; only Esc stops.
        bool esc = false;
        while (sys::KeyPressed()) {
            const int key = sys::ReadKey();
            if (key == sys::kKeyEsc) esc = true;
            if (key == sys::kKeyEndOfInput) break;
        }
        return esc;
    }
    void EnterOwnCode() { sys::EnterOwnCode(); }
    void LeaveOwnCode() { sys::LeaveOwnCode(); }
    void Close() {
        probe_.Close();
        if (gpu_ != nullptr) gpu_->Close();
    }

  private:
    const avs::Clip& clip_;
    CGPUInfo* gpu_;
    CProcessInfo probe_;
    const bool draw_ = sys::IsTerminal(Con());
    const sys::KeyboardMode keyboard_;  // Esc is read without echo or Enter
    const sys::InterruptCatcher interrupt_;
};

}  // namespace

RunEnd MeasureFrames(avs::ScriptSession& session, const FrameRange& range, uint32_t refreshInterval,
                     Samples& samples, RunTotals& totals, CGPUInfo* monitor, GpuFigures& gpu) {
    totals = RunTotals{};
    totals.firstFrame = range.first;
    totals.lastFrame = range.last;
    totals.rangeFrames = range.last - range.first + 1;
    totals.refreshInterval = WidenedInterval(totals.rangeFrames, refreshInterval);
    samples.assign(SampleCapacity(totals.rangeFrames, totals.refreshInterval), FrameSample{});

    LiveHost host(session.clip, monitor);
    const RunEnd end = RunLoop(host, g_settings.TimeLimit, totals, samples.data());
    host.Gpu(gpu);
    host.Close();
    return end;
}

}  // namespace bench
