#include "report/compare.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "report/results.h"
#include "report/scan.h"
#include "sys/paths.h"
#include "sys/utils.h"

namespace report {
namespace {

using Figure = std::optional<double>;

// The figures of a run that a comparison shows; empty where the summary shows "n/a".
struct Figures {
    std::string script;
    std::string avisynthVersion;
    std::string machine;  // "" when the file names none
    Figure frames, width, height, rangeFirst, rangeLast;
    Figure fpsAverage, fpsMin, fpsMax, tpfAverage, onePercentLow;
    Figure cpu, physicalMB, virtualMB, threads, efficiency;
};

// "AMD EPYC 7B13, 2 CPUs, 23 GB, Debian GNU/Linux 12 (bookworm) 6.1.0-18-amd64", the
// unknown facts left out; memory in whole GB, as machines are told apart by it.
std::string MachineText(const sys::MachineFacts& m) {
    std::vector<std::string> parts;
    if (!m.processor.empty()) parts.push_back(TerminalText(m.processor));
    if (m.logicalProcessors != 0) {
        parts.push_back(CUtils::FormatString("%u CPU%s", static_cast<unsigned>(m.logicalProcessors),
                                             m.logicalProcessors == 1 ? "" : "s"));
    }
    if (m.memoryMB != 0) {
        const double mb = static_cast<double>(m.memoryMB);
        parts.push_back(mb < 1024 ? CUtils::FormatString("%.0f MB", mb)
                                  : CUtils::FormatString("%.0f GB", mb / 1024));
    }
    std::string system = m.system;
    if (!m.systemVersion.empty()) system += (system.empty() ? "" : " ") + m.systemVersion;
    if (!system.empty()) parts.push_back(TerminalText(system));
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : ", ") + part;
    return text;
}

Figures FiguresOf(const bench::RunRecord& r) {
    Figures f;
    f.script = r.setup.scriptPath;
    f.avisynthVersion = r.setup.avisynth.versionString;
    f.machine = MachineText(r.setup.machine);
    if (r.clip) {
        f.frames = r.clip->raw.num_frames;
        f.width = r.clip->raw.width;
        f.height = r.clip->raw.height;
    }
    if (r.range) {
        f.rangeFirst = r.range->first;
        f.rangeLast = r.range->last;
    }
    if (r.rates) f.onePercentLow = r.rates->p1;
    if (r.figures) {
        const bench::SummaryFigures& s = *r.figures;
        f.fpsAverage = s.fpsAverage;
        f.fpsMin = s.fpsMin;
        f.fpsMax = s.fpsMax;
        f.tpfAverage = s.tpfAverage;
        f.cpu = s.cpuAverage;
        f.physicalMB = s.physicalPeakMB;
        f.virtualMB = s.virtualPeakMB;
        f.threads = s.threads;
        f.efficiency = s.efficiency;
    }
    return f;
}

// The length of the well-formed UTF-8 sequence at text[at] of two to four bytes (no overlong
// form, no surrogate, at most U+10FFFF); 0 where there is none.
size_t Utf8Length(const std::string& text, size_t at) {
    const auto byte = [&text](size_t i) {
        return static_cast<unsigned char>(i < text.size() ? text[i] : 0);
    };
    const unsigned char lead = byte(at), second = byte(at + 1);
    // The second byte's range after each lead; the others are 0x80..0xBF.
    unsigned char low = 0x80, high = 0xBF;
    size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (second < low || second > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
    return length;
}

std::string Shown(const Figure& f, std::string (*format)(double)) {
    return f ? format(*f) : "n/a";
}

std::string Whole(double v) {
    return CUtils::FormatString("%.0f", v);
}

// The console's formats stop at 4294967295; a figure beyond is shown whole, as it is.
std::string Fps(double v) {
    return v < 4294967295.0 ? CUtils::FormatFPS(v) : Whole(v);
}

std::string Tpf(double v) {
    return v < 4294967295.0 ? CUtils::FormatTPF(v) : Whole(v);
}

// Right-aligned to width, and apart from the column before however long it is.
std::string Column(const std::string& text, size_t width) {
    return text.size() < width ? std::string(width - text.size(), ' ') + text : " " + text;
}

std::string Ratio(const Figure& a, const Figure& b) {
    if (!a || !b || *a == 0.0 || !std::isfinite(*b / *a)) return "n/a";
    return CUtils::FormatString("%.2f", *b / *a);
}

std::string Pair(const std::string& a, const std::string& b) {
    return "(" + a + " | " + b + ")";
}

std::string Size(const Figures& f) {
    return f.width && f.height ? Whole(*f.width) + "x" + Whole(*f.height) : "n/a";
}

std::string Range(const Figures& f) {
    return f.rangeFirst && f.rangeLast ? Whole(*f.rangeFirst) + " - " + Whole(*f.rangeLast) : "n/a";
}

// The figure with two decimals, or up to four where it differs from 1 and would show as 1.
std::string VerdictFigure(double v, bool apartFromOne) {
    int decimals = 2;
    while (apartFromOne && decimals < 4 &&
           CUtils::FormatString("%.*f", decimals, v) == CUtils::FormatString("%.*f", decimals, 1.0))
        ++decimals;
    return CUtils::FormatString("%.*f", decimals, v);
}

std::string RunCount(size_t runs) {
    return runs == 1 ? "a single run" : CUtils::FormatString("%zu runs", runs);
}

}  // namespace

std::string TerminalText(const std::string& text, bool keepNonUtf8) {
    std::string shown;
    shown.reserve(text.size());
    const auto escape = [&shown](unsigned char c) { shown += CUtils::FormatString("\\x%02X", c); };
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto next = static_cast<unsigned char>(i + 1 < text.size() ? text[i + 1] : 0);
        if (c < 0x20 || c == 0x7F) {
            escape(c);
            ++i;
        } else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {  // a C1 control
            escape(c);
            escape(next);
            i += 2;
        } else if (c < 0x80 || keepNonUtf8) {
            shown += static_cast<char>(c);
            ++i;
        } else if (const size_t length = Utf8Length(text, i)) {
            shown.append(text, i, length);
            i += length;
        } else {
            escape(c);
            ++i;
        }
    }
    return shown;
}

