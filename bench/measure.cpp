#include "bench/measure.h"

#include <algorithm>
#include <string>

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

void PrintPadded(const char* text, const char* tail) {
    g_utils.PrintPadded(0, text, tail);
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

bool ResolveFrameRange(const avs::VideoInfo& videoInfo, const RangeRequest& request,
                       FrameRange& range) {
    const bool con = g_utils.ConsoleIsStdout();
    g_utils.Print(con, 0, "\n");
    const int64_t frames = videoInfo.raw.num_frames;
    const int64_t first = request.first;
    const int64_t last = request.last == -1 ? frames - 1 : request.last;
    if (first >= 0 && first <= last && last < frames) {
        range.first = static_cast<uint32_t>(first);
        range.last = static_cast<uint32_t>(last);
        ShowReading(range.last - range.first + 1);
        return true;
    }
    PrintPadded("", "");
    g_utils.Print(con, 0x0B, "\rInvalid frame range specified:\n");
    g_utils.Print(con, 0x0F, "\r\"%s\"\n\n", request.text.c_str());
    // A clip without frames never gets here; even so, 0 - 1 must not show as 4294967295.
    g_utils.Print(con, 0, "\rProceed with default (%u,%u)? [y/n]", 0u,
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

class LiveInstruments : public Instruments {
  public:
    LiveInstruments(CGPUInfo* gpu, const DisplayOptions& display) : gpu_(gpu), display_(display) {}
    ~LiveInstruments() override {
        probe_.Close();
        if (gpu_ != nullptr) gpu_->Close();
    }

    double Seconds() override { return g_timer.GetSeconds(); }
    ProcessFigures Probe() override {
        probe_.Update();
        return {probe_.cpuUsage, probe_.threadCount, probe_.physicalMB, probe_.virtualMB,
                probe_.cpuMeasured};
    }
    bool Gpu(GpuFigures& figures) override {
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
    void Refresh(RunTotals& t, uint32_t n, const ProcessFigures& probe,
                 const GpuFigures* gpu) override {
        // A redirected run gets no block: it would append the whole block at each refresh.
        if (!draw_) return;
        if (!t.firstRefresh) g_utils.CursorUp(static_cast<int>(t.displayLines));
        t.displayLines = PrintBlock(LiveBlock(t, n, probe.cpuUsage, gpu, display_));
        t.firstRefresh = false;
    }
    bool StopRequested() override {
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
    void EnterOwnCode() override { sys::EnterOwnCode(); }
    void LeaveOwnCode() override { sys::LeaveOwnCode(); }

  private:
    CGPUInfo* gpu_;
    const DisplayOptions display_;
    CProcessInfo probe_;
    const bool draw_ = sys::IsTerminal(g_utils.ConsoleIsStdout());
    const sys::KeyboardMode keyboard_;  // Esc is read without echo or Enter
    const sys::InterruptCatcher interrupt_;
};

// The loop's host: the clip's frame requests, everything else from the instruments.
class LoopHost {
  public:
    LoopHost(const avs::Clip& clip, Instruments& instruments)
        : frames_(clip.Requester()), in_(instruments) {}

    avs::FrameRequester Frames() const { return frames_; }
    double Seconds() { return in_.Seconds(); }
    ProcessFigures Probe() { return in_.Probe(); }
    bool Gpu(GpuFigures& figures) { return in_.Gpu(figures); }
    void Refresh(RunTotals& t, uint32_t n, const ProcessFigures& probe, const GpuFigures* gpu) {
        in_.Refresh(t, n, probe, gpu);
    }
    bool StopRequested() { return in_.StopRequested(); }
    void EnterOwnCode() { in_.EnterOwnCode(); }
    void LeaveOwnCode() { in_.LeaveOwnCode(); }

  private:
    const avs::FrameRequester frames_;
    Instruments& in_;
};

}  // namespace

std::unique_ptr<Instruments> MakeLiveInstruments(CGPUInfo* gpu, const DisplayOptions& display) {
    return std::make_unique<LiveInstruments>(gpu, display);
}

RunEnd MeasureFrames(const avs::Clip& clip, const FrameRange& range, uint32_t refreshInterval,
                     int64_t timeLimitSeconds, Instruments& instruments, Samples& samples,
                     RunTotals& totals, GpuFigures& gpu, FrameSample* mirror,
                     size_t mirrorCapacity) {
    totals = RunTotals{};
    totals.firstFrame = range.first;
    totals.lastFrame = range.last;
    totals.rangeFrames = range.last - range.first + 1;
    totals.refreshInterval = WidenedInterval(totals.rangeFrames, refreshInterval);
    const size_t capacity = SampleCapacity(totals.rangeFrames, totals.refreshInterval);
    FrameSample* store = mirror;
    if (mirror != nullptr && capacity <= mirrorCapacity) {
        std::fill(mirror, mirror + capacity, FrameSample{});
        samples.clear();
    } else {
        samples.assign(capacity, FrameSample{});
        store = samples.data();
    }

    LoopHost host(clip, instruments);
    const RunEnd end = RunLoop(host, timeLimitSeconds, totals, store);
    if (store == mirror) samples.assign(mirror, mirror + capacity);
    instruments.Gpu(gpu);
    return end;
}

}  // namespace bench
