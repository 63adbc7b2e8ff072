#include "bench/measure.h"

#include <string>

#include "app/settings.h"
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

RunTotals MeasureFrames(avs::ScriptSession& session, const FrameRange& range,
                        uint32_t refreshInterval, Samples& samples) {
    RunTotals totals;
    totals.firstFrame = range.first;
    totals.lastFrame = range.last;
    totals.rangeFrames = range.last - range.first + 1;
    totals.refreshInterval = refreshInterval;
    samples.clear();

    const double start = g_timer.GetSeconds();
    for (uint32_t n = range.first; n <= range.last; ++n) {
        session.clip.GetFrame(static_cast<int>(n));
        ++totals.framesProcessed;
    }
    const double seconds = g_timer.GetSeconds() - start;
    totals.elapsedMs = static_cast<int64_t>(seconds * 1000.0 + 0.5);
    totals.averageFps = seconds > 0 ? totals.framesProcessed / seconds : 0.0;
    return totals;
}

void PrintSummary(const RunTotals& totals, std::string& logText) {
    const bool toStdout = g_settings.ConUseSTDOUT != 0;
    std::string frames =
        CUtils::FormatString("Frames processed:  %u (%u - %u)", totals.framesProcessed,
                             totals.firstFrame, totals.lastFrame);
    std::string fps = "Average FPS:       " + CUtils::FormatFPS(totals.averageFps);
    std::string time = "Time (elapsed):    " +
                       CTimer::FormatDuration(static_cast<uint64_t>(totals.elapsedMs), false);
    g_utils.Print(toStdout, 0, "\r%s\n", g_utils.PadToConsoleWidth("").c_str());
    for (const std::string* line : {&frames, &fps, &time}) {
        g_utils.Print(toStdout, 0x0F, "%s\n", line->c_str());
        logText += *line + "\n";
    }
}

}  // namespace bench
