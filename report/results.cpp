#include "report/results.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>

#include "bench/loop.h"
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

Json MachineJson(const sys::MachineFacts& m) {
    return {
        {"processor", TextOrNull(m.processor)},
        {"logicalProcessors", m.logicalProcessors != 0 ? Json(m.logicalProcessors) : Json(nullptr)},
        {"memoryMB", m.memoryMB != 0 ? Json(m.memoryMB) : Json(nullptr)},
        {"system", TextOrNull(m.system)},
        {"systemVersion", TextOrNull(m.systemVersion)}};
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

// ---- Reading: the fields a comparison needs are kept, nothing else is stored ----

using AnyJson = nlohmann::json;
using Figure = std::optional<double>;

// A kept text longer than this is refused: the longest path a run writes is some tens of KB
// (32,767 UTF-16 units on Windows), even with each byte that is not UTF-8 written as U+FFFD.
constexpr size_t kMostTextBytes = size_t{1} << 20;
constexpr const char* kMostTextShown = "1 MiB";

// The objects whose fields are kept; kRoot is the document itself.
enum Section {
    kRoot,
    kAvisynth,
    kClip,
    kRange,
    kDistribution,
    kSummary,
    kMachine,
    kSeries,
    kScan,
    kSections
};
constexpr const char* kSectionKeys[kSections] = {
    "", "avisynth", "clip", "range", "distribution", "summary", "machine", "series", "scan"};

// The kept fields, each by its object and key.
constexpr struct {
    Section section;
    const char* key;
} kKept[] = {
    {kRoot, "format"},
    {kRoot, "formatVersion"},
    {kRoot, "script"},
    {kRoot, "end"},
    {kAvisynth, "version"},
    {kClip, "frames"},
    {kClip, "width"},
    {kClip, "height"},
    {kRange, "first"},
    {kRange, "last"},
    {kDistribution, "min"},
    {kDistribution, "p1"},
    {kDistribution, "p5"},
    {kDistribution, "p50"},
    {kDistribution, "p95"},
    {kDistribution, "p99"},
    {kDistribution, "max"},
    {kSummary, "fpsAverage"},
    {kSummary, "fpsMin"},
    {kSummary, "fpsMax"},
    {kSummary, "timePerFrameAverageMs"},
    {kSummary, "cpuAveragePercent"},
    {kSummary, "physicalMemoryPeakMB"},
    {kSummary, "virtualMemoryPeakMB"},
    {kSummary, "threads"},
    {kSummary, "efficiencyIndex"},
    {kMachine, "processor"},
    {kMachine, "logicalProcessors"},
    {kMachine, "memoryMB"},
    {kMachine, "system"},
    {kMachine, "systemVersion"},
    {kSeries, "fpsMean"},
    {kSeries, "fpsMin"},
    {kSeries, "fpsMax"},
    {kSeries, "runRates"},  // the arrays: their items kept in Kept::arrays
    {kScan, "variable"},
    {kScan, "valueTexts"},
    {kScan, "runCounts"},
    {kScan, "runRates"},
};
constexpr size_t kKeptCount = sizeof kKept / sizeof kKept[0];

// The arrays whose items are kept, numbers or texts, while there are at most `most` of them.
constexpr size_t kMostScanValues = 100;
constexpr size_t kMostValueBytes = 4096;
constexpr struct {
    Section section;
    const char* key;
    bool texts;
    size_t most;
} kArrays[] = {
    {kSeries, "runRates", false, bench::kMostRuns},
    {kScan, "valueTexts", true, kMostScanValues},
    {kScan, "runCounts", false, kMostScanValues},
    {kScan, "runRates", false, kMostScanValues* bench::kMostRuns},
};
constexpr size_t kArrayCount = sizeof kArrays / sizeof kArrays[0];
enum Array { kSeriesRates, kScanValues, kScanCounts, kScanRates };

// An array's items; read while it is an array of items of its kind, at most its `most`.
struct KeptArray {
    std::vector<double> numbers;
    std::vector<std::string> texts;
    bool read = false;
};

// A kept field's value as the file states it.
struct Field {
    enum class Type { kMissing, kNull, kNumber, kText, kOther };
    Type type = Type::kMissing;
    double number = 0;
    bool integer = false;  // a number written as a whole number, without fraction or exponent
    std::string text;      // a text of at most kMostTextBytes
    bool tooLong = false;  // a longer text, not kept
};

// What the reader keeps of a file: whether the document and each section are objects, and
// the kept fields. As in a parsed document, a key's last occurrence wins.
struct Kept {
    bool rootIsObject = false;
    bool isObject[kSections] = {};
    Field fields[kKeptCount];
    KeptArray arrays[kArrayCount];

    const Field& Get(Section section, const char* key) const {
        for (size_t i = 0; i < kKeptCount; ++i) {
            if (kKept[i].section == section && std::strcmp(kKept[i].key, key) == 0)
                return fields[i];
        }
        static const Field missing;
        return missing;
    }
    bool IsObject(Section section) const { return isObject[section]; }
    // The array whose field this is; -1 for a field of one value.
    int ArrayOf(const Field* field) const {
        for (size_t a = 0; a < kArrayCount; ++a) {
            if (field == &Get(kArrays[a].section, kArrays[a].key)) return static_cast<int>(a);
        }
        return -1;
    }
};

// The parser's events, kept where they are wanted. A value that is not kept, scalar or
// container of any depth and size, is passed over: nothing of it is stored.
class Keeper final : public nlohmann::json_sax<AnyJson> {
  public:
    Keeper(Kept& kept, std::string& reason) : kept_(kept), reason_(reason) {}

    bool null() override {
        return Scalar([](Field& f) { f.type = Field::Type::kNull; });
    }
    bool boolean(bool) override {
        return Scalar([](Field& f) { f.type = Field::Type::kOther; });
    }
    bool number_integer(number_integer_t value) override { return Number(value, true); }
    bool number_unsigned(number_unsigned_t value) override { return Number(value, true); }
    bool number_float(number_float_t value, const string_t&) override {
        return Number(value, false);
    }
    bool string(string_t& value) override {
        if (skipped_ == 0 && collecting_ >= 0) {
            KeptArray& array = kept_.arrays[collecting_];
            if (!kArrays[collecting_].texts || array.texts.size() >= kArrays[collecting_].most ||
                value.size() > kMostValueBytes)
                array.read = false;
            if (array.read) array.texts.push_back(value);
            return true;
        }
        return Scalar([&value](Field& f) {
            f.type = Field::Type::kText;
            f.tooLong = value.size() > kMostTextBytes;
            if (!f.tooLong) f.text = value;
        });
    }
    bool binary(binary_t&) override {
        return Scalar([](Field& f) { f.type = Field::Type::kOther; });
    }
    bool start_object(std::size_t) override {
        if (skipped_ == 0 && depth_ == 0) {
            kept_.rootIsObject = true;
            depth_ = 1;
        } else if (skipped_ == 0 && depth_ == 1 && section_ != kRoot) {
            Begin();
            kept_.isObject[section_] = true;
            depth_ = 2;  // section_ stays: its keys follow
        } else {
            StartSkipping();
        }
        return true;
    }
    bool end_object() override {
        if (skipped_ > 0) {
            --skipped_;
        } else {
            --depth_;
            section_ = kRoot;
        }
        return true;
    }
    bool start_array(std::size_t) override {
        const int array = kept_.ArrayOf(field_);
        if (skipped_ == 0 && collecting_ < 0 && array >= 0) {
            Begin();
            field_->type = Field::Type::kOther;  // the items go to the array instead
            kept_.arrays[array] = KeptArray();
            kept_.arrays[array].read = true;
            collecting_ = array;
            field_ = nullptr;
            return true;
        }
        StartSkipping();
        return true;
    }
    bool end_array() override {
        if (skipped_ == 0 && collecting_ >= 0) {
            collecting_ = -1;
            Done();
        } else {
            --skipped_;
        }
        return true;
    }
    bool key(string_t& name) override {
        if (skipped_ > 0) return true;
        field_ = nullptr;
        const Section in = depth_ == 1 ? kRoot : section_;
        if (depth_ == 1) section_ = kRoot;
        for (size_t i = 0; i < kKeptCount; ++i) {
            if (kKept[i].section == in && name == kKept[i].key) field_ = &kept_.fields[i];
        }
        for (int s = kRoot + 1; depth_ == 1 && s < kSections; ++s) {
            if (name == kSectionKeys[s]) section_ = static_cast<Section>(s);
        }
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const AnyJson::exception& error) override {
        const auto* syntax = dynamic_cast<const AnyJson::parse_error*>(&error);
        reason_ = syntax != nullptr
                      ? CUtils::FormatString("is not JSON (syntax error at byte %zu)", syntax->byte)
                      : "is not JSON that Trevalo can read (a number out of range)";
        return false;
    }

  private:
    // A value begins where the last key leads: a kept field or section is set afresh.
    void Begin() {
        if (depth_ == 1 && section_ != kRoot) {
            for (size_t i = 0; i < kKeptCount; ++i) {
                if (kKept[i].section == section_) kept_.fields[i] = Field();
            }
            kept_.isObject[section_] = false;
        }
        for (size_t a = 0; a < kArrayCount; ++a) {
            const bool sectionBegins = depth_ == 1 && section_ == kArrays[a].section;
            if (sectionBegins || kept_.ArrayOf(field_) == static_cast<int>(a))
                kept_.arrays[a] = KeptArray();
        }
        if (field_ != nullptr) *field_ = Field();
    }
    template <class Set>
    bool Scalar(Set set) {
        if (skipped_ > 0) return true;
        if (collecting_ >= 0) {  // no other kind of value belongs in an array
            kept_.arrays[collecting_].read = false;
            return true;
        }
        Begin();
        if (field_ != nullptr) set(*field_);
        Done();
        return true;
    }
    template <class Value>
    bool Number(Value value, bool integer) {
        if (skipped_ == 0 && collecting_ >= 0) {
            KeptArray& array = kept_.arrays[collecting_];
            if (kArrays[collecting_].texts || array.numbers.size() >= kArrays[collecting_].most)
                array.read = false;
            if (array.read) array.numbers.push_back(static_cast<double>(value));
            return true;
        }
        return Scalar([value, integer](Field& f) {
            f.type = Field::Type::kNumber;
            f.number = static_cast<double>(value);
            f.integer = integer;
        });
    }
    void StartSkipping() {
        if (collecting_ >= 0) kept_.arrays[collecting_].read = false;
        if (skipped_++ > 0) return;
        Begin();
        if (field_ != nullptr) field_->type = Field::Type::kOther;
        Done();
    }
    void Done() {
        field_ = nullptr;
        if (depth_ == 1) section_ = kRoot;
    }

    Kept& kept_;
    std::string& reason_;
    size_t skipped_ = 0;       // depth inside a value that is passed over; 0 outside one
    int collecting_ = -1;      // the array whose items come, -1 outside one
    int depth_ = 0;            // 1 inside the document's object, 2 inside a section's
    Section section_ = kRoot;  // depth 1: the section the key names; depth 2: the one entered
    Field* field_ = nullptr;   // the kept field the next value goes to
};

std::string Where(Section section) {
    return section == kRoot ? "" : std::string(kSectionKeys[section]) + ".";
}

// The figures a run can write into a field: from lowest (included or not) to highest, whole
// numbers only or any.
struct Span {
    double lowest;
    bool lowestIncluded;
    double highest;
    bool whole;
};

// A rate is frames over at least bench::kShortestDelta seconds, of at most 2^32 - 1 frames.
constexpr double kMostFps = std::numeric_limits<uint32_t>::max() / bench::kShortestDelta;
constexpr Span kRate{0, false, kMostFps, false};
constexpr Span kMilliseconds{0, false, std::numeric_limits<double>::max(), false};
constexpr Span kPercent{0, true, 100, true};  // of the whole machine, at most 100 a reading
constexpr Span kEfficiency{0, true, kMostFps, false};  // the rate over a CPU percent, if any
template <class T>
constexpr Span kWhole{0, true, static_cast<double>(std::numeric_limits<T>::max()), true};

std::string NoFigure(Section section, const char* key) {
    return "is not a Trevalo result file (" + Where(section) + key +
           " is not a figure a run can produce)";
}

// A number within span, -0 read as 0.
bool Produced(double& value, const Span& span) {
    const bool low = span.lowestIncluded ? value >= span.lowest : value > span.lowest;
    if (!(low && value <= span.highest) || (span.whole && value != std::floor(value))) return false;
    value += 0.0;
    return true;
}

// One number of a section: null gives an empty figure; a missing key or another type is a
// foreign file, and so is a number that no run writes there.
bool Read(const Kept& kept, Section section, const char* key, const Span& span, Figure& figure,
          std::string& reason) {
    const Field& field = kept.Get(section, key);
    if (field.type != Field::Type::kNumber && field.type != Field::Type::kNull) {
        reason = "is not a Trevalo result file (" + Where(section) + key +
                 " is missing or not a number)";
        return false;
    }
    figure = field.type == Field::Type::kNull ? Figure() : Figure(field.number);
    if (figure && !Produced(*figure, span)) {
        reason = NoFigure(section, key);
        return false;
    }
    return true;
}

// A number where one may stand, 0 otherwise; a number that no run writes there is refused.
bool ReadLenient(const Kept& kept, Section section, const char* key, const Span& span,
                 double& value, std::string& reason) {
    const Field& field = kept.Get(section, key);
    value = field.type == Field::Type::kNumber ? field.number : 0.0;
    if (field.type == Field::Type::kNumber && !Produced(value, span)) {
        reason = NoFigure(section, key);
        return false;
    }
    return true;
}

std::string Text(const Kept& kept, Section section, const char* key) {
    const Field& field = kept.Get(section, key);
    return field.type == Field::Type::kText ? field.text : "";
}

// Megabytes as whole numbers that a double holds exactly.
constexpr Span kMachineMB{0, true, 9007199254740992.0, true};

// The machine, where the file names one: older files do not, and their machine is unknown.
bool ReadMachine(const Kept& kept, sys::MachineFacts& machine, std::string& reason) {
    if (!kept.IsObject(kMachine)) return true;
    for (const char* key : {"processor", "system", "systemVersion"}) {
        if (kept.Get(kMachine, key).tooLong) {
            reason = "is not a Trevalo result file (machine." + std::string(key) +
                     " is longer than " + kMostTextShown + ")";
            return false;
        }
    }
    double processors = 0, megabytes = 0;
    if (!ReadLenient(kept, kMachine, "logicalProcessors", kWhole<uint32_t>, processors, reason) ||
        !ReadLenient(kept, kMachine, "memoryMB", kMachineMB, megabytes, reason)) {
        return false;
    }
    machine.processor = Text(kept, kMachine, "processor");
    machine.logicalProcessors = static_cast<uint32_t>(processors);
    machine.memoryMB = static_cast<uint64_t>(megabytes);
    machine.system = Text(kept, kMachine, "system");
    machine.systemVersion = Text(kept, kMachine, "systemVersion");
    return true;
}

}  // namespace

