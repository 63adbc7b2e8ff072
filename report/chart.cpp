#include "report/chart.h"

#include <algorithm>
#include <cmath>

#include "bench/series_statistics.h"
#include "report/reports.h"
#include "report/results.h"
#include "sys/file_info.h"
#include "sys/paths.h"
#include "sys/utils.h"

namespace report {
namespace {

// The drawing in SVG user units; the viewBox makes it scale to any size.
constexpr double kWidth = 1200, kHeight = 640;
constexpr double kLeft = 80, kRight = 1120, kTop = 100, kBottom = 570;
constexpr double kFontSize = 13;
// 800 buckets over 1040 units: each at most two points, about one and a half units apart.
constexpr size_t kBuckets = 800;

const char kFpsColour[] = "#1f77b4";
const char kAverageColour[] = "#2ca02c";
const char kLowColour[] = "#d62728";
const char kCpuColour[] = "#ff7f0e";
const char kGpuColour[] = "#9467bd";

std::string Number(double value) {
    return CUtils::FormatString("%.1f", value);
}

// Digits, the widest of a label's characters, take about 0.6 em.
double LabelWidth(const std::string& text) {
    return 0.6 * kFontSize * static_cast<double>(text.size());
}

int Decimals(double step) {
    return step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
}

struct Frame {
    AxisScale x, fps;
    double X(double v) const { return kLeft + (v - x.low) / (x.high - x.low) * (kRight - kLeft); }
    double Fps(double v) const {
        return kBottom - (v - fps.low) / (fps.high - fps.low) * (kBottom - kTop);
    }
    static double Percent(double v) {
        return kBottom - std::min(std::max(v, 0.0), 100.0) / 100.0 * (kBottom - kTop);
    }
};

std::string Text(double x, double y, const std::string& attributes, const std::string& text) {
    return "<text x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" " + attributes + ">" +
           XmlEscaped(text) + "</text>\n";
}

std::string Line(double x1, double y1, double x2, double y2, const std::string& attributes) {
    return "<line x1=\"" + Number(x1) + "\" y1=\"" + Number(y1) + "\" x2=\"" + Number(x2) +
           "\" y2=\"" + Number(y2) + "\" " + attributes + "/>\n";
}

// A series already in drawing units; a single point gets a dot, as a line needs two.
std::string Polyline(const std::vector<ChartPoint>& points, const char* colour, double width,
                     const char* extra) {
    if (points.empty()) return "";
    if (points.size() == 1) {
        return CUtils::FormatString("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3\" fill=\"%s\"/>\n",
                                    points[0].x, points[0].y, colour);
    }
    std::string text = CUtils::FormatString(
        "<polyline fill=\"none\" stroke=\"%s\" stroke-width=\"%.1f\" stroke-linejoin=\"round\" "
        "%spoints=\"",
        colour, width, extra);
    for (size_t i = 0; i < points.size(); ++i) {
        if (i > 0) text += ' ';
        text += Number(points[i].x) + "," + Number(points[i].y);
    }
    return text + "\"/>\n";
}

// One series of the samples, thinned, mapped to drawing units.
template <class Value, class MapY>
std::vector<ChartPoint> Series(const std::vector<bench::FrameSample>& samples, const Frame& frame,
                               Value value, MapY mapY) {
    std::vector<ChartPoint> points(samples.size());
    for (size_t i = 0; i < samples.size(); ++i)
        points[i] = {static_cast<double>(samples[i].frame) + 1.0,
                     static_cast<double>(value(samples[i]))};
    points = MinMaxBuckets(points, kBuckets);
    for (ChartPoint& p : points)
        p = {frame.X(p.x), mapY(p.y)};
    return points;
}

template <class Value, class MapY>
std::vector<ChartPoint> Series(const bench::RunRecord& r, const Frame& frame, Value value,
                               MapY mapY) {
    return Series(r.samples, frame, value, mapY);
}

// The CPU load in pieces: where a sample holds no reading the line breaks off rather than
// falling to 0.
std::string CpuLines(const bench::RunRecord& r, const Frame& frame) {
    std::string svg;
    std::vector<bench::FrameSample> piece;
    for (size_t i = 0; i <= r.samples.size(); ++i) {
        if (i < r.samples.size() && r.samples[i].cpuMeasured) {
            piece.push_back(r.samples[i]);
            continue;
        }
        svg += Polyline(Series(
                            piece, frame, [](const bench::FrameSample& s) { return s.cpuPercent; },
                            [](double v) { return Frame::Percent(v); }),
                        kCpuColour, 1.0, "opacity=\"0.8\" ");
        piece.clear();
    }
    return svg;
}

// Digits grouped by thousands, as the axes write them, from five digits on.
std::string Grouped(std::string text) {
    const size_t digitsEnd = text.find('.') == std::string::npos ? text.size() : text.find('.');
    const size_t digitsBegin = !text.empty() && text[0] == '-' ? 1 : 0;
    if (digitsEnd - digitsBegin < 5) return text;  // 1000 to 9999 read well as they are
    for (size_t at = digitsEnd; at > digitsBegin + 3; at -= 3)
        text.insert(at - 3, ",");
    return text;
}

// "2026-12-07T20:58:56+01:00" as "2026-12-07 20:58"; any other text as it is.
std::string RunDate(const std::string& iso) {
    if (iso.size() < 16 || iso[10] != 'T') return iso;
    return iso.substr(0, 10) + " " + iso.substr(11, 5);
}

std::string Subtitle(const bench::RunRecord& r) {
    std::string text;
    if (r.clip) {
        const AVS_VideoInfo& raw = r.clip->raw;
        const double rate = raw.fps_denominator != 0
                                ? static_cast<double>(raw.fps_numerator) / raw.fps_denominator
                                : 0.0;
        text = CUtils::FormatString("%dx%d %s, %.3f fps, %d frames | ", raw.width, raw.height,
                                    ColourSpaceName(*r.clip).c_str(), rate, raw.num_frames);
    }
    text += r.setup.avisynth.versionString;
    if (r.end != bench::RunEnd::kCompleted) text += std::string(" | run ended: ") + EndName(r.end);
    if (!r.setup.programVersion.empty()) {
        text += " | Trevalo " + bench::BannerVersion(r.setup);
        if (!r.setup.date.empty()) text += ", " + RunDate(r.setup.date);
    }
    return text;
}

size_t Utf8Length(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// A well-formed sequence: continuation bytes, no overlong form, no surrogate, at most U+10FFFF.
bool ValidUtf8(const std::string& text, size_t at, size_t length) {
    if (at + length > text.size()) return false;
    for (size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return false;
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    const unsigned char second = static_cast<unsigned char>(text[at + 1]);
    if (lead == 0xE0 && second < 0xA0) return false;
    if (lead == 0xED && second > 0x9F) return false;
    if (lead == 0xF0 && second < 0x90) return false;
    if (lead == 0xF4 && second > 0x8F) return false;
    return true;
}

}  // namespace

std::vector<ChartPoint> MinMaxBuckets(const std::vector<ChartPoint>& points, size_t buckets) {
    if (buckets == 0 || points.size() <= 2 * buckets) return points;
    std::vector<ChartPoint> kept;
    kept.reserve(2 * buckets);
    const size_t n = points.size();
    for (size_t b = 0; b < buckets; ++b) {
        const size_t begin = b * n / buckets;
        const size_t end = (b + 1) * n / buckets;
        size_t low = begin, high = begin;
        for (size_t i = begin; i < end; ++i) {
            if (points[i].y < points[low].y) low = i;
            if (points[i].y > points[high].y) high = i;
        }
        kept.push_back(points[std::min(low, high)]);
        if (low != high) kept.push_back(points[std::max(low, high)]);
    }
    return kept;
}

AxisScale NiceScale(double low, double high, int ticks, double minStep) {
    if (!std::isfinite(low) || !std::isfinite(high)) low = high = 0;
    if (high < low) std::swap(low, high);
    if (high - low < 1e-9) high = low + 1;
    const double raw = (high - low) / std::max(ticks, 1);
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double fraction = raw / magnitude;
    const double step = std::max((fraction <= 1   ? 1
                                  : fraction <= 2 ? 2
                                  : fraction <= 5 ? 5
                                                  : 10) *
                                     magnitude,
                                 minStep);
    return {std::floor(low / step + 1e-9) * step, std::ceil(high / step - 1e-9) * step, step};
}

std::string TickLabel(double value, double step, bool compact) {
    if (std::fabs(value) < step / 2) value = 0;  // no "-0"
    // Ticks summed step by step fall a hair short of round values such as a million.
    const double nearly = 1 - 1e-9;
    if (compact && std::fabs(value) >= 1e4 * nearly) {
        static const char* const kPrefixes[] = {"k", "M", "G", "T", "P", "E", "Z", "Y"};
        int thousands = 1;
        double unit = 1e3;
        for (; std::fabs(value) >= unit * 1e3 * nearly; unit *= 1e3)
            ++thousands;
        const std::string suffix =
            thousands <= 8 ? kPrefixes[thousands - 1] : "e" + std::to_string(3 * thousands);
        return CUtils::FormatString("%.*f", Decimals(step / unit), value / unit) + suffix;
    }
    return Grouped(CUtils::FormatString("%.*f", Decimals(step), value));
}

std::string XmlEscaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const size_t length = Utf8Length(c);
            if (length != 0 && ValidUtf8(text, i, length)) {
                out.append(text, i, length);
                i += length;
            } else {
                out += "\xEF\xBF\xBD";
                ++i;
            }
            continue;
        }
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    out += "\xEF\xBF\xBD";
                } else {
                    out += static_cast<char>(c);
                }
        }
        ++i;
    }
    return out;
}

