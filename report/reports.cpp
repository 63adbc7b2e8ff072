#include "report/reports.h"

#include <cctype>
#include <functional>

#include "sys/file_info.h"
#include "sys/timer.h"
#include "sys/utils.h"

namespace report {
namespace {

// The script copied into the log; a script larger than this is copied up to here.
constexpr size_t kMostScriptBytes = 16 << 20;

// Both files end their lines with CR LF on every platform.
std::string WithCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (const char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

std::string Absent() {
    return "                n/a";
}

int BitsPerSample(int sampleType) {
    switch (sampleType) {
        case avs::kSampleInt8:
            return 8;
        case avs::kSampleInt16:
            return 16;
        case avs::kSampleInt24:
            return 24;
        case avs::kSampleInt32:
        case avs::kSampleFloat:
            return 32;
        default:
            return 0;
    }
}

std::string AudioLine(const char* label, long long value) {
    return label + (value != 0 ? CUtils::FormatString("%19lld", value) : Absent()) + "\n";
}

const char* ColourSpace(const avs::VideoInfo& vi) {
    if (vi.IsYV411()) return "  YV411";
    if (vi.IsYV24()) return "   YV24";
    if (vi.IsYV16()) return "   YV16";
    if (vi.IsY8()) return "     Y8";
    if (vi.IsYV12()) return "   YV12";
    if (vi.IsYUY2()) return "   YUY2";
    if (vi.IsRGB24()) return "  RGB24";
    if (vi.IsRGB32()) return "  RGB32";
    if (!vi.HasVideo()) return "    n/a";
    return "Unknown";
}

// The script as the log shows it: every line ended, the whole trimmed.
std::string ScriptCopy(const std::string& text) {
    std::string copy;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        size_t length = end - start;
        if (length > 0 && text[start + length - 1] == '\r') --length;  // as text mode reads it
        copy.append(text, start, length);
        copy += '\n';
        start = end + 1;
    }
    CUtils::Trim(copy);
    return copy;
}

}  // namespace

std::string CannotCreate(const std::string& path) {
    const std::string why = CUtils::GetLastErrorText();
    return "\nCannot create \"" + path + "\"" + (why.empty() ? "" : ": " + why) + "\n";
}

std::string SiblingPath(const std::string& scriptPath, const char* extension) {
    if (scriptPath.size() <= 4) return scriptPath + extension;
    return scriptPath.substr(0, scriptPath.size() - 4) + extension;
}

std::string ResultPath(const bench::RunSetup& setup, const char* extension) {
    if (setup.variable.empty()) return SiblingPath(setup.scriptPath, extension);
    // The value as typed may hold anything; the file's name keeps what every system allows.
    std::string variant;
    for (const char c : setup.variable) {
        const bool plain = std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' ||
                           c == '-' || c == '_' || c == '=' || c == '+';
        variant += plain ? c : '_';
    }
    if (variant.size() > 64) variant.resize(64);
    return SiblingPath(setup.scriptPath, ("." + variant + extension).c_str());
}

std::string GeneralInfo(const bench::RunSetup& setup) {
    const avs::Installation& avs = setup.avisynth;
    std::string text = "[General info]\n";
    text += "Log file created with:                 Trevalo " + bench::BannerVersion(setup) + "\n";
    text += "Script file:                           " + setup.scriptPath + "\n";
    if (!setup.switches.empty())
        text += "Command line switches:                 " + setup.switches + "\n";
    if (!setup.variable.empty())
        text += "Script variable:                       " + setup.variable + "\n";
    text += "Avisynth version string:               " + avs.versionString + "\n";
    text += "Avisynth file version:                 " + avs.fileVersion + "\n";
    text +=
        CUtils::FormatString("Avisynth Interface Version:            %d\n", avs.interfaceVersion);
    text += std::string("Avisynth MT support:                   ") +
            (avs.mtSupport ? "Yes" : "No") + "\n";
    text += "Avisynth.dll linker/compiler version:  " + avs.linkerVersion + "\n";
    text += "Avisynth.dll location:                 " + avs.dllLocation + "\n";
    text += "Avisynth.dll time stamp:               " + avs.timeStamp + "\n";
    for (const std::string& entry : avs.pluginDirs) {
        const size_t split = entry.find(":\t");
        if (entry.empty() || split == std::string::npos) continue;
        text += entry.substr(0, split + 1) + std::string(13, ' ') + entry.substr(split + 2) + "\n";
    }
    return text;
}

ClipReport DescribeClip(const avs::VideoInfo& vi, bool mtAvailable, int mtMode) {
    const AVS_VideoInfo& raw = vi.raw;
    const bool audioOnly = !vi.HasVideo() && vi.HasAudio();
    std::vector<std::string> lines;
    if (audioOnly) {
        lines = {"Number of frames:                  n/a", "Length (hh:mm:ss.ms):              n/a",
                 "Frame width:                       n/a", "Frame height:                      n/a",
                 "Framerate:                         n/a"};
    } else {
        lines.push_back(CUtils::FormatString("Number of frames:          %11u",
                                             static_cast<unsigned>(raw.num_frames)));
        // A clip without a frame rate has no length.
        if (raw.fps_numerator == 0) {
            lines.push_back("Length (hh:mm:ss.ms):              n/a");
        } else {
            const double ms = static_cast<double>(raw.num_frames) * raw.fps_denominator * 1000.0 /
                                  raw.fps_numerator +
                              0.5;
            lines.push_back("Length (hh:mm:ss.ms):  " +
                            CTimer::FormatDuration(ms > 0 ? static_cast<uint64_t>(ms) : 0, true));
        }
        lines.push_back(CUtils::FormatString("Frame width:               %11u",
                                             static_cast<unsigned>(raw.width)));
        lines.push_back(CUtils::FormatString("Frame height:              %11u",
                                             static_cast<unsigned>(raw.height)));
        const double rate = raw.fps_denominator != 0
                                ? static_cast<double>(raw.fps_numerator) / raw.fps_denominator
                                : 0.0;
        const char* parity = "";
        if (vi.IsFieldBased() && vi.IsTFF()) {
            parity = ", TFF";
        } else if (vi.IsFieldBased() && vi.IsBFF()) {
            parity = ", BFF";
        }
        lines.push_back(CUtils::FormatString("Framerate:                 %11.3f (%u/%u%s)", rate,
                                             raw.fps_numerator, raw.fps_denominator, parity));
    }
    lines.push_back(std::string("Colorspace:                    ") + ColourSpace(vi));
    if (mtAvailable) {
        lines.push_back(CUtils::FormatString("Active MT Mode:                      %d", mtMode));
    }

    ClipReport report;
    report.log = "\n\n[Clip info]\n";
    for (const std::string& line : lines)
        report.log += line + "\n";
    // Each video line starts with its line feed; the colour space line ends the block, and
    // the MT line follows on its own.
    const size_t videoLines = mtAvailable ? lines.size() - 1 : lines.size();
    for (size_t i = 0; i < videoLines; ++i)
        report.console += "\n" + lines[i];
    report.console += "\n";
    if (mtAvailable) report.console += lines.back() + "\n";
    report.log += AudioLine("Audio channels:    ", vi.AudioChannels());
    report.log +=
        AudioLine("Audio bits/sample: ", vi.HasAudio() ? BitsPerSample(vi.SampleType()) : 0);
    report.log += AudioLine("Audio sample rate: ", vi.SamplesPerSecond());
    report.log += AudioLine("Audio samples:     ", vi.HasAudio() ? raw.num_audio_samples : 0);
    return report;
}

std::string ColourSpaceName(const avs::VideoInfo& vi) {
    std::string name = ColourSpace(vi);
    CUtils::Trim(name);
    return name == "n/a" ? "" : name;
}

int AudioBitsPerSample(int sampleType) {
    return BitsPerSample(sampleType);
}

void PrintClipInfo(const avs::VideoInfo& vi, bool mtAvailable, int mtMode) {
    const bool toStdout = g_utils.ConsoleIsStdout();
    g_utils.Print(toStdout, 0, "\r%s", g_utils.PadToConsoleWidth("").c_str());
    g_utils.Print(toStdout, 0, "%s", DescribeClip(vi, mtAvailable, mtMode).console.c_str());
}

std::string GraphicsCardText(const bench::CardDescription& card) {
    return "\n\n[Graphics card info]\nCard name:               " + card.cardName +
           "\nGPU name:                " + card.gpuName +
           "\nMemory size:             " + card.memorySize +
           "\nOpenCL version:          " + card.openClVersion +
           "\nDriver version:          " + card.driverVersion +
           "\nInfo collected with:     " + card.sourceVersion + "\n";
}

std::string RuntimeInfoText(const bench::RunTotals& totals, const bench::GpuFigures* gpu,
                            const bench::DisplayOptions& display, const std::string& heading) {
    std::string text = "\n\n[" + heading + "]\n";
    if (bench::TooShortToMeasure(totals)) return text + bench::kTooShortText;
    for (const bench::BlockLine& line : bench::SummaryLines(totals, gpu, display)) {
        if (line.kind != bench::BlockLine::Kind::kEmpty) text += line.text + "\n";
    }
    return text;
}

namespace {

// The samples of a run as the log lists them, under the heading given.
std::string PerformanceSection(const bench::RunRecord& r, const std::string& heading) {
    if (r.samples.empty()) return "";
    const bool gpu = r.gpu.has_value();
    const bool vpu = gpu && r.gpu->vpuAvailable;
    std::string text =
        "\n[" + heading + "]\n       Frame    Frames/sec   Time/frame(ms)   CPU(%)   ";
    if (gpu) text += "GPU(%)   ";
    if (vpu) text += "VPU(%)   ";
    text += "Threads   PhysMEM(MB)   VirtMEM(MB)\n";
    for (const bench::FrameSample& s : r.samples) {
        const std::string shown = CUtils::FormatString("%u", s.frame + 1);
        text += std::string(shown.size() < 12 ? 12 - shown.size() : 0, ' ') + shown;
        text += CUtils::FormatString(" %13.3f %16.6f %8u", s.currentFps, 1000.0 / s.currentFps,
                                     unsigned{s.cpuPercent});
        if (gpu) text += CUtils::FormatString(" %8u", unsigned{s.gpuPercent});
        if (vpu) text += CUtils::FormatString(" %8u", unsigned{s.vpuPercent});
        text += CUtils::FormatString(" %9u %13u %13u\n", unsigned{s.threadCount}, s.physicalMB,
                                     s.virtualMB);
    }
    return text;
}

// The CSV columns after the run's, and one row a sample, each row after the prefix.
std::string CsvHeader(const bench::RunRecord& r) {
    std::string text =
        "Frame,Frames/sec,Frames/sec(average),Time/frame(ms),Time/frame(average)(ms),CPU(%),";
    if (r.gpu) text += "GPU(%),";
    if (r.gpu && r.gpu->vpuAvailable) text += "VPU(%),";
    return text + "Threads,PhysMEM(MB),VirtMEM(MB)\n";
}

std::string CsvRows(const bench::RunRecord& r, const std::string& prefix) {
    const bool gpu = r.gpu.has_value();
    const bool vpu = gpu && r.gpu->vpuAvailable;
    std::string text;
    for (const bench::FrameSample& s : r.samples) {
        text += prefix;
        text += CUtils::FormatString("%u,%.3f,%.3f,%.6f,%.6f,%u", s.frame + 1, s.currentFps,
                                     s.averageFps, 1000.0 / s.currentFps, 1000.0 / s.averageFps,
                                     unsigned{s.cpuPercent});
        if (gpu) text += CUtils::FormatString(",%u", unsigned{s.gpuPercent});
        if (vpu) text += CUtils::FormatString(",%u", unsigned{s.vpuPercent});
        text +=
            CUtils::FormatString(",%u,%u,%u\n", unsigned{s.threadCount}, s.physicalMB, s.virtualMB);
    }
    return text;
}

// The run of a series that describes it where one stands for all: the last that reached
// the clip.
const bench::RunRecord& Representative(const std::vector<bench::RunRecord>& runs) {
    for (auto it = runs.rbegin(); it != runs.rend(); ++it)
        if (it->clip) return *it;
    return runs.back();
}

}  // namespace

std::string LogFileText(const bench::RunRecord& r, const std::string& scriptText) {
    std::string text = GeneralInfo(r.setup);
    if (r.clip) text += DescribeClip(*r.clip, r.mtAvailable, r.mtMode).log;
    if (r.totals) {
        text += RuntimeInfoText(*r.totals, r.gpu ? &r.gpu->last : nullptr, r.setup.display);
    }
    text += "\n";
    text += "\n[Script]\n" + ScriptCopy(scriptText) + "\n\n";
    if (r.gpu && r.gpu->card) text += GraphicsCardText(*r.gpu->card);
    text += PerformanceSection(r, "Performance data");
    if (!r.errorText.empty()) text += "\n\n[AviSynth error]\n" + r.errorText + "\n";
    return text;
}

std::string SeriesLogText(const std::vector<bench::RunRecord>& runs, const std::string& seriesText,
                          const std::string& scriptText) {
    const bench::RunRecord& shown = Representative(runs);
    std::string text = GeneralInfo(shown.setup);
    if (shown.clip) text += DescribeClip(*shown.clip, shown.mtAvailable, shown.mtMode).log;
    text += "\n\n[Series]\n" + seriesText;
    text += "\n";
    text += "\n[Script]\n" + ScriptCopy(scriptText) + "\n\n";
    if (shown.gpu && shown.gpu->card) text += GraphicsCardText(*shown.gpu->card);
    for (size_t i = 0; i < runs.size(); ++i) {
        const bench::RunRecord& r = runs[i];
        const std::string name = CUtils::FormatString("run %zu of %zu", i + 1, runs.size());
        if (r.totals) {
            text += RuntimeInfoText(*r.totals, r.gpu ? &r.gpu->last : nullptr, r.setup.display,
                                    "Runtime info, " + name);
        }
        text += PerformanceSection(r, "Performance data, " + name);
    }
    for (size_t i = 0; i < runs.size(); ++i) {
        if (runs[i].errorText.empty()) continue;
        text += CUtils::FormatString("\n\n[AviSynth error, run %zu]\n", i + 1) + runs[i].errorText +
                "\n";
    }
    return text;
}

std::string SeriesSummaryText(const bench::SeriesStatistics& series) {
    std::string text = CUtils::FormatString("Runs:                           %zu\n", series.runs);
    if (series.runs == 0) return text;
    text += "FPS (mean +/- std. deviation):  " + CUtils::FormatFPS(series.mean) + " +/- " +
            CUtils::FormatFPS(series.standardDeviation) + "\n";
    text += "FPS (runs' min | max):          " + CUtils::FormatFPS(series.min) + " | " +
            CUtils::FormatFPS(series.max) + "\n";
    text += CUtils::FormatString("Coefficient of variation:       %.2f %%\n",
                                 series.coefficientOfVariation * 100.0);
    return text;
}

std::vector<std::string> SeriesWarnings(const bench::SeriesStatistics& series,
                                        const std::vector<double>& fps) {
    std::vector<std::string> warnings;
    for (const size_t index : series.outliers) {
        if (index >= fps.size()) continue;
        warnings.push_back(CUtils::FormatString("Warning: run %zu (", index + 1) +
                           CUtils::FormatFPS(fps[index]) +
                           " fps) lies far from the others (more than three deviations from "
                           "their median).");
    }
    if (series.noisy) {
        warnings.push_back(CUtils::FormatString(
            "Warning: the runs vary by %.1f %% (coefficient of variation): the machine may be "
            "busy, and the figures are uncertain.",
            series.coefficientOfVariation * 100.0));
    }
    return warnings;
}

std::string CsvFileText(const bench::RunRecord& r) {
    if (r.samples.empty()) return "";
    return CsvHeader(r) + CsvRows(r, "");
}

std::string SeriesCsvText(const std::vector<bench::RunRecord>& runs) {
    std::string rows;
    for (size_t i = 0; i < runs.size(); ++i)
        rows += CsvRows(runs[i], CUtils::FormatString("%zu,", i + 1));
    return rows.empty() ? "" : "Run," + CsvHeader(runs.front()) + rows;
}

namespace {

// The log beside the script, its text made from the script's.
std::string WriteLog(const bench::RunSetup& setup,
                     const std::function<std::string(const std::string&)>& text) {
    const std::string& scriptPath = setup.scriptPath;
    std::string script;
    if (!sys::ReadFileHead(scriptPath, script, kMostScriptBytes)) {
        return "\nCannot open \"" + scriptPath + "\"\n";
    }
    const std::string path = ResultPath(setup, ".log");
    if (!sys::WriteFile(path, WithCrLf(text(script)))) return CannotCreate(path);
    return "";
}

std::string WriteCsv(const bench::RunSetup& setup, const std::string& text) {
    const std::string path = ResultPath(setup, ".csv");
    if (!sys::WriteFile(path, WithCrLf(text))) return CannotCreate(path);
    return "";
}

}  // namespace

std::string WriteLogFile(const bench::RunRecord& record) {
    return WriteLog(record.setup,
                    [&](const std::string& script) { return LogFileText(record, script); });
}

std::string WriteCsvFile(const bench::RunRecord& record) {
    return WriteCsv(record.setup, CsvFileText(record));
}

std::string WriteSeriesLogFile(const std::vector<bench::RunRecord>& runs,
                               const std::string& seriesText) {
    return WriteLog(runs.front().setup, [&](const std::string& script) {
        return SeriesLogText(runs, seriesText, script);
    });
}

std::string WriteSeriesCsvFile(const std::vector<bench::RunRecord>& runs) {
    return WriteCsv(runs.front().setup, SeriesCsvText(runs));
}

}  // namespace report
