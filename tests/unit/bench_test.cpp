// The measurement loop on a fake host, the live block and summary texts, the process probe.
#include <gtest/gtest.h>

#include "bench/display.h"
#include "bench/loop.h"
#include "sys/process_info.h"

namespace bench {
namespace {

// A host whose clock advances by a fixed step per frame, with scripted probe readings.
struct FakeHost {
    double clock = 100.0;
    double secondsPerFrame = 0.01;
    std::vector<uint16_t> cpuReadings = {0};
    size_t probes = 0;
    std::vector<uint32_t> refreshedAt;
    int stopAtRefresh = -1;  // StopRequested answers yes at this refresh (0-based)
    bool gpuOn = false;
    size_t unmeasuredProbes = 0;     // the first probe readings carry no CPU figure yet
    uint32_t slowFrom = 0xFFFFFFFF;  // frames from here on take a second more

    auto Frames() {
        return [this](int n) {
            clock += secondsPerFrame + (static_cast<uint32_t>(n) >= slowFrom ? 1.0 : 0.0);
        };
    }
    double Seconds() const { return clock; }
    ProcessFigures Probe() {
        const uint16_t cpu = cpuReadings[std::min(probes, cpuReadings.size() - 1)];
        ++probes;
        const auto n = static_cast<uint32_t>(probes);  // threads and memory grow by one a reading
        return {cpu, static_cast<uint16_t>(6 + n), n, 5, probes > unmeasuredProbes};
    }
    bool Gpu(GpuFigures& gpu) {
        gpu.gpuLoad = 40;
        gpu.vpuLoad = 10;
        return gpuOn;
    }
    void Refresh(RunTotals&, uint32_t n, const ProcessFigures&, const GpuFigures*) {
        refreshedAt.push_back(n);
    }
    void EnterOwnCode() {}
    void LeaveOwnCode() {}
    bool StopRequested() const { return static_cast<int>(refreshedAt.size()) - 1 == stopAtRefresh; }
};

struct LoopRun {
    RunTotals totals;
    std::vector<FrameSample> records;
    RunEnd end;
};

LoopRun Measure(FakeHost& host, uint32_t first, uint32_t frames, uint32_t interval,
                int64_t timeLimit = -1) {
    LoopRun run;
    run.totals.firstFrame = first;
    run.totals.lastFrame = first + frames - 1;
    run.totals.rangeFrames = frames;
    run.totals.refreshInterval = interval;
    run.records.assign(SampleCapacity(frames, interval), FrameSample{});
    run.end = RunLoop(host, timeLimit, run.totals, run.records.data());
    return run;
}

// The interval's multiples are stored; the last frame only moves the averages and the probe.
TEST(MeasureLoop, StoresAtMultiplesOfTheIntervalAndTheLastFrameUpdatesOnlyTheAverages) {
    for (const bool gpuOn : {false, true}) {
        FakeHost host;
        host.gpuOn = gpuOn;
        host.cpuReadings = {0, 10, 20, 31};  // the priming reading, then one per sampling
        const LoopRun run = Measure(host, 100, 25, 10);
        EXPECT_EQ(run.end, RunEnd::kCompleted);
        ASSERT_EQ(run.totals.recordCount, 2u);
        EXPECT_EQ(run.records[0].frame, 109u);
        EXPECT_EQ(run.records[1].frame, 119u);
        EXPECT_EQ(run.records[2].frame, 0u) << "the spare record stays zero";
        EXPECT_NEAR(run.records[0].currentFps, 100.0, 1e-6);  // 10 frames in 0.1 s
        EXPECT_EQ(run.records[1].cpuPercent, 20);
        EXPECT_EQ(run.records[1].gpuPercent, gpuOn ? 40 : 0);
        EXPECT_EQ(run.records[1].vpuPercent, gpuOn ? 10 : 0);
        EXPECT_EQ(run.totals.gpuAverage, gpuOn ? 40u : 0u);
        EXPECT_EQ(run.totals.framesProcessed, 25u);
        EXPECT_EQ(run.totals.probeSamples, 3u);
        EXPECT_EQ(run.totals.cpuAverage, 20u);  // (10 + 20 + 31) / 3 = 20.33
        EXPECT_EQ(run.totals.elapsedMs, 250);
        EXPECT_NEAR(run.totals.averageFps, 100.0, 1e-6);
        EXPECT_EQ(run.totals.lastFrame, 124u);
        EXPECT_EQ(run.totals.physicalMB, 4u);  // the latest of the four readings
        EXPECT_EQ(run.totals.threadCount, 10u);
        EXPECT_EQ(run.records[1].threadCount, 9u);
    }
    // Samplings before the probe has timed a period carry no reading: they are not 0 %.
    FakeHost early;
    early.unmeasuredProbes = 2;  // the priming and the first sampling
    early.cpuReadings = {0, 0, 20, 31};
    EXPECT_EQ(Measure(early, 100, 25, 10).totals.cpuAverage, 26u);
    FakeHost host;
    const LoopRun run = Measure(host, 0, 10, 50);
    EXPECT_EQ(run.totals.recordCount, 0u);
    EXPECT_EQ(run.totals.framesProcessed, 10u);
    EXPECT_EQ(run.totals.probeSamples, 1u);
    EXPECT_TRUE(host.refreshedAt.empty());
}

// Only stored samples move the extremes; a clock standing still gives the 1e-6 floor.
TEST(MeasureLoop, ExtremesComeFromStoredSamplesWithAFlooredDelta) {
    FakeHost host;
    host.secondsPerFrame = 0.0;
    const LoopRun still = Measure(host, 0, 20, 10);
    EXPECT_DOUBLE_EQ(still.totals.maxFps, 10 * 1e6);
    EXPECT_DOUBLE_EQ(still.totals.minFps, 10 * 1e6);

    FakeHost slowEnd;
    slowEnd.slowFrom = 20;
    const LoopRun run = Measure(slowEnd, 0, 21, 10);  // the slow 21st frame is probed, not stored
    EXPECT_NEAR(run.totals.minFps, 100.0, 1e-6);
    EXPECT_NEAR(run.totals.maxFps, 100.0, 1e-6);
    EXPECT_LT(run.totals.averageFps, 20.0) << "the average follows every probe sampling";
}

// Refreshes at stored samples 0.25 s apart; the time limit and a stop are checked after one.
TEST(MeasureLoop, RefreshesTimeLimitAndStopRequests) {
    FakeHost host;
    host.secondsPerFrame = 0.0625;
    Measure(host, 0, 20, 2);  // a sample every 0.125 s
    EXPECT_EQ(host.refreshedAt, (std::vector<uint32_t>{3, 7, 11, 15, 19}));

    FakeHost limited;
    limited.secondsPerFrame = 0.125;
    const LoopRun timed = Measure(limited, 0, 1000, 1, 1);
    EXPECT_EQ(timed.end, RunEnd::kTimeLimit);
    EXPECT_EQ(timed.totals.lastFrame, 7u);
    EXPECT_EQ(timed.totals.elapsedMs, 1000);
    EXPECT_EQ(timed.totals.estimatedMs, 125000) << "the estimate covers the whole range";

    FakeHost cancelled;
    cancelled.secondsPerFrame = 0.0625;
    cancelled.stopAtRefresh = 1;
    const LoopRun stopped = Measure(cancelled, 0, 20, 2);
    EXPECT_EQ(stopped.end, RunEnd::kCancelled);
    EXPECT_EQ(stopped.totals.lastFrame, 7u);
    EXPECT_EQ(stopped.totals.framesProcessed, 8u);
    EXPECT_EQ(stopped.totals.recordCount, 4u);
}

TEST(SampleArray, IntervalWidensSoThatNoRunStoresMoreThanHalfAMillion) {
    const struct {
        uint32_t frames, interval, widened;
    } cases[] = {{6000000, 10, 100}, {500000, 1, 1}, {500001, 1, 10}, {0xFFFFFFFFu, 1, 10000}};
    for (const auto& c : cases) {
        EXPECT_EQ(WidenedInterval(c.frames, c.interval), c.widened) << c.frames;
        EXPECT_LE(SampleCapacity(c.frames, c.widened), size_t{kMostSamples} + 2);
    }
    EXPECT_EQ(SampleCapacity(25, 10), 4u);
}

RunTotals Figures() {
    RunTotals t;
    t.firstFrame = 0;
    t.lastFrame = 999;
    t.rangeFrames = 1000;
    t.framesProcessed = 500;
    t.currentFps = 50.0;
    t.minFps = 40.0;
    t.maxFps = 62.5;
    t.averageFps = 48.0;
    t.physicalMB = 120;
    t.virtualMB = 300;
    t.peakPhysicalMB = 130;
    t.peakVirtualMB = 310;
    t.threadCount = 9;
    t.cpuAverage = 24;
    t.elapsedMs = 65250;
    t.estimatedMs = 130500;
    return t;
}

std::vector<std::string> Texts(const std::vector<BlockLine>& lines) {
    std::vector<std::string> texts;
    for (const BlockLine& line : lines)
        texts.push_back(line.text);
    return texts;
}

TEST(LiveBlock, LinesInOrderAndTheirAdvances) {
    const std::vector<BlockLine> block = LiveBlock(Figures(), 499, 25, nullptr, DisplayOptions{});
    EXPECT_EQ(Texts(block), (std::vector<std::string>{
                                "Frame (current | last):         499 | 999",
                                "FPS (cur | min | max | avg):    50.00 | 40.00 | 62.50 | 48.00",
                                "Memory usage (phys | virt):     120 | 300 MB",
                                "Thread count:                   9",
                                "CPU usage (current | average):  25% | 24%",
                                "Efficiency index:               2.000",
                                "",
                                "Time (elapsed | estimated):     00:01:05.250 | 00:02:10.500",
                                "Press 'Esc' to cancel the process...",
                            }));
    EXPECT_EQ(LineAdvances(block), 11u);

    // Seven figure lines, five GPU lines, two empty lines, the time and the hint's three:
    // the count must be what the block really advances, or each refresh would creep upwards.
    DisplayOptions all;
    all.tpf = true;
    GpuFigures gpu;
    gpu.vpuAvailable = gpu.memoryUsedAvailable = gpu.dedicatedAvailable = gpu.dynamicAvailable =
        true;
    gpu.memoryUsedMB = 700;
    const std::vector<BlockLine> full = LiveBlock(Figures(), 499, 25, &gpu, all);
    EXPECT_EQ(LineAdvances(full), 18u);
    EXPECT_EQ(full[2].text, "TPF (cur | max | min | avg):    20.00 | 25.00 | 16.00 | 20.83 ms");
    EXPECT_EQ(full[10].text, "GPU memory usage:               700 MB");
    gpu.dedicatedAvailable = false;
    EXPECT_EQ(LineAdvances(LiveBlock(Figures(), 499, 25, &gpu, all)), 17u);
}

TEST(Summary, FrameLinesTimesAndTheEfficiencyWithoutCpu) {
    EXPECT_EQ(FramesLine(100, 0, 99), "Frames processed:               100 (0 - 99)");
    EXPECT_EQ(FramesLine(1, 0, 0), "Frames processed:               1");
    EXPECT_EQ(FramesLine(1, 5, 5), "Frames processed:               1 (5)");
    EXPECT_EQ(EfficiencyText(48.0, 0), "n/a");

    RunTotals early = Figures();
    early.lastFrame = 499;
    DisplayOptions settings;
    settings.estimatedTime = true;
    std::vector<BlockLine> lines = SummaryLines(early, nullptr, settings);
    EXPECT_EQ(lines.front().text, "Frames processed:               500 (0 - 499)");
    EXPECT_EQ(lines[2].text, "Memory usage (phys | virt):     130 | 310 MB") << "peaks";
    EXPECT_EQ(lines.back().text, "Time (elapsed | estimated):     00:01:05.250 | 00:02:10.500");

    early.framesProcessed = early.rangeFrames;  // a completed run never shows an estimate
    early.elapsedMs = 360000000 + 1;            // and 100 hours keep all their digits
    EXPECT_EQ(SummaryLines(early, nullptr, settings).back().text,
              "Time (elapsed):                 100:00:00.001");
}

}  // namespace
}  // namespace bench