namespace {

// The document's opening, title and white ground, for a chart as wide as every chart.
std::string DocumentHead(double height, const std::string& title) {
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += CUtils::FormatString(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
        "viewBox=\"0 0 %.0f %.0f\" font-family=\"DejaVu Sans, Arial, sans-serif\" "
        "font-size=\"%.0f\">\n",
        kWidth, height, kWidth, height, kFontSize);
    svg += "<title>" + XmlEscaped("Trevalo: " + title) + "</title>\n";
    return svg + "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
}

}  // namespace

std::string ChartSvg(const bench::RunRecord& r) {
    const std::optional<bench::RateDistribution>& rates = r.rates;
    if (!rates || r.samples.empty()) return "";
    const bench::FrameSample& lastSample = r.samples.back();
    const double average = r.totals ? r.totals->averageFps : lastSample.averageFps;
    Frame frame;
    frame.x = NiceScale(r.samples[0].frame + 1.0, lastSample.frame + 1.0, 8, 1);
    frame.fps = NiceScale(0, std::max({rates->max, average}) * 1.05, 6);
    const bool gpu = r.gpu.has_value();

    std::string svg = DocumentHead(kHeight, sys::FileNameOf(r.setup.scriptPath));
    svg += Text(kWidth / 2, 34, "text-anchor=\"middle\" font-size=\"20\" font-weight=\"bold\"",
                sys::FileNameOf(r.setup.scriptPath));
    svg += Text(kWidth / 2, 58, "text-anchor=\"middle\" fill=\"#444444\"", Subtitle(r));

    // The grid and the tick labels: frames below, frames per second left, percent right.
    const char* grid = "stroke=\"#e4e4e4\" stroke-width=\"1\"";
    for (double v = frame.x.low; v <= frame.x.high + frame.x.step / 2; v += frame.x.step) {
        svg += Line(frame.X(v), kTop, frame.X(v), kBottom, grid);
        svg += Text(frame.X(v), kBottom + 20, "text-anchor=\"middle\"", TickLabel(v, frame.x.step));
    }
    double widestLabel = 0;
    for (double v = frame.fps.low; v <= frame.fps.high + frame.fps.step / 2; v += frame.fps.step) {
        const std::string label = TickLabel(v, frame.fps.step, true);
        widestLabel = std::max(widestLabel, LabelWidth(label));
        svg += Line(kLeft, frame.Fps(v), kRight, frame.Fps(v), grid);
        svg += Text(kLeft - 8, frame.Fps(v) + 4, "text-anchor=\"end\"", label);
    }
    for (int percent = 0; percent <= 100; percent += 20) {
        svg += Text(kRight + 8, Frame::Percent(percent) + 4, "text-anchor=\"start\"",
                    std::to_string(percent));
    }
    svg += CUtils::FormatString(
        "<rect x=\"%.0f\" y=\"%.0f\" width=\"%.0f\" height=\"%.0f\" fill=\"none\" "
        "stroke=\"#888888\"/>\n",
        kLeft, kTop, kRight - kLeft, kBottom - kTop);
    svg += Text(kWidth / 2, kBottom + 48, "text-anchor=\"middle\"", "Frame");
    const double middle = (kTop + kBottom) / 2;
    // The rotated title's baseline: its descenders and a gap clear of the widest label, its
    // capitals inside the drawing.
    const double titleX =
        std::max(0.8 * kFontSize, std::min(24.0, kLeft - 8 - widestLabel - 0.3 * kFontSize - 4));
    svg += Text(titleX, middle,
                "text-anchor=\"middle\" transform=\"rotate(-90 " + Number(titleX) + " " +
                    Number(middle) + ")\"",
                "Frames per second");
    svg +=
        Text(kWidth - 24, middle,
             "text-anchor=\"middle\" transform=\"rotate(90 " + Number(kWidth - 24) + " " +
                 Number(middle) + ")\"",
             gpu ? "CPU (% of all processors) and GPU load (%)" : "CPU load (% of all processors)");

    // The loads under the rates, the two reference lines on top.
    const auto percent = [](double v) { return Frame::Percent(v); };
    const auto fpsY = [&](double v) { return frame.Fps(v); };
    svg += CpuLines(r, frame);
    if (gpu) {
        svg += Polyline(
            Series(
                r, frame, [](const bench::FrameSample& s) { return s.gpuPercent; }, percent),
            kGpuColour, 1.0, "opacity=\"0.8\" ");
    }
    svg += Polyline(Series(
                        r, frame, [](const bench::FrameSample& s) { return s.currentFps; }, fpsY),
                    kFpsColour, 1.5, "");
    const std::string dashed = "stroke-width=\"2\" stroke-dasharray=\"8 5\" stroke=\"";
    svg +=
        Line(kLeft, frame.Fps(average), kRight, frame.Fps(average), dashed + kAverageColour + "\"");
    svg +=
        Line(kLeft, frame.Fps(rates->p1), kRight, frame.Fps(rates->p1), dashed + kLowColour + "\"");

    // The legend, its entries placed by an estimate of their text's width.
    struct Entry {
        const char* colour;
        bool dashedLine;
        std::string label;
    };
    std::vector<Entry> entries = {
        {kFpsColour, false, "Frames per second"},
        {kAverageColour, true, "Average " + Grouped(CUtils::FormatFPS(average)) + " fps"},
        {kLowColour, true, "1 % low " + Grouped(CUtils::FormatFPS(rates->p1)) + " fps"},
        {kCpuColour, false, "CPU load (all processors)"}};
    if (gpu) entries.push_back({kGpuColour, false, "GPU load"});
    double x = kLeft;
    for (const Entry& e : entries) {
        svg += Line(x, 80, x + 26, 80,
                    std::string("stroke-width=\"") +
                        (e.dashedLine ? "2\" stroke-dasharray=\"6 3" : "2") + "\" stroke=\"" +
                        e.colour + "\"");
        svg += Text(x + 32, 84, "", e.label);
        x += 32 + 7.5 * static_cast<double>(e.label.size()) + 28;
    }
    return svg + "</svg>\n";
}

