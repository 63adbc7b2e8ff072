#include "bench/measure.h"

#include <string>

#include "app/settings.h"
#include "sys/timer.h"
#include "sys/utils.h"

namespace bench {

bool ResolveFrameRange(const avs::VideoInfo& videoInfo, FrameRange& range) {
    const int64_t frames = videoInfo.raw.num_frames;
    if (frames <= 0) return false;
    int64_t first = g_settings.FrameRangeFirst;
    int64_t last = g_settings.FrameRangeLast == -1 ? frames - 1 : g_settings.FrameRangeLast;
    if (first < 0 || last < first || last >= frames) return false;
    range.first = static_cast<uint32_t>(first);
    range.last = static_cast<uint32_t>(last);
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

    g_utils.Print(g_settings.ConUseSTDOUT != 0, 0, "\r%s\r",
                  g_utils.PadToConsoleWidth("Reading frames...").c_str());
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