namespace sys {
namespace {

TEST(ProcText, StatAndStatusParsers) {
    uint64_t all = 0, user = 0;
    ASSERT_TRUE(ParseProcStatCpu("cpu  100 20 30 400 5 6 7 8 90 10\ncpu0 1 2 3 4 5 6 7 8 9 10\n",
                                 all, user));
    EXPECT_EQ(all, 576u) << "the first eight fields; guest time is inside user";
    EXPECT_EQ(user, 120u);
    EXPECT_FALSE(ParseProcStatCpu("cpu0 1 2 3 4\nintr 5\n", all, user));
    EXPECT_FALSE(ParseProcStatCpu("cpu  1 x\n", all, user));
    uint64_t system = 0;
    ASSERT_TRUE(ParseProcSelfStat("42 (a) b (c)) R 1 42 42 0 -1 4194560 10 0 0 0 377 15 0 0", user,
                                  system));
    EXPECT_EQ(user, 377u) << "counted after the name's last parenthesis";
    EXPECT_EQ(system, 15u);
    EXPECT_FALSE(ParseProcSelfStat("42 (trevalo) R 1", user, system));

    const std::string status =
        "Name:\ttrevalo\nThreads:\t12\nVmData:\t   6291456 kB\nVmRSS:\t 1536 kB\n";
    // 0: not found. VmData is 6 GB, past 32 bits.
    const std::pair<const char*, uint64_t> numbers[] = {
        {"Threads", 12}, {"VmData", 6442450944u}, {"VmRSS", 1572864}, {"VmSwap", 0}};
    for (const auto& [key, expected] : numbers) {
        uint64_t value = 0;
        EXPECT_EQ(ParseStatusNumber(status, key, value) ? value : 0, expected) << key;
    }
    uint64_t value = 0;
    EXPECT_FALSE(ParseStatusNumber("Threads:\n", "Threads", value));

    // A whole status text, every memory field of its own size: the probe's figures come from
    // the resident set and the data segment, not from their peaks or the address space.
    const std::string whole =
        "Name:\ttrevalo\nVmPeak:\t  900000 kB\nVmSize:\t  800000 kB\nVmHWM:\t   70000 kB\n"
        "VmRSS:\t   60000 kB\nRssAnon:\t   50000 kB\nVmData:\t  300000 kB\nVmStk:\t 132 kB\n"
        "Threads:\t17\n";
    ProcessMemory memory;
    ASSERT_TRUE(ParseStatusMemory(whole, memory));
    EXPECT_EQ(memory.workingSetBytes, 60000u * 1024);
    EXPECT_EQ(memory.privateBytes, 300000u * 1024);
    EXPECT_EQ(ParseStatusThreads(whole), 17);
    EXPECT_EQ(ParseStatusThreads("Threads:\t70000\n"), 65535);
    EXPECT_EQ(ParseStatusThreads("Name:\tx\n"), 0);
    EXPECT_FALSE(ParseStatusMemory("VmRSS:\t1 kB\n", memory)) << "both or nothing";
}

// The readings the probe takes, as the test sets them.
uint64_t g_tick;
ProcessTimes g_times;
uint16_t g_threads;

TEST(ProcessProbe, ThrottlesAndShowsAtMostTheWholeMachine) {
    g_tick = 0;
    g_times = {};
    g_threads = 3;
    const auto times = [](ProcessTimes& t) { return (t = g_times, true); };
    const auto memory = [](ProcessMemory& m) { return (m = {1572864, 6442450944u}, true); };
    CProcessInfo probe({[] { return g_tick; }, times, memory, [] { return g_threads; }});
    EXPECT_EQ(probe.threadCount, 3);
    const auto advance = [](uint64_t ms, uint64_t system, uint64_t process) {
        g_tick += ms;
        g_times.systemKernel += system;
        g_times.processUser += process;
    };
    advance(0, 0, 0);
    probe.Update();
    EXPECT_EQ(probe.cpuUsage, 0) << "the first sample only records the times";
    EXPECT_EQ(probe.physicalMB, 2u);
    EXPECT_EQ(probe.virtualMB, 6144u) << "no wrap at 4 GB";
    EXPECT_EQ(BytesToMB(1572863), 1u) << "rounded to the nearest megabyte";

    const struct {
        uint64_t ms, system, process;
        uint16_t shown;
    } steps[] = {
        {100, 1000, 250, 25},   {50, 0, 0, 25},          // within 100 ms: nothing changes
        {100, 0, 0, 25},                                 // no system time: the previous value
        {100, 1000, 1000, 100}, {100, 1000, 1010, 100},  // ticks against microseconds
    };
    for (const auto& s : steps) {
        advance(s.ms, s.system, s.process);
        probe.Update();
        EXPECT_EQ(probe.cpuUsage, s.shown) << g_tick;
    }

    // Threads are counted again only when more than a second has passed.
    g_threads = 9;
    g_tick = 1000;
    probe.Update();
    EXPECT_EQ(probe.threadCount, 3);
    g_tick = 1101;
    probe.Update();
    EXPECT_EQ(probe.threadCount, 9);
}

}  // namespace
}  // namespace sys