std::string WriteChartFile(const bench::RunRecord& record) {
    const std::string path = SiblingPath(record.setup.scriptPath, ".svg");
    if (!sys::WriteFile(path, ChartSvg(record))) return CannotCreate(path);
    return "";
}

namespace {

// The comparison's drawing: as wide as a run's chart, a row for each script.
constexpr double kCompareRight = 1160, kCompareTop = 84, kRowHeight = 34;
// Past this no clock measures a rate; the margins and ticks stay finite below it.
constexpr double kLargestRate = 1e300;
// Names, mostly letters, take about 0.62 em a character; longer ones are cut in the middle.
constexpr double kNameCharacter = 0.62 * kFontSize;
constexpr size_t kNameCharacters = 40;

bool Drawable(double fps) {
    return std::isfinite(fps) && fps > 0 && fps <= kLargestRate;
}

// Where each character begins; a byte that is not part of well-formed UTF-8 counts as one, as
// XmlEscaped makes it a single U+FFFD.
std::vector<size_t> CharacterStarts(const std::string& text) {
    std::vector<size_t> starts;
    for (size_t i = 0; i < text.size();) {
        starts.push_back(i);
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t length = c < 0x80 ? 1 : Utf8Length(c);
        i += length != 0 && ValidUtf8(text, i, length) ? length : 1;
    }
    return starts;
}

// Both ends of a long name kept, as scripts often differ only in their last letters.
std::string Shortened(const std::string& text, size_t characters) {
    const std::vector<size_t> starts = CharacterStarts(text);
    if (starts.size() <= characters) return text;
    const size_t head = (characters - 1) / 2;
    const size_t tail = characters - 1 - head;
    return text.substr(0, starts[head]) + "\xE2\x80\xA6" +
           text.substr(starts[starts.size() - tail]);
}

}  // namespace