namespace {

// A scan's variable and its values' counted rates, checked against each other.
bool ReadScan(const Kept& kept, bench::RunRecord& r, std::string& reason) {
    const Field& variable = kept.Get(kScan, "variable");
    const KeptArray& texts = kept.arrays[kScanValues];
    const KeptArray& counts = kept.arrays[kScanCounts];
    const KeptArray& rates = kept.arrays[kScanRates];
    bool whole = texts.read && counts.read && rates.read && !texts.texts.empty() &&
                 texts.texts.size() == counts.numbers.size() &&
                 variable.type == Field::Type::kText && !variable.text.empty() &&
                 variable.text.size() <= kMostValueBytes;
    size_t next = 0;
    for (size_t i = 0; whole && i < counts.numbers.size(); ++i) {
        const double count = counts.numbers[i];
        whole = count >= 0 && count <= bench::kMostRuns && count == std::floor(count) &&
                next + static_cast<size_t>(count) <= rates.numbers.size();
        if (!whole) break;
        bench::ScanValueRates value{texts.texts[i], {}};
        for (size_t k = 0; k < static_cast<size_t>(count); ++k) {
            double rate = rates.numbers[next++];
            whole = whole && Produced(rate, kRate);
            value.rates.push_back(rate);
        }
        r.scanValues.push_back(std::move(value));
    }
    if (!whole || next != rates.numbers.size()) {
        r.scanValues.clear();
        reason =
            "is not a Trevalo result file (its scan's variable, valueTexts, runCounts and "
            "runRates do not agree)";
        return false;
    }
    r.scanVariable = variable.text;
    return true;
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

namespace {

Json ResultDocument(const bench::RunRecord& r) {
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
    doc["machine"] = MachineJson(setup.machine);
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
    return doc;
}

// Paths and error texts may hold any bytes; JSON must be UTF-8.
std::string Dumped(const Json& doc) {
    return doc.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

// What differs from run to run of a series; the rest is the series' own.
constexpr const char* kRunKeys[] = {"end", "error", "summary", "gpu", "distribution", "samples"};

}  // namespace

std::string ResultJson(const bench::RunRecord& r) {
    return Dumped(ResultDocument(r));
}

bench::RunEnd EndOfName(const std::string& name) {
    for (const bench::RunEnd end :
         {bench::RunEnd::kCompleted, bench::RunEnd::kTimeLimit, bench::RunEnd::kCancelled,
          bench::RunEnd::kDeclined, bench::RunEnd::kInfo}) {
        if (name == EndName(end)) return end;
    }
    return bench::RunEnd::kError;
}

namespace {

// The runs of a series, each numbered from 1 with what differs between runs.
Json RunsJson(const std::vector<bench::RunRecord>& runs) {
    Json list = Json::array();
    for (size_t i = 0; i < runs.size(); ++i) {
        Json whole = ResultDocument(runs[i]);
        Json run;
        run["run"] = i + 1;
        for (const char* key : kRunKeys)
            run[key] = std::move(whole[key]);
        list.push_back(std::move(run));
    }
    return list;
}

Json SeriesJson(const std::vector<bench::RunRecord>& runs, const bench::SeriesStatistics& series,
                const std::vector<double>& rates) {
    Json outliers = Json::array();
    for (const size_t index : series.outliers)
        outliers.push_back(index + 1);
    return {
        {"runs", runs.size()},
        {"runsInStatistics", series.runs},
        {"fpsMean", series.runs > 0 ? Json(series.mean) : Json(nullptr)},
        {"fpsStandardDeviation", series.runs > 1 ? Json(series.standardDeviation) : Json(nullptr)},
        {"fpsMin", series.runs > 0 ? Json(series.min) : Json(nullptr)},
        {"fpsMax", series.runs > 0 ? Json(series.max) : Json(nullptr)},
        {"coefficientOfVariation",
         series.runs > 1 ? Json(series.coefficientOfVariation) : Json(nullptr)},
        {"outlierRuns", std::move(outliers)},
        {"runRates", rates}};
}

// The facts the runs share, from the last of them that reached the clip; "end" as the last
// one ended.
Json SharedFacts(const std::vector<bench::RunRecord>& runs, bench::RunEnd end) {
    const bench::RunRecord* shown = &runs.back();
    for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
        if (it->clip) {
            shown = &*it;
            break;
        }
    }
    Json doc = ResultDocument(*shown);
    for (const char* key : kRunKeys)
        doc.erase(key);
    doc["end"] = EndName(end);
    return doc;
}

}  // namespace

std::string SeriesResultJson(const std::vector<bench::RunRecord>& runs,
                             const bench::SeriesStatistics& series,
                             const std::vector<double>& rates) {
    Json doc = SharedFacts(runs, runs.back().end);
    doc["series"] = SeriesJson(runs, series, rates);
    doc["runs"] = RunsJson(runs);
    return Dumped(doc);
}

std::string ScanResultJson(const ScanTable& scan,
                           const std::vector<std::vector<bench::RunRecord>>& runs) {
    // The facts of the first value measured; the end of the value that ended the scan.
    std::vector<bench::RunRecord> all;
    bench::RunEnd end = bench::RunEnd::kCompleted;
    for (const std::vector<bench::RunRecord>& value : runs) {
        for (const bench::RunRecord& run : value) {
            if (run.end != bench::RunEnd::kCompleted && run.end != bench::RunEnd::kTimeLimit)
                end = run.end;
        }
    }
    Json doc = SharedFacts(runs.front(), end);
    Json values = Json::array(), texts = Json::array(), counts = Json::array(),
         rates = Json::array();
    for (size_t i = 0; i < scan.points.size() && i < runs.size(); ++i) {
        const ScanPoint& p = scan.points[i];
        values.push_back({{"value", p.value},
                          {"kind", p.kind},
                          {"cpuAveragePercent", OrNull(p.cpu)},
                          {"efficiencyIndex", OrNull(p.efficiency)},
                          {"series", SeriesJson(runs[i], bench::StatisticsOf(p.rates), p.rates)},
                          {"runs", RunsJson(runs[i])}});
        texts.push_back(p.value);
        counts.push_back(p.rates.size());
        for (double rate : p.rates)
            rates.push_back(rate);
    }
    doc["scan"] = {{"variable", scan.variable},      {"threadCounts", scan.threadCounts},
                   {"values", std::move(values)},    {"valueTexts", std::move(texts)},
                   {"runCounts", std::move(counts)}, {"runRates", std::move(rates)}};
    return Dumped(doc);
}

std::string WriteScanResultFile(const ScanTable& scan,
                                const std::vector<std::vector<bench::RunRecord>>& runs) {
    const std::string path = SiblingPath(runs.front().front().setup.scriptPath, ".json");
    if (!sys::WriteFile(path, ScanResultJson(scan, runs))) return CannotCreate(path);
    return "";
}

std::string WriteResultFile(const bench::RunRecord& record) {
    const std::string path = SiblingPath(record.setup.scriptPath, ".json");
    if (!sys::WriteFile(path, ResultJson(record))) return CannotCreate(path);
    return "";
}

std::string WriteSeriesResultFile(const std::vector<bench::RunRecord>& runs,
                                  const bench::SeriesStatistics& series,
                                  const std::vector<double>& rates) {
    const std::string path = SiblingPath(runs.front().setup.scriptPath, ".json");
    if (!sys::WriteFile(path, SeriesResultJson(runs, series, rates))) return CannotCreate(path);
    return "";
}

bool ReadResultFile(std::string_view text, bench::RunRecord& record, std::string& reason) {
    Kept kept;
    Keeper keeper(kept, reason);
    reason.clear();
    if (!AnyJson::sax_parse(text.data(), text.data() + text.size(), &keeper)) {
        if (reason.empty()) reason = "is not JSON";
        return false;
    }
    if (!kept.rootIsObject || Text(kept, kRoot, "format") != kResultFormat) {
        reason = "is not a Trevalo result file";
        return false;
    }
    const Field& version = kept.Get(kRoot, "formatVersion");
    if (version.type != Field::Type::kNumber || !version.integer ||
        version.number != kResultFormatVersion) {
        reason = "has a result format version this Trevalo does not know";
        return false;
    }
    for (const auto& [section, key] :
         {std::pair{kRoot, "script"}, std::pair{kAvisynth, "version"}, std::pair{kRoot, "end"}}) {
        if (kept.Get(section, key).tooLong) {
            reason = "is not a Trevalo result file (" + Where(section) + key + " is longer than " +
                     kMostTextShown + ")";
            return false;
        }
    }
    const bool scan = kept.IsObject(kScan);
    const bool series = !kept.IsObject(kSummary) && kept.IsObject(kSeries);
    if (!kept.IsObject(kSummary) && !series && !scan) {
        reason = "holds no summary: its run ended with \"" + Text(kept, kRoot, "end") + "\"";
        return false;
    }

    bench::RunRecord r;
    r.setup.scriptPath = Text(kept, kRoot, "script");
    r.setup.avisynth.versionString = Text(kept, kAvisynth, "version");
    // A file that does not say how its run ended is taken as complete: nothing to warn of.
    const std::string end = Text(kept, kRoot, "end");
    r.end = end.empty() ? bench::RunEnd::kCompleted : EndOfName(end);
    if (!ReadMachine(kept, r.setup.machine, reason)) return false;
    if (kept.IsObject(kClip)) {
        Figure frames, width, height;
        if (!Read(kept, kClip, "frames", kWhole<int>, frames, reason) ||
            !Read(kept, kClip, "width", kWhole<int>, width, reason) ||
            !Read(kept, kClip, "height", kWhole<int>, height, reason)) {
            return false;
        }
        // A clip without video has none of the three.
        if (frames && width && height) {
            avs::VideoInfo vi;
            vi.raw.num_frames = static_cast<int>(*frames);
            vi.raw.width = static_cast<int>(*width);
            vi.raw.height = static_cast<int>(*height);
            r.clip = vi;
        }
    }
    if (kept.IsObject(kRange)) {
        Figure first, last;
        if (!Read(kept, kRange, "first", kWhole<uint32_t>, first, reason) ||
            !Read(kept, kRange, "last", kWhole<uint32_t>, last, reason)) {
            return false;
        }
        if (first && last && *first > *last) {
            reason = "is not a Trevalo result file (range.first is after range.last)";
            return false;
        }
        if (first && last) {
            r.range =
                bench::FrameRange{static_cast<uint32_t>(*first), static_cast<uint32_t>(*last)};
        }
    }
    if (kept.IsObject(kDistribution)) {
        Figure p1;
        if (!Read(kept, kDistribution, "p1", kRate, p1, reason)) return false;
        bench::RateDistribution d;
        const std::pair<const char*, double&> others[] = {{"min", d.min}, {"p5", d.p5},
                                                          {"p50", d.p50}, {"p95", d.p95},
                                                          {"p99", d.p99}, {"max", d.max}};
        for (const auto& [key, value] : others) {
            if (!ReadLenient(kept, kDistribution, key, kRate, value, reason)) return false;
        }
        if (p1) {
            d.p1 = *p1;
            r.rates = d;
        }
    }
    Figure fpsAverage, fpsMin, fpsMax, tpfAverage, cpu, physical, virt, threads, efficiency;
    const struct {
        const char* key;
        const Span& span;
        Figure& figure;
    } fields[] = {{"fpsAverage", kRate, fpsAverage},
                  {"fpsMin", kRate, fpsMin},
                  {"fpsMax", kRate, fpsMax},
                  {"timePerFrameAverageMs", kMilliseconds, tpfAverage},
                  {"cpuAveragePercent", kPercent, cpu},
                  {"physicalMemoryPeakMB", kWhole<uint32_t>, physical},
                  {"virtualMemoryPeakMB", kWhole<uint32_t>, virt},
                  {"threads", kWhole<uint16_t>, threads},
                  {"efficiencyIndex", kEfficiency, efficiency}};
    if (series) {
        // The series' own figures stand for its runs'; the others are not known.
        if (!Read(kept, kSeries, "fpsMean", kRate, fpsAverage, reason) ||
            !Read(kept, kSeries, "fpsMin", kRate, fpsMin, reason) ||
            !Read(kept, kSeries, "fpsMax", kRate, fpsMax, reason)) {
            return false;
        }
        if (!kept.arrays[kSeriesRates].read) {
            reason =
                "is not a Trevalo result file (series.runRates is missing or not an array "
                "of at most 1000 numbers)";
            return false;
        }
        for (double rate : kept.arrays[kSeriesRates].numbers) {
            if (!Produced(rate, kRate)) {
                reason = NoFigure(kSeries, "runRates");
                return false;
            }
            r.seriesRates.push_back(rate);
        }
        if (fpsAverage) tpfAverage = 1000.0 / *fpsAverage;
    }
    if (scan && !ReadScan(kept, r, reason)) return false;
    if (scan && !series && !kept.IsObject(kSummary)) {
        record = std::move(r);
        return true;
    }
    for (const auto& field : fields) {
        if (series) break;
        if (!Read(kept, kSummary, field.key, field.span, field.figure, reason)) return false;
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
