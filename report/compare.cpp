#include "report/compare.h"

#include <nlohmann/json.hpp>
#include <vector>

#include "report/results.h"
#include "sys/utils.h"

namespace report {
namespace {

using Json = nlohmann::json;
using Figure = std::optional<double>;

// One number of an object: null gives an empty figure; a missing key or another type is a
// foreign file.
bool Read(const Json& object, const char* key, Figure& figure, const std::string& where,
          std::string& reason) {
    const auto it = object.find(key);
    if (it == object.end() || !(it->is_number() || it->is_null())) {
        reason = "is not a Trevalo result file (" + where + key + " is missing or not a number)";
        return false;
    }
    figure = it->is_null() ? Figure() : Figure(it->get<double>());
    return true;
}

const Json* Object(const Json& parent, const char* key) {
    const auto it = parent.find(key);
    return it != parent.end() && it->is_object() ? &*it : nullptr;
}

std::string Text(const Json& parent, const char* key) {
    const auto it = parent.find(key);
    return it != parent.end() && it->is_string() ? it->get<std::string>() : "";
}

std::string FileName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Shown(const Figure& f, std::string (*format)(double)) {
    return f ? format(*f) : "n/a";
}

std::string Whole(double v) {
    return CUtils::FormatString("%.0f", v);
}

std::string Ratio(const Figure& a, const Figure& b) {
    if (!a || !b || *a == 0.0) return "n/a";
    return CUtils::FormatString("%.2f", *b / *a);
}

std::string Pair(const std::string& a, const std::string& b) {
    return "(" + a + " | " + b + ")";
}

std::string Size(const ResultFigures& f) {
    return f.width && f.height ? Whole(*f.width) + "x" + Whole(*f.height) : "n/a";
}

std::string Range(const ResultFigures& f) {
    return f.rangeFirst && f.rangeLast ? Whole(*f.rangeFirst) + " - " + Whole(*f.rangeLast) : "n/a";
}

}  // namespace

bool ReadResultFigures(const std::string& text, ResultFigures& f, std::string& reason) {
    // The samples are not needed here: left out while parsing, they cost no memory.
    const Json::parser_callback_t withoutSamples = [](int depth, Json::parse_event_t event,
                                                      Json& parsed) {
        return !(depth == 1 && event == Json::parse_event_t::key && parsed == "samples");
    };
    Json doc;
    try {
        doc = Json::parse(text, withoutSamples);
    } catch (const Json::parse_error& e) {
        reason = CUtils::FormatString("is not JSON (syntax error at byte %zu)", e.byte);
        return false;
    } catch (const Json::exception&) {
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
    const Json* summary = Object(doc, "summary");
    if (summary == nullptr) {
        reason = "holds no summary: its run ended with \"" + Text(doc, "end") + "\"";
        return false;
    }
    f = ResultFigures{};
    f.script = Text(doc, "script");
    if (const Json* avs = Object(doc, "avisynth")) f.avisynthVersion = Text(*avs, "version");
    if (const Json* clip = Object(doc, "clip")) {
        if (!Read(*clip, "frames", f.frames, "clip.", reason) ||
            !Read(*clip, "width", f.width, "clip.", reason) ||
            !Read(*clip, "height", f.height, "clip.", reason)) {
            return false;
        }
    }
    if (const Json* range = Object(doc, "range")) {
        if (!Read(*range, "first", f.rangeFirst, "range.", reason) ||
            !Read(*range, "last", f.rangeLast, "range.", reason)) {
            return false;
        }
    }
    if (const Json* rates = Object(doc, "distribution")) {
        if (!Read(*rates, "p1", f.onePercentLow, "distribution.", reason)) return false;
    }
    const struct {
        const char* key;
        Figure& figure;
    } fields[] = {{"fpsAverage", f.fpsAverage},
                  {"fpsMin", f.fpsMin},
                  {"fpsMax", f.fpsMax},
                  {"timePerFrameAverageMs", f.tpfAverage},
                  {"cpuAveragePercent", f.cpu},
                  {"physicalMemoryPeakMB", f.physicalMB},
                  {"virtualMemoryPeakMB", f.virtualMB},
                  {"threads", f.threads},
                  {"efficiencyIndex", f.efficiency}};
    for (const auto& field : fields) {
        if (!Read(*summary, field.key, field.figure, "summary.", reason)) return false;
    }
    return true;
}

std::string ComparisonText(const ResultFigures& a, const ResultFigures& b, const std::string& fileA,
                           const std::string& fileB) {
    std::string text =
        "\nA: " + a.script + " (" + fileA + ")\nB: " + b.script + " (" + fileB + ")\n";

    std::vector<std::string> differences;
    if (a.frames != b.frames) {
        differences.push_back("frame count " +
                              Pair(Shown(a.frames, Whole), Shown(b.frames, Whole)));
    }
    if (Size(a) != Size(b)) differences.push_back("size " + Pair(Size(a), Size(b)));
    if (Range(a) != Range(b)) differences.push_back("range " + Pair(Range(a), Range(b)));
    if (a.avisynthVersion != b.avisynthVersion) {
        differences.push_back("AviSynth version " + Pair(a.avisynthVersion, b.avisynthVersion));
    }
    if (!differences.empty()) {
        text += "Warning: the runs differ in ";
        for (size_t i = 0; i < differences.size(); ++i)
            text += (i > 0 ? ", " : "") + differences[i];
        text += "\n";
    }

    const struct {
        const char* label;
        const Figure& a;
        const Figure& b;
        std::string (*format)(double);
    } rows[] = {
        {"FPS (average):", a.fpsAverage, b.fpsAverage, CUtils::FormatFPS},
        {"FPS (min):", a.fpsMin, b.fpsMin, CUtils::FormatFPS},
        {"FPS (max):", a.fpsMax, b.fpsMax, CUtils::FormatFPS},
        {"Time/frame (average, ms):", a.tpfAverage, b.tpfAverage, CUtils::FormatTPF},
        {"1 % low (FPS):", a.onePercentLow, b.onePercentLow, CUtils::FormatFPS},
        {"CPU usage (average, %):", a.cpu, b.cpu, Whole},
        {"Memory usage (phys, MB):", a.physicalMB, b.physicalMB, Whole},
        {"Memory usage (virt, MB):", a.virtualMB, b.virtualMB, Whole},
        {"Thread count:", a.threads, b.threads, Whole},
        {"Efficiency index:", a.efficiency, b.efficiency, CUtils::FormatTPF},
    };
    text += CUtils::FormatString("\n%-32s%14s%14s%10s\n", "", "A", "B", "B/A");
    for (const auto& row : rows) {
        text +=
            CUtils::FormatString("%-32s%14s%14s%10s\n", row.label, Shown(row.a, row.format).c_str(),
                                 Shown(row.b, row.format).c_str(), Ratio(row.a, row.b).c_str());
    }

    // Named by their scripts; two runs of one script by their result files as well.
    std::string nameA = FileName(a.script), nameB = FileName(b.script);
    if (nameA == nameB) {
        nameA += " (" + fileA + ")";
        nameB += " (" + fileB + ")";
    }
    const std::string ratio = Ratio(a.fpsAverage, b.fpsAverage);
    if (ratio == "n/a") {
        text += "\nThe average frame rates cannot be compared.\n";
    } else {
        text += "\n" + nameB + " rendered " + ratio + " times as fast as " + nameA + "\n";
    }
    return text;
}

}  // namespace report