std::string ComparisonChartSvg(const std::vector<ComparedScript>& scripts,
                               const std::string& title) {
    double lowest = kLargestRate, highest = 0;
    bool anyRun = false;
    size_t longestName = 0;
    for (const ComparedScript& s : scripts) {
        for (double fps : s.runFps) {
            if (!Drawable(fps)) continue;
            anyRun = true;
            lowest = std::min(lowest, fps);
            highest = std::max(highest, fps);
        }
        for (double fps : {s.mean, s.low, s.high}) {
            if (!Drawable(fps)) continue;
            lowest = std::min(lowest, fps);
            highest = std::max(highest, fps);
        }
        longestName =
            std::max(longestName, CharacterStarts(Shortened(s.name, kNameCharacters)).size());
    }
    if (!anyRun) return "";

    // A margin on both sides, even when every value is the same.
    const double margin = std::max(0.05 * (highest - lowest), 0.005 * highest);
    const AxisScale axis = NiceScale(std::max(lowest - margin, 0.0), highest + margin, 8);
    const double left = std::max(80.0, 16 + kNameCharacter * static_cast<double>(longestName) + 10);
    const auto X = [&](double v) {
        return left + (v - axis.low) / (axis.high - axis.low) * (kCompareRight - left);
    };
    const double bottom = kCompareTop + kRowHeight * static_cast<double>(scripts.size());
    const double height = bottom + 70;

    std::string svg = DocumentHead(height, title);
    svg +=
        Text(kWidth / 2, 34, "text-anchor=\"middle\" font-size=\"20\" font-weight=\"bold\"", title);
    svg += Text(kWidth / 2, 60, "text-anchor=\"middle\" fill=\"#444444\"",
                "dots: runs; bar: 95 % interval");

    // Every other row shaded so that a long list stays readable, then the grid and the ticks.
    for (size_t i = 1; i < scripts.size(); i += 2) {
        svg += CUtils::FormatString(
            "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"#f6f6f6\"/>\n", left,
            kCompareTop + kRowHeight * static_cast<double>(i), kCompareRight - left, kRowHeight);
    }
    const char* grid = "stroke=\"#e4e4e4\" stroke-width=\"1\"";
    for (double v = axis.low; v <= axis.high + axis.step / 2; v += axis.step) {
        svg += Line(X(v), kCompareTop, X(v), bottom, grid);
        svg += Text(X(v), bottom + 20, "text-anchor=\"middle\"", TickLabel(v, axis.step, true));
    }
    svg += CUtils::FormatString(
        "<rect x=\"%.1f\" y=\"%.0f\" width=\"%.1f\" height=\"%.0f\" fill=\"none\" "
        "stroke=\"#888888\"/>\n",
        left, kCompareTop, kCompareRight - left, bottom - kCompareTop);
    svg += Text((left + kCompareRight) / 2, bottom + 48, "text-anchor=\"middle\"",
                "Frames per second");

    // Each row: the name, right-aligned so that it never runs into the plot; the interval
    // under the runs, its centre on top.
    for (size_t i = 0; i < scripts.size(); ++i) {
        const ComparedScript& s = scripts[i];
        const double y = kCompareTop + kRowHeight * (static_cast<double>(i) + 0.5);
        svg += Text(left - 10, y + 4.5, "text-anchor=\"end\"", Shortened(s.name, kNameCharacters));
        if (Drawable(s.low) && Drawable(s.high) && s.low != s.high) {
            const double from = X(std::min(s.low, s.high)), to = X(std::max(s.low, s.high));
            svg += CUtils::FormatString(
                "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"14\" fill=\"%s\" "
                "fill-opacity=\"0.3\"/>\n",
                from, y - 7, to - from, kFpsColour);
        }
        for (double fps : s.runFps) {
            if (!Drawable(fps)) continue;
            svg += CUtils::FormatString(
                "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"4.5\" fill=\"%s\" fill-opacity=\"0.55\"/>\n",
                X(fps), y, kFpsColour);
        }
        if (Drawable(s.mean))
            svg +=
                Line(X(s.mean), y - 11, X(s.mean), y + 11, "stroke=\"#1a1a1a\" stroke-width=\"2\"");
    }
    return svg + "</svg>\n";
}

