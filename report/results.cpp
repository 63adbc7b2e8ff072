#include "report/results.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "sys/file_info.h"

namespace report {
namespace {

using Json = nlohmann::ordered_json;

// A figure the console shows as "n/a" is null.
Json OrNull(bool known, double value) {
    return known && std::isfinite(value) ? Json(value) : Json(nullptr);
}

Json TextOrNull(const std::string& text) {
    return text.empty() ? Json(nullptr) : Json(text);
}

Json ClipJson(const avs::VideoInfo& vi) {
    const AVS_VideoInfo& raw = vi.raw;
    const bool video = vi.HasVideo();
    Json clip;
    clip["frames"] = video ? Json(raw.num_frames) : Json(nullptr);
    clip["width"] = video ? Json(raw.width) : Json(nullptr);
    clip["height"] = video ? Json(raw.height) : Json(nullptr);
    clip["rate"] =
        video ? Json{{"numerator", raw.fps_numerator}, {"denominator", raw.fps_denominator}}
              : Json(nullptr);
    clip["colorSpace"] = TextOrNull(ColourSpaceName(vi));
    clip["fieldBased"] = vi.IsFieldBased();
    clip["fieldOrder"] = vi.IsTFF() ? Json("TFF") : vi.IsBFF() ? Json("BFF") : Json(nullptr);
    if (vi.HasAudio()) {
        clip["audio"] = {{"channels", vi.AudioChannels()},
                         {"bitsPerSample", AudioBitsPerSample(vi.SampleType())},
                         {"sampleRate", vi.SamplesPerSecond()},
                         {"samples", raw.num_audio_samples}};
    } else {
        clip["audio"] = nullptr;
    }
    return clip;
}

Json SummaryJson(const bench::RunTotals& t) {
    // Without a stored interval the extremes were never set.
    const bool extremes = t.maxFps > 0.0;
    const bool average = t.averageFps > 0.0;
    Json s;
    s["framesProcessed"] = t.framesProcessed;
    s["firstFrame"] = t.firstFrame;
    s["lastFrame"] = t.lastFrame;
    s["fpsMin"] = OrNull(extremes, t.minFps);
    s["fpsMax"] = OrNull(extremes, t.maxFps);
    s["fpsAverage"] = OrNull(average, t.averageFps);
    s["timePerFrameMinMs"] = OrNull(extremes, 1000.0 / t.maxFps);
    s["timePerFrameMaxMs"] = OrNull(extremes, 1000.0 / t.minFps);
    s["timePerFrameAverageMs"] = OrNull(average, 1000.0 / t.averageFps);
    s["physicalMemoryPeakMB"] = t.peakPhysicalMB;
    s["virtualMemoryPeakMB"] = t.peakVirtualMB;
    s["threads"] = t.threadCount;
    s["cpuAveragePercent"] = t.cpuAverage;
    s["efficiencyIndex"] = t.cpuAverage != 0 ? Json(t.averageFps / t.cpuAverage) : Json(nullptr);
    s["elapsedMs"] = t.elapsedMs;
    s["estimatedMs"] = t.estimatedMs;
    return s;
}

Json GpuJson(const GpuResult& gpu, const std::optional<bench::RunTotals>& summary) {
    const bench::GpuFigures& f = gpu.figures;
    const bool known = summary.has_value();
    Json g;
    g["cardName"] = gpu.card.cardName;
    g["gpuName"] = gpu.card.gpuName;
    g["memorySize"] = gpu.card.memorySize;
    g["openClVersion"] = gpu.card.openClVersion;
    g["driverVersion"] = gpu.card.driverVersion;
    g["source"] = gpu.card.sourceVersion;
    g["loadAveragePercent"] = known ? Json(summary->gpuAverage) : Json(nullptr);
    g["videoEngineLoadAveragePercent"] =
        known && gpu.vpuAvailable ? Json(summary->vpuAverage) : Json(nullptr);
    g["memoryUsedMB"] = known && f.memoryUsedAvailable ? Json(f.memoryUsedMB) : Json(nullptr);
    g["memoryDedicatedMB"] = known && f.dedicatedAvailable ? Json(f.dedicatedMB) : Json(nullptr);
    g["memoryDynamicMB"] = known && f.dynamicAvailable ? Json(f.dynamicMB) : Json(nullptr);
    return g;
}

// One array per CSV column, so that a sample is the same index in each.
Json SamplesJson(const RunResult& r) {
    const bool gpu = r.gpu.has_value();
    const bool vpu = gpu && r.gpu->vpuAvailable;
    Json frame = Json::array(), fps = Json::array(), averageFps = Json::array(),
         tpf = Json::array(), averageTpf = Json::array(), cpu = Json::array(),
         gpuLoad = Json::array(), vpuLoad = Json::array(), threads = Json::array(),
         physical = Json::array(), virt = Json::array();
    for (size_t i = 0; i < r.sampleCount; ++i) {
        const bench::FrameSample& s = r.samples[i];
        frame.push_back(s.frame + 1);
        fps.push_back(s.currentFps);
        averageFps.push_back(s.averageFps);
        tpf.push_back(1000.0 / s.currentFps);
        averageTpf.push_back(1000.0 / s.averageFps);
        cpu.push_back(s.cpuPercent);
        gpuLoad.push_back(s.gpuPercent);
        vpuLoad.push_back(s.vpuPercent);
        threads.push_back(s.threadCount);
        physical.push_back(s.physicalMB);
        virt.push_back(s.virtualMB);
    }
    Json samples;
    samples["frame"] = std::move(frame);
    samples["fps"] = std::move(fps);
    samples["averageFps"] = std::move(averageFps);
    samples["timePerFrameMs"] = std::move(tpf);
    samples["averageTimePerFrameMs"] = std::move(averageTpf);
    samples["cpuPercent"] = std::move(cpu);
    if (gpu) samples["gpuPercent"] = std::move(gpuLoad);
    if (vpu) samples["vpuPercent"] = std::move(vpuLoad);
    samples["threads"] = std::move(threads);
    samples["physicalMB"] = std::move(physical);
    samples["virtualMB"] = std::move(virt);
    return samples;
}

}  // namespace

const char* EndName(bench::RunEnd runEnd) {
    switch (runEnd) {
        case bench::RunEnd::kTimeLimit:
            return end::kTimeLimit;
        case bench::RunEnd::kCancelled:
            return end::kCancelled;
        case bench::RunEnd::kRangeDone:
            break;
    }
    return end::kCompleted;
}

double NearestRank(const std::vector<double>& ascending, double percent) {
    if (ascending.empty()) return 0.0;
    const double n = static_cast<double>(ascending.size());
    size_t rank = static_cast<size_t>(std::ceil(percent / 100.0 * n));
    rank = std::min(std::max<size_t>(rank, 1), ascending.size());
    return ascending[rank - 1];
}

std::optional<RateDistribution> DistributionOf(const bench::FrameSample* samples, size_t count) {
    if (samples == nullptr || count == 0) return std::nullopt;
    std::vector<double> rates(count);
    for (size_t i = 0; i < count; ++i)
        rates[i] = samples[i].currentFps;
    std::sort(rates.begin(), rates.end());
    RateDistribution d;
    d.min = rates.front();
    d.p1 = NearestRank(rates, 1);
    d.p5 = NearestRank(rates, 5);
    d.p50 = NearestRank(rates, 50);
    d.p95 = NearestRank(rates, 95);
    d.p99 = NearestRank(rates, 99);
    d.max = rates.back();
    return d;
}

std::string ResultJson(const RunResult& r) {
    Json doc;
    doc["format"] = kResultFormat;
    doc["formatVersion"] = kResultFormatVersion;
    doc["trevalo"] = {{"version", r.programVersion}, {"architecture", r.architecture}};
    doc["date"] = r.date;
    doc["script"] = r.scriptPath;
    doc["switches"] = r.switches;
    doc["avisynth"] = {{"version", r.avisynthVersion},
                       {"fileVersion", r.avisynthFileVersion},
                       {"interfaceVersion", r.avisynthInterfaceVersion}};
    doc["clip"] = r.clip ? ClipJson(*r.clip) : Json(nullptr);
    doc["range"] =
        r.range ? Json{{"first", r.range->first}, {"last", r.range->last}} : Json(nullptr);
    doc["refreshInterval"] = r.refreshInterval != 0 ? Json(r.refreshInterval) : Json(nullptr);
    doc["end"] = r.end;
    doc["error"] = r.end == end::kError ? Json(r.errorText) : Json(nullptr);
    doc["summary"] = r.summary ? SummaryJson(*r.summary) : Json(nullptr);
    doc["gpu"] = r.gpu ? GpuJson(*r.gpu, r.summary) : Json(nullptr);
    const std::optional<RateDistribution> d = DistributionOf(r.samples, r.sampleCount);
    doc["distribution"] =
        d ? Json{{"min", d->min}, {"p1", d->p1},   {"p5", d->p5},  {"p50", d->p50},
                 {"p95", d->p95}, {"p99", d->p99}, {"max", d->max}}
          : Json(nullptr);
    doc["samples"] = SamplesJson(r);
    // Paths and error texts may hold any bytes; JSON must be UTF-8.
    return doc.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string WriteResultFile(const RunResult& result) {
    const std::string path = SiblingPath(result.scriptPath, ".json");
    if (!sys::WriteFile(path, ResultJson(result))) return "\nCannot create \"" + path + "\"\n";
    return "";
}

}  // namespace report