std::string ComparisonText(const bench::RunRecord& recordA, const bench::RunRecord& recordB,
                           const std::string& rawFileA, const std::string& rawFileB) {
    const Figures a = FiguresOf(recordA);
    const Figures b = FiguresOf(recordB);
    const std::string fileA = TerminalText(rawFileA, true), fileB = TerminalText(rawFileB, true);
    std::string text = "\nA: " + TerminalText(a.script) + " (" + fileA +
                       ")\nB: " + TerminalText(b.script) + " (" + fileB + ")\n";

    std::vector<std::string> differences;
    if (a.frames != b.frames) {
        differences.push_back("frame count " +
                              Pair(Shown(a.frames, Whole), Shown(b.frames, Whole)));
    }
    if (Size(a) != Size(b)) differences.push_back("size " + Pair(Size(a), Size(b)));
    if (Range(a) != Range(b)) differences.push_back("range " + Pair(Range(a), Range(b)));
    if (a.avisynthVersion != b.avisynthVersion) {
        differences.push_back("AviSynth version " + Pair(TerminalText(a.avisynthVersion),
                                                         TerminalText(b.avisynthVersion)));
    }
    // Only two named machines are told apart: an older file names none.
    if (!a.machine.empty() && !b.machine.empty() && a.machine != b.machine) {
        differences.push_back("machine " + Pair(a.machine, b.machine));
    }
    // Runs that stopped early measured part of their range: said, never compared silently.
    for (const auto& [letter, record] : {std::pair{"A", &recordA}, std::pair{"B", &recordB}}) {
        if (record->end == bench::RunEnd::kCompleted) continue;
        text += std::string("Warning: ") + letter +
                "'s run did not complete its range (it ended with \"" + EndName(record->end) +
                "\")\n";
    }
    if (!differences.empty()) {
        text += "Warning: the runs differ in ";
        for (size_t i = 0; i < differences.size(); ++i)
            text += (i > 0 ? ", " : "") + differences[i];
        text += "\n";
    }

    // Named by their scripts; two runs of one script by their result files as well.
    const bool sameName = sys::FileNameOf(a.script) == sys::FileNameOf(b.script);
    std::string nameA = TerminalText(sys::FileNameOf(a.script)),
                nameB = TerminalText(sys::FileNameOf(b.script));
    if (sameName) {
        nameA += " (" + fileA + ")";
        nameB += " (" + fileB + ")";
    }
    if (!recordA.scanValues.empty() || !recordB.scanValues.empty())
        return text + ScanResultsComparisonText(recordA, recordB, nameA, nameB);

    const struct {
        const char* label;
        const Figure& a;
        const Figure& b;
        std::string (*format)(double);
    } rows[] = {
        {"FPS (average):", a.fpsAverage, b.fpsAverage, Fps},
        {"FPS (min):", a.fpsMin, b.fpsMin, Fps},
        {"FPS (max):", a.fpsMax, b.fpsMax, Fps},
        {"Time/frame (average, ms):", a.tpfAverage, b.tpfAverage, Tpf},
        {"1 % low (FPS):", a.onePercentLow, b.onePercentLow, Fps},
        {"CPU usage (average, %):", a.cpu, b.cpu, Whole},
        {"Memory usage (phys, MB):", a.physicalMB, b.physicalMB, Whole},
        {"Memory usage (virt, MB):", a.virtualMB, b.virtualMB, Whole},
        {"Thread count:", a.threads, b.threads, Whole},
        {"Efficiency index:", a.efficiency, b.efficiency, Tpf},
    };
    text += CUtils::FormatString("\n%-32s%14s%14s%10s\n", "", "A", "B", "B/A");
    for (const auto& row : rows) {
        text += CUtils::FormatString("%-32s", row.label) + Column(Shown(row.a, row.format), 14) +
                Column(Shown(row.b, row.format), 14) + Column(Ratio(row.a, row.b), 10) + "\n";
    }

    // A series gives its runs' rates; a single run its average.
    const auto ratesOf = [](const bench::RunRecord& r, const Figure& average) {
        if (!r.seriesRates.empty()) return r.seriesRates;
        return average ? std::vector<double>{*average} : std::vector<double>{};
    };
    const std::vector<double> ratesA = ratesOf(recordA, a.fpsAverage);
    const std::vector<double> ratesB = ratesOf(recordB, b.fpsAverage);
    const bench::RatioEstimate estimate = bench::CompareRates(ratesA, ratesB);
    if (ratesA.empty() || ratesB.empty() || !(estimate.ratio > 0) ||
        !std::isfinite(estimate.ratio)) {
        text += "\nThe average frame rates cannot be compared.\n";
    } else if (!recordA.seriesRates.empty() || !recordB.seriesRates.empty()) {
        text += ScriptsComparisonText({{nameA, ratesA}, {nameB, ratesB}});
    } else {
        text += "\n" + VerdictSentence(nameA, nameB, ratesA.size(), ratesB.size(), estimate) + "\n";
    }
    return text;
}

