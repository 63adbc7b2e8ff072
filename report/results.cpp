#include "report/results.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "report/reports.h"
#include "sys/file_info.h"
#include "sys/utils.h"

namespace report {
namespace {

using Json = nlohmann::ordered_json;

// A figure the console shows as "n/a" is null.
Json OrNull(const std::optional<double>& figure) {
    return figure ? Json(*figure) : Json(nullptr);
}

// A count, written as a whole number.
Json CountOrNull(const std::optional<double>& figure) {
    return figure ? Json(static_cast<uint64_t>(*figure)) : Json(nullptr);
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

Json SummaryJson(const bench::RunTotals& t, const bench::SummaryFigures& f) {
    Json s;
    s["framesProcessed"] = t.framesProcessed;
    s["firstFrame"] = t.firstFrame;
    s["lastFrame"] = t.lastFrame;
    s["fpsMin"] = OrNull(f.fpsMin);
    s["fpsMax"] = OrNull(f.fpsMax);
    s["fpsAverage"] = OrNull(f.fpsAverage);
    s["timePerFrameMinMs"] = OrNull(f.tpfMin);
    s["timePerFrameMaxMs"] = OrNull(f.tpfMax);
    s["timePerFrameAverageMs"] = OrNull(f.tpfAverage);
    s["physicalMemoryPeakMB"] = CountOrNull(f.physicalPeakMB);
    s["virtualMemoryPeakMB"] = CountOrNull(f.virtualPeakMB);
    s["threads"] = CountOrNull(f.threads);
    s["cpuAveragePercent"] = CountOrNull(f.cpuAverage);
    s["efficiencyIndex"] = OrNull(f.efficiency);
    s["elapsedMs"] = t.elapsedMs;
    s["estimatedMs"] = t.estimatedMs;
    return s;
}

Json GpuJson(const bench::GpuRecord& gpu, const std::optional<bench::RunTotals>& summary) {
    const bench::GpuFigures& f = gpu.last;
    const bool known = summary.has_value();
    const bench::CardDescription card = gpu.card.value_or(bench::CardDescription{});
    Json g;
    g["cardName"] = card.cardName;
    g["gpuName"] = card.gpuName;
    g["memorySize"] = card.memorySize;
    g["openClVersion"] = card.openClVersion;
    g["driverVersion"] = card.driverVersion;
    g["source"] = card.sourceVersion;
    g["loadAveragePercent"] = known ? Json(summary->gpuAverage) : Json(nullptr);
    g["videoEngineLoadAveragePercent"] =
        known && gpu.vpuAvailable ? Json(summary->vpuAverage) : Json(nullptr);
    g["memoryUsedMB"] = known && f.memoryUsedAvailable ? Json(f.memoryUsedMB) : Json(nullptr);
    g["memoryDedicatedMB"] = known && f.dedicatedAvailable ? Json(f.dedicatedMB) : Json(nullptr);
    g["memoryDynamicMB"] = known && f.dynamicAvailable ? Json(f.dynamicMB) : Json(nullptr);
    return g;
}

// One array per CSV column, so that a sample is the same index in each.
Json SamplesJson(const bench::RunRecord& r) {
    const bool gpu = r.gpu.has_value();
    const bool vpu = gpu && r.gpu->vpuAvailable;
    Json frame = Json::array(), fps = Json::array(), averageFps = Json::array(),
         tpf = Json::array(), averageTpf = Json::array(), cpu = Json::array(),
         gpuLoad = Json::array(), vpuLoad = Json::array(), threads = Json::array(),
         physical = Json::array(), virt = Json::array();
    for (const bench::FrameSample& s : r.samples) {
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

// The reader's view: any JSON, with numbers as doubles.
using AnyJson = nlohmann::json;
using Figure = std::optional<double>;

// One number of an object: null gives an empty figure; a missing key or another type is a
// foreign file.
bool Read(const AnyJson& object, const char* key, Figure& figure, const std::string& where,
          std::string& reason) {
    const auto it = object.find(key);
    if (it == object.end() || !(it->is_number() || it->is_null())) {
        reason = "is not a Trevalo result file (" + where + key + " is missing or not a number)";
        return false;
    }
    figure = it->is_null() ? Figure() : Figure(it->get<double>());
    return true;
}

// A number where one may stand; 0 otherwise.
double Lenient(const AnyJson& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_number() ? it->get<double>() : 0.0;
}

const AnyJson* Object(const AnyJson& parent, const char* key) {
    const auto it = parent.find(key);
    return it != parent.end() && it->is_object() ? &*it : nullptr;
}

std::string Text(const AnyJson& parent, const char* key) {
    const auto it = parent.find(key);
    return it != parent.end() && it->is_string() ? it->get<std::string>() : "";
}

// A file's number in a field of the record: clamped to the field's type.
template <class T>
T Clamped(double value) {
    const double lowest = static_cast<double>(std::numeric_limits<T>::lowest());
    const double highest = static_cast<double>(std::numeric_limits<T>::max());
    if (!(value > lowest)) return std::numeric_limits<T>::lowest();
    if (!(value < highest)) return std::numeric_limits<T>::max();
    return static_cast<T>(value);
}

}  // namespace

const char* EndName(bench::RunEnd end) {
    switch (end) {
        case bench::RunEnd::kCompleted:
            return "completed";
        case bench::RunEnd::kTimeLimit:
            return "time limit";
        case bench::RunEnd::kCancelled:
            return "cancelled";
        case bench::RunEnd::kDeclined:
            return "declined";
        case bench::RunEnd::kInfo:
            return "info";
        case bench::RunEnd::kError:
            break;
    }
    return "error";
}

std::string ResultJson(const bench::RunRecord& r) {
    const bench::RunSetup& setup = r.setup;
    Json doc;
    doc["format"] = kResultFormat;
    doc["formatVersion"] = kResultFormatVersion;
    doc["trevalo"] = {{"version", setup.programVersion}, {"architecture", setup.architecture}};
    doc["date"] = setup.date;
    doc["script"] = setup.scriptPath;
    doc["switches"] = setup.switches;
    doc["avisynth"] = {{"version", setup.avisynth.versionString},
                       {"fileVersion", setup.avisynth.fileVersion},
                       {"interfaceVersion", setup.avisynth.interfaceVersion}};
    doc["clip"] = r.clip ? ClipJson(*r.clip) : Json(nullptr);
    doc["range"] =
        r.range ? Json{{"first", r.range->first}, {"last", r.range->last}} : Json(nullptr);
    doc["refreshInterval"] = r.refreshInterval != 0 ? Json(r.refreshInterval) : Json(nullptr);
    doc["end"] = EndName(r.end);
    doc["error"] = r.end == bench::RunEnd::kError ? Json(r.errorText) : Json(nullptr);
    doc["summary"] = r.totals ? SummaryJson(*r.totals, r.figures.value_or(bench::SummaryFigures{}))
                              : Json(nullptr);
    doc["gpu"] = r.gpu ? GpuJson(*r.gpu, r.totals) : Json(nullptr);
    const std::optional<bench::RateDistribution>& d = r.rates;
    doc["distribution"] =
        d ? Json{{"min", d->min}, {"p1", d->p1},   {"p5", d->p5},  {"p50", d->p50},
                 {"p95", d->p95}, {"p99", d->p99}, {"max", d->max}}
          : Json(nullptr);
    doc["samples"] = SamplesJson(r);
    // Paths and error texts may hold any bytes; JSON must be UTF-8.
    return doc.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string WriteResultFile(const bench::RunRecord& record) {
    const std::string path = SiblingPath(record.setup.scriptPath, ".json");
    if (!sys::WriteFile(path, ResultJson(record))) return CannotCreate(path);
    return "";
}

bool ReadResultFile(const std::string& text, bench::RunRecord& record, std::string& reason) {
    // The samples are not needed here: left out while parsing, they cost no memory.
    const AnyJson::parser_callback_t withoutSamples = [](int depth, AnyJson::parse_event_t event,
                                                         AnyJson& parsed) {
        return !(depth == 1 && event == AnyJson::parse_event_t::key && parsed == "samples");
    };
    AnyJson doc;
    try {
        doc = AnyJson::parse(text, withoutSamples);
    } catch (const AnyJson::parse_error& e) {
        reason = CUtils::FormatString("is not JSON (syntax error at byte %zu)", e.byte);
        return false;
    } catch (const AnyJson::exception&) {
        reason = "is not JSON that Trevalo can read (a number out of range)";
        return false;
    }
    if (!doc.is_object() || Text(doc, "format") != kResultFormat) {
        reason = "is not a Trevalo result file";
        return false;
    }
    const auto version = doc.find("formatVersion");
    if (version == doc.end() || !version->is_number_integer() ||
        version->get<int64_t>() != kResultFormatVersion) {
        reason = "has a result format version this Trevalo does not know";
        return false;
    }
    const AnyJson* summary = Object(doc, "summary");
    if (summary == nullptr) {
        reason = "holds no summary: its run ended with \"" + Text(doc, "end") + "\"";
        return false;
    }

    bench::RunRecord r;
    r.setup.scriptPath = Text(doc, "script");
    if (const AnyJson* avs = Object(doc, "avisynth")) {
        r.setup.avisynth.versionString = Text(*avs, "version");
    }
    if (const AnyJson* clip = Object(doc, "clip")) {
        Figure frames, width, height;
        if (!Read(*clip, "frames", frames, "clip.", reason) ||
            !Read(*clip, "width", width, "clip.", reason) ||
            !Read(*clip, "height", height, "clip.", reason)) {
            return false;
        }
        // A clip without video has none of the three.
        if (frames && width && height) {
            avs::VideoInfo vi;
            vi.raw.num_frames = Clamped<int>(*frames);
            vi.raw.width = Clamped<int>(*width);
            vi.raw.height = Clamped<int>(*height);
            r.clip = vi;
        }
    }
    if (const AnyJson* range = Object(doc, "range")) {
        Figure first, last;
        if (!Read(*range, "first", first, "range.", reason) ||
            !Read(*range, "last", last, "range.", reason)) {
            return false;
        }
        if (first && last)
            r.range = bench::FrameRange{Clamped<uint32_t>(*first), Clamped<uint32_t>(*last)};
    }
    if (const AnyJson* rates = Object(doc, "distribution")) {
        Figure p1;
        if (!Read(*rates, "p1", p1, "distribution.", reason)) return false;
        if (p1) {
            r.rates = bench::RateDistribution{Lenient(*rates, "min"), *p1,
                                              Lenient(*rates, "p5"),  Lenient(*rates, "p50"),
                                              Lenient(*rates, "p95"), Lenient(*rates, "p99"),
                                              Lenient(*rates, "max")};
        }
    }
    Figure fpsAverage, fpsMin, fpsMax, tpfAverage, cpu, physical, virt, threads, efficiency;
    const struct {
        const char* key;
        Figure& figure;
    } fields[] = {{"fpsAverage", fpsAverage},
                  {"fpsMin", fpsMin},
                  {"fpsMax", fpsMax},
                  {"timePerFrameAverageMs", tpfAverage},
                  {"cpuAveragePercent", cpu},
                  {"physicalMemoryPeakMB", physical},
                  {"virtualMemoryPeakMB", virt},
                  {"threads", threads},
                  {"efficiencyIndex", efficiency}};
    for (const auto& field : fields) {
        if (!Read(*summary, field.key, field.figure, "summary.", reason)) return false;
    }
    bench::SummaryFigures& f = r.figures.emplace();
    f.fpsAverage = fpsAverage;
    f.fpsMin = fpsMin;
    f.fpsMax = fpsMax;
    f.tpfAverage = tpfAverage;
    f.cpuAverage = cpu;
    f.physicalPeakMB = physical;
    f.virtualPeakMB = virt;
    f.threads = threads;
    f.efficiency = efficiency;
    record = std::move(r);
    return true;
}

}  // namespace report