std::string ComparisonChartPath(const std::string& firstScriptPath) {
    const size_t slash = firstScriptPath.find_last_of("/\\");
    const size_t nameBegin = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = firstScriptPath.rfind('.');
    // A leading dot names the file rather than starting its extension.
    const size_t stemEnd =
        dot != std::string::npos && dot > nameBegin ? dot : firstScriptPath.size();
    return firstScriptPath.substr(0, stemEnd) + ".compare.svg";
}

std::string WriteComparisonChartFile(const std::string& firstScriptPath,
                                     const std::vector<ComparedScript>& scripts,
                                     const std::string& title) {
    const std::string path = ComparisonChartPath(firstScriptPath);
    if (!sys::WriteFile(path, ComparisonChartSvg(scripts, title))) return CannotCreate(path);
    return "";
}

std::string ScanChartSvg(const ScanTable& scan) {
    struct Drawn {
        double mean = 0, low = 0, high = 0;
        bool measured = false;
    };
    std::vector<Drawn> drawn;
    double highest = 0;
    for (const ScanPoint& p : scan.points) {
        const bench::SeriesStatistics stats = bench::StatisticsOf(p.rates);
        Drawn d;
        d.measured = stats.runs > 0 && Drawable(stats.mean);
        if (d.measured) {
            const double half = bench::MeanHalfWidth(stats);
            d.mean = stats.mean;
            d.low = std::max(stats.mean - (std::isfinite(half) ? half : 0.0), 0.0);
            d.high = stats.mean + (std::isfinite(half) ? half : 0.0);
            highest = std::max({highest, d.high, stats.max});
        }
        drawn.push_back(d);
    }
    if (highest <= 0 || highest > kLargestRate) return "";
    const AxisScale fps = NiceScale(0, highest * 1.05, 6);
    const auto Y = [&](double v) {
        return kBottom - (v - fps.low) / (fps.high - fps.low) * (kBottom - kTop);
    };
    const double count = static_cast<double>(scan.points.size());
    const auto X = [&](size_t i) {
        return kLeft + (static_cast<double>(i) + 0.5) / count * (kRight - kLeft);
    };
    const std::string title = "Scan of " + scan.variable + " in " + scan.script;
    std::string svg = DocumentHead(kHeight, title);
    svg +=
        Text(kWidth / 2, 34, "text-anchor=\"middle\" font-size=\"20\" font-weight=\"bold\"", title);
    svg += Text(kWidth / 2, 58, "text-anchor=\"middle\" fill=\"#444444\"",
                "frames per second: mean of the runs, bar: 95 % interval; CPU use: share of all "
                "processors");
    const char* grid = "stroke=\"#e4e4e4\" stroke-width=\"1\"";
    for (double v = fps.low; v <= fps.high + fps.step / 2; v += fps.step) {
        svg += Line(kLeft, Y(v), kRight, Y(v), grid);
        svg += Text(kLeft - 8, Y(v) + 4, "text-anchor=\"end\"", TickLabel(v, fps.step, true));
    }
    for (int percent = 0; percent <= 100; percent += 20) {
        svg += Text(kRight + 8, Frame::Percent(percent) + 4, "text-anchor=\"start\"",
                    std::to_string(percent));
    }
    // Values are labelled below their column; long words cut in the middle.
    const size_t characters =
        std::max<size_t>(4, static_cast<size_t>((kRight - kLeft) / count / (0.62 * kFontSize)));
    for (size_t i = 0; i < scan.points.size(); ++i) {
        svg += Line(X(i), kTop, X(i), kBottom, grid);
        svg += Text(X(i), kBottom + 20, "text-anchor=\"middle\"",
                    Shortened(scan.points[i].value, characters));
    }
    svg += CUtils::FormatString(
        "<rect x=\"%.0f\" y=\"%.0f\" width=\"%.0f\" height=\"%.0f\" fill=\"none\" "
        "stroke=\"#888888\"/>\n",
        kLeft, kTop, kRight - kLeft, kBottom - kTop);
    svg += Text(kWidth / 2, kBottom + 48, "text-anchor=\"middle\"", scan.variable);
    const double middle = (kTop + kBottom) / 2;
    svg += Text(24, middle,
                "text-anchor=\"middle\" transform=\"rotate(-90 24 " + Number(middle) + ")\"",
                "Frames per second");
    svg += Text(kWidth - 24, middle,
                "text-anchor=\"middle\" transform=\"rotate(90 " + Number(kWidth - 24) + " " +
                    Number(middle) + ")\"",
                "CPU use (% of all processors)");

    // The lines join neighbouring values that both have a figure; a gap where one has none.
    const auto joined = [&](auto has, auto y, const char* colour, const char* extra) {
        std::string text;
        std::vector<ChartPoint> run;
        for (size_t i = 0; i <= scan.points.size(); ++i) {
            if (i < scan.points.size() && has(i)) {
                run.push_back({X(i), y(i)});
                continue;
            }
            text += Polyline(run, colour, 2.0, extra);
            run.clear();
        }
        return text;
    };
    svg += joined([&](size_t i) { return scan.points[i].cpu.has_value(); },
                  [&](size_t i) { return Frame::Percent(*scan.points[i].cpu); }, kCpuColour,
                  "stroke-dasharray=\"6 4\" ");
    svg += joined([&](size_t i) { return drawn[i].measured; },
                  [&](size_t i) { return Y(drawn[i].mean); }, kFpsColour, "");
    for (size_t i = 0; i < drawn.size(); ++i) {
        if (!drawn[i].measured) continue;
        const double x = X(i);
        if (drawn[i].high > drawn[i].low) {
            const std::string bar = std::string("stroke=\"") + kFpsColour + "\" stroke-width=\"2\"";
            svg += Line(x, Y(drawn[i].low), x, Y(drawn[i].high), bar);
            svg += Line(x - 6, Y(drawn[i].low), x + 6, Y(drawn[i].low), bar);
            svg += Line(x - 6, Y(drawn[i].high), x + 6, Y(drawn[i].high), bar);
        }
        svg += CUtils::FormatString("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"4.5\" fill=\"%s\"/>\n", x,
                                    Y(drawn[i].mean), kFpsColour);
    }
    // The legend, top left inside the drawing.
    svg += Line(kLeft + 14, kTop + 18, kLeft + 44, kTop + 18,
                std::string("stroke=\"") + kFpsColour + "\" stroke-width=\"2\"");
    svg += Text(kLeft + 52, kTop + 22, "", "Frames per second");
    svg += Line(
        kLeft + 14, kTop + 40, kLeft + 44, kTop + 40,
        std::string("stroke=\"") + kCpuColour + "\" stroke-width=\"2\" stroke-dasharray=\"6 4\"");
    svg += Text(kLeft + 52, kTop + 44, "", "CPU use");
    return svg + "</svg>\n";
}

std::string WriteScanChartFile(const std::string& scriptPath, const ScanTable& scan) {
    std::string path = ComparisonChartPath(scriptPath);
    path = path.substr(0, path.size() - std::string(".compare.svg").size()) + ".scan.svg";
    if (!sys::WriteFile(path, ScanChartSvg(scan))) return CannotCreate(path);
    return "";
}

}  // namespace report