std::string VerdictSentence(const std::string& nameA, const std::string& nameB, size_t runsA,
                            size_t runsB, const bench::RatioEstimate& e) {
    const bool known = e.ratio > 0 && std::isfinite(e.ratio) &&
                       (!e.spreadKnown || (e.low > 0 && e.low <= e.high && std::isfinite(e.high)));
    if (!known)
        return "The average frame rates of " + nameB + " and " + nameA + " cannot be compared";
    const std::string ratio = VerdictFigure(e.ratio, e.ratio != 1);
    if (!e.spreadKnown) {
        const std::string runs = runsA == 1 && runsB == 1
                                     ? "a single run each"
                                     : RunCount(runsA) + " and " + RunCount(runsB);
        return nameB + " rendered " + ratio + " times as fast as " + nameA + " in " + runs +
               "; the spread is unknown: measure with -runs=5 or more to tell a real difference "
               "from noise";
    }
    const bool excludesOne = e.low > 1 || e.high < 1;
    const std::string interval = "95 % interval " + VerdictFigure(e.low, excludesOne) + " to " +
                                 VerdictFigure(e.high, excludesOne);
    if (!excludesOne) {
        return nameB + " and " + nameA +
               " rendered equally fast within the noise of these runs (ratio " + ratio + ", " +
               interval + ")";
    }
    const std::string runs = runsA == runsB
                                 ? CUtils::FormatString("%zu runs each", runsA)
                                 : CUtils::FormatString("%zu and %zu runs", runsA, runsB);
    return nameB + " rendered " + ratio + " times as fast as " + nameA + " (" + interval + "; " +
           runs + ")";
}

std::string ScriptsComparisonText(const std::vector<ScriptRates>& scripts) {
    if (scripts.empty()) return "";
    const std::vector<double>& reference = scripts.front().rates;
    size_t nameWidth = 6;
    for (const ScriptRates& s : scripts)
        nameWidth = std::max(nameWidth, s.name.size());
    std::string text = "\n" + CUtils::FormatString("%-*s", static_cast<int>(nameWidth), "Script") +
                       "  Runs   FPS (mean +/- deviation)       Min to max" +
                       "                    Speed (95 % interval)\n";
    std::string sentences;
    for (size_t i = 0; i < scripts.size(); ++i) {
        const ScriptRates& s = scripts[i];
        const bench::SeriesStatistics stats = bench::StatisticsOf(s.rates);
        const std::string& name = s.name;
        std::string row = CUtils::FormatString("%-*s %5zu   ", static_cast<int>(nameWidth),
                                               name.c_str(), stats.runs);
        if (stats.runs == 0) {
            text += row + "n/a\n";
            continue;
        }
        row += CUtils::FormatString("%-30s", (CUtils::FormatFPS(stats.mean) + " +/- " +
                                              CUtils::FormatFPS(stats.standardDeviation))
                                                 .c_str());
        row += CUtils::FormatString(
            " %-29s ",
            (CUtils::FormatFPS(stats.min) + " to " + CUtils::FormatFPS(stats.max)).c_str());
        if (i == 0) {
            row += "1 (reference)";
        } else {
            const bench::RatioEstimate e = bench::CompareRates(reference, s.rates);
            if (e.ratio <= 0) {
                row += "n/a";
            } else if (e.spreadKnown) {
                row += CUtils::FormatString("%.2f (%.2f to %.2f)", e.ratio, e.low, e.high);
            } else {
                row += CUtils::FormatString("%.2f (spread unknown)", e.ratio);
            }
            if (e.ratio > 0) {
                sentences += VerdictSentence(scripts.front().name, name, reference.size(),
                                             s.rates.size(), e) +
                             "\n";
            }
        }
        text += row + "\n";
    }
    return text + (sentences.empty() ? "" : "\n" + sentences);
}

}  // namespace report
