#include "bench/display.h"

#include "sys/timer.h"
#include "sys/utils.h"

namespace bench {

namespace {

constexpr unsigned short kWhite = 0x0F;
constexpr unsigned short kCyan = 0x0B;

BlockLine Figure(std::string text) {
    return {BlockLine::Kind::kFigure, std::move(text)};
}

BlockLine Empty() {
    return {BlockLine::Kind::kEmpty, ""};
}

std::string Duration(int64_t ms) {
    return CTimer::FormatDuration(ms > 0 ? static_cast<uint64_t>(ms) : 0, false);
}

double Tpf(double fps) {
    return 1000.0 / fps;
}

// The memory lines that the card reports, the same in the block and the summary.
void AddGpuMemory(const GpuFigures& gpu, std::vector<BlockLine>& lines) {
    if (gpu.memoryUsedAvailable) {
        lines.push_back(Figure(
            CUtils::FormatString("GPU memory usage:               %u MB", gpu.memoryUsedMB)));
    }
    if (gpu.dedicatedAvailable) {
        lines.push_back(
            Figure(CUtils::FormatString("GPU memory usage (Dedicated):   %u MB", gpu.dedicatedMB)));
    }
    if (gpu.dynamicAvailable) {
        lines.push_back(
            Figure(CUtils::FormatString("GPU memory usage (Dynamic):     %u MB", gpu.dynamicMB)));
    }
}

void PrintPaddedLine(unsigned short colour, const std::string& text) {
    g_utils.PrintPadded(colour, text, "\n");
}

}  // namespace

std::vector<BlockLine> LiveBlock(const RunTotals& t, uint32_t n, uint16_t cpuNow,
                                 const GpuFigures* gpu, const DisplayOptions& s) {
    std::vector<BlockLine> block;
    block.push_back(
        Figure(CUtils::FormatString("Frame (current | last):         %u | %u", n, t.lastFrame)));
    if (s.fps) {
        block.push_back(
            Figure("FPS (cur | min | max | avg):    " + CUtils::FormatFPS(t.currentFps) + " | " +
                   CUtils::FormatFPS(t.minFps) + " | " + CUtils::FormatFPS(t.maxFps) + " | " +
                   CUtils::FormatFPS(t.averageFps)));
    }
    if (s.tpf) {
        block.push_back(Figure(
            "TPF (cur | max | min | avg):    " + CUtils::FormatTPF(Tpf(t.currentFps)) + " | " +
            CUtils::FormatTPF(Tpf(t.minFps)) + " | " + CUtils::FormatTPF(Tpf(t.maxFps)) + " | " +
            CUtils::FormatTPF(Tpf(t.averageFps)) + " ms"));
    }
    block.push_back(Figure(CUtils::FormatString("Memory usage (phys | virt):     %u | %u MB",
                                                t.physicalMB, t.virtualMB)));
    block.push_back(Figure(
        CUtils::FormatString("Thread count:                   %u", unsigned{t.threadCount})));
    block.push_back(Figure(CUtils::FormatString("CPU usage (current | average):  %u%% | %u%%",
                                                unsigned{cpuNow}, t.cpuAverage)));
    if (s.efficiency) {
        block.push_back(Figure("Efficiency index:               " +
                               EfficiencyText(t.averageFps, t.cpuAverage)));
    }
    if (gpu != nullptr) {
        block.push_back(Empty());
        block.push_back(Figure(CUtils::FormatString("GPU usage (current | average):  %u%% | %u%%",
                                                    unsigned{gpu->gpuLoad}, t.gpuAverage)));
        if (gpu->vpuAvailable) {
            block.push_back(
                Figure(CUtils::FormatString("Video engine load (cur | avg):  %u%% | %u%%",
                                            unsigned{gpu->vpuLoad}, t.vpuAverage)));
        }
        AddGpuMemory(*gpu, block);
    }
    block.push_back(Empty());
    block.push_back(Figure("Time (elapsed | estimated):     " + Duration(t.elapsedMs) + " | " +
                           Duration(t.estimatedMs)));
    block.push_back({BlockLine::Kind::kHint, "Press 'Esc' to cancel the process..."});
    return block;
}

uint32_t LineAdvances(const std::vector<BlockLine>& block) {
    uint32_t lines = 0;
    for (const BlockLine& line : block)
        lines += line.kind == BlockLine::Kind::kHint ? 3 : 1;
    return lines;
}

uint32_t PrintBlock(const std::vector<BlockLine>& block) {
    for (const BlockLine& line : block) {
        switch (line.kind) {
            case BlockLine::Kind::kFigure:
                // A line that wrapped would take two rows, and the next refresh's move up
                // would fall short.
                PrintPaddedLine(kWhite, g_utils.FitToConsoleWidth(line.text));
                break;
            case BlockLine::Kind::kEmpty:
                g_utils.Print(g_utils.ConsoleIsStdout(), 0, "\n");
                break;
            case BlockLine::Kind::kHint:
                g_utils.Print(g_utils.ConsoleIsStdout(), 0, "\n%s\n\n",
                              g_utils.FitToConsoleWidth(line.text).c_str());
                break;
        }
    }
    return LineAdvances(block);
}

std::string FramesLine(uint32_t framesProcessed, uint32_t firstFrame, uint32_t lastFrame) {
    if (firstFrame == lastFrame && firstFrame == 0) {
        return CUtils::FormatString("Frames processed:               %u", framesProcessed);
    }
    if (firstFrame == lastFrame) {
        return CUtils::FormatString("Frames processed:               %u (%u)", framesProcessed,
                                    firstFrame);
    }
    return CUtils::FormatString("Frames processed:               %u (%u - %u)", framesProcessed,
                                firstFrame, lastFrame);
}

std::string EfficiencyText(double averageFps, uint32_t cpuAverage) {
    if (cpuAverage == 0) return "n/a";
    return CUtils::FormatTPF(averageFps / cpuAverage);
}

std::vector<BlockLine> SummaryLines(const RunTotals& t, const GpuFigures* gpu,
                                    const DisplayOptions& s) {
    std::vector<BlockLine> lines;
    lines.push_back(Figure(FramesLine(t.framesProcessed, t.firstFrame, t.lastFrame)));
    if (s.fps) {
        lines.push_back(Figure("FPS (min | max | average):      " + CUtils::FormatFPS(t.minFps) +
                               " | " + CUtils::FormatFPS(t.maxFps) + " | " +
                               CUtils::FormatFPS(t.averageFps)));
    }
    if (s.tpf) {
        lines.push_back(
            Figure("TPF (max | min | average):      " + CUtils::FormatTPF(Tpf(t.minFps)) + " | " +
                   CUtils::FormatTPF(Tpf(t.maxFps)) + " | " + CUtils::FormatTPF(Tpf(t.averageFps)) +
                   " ms"));
    }
    lines.push_back(Figure(CUtils::FormatString("Memory usage (phys | virt):     %u | %u MB",
                                                t.peakPhysicalMB, t.peakVirtualMB)));
    lines.push_back(Figure(
        CUtils::FormatString("Thread count:                   %u", unsigned{t.threadCount})));
    lines.push_back(
        Figure(CUtils::FormatString("CPU usage (average):            %u%%", t.cpuAverage)));
    if (s.efficiency) {
        lines.push_back(Figure("Efficiency index:               " +
                               EfficiencyText(t.averageFps, t.cpuAverage)));
    }
    if (gpu != nullptr) {
        lines.push_back(Empty());
        lines.push_back(
            Figure(CUtils::FormatString("GPU usage (average):            %u%%", t.gpuAverage)));
        if (gpu->vpuAvailable) {
            lines.push_back(
                Figure(CUtils::FormatString("Video engine load (average):    %u%%", t.vpuAverage)));
        }
        AddGpuMemory(*gpu, lines);
    }
    lines.push_back(Empty());
    if (s.estimatedTime && t.framesProcessed < t.rangeFrames) {
        lines.push_back(Figure("Time (elapsed | estimated):     " + Duration(t.elapsedMs) + " | " +
                               Duration(t.estimatedMs)));
    } else {
        lines.push_back(Figure("Time (elapsed):                 " + Duration(t.elapsedMs)));
    }
    return lines;
}

void PrintSummary(const RunTotals& t, const GpuFigures* gpu, const DisplayOptions& options) {
    if (TooShortToMeasure(t)) {
        PrintPaddedLine(kCyan, kTooShortText);
        return;
    }
    if (!t.firstRefresh) g_utils.CursorUp(static_cast<int>(t.displayLines));
    for (const BlockLine& line : SummaryLines(t, gpu, options)) {
        if (line.kind == BlockLine::Kind::kEmpty) {
            g_utils.Print(g_utils.ConsoleIsStdout(), 0, "\n");
        } else {
            PrintPaddedLine(kWhite, line.text);
        }
    }
    PrintPaddedLine(0, "");
    PrintPaddedLine(0, "");
    g_utils.CursorUp(2);
}

std::string RunLineText(const std::string& label, const RunTotals& t, RunEnd end) {
    std::string text = CUtils::FormatString("%-32s", (label + ":").c_str());
    if (TooShortToMeasure(t)) {
        text += "too short to measure";
    } else {
        text += CUtils::FormatFPS(t.averageFps) + " fps, " + Duration(t.elapsedMs);
    }
    if (end == RunEnd::kTimeLimit) text += " (time limit)";
    if (end == RunEnd::kCancelled) text += " (cancelled)";
    return text;
}

void PrintRunLine(const RunTotals& t, const std::string& text) {
    const int lines = t.firstRefresh ? 0 : static_cast<int>(t.displayLines);
    if (lines > 0) g_utils.CursorUp(lines);
    PrintPaddedLine(kWhite, text);
    for (int i = 1; i < lines; ++i)
        PrintPaddedLine(0, "");
    if (lines > 1) g_utils.CursorUp(lines - 1);
}

}  // namespace bench
