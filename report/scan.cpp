#include "report/scan.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "bench/series_statistics.h"
#include "report/compare.h"
#include "sys/utils.h"

namespace report {
namespace {

// Below this a step up in threads is no longer worth its cores.
constexpr double kWorthwhileGain = 0.05;

// Columns as wide as their widest cell, three blanks apart; the first left-aligned, the rest
// left-aligned too except where right is set.
struct Table {
    std::vector<std::string> headers;
    std::vector<bool> right;
    std::vector<std::vector<std::string>> rows;

    std::string Text() const {
        std::vector<size_t> widths(headers.size());
        for (size_t c = 0; c < headers.size(); ++c) {
            widths[c] = headers[c].size();
            for (const auto& row : rows)
                widths[c] = std::max(widths[c], row[c].size());
        }
        const auto line = [&](const std::vector<std::string>& cells) {
            std::string text;
            for (size_t c = 0; c < cells.size(); ++c) {
                const std::string pad(widths[c] - cells[c].size(), ' ');
                text += (c > 0 ? "   " : "") + (right[c] ? pad + cells[c] : cells[c] + pad);
            }
            while (!text.empty() && text.back() == ' ')
                text.pop_back();
            return text + "\n";
        };
        std::string text = line(headers);
        for (const auto& row : rows)
            text += line(row);
        return text;
    }
};

std::string Interval(const bench::RatioEstimate& e) {
    if (!(e.ratio > 0) || !std::isfinite(e.ratio)) return "n/a";
    if (!e.spreadKnown) return CUtils::FormatString("%.2f (spread unknown)", e.ratio);
    return CUtils::FormatString("%.2f (%.2f to %.2f)", e.ratio, e.low, e.high);
}

double Number(const std::string& text) {
    return std::strtod(text.c_str(), nullptr);
}

}  // namespace

bool CountsThreads(const std::string& variable, bool passedToPrefetch,
                   const std::vector<std::string>& values) {
    std::string lowered = variable;
    CUtils::ToLower(lowered);
    if (lowered != "threads" && !passedToPrefetch) return false;
    return !values.empty() && std::all_of(values.begin(), values.end(), [](const std::string& v) {
        return !v.empty() && v.size() <= 9 &&
               std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
               Number(v) >= 1;
    });
}

std::string ScanComparisonText(const ScanTable& scan) {
    if (scan.points.empty()) return "";
    const std::string variable = TerminalText(scan.variable);
    std::string text;
    if (!scan.namedByScript) {
        text += "\nNote: " + TerminalText(scan.script) + " never names " + variable +
                ", so its variants are alike: any difference between them is noise.\n";
    }
    const std::vector<double>& reference = scan.points.front().rates;
    Table table;
    table.headers = {variable,
                     "Runs",
                     "FPS (mean +/- deviation)",
                     "Min to max",
                     scan.threadCounts ? "Speed-up (95 % interval)" : "Speed (95 % interval)",
                     "CPU %",
                     "Efficiency"};
    table.right = {false, true, false, false, false, true, true};
    if (scan.threadCounts) {
        table.headers.push_back("Parallel efficiency");
        table.right.push_back(true);
    }
    std::string sentences;
    const std::string first = variable + "=" + TerminalText(scan.points.front().value);
    for (size_t i = 0; i < scan.points.size(); ++i) {
        const ScanPoint& p = scan.points[i];
        const bench::SeriesStatistics stats = bench::StatisticsOf(p.rates);
        std::vector<std::string> row = {TerminalText(p.value), std::to_string(stats.runs)};
        const bool measured = stats.runs > 0 && stats.mean > 0;
        row.push_back(measured ? CUtils::FormatFPS(stats.mean) + " +/- " +
                                     CUtils::FormatFPS(stats.standardDeviation)
                               : "n/a");
        row.push_back(measured
                          ? CUtils::FormatFPS(stats.min) + " to " + CUtils::FormatFPS(stats.max)
                          : "n/a");
        const bench::RatioEstimate e = bench::CompareRates(reference, p.rates);
        const bool compared = i > 0 && e.ratio > 0 && std::isfinite(e.ratio);
        row.push_back(i == 0 ? (measured ? "1 (reference)" : "n/a") : Interval(e));
        row.push_back(p.cpu ? CUtils::FormatString("%.0f", *p.cpu) : "n/a");
        row.push_back(p.efficiency ? CUtils::FormatTPF(*p.efficiency) : "n/a");
        if (scan.threadCounts) {
            const double threadRatio = Number(p.value) / Number(scan.points.front().value);
            const bool known = (i == 0 && measured) || compared;
            row.push_back(known ? CUtils::FormatString(
                                      "%.0f %%", 100.0 * (i == 0 ? 1.0 : e.ratio) / threadRatio)
                                : "n/a");
        }
        table.rows.push_back(std::move(row));
        if (compared) {
            sentences += VerdictSentence(first, variable + "=" + TerminalText(p.value),
                                         reference.size(), p.rates.size(), e) +
                         "\n";
        }
    }
    text += "\n" + table.Text();
    if (!sentences.empty()) text += "\n" + sentences;
    // Where adding threads stops paying: the first step whose gain is under 5 %.
    if (scan.threadCounts && scan.points.size() > 1) {
        std::string gain;
        for (size_t i = 1; i < scan.points.size() && gain.empty(); ++i) {
            const ScanPoint &before = scan.points[i - 1], &after = scan.points[i];
            const bench::RatioEstimate step = bench::CompareRates(before.rates, after.rates);
            if (!(step.ratio > 0) || !std::isfinite(step.ratio)) {
                gain = "The gain of each step is not known: a value has no counted run.";
            } else if (step.ratio - 1 < kWorthwhileGain) {
                gain = "Beyond " + variable + "=" + TerminalText(before.value) +
                       " the gain falls under 5 %: " + variable + "=" + TerminalText(after.value) +
                       CUtils::FormatString(" renders %.2f times as fast as ", step.ratio) +
                       variable + "=" + TerminalText(before.value) + ".";
            }
        }
        if (gain.empty()) {
            gain = "Each step up to " + variable + "=" + TerminalText(scan.points.back().value) +
                   " gains 5 % or more.";
        }
        text += gain + "\n";
    }
    return text;
}

std::string ScanResultsComparisonText(const bench::RunRecord& a, const bench::RunRecord& b,
                                      const std::string& nameA, const std::string& nameB) {
    if (a.scanValues.empty() || b.scanValues.empty()) {
        return "\nOnly " + std::string(a.scanValues.empty() ? "B" : "A") +
               " is a scan: a scan is compared with a scan of the same variable.\n";
    }
    std::string variableA = a.scanVariable, variableB = b.scanVariable;
    CUtils::ToLower(variableA);
    CUtils::ToLower(variableB);
    if (variableA != variableB) {
        return "\nThe scans vary different variables (" + TerminalText(a.scanVariable) + " | " +
               TerminalText(b.scanVariable) + "): they are not compared.\n";
    }
    const std::string variable = TerminalText(a.scanVariable);
    Table table;
    table.headers = {variable, "Runs (A | B)", "FPS A", "FPS B", "B/A (95 % interval)"};
    table.right = {false, false, true, true, false};
    std::string sentences, unmatched;
    for (const bench::ScanValueRates& va : a.scanValues) {
        const auto vb =
            std::find_if(b.scanValues.begin(), b.scanValues.end(),
                         [&](const bench::ScanValueRates& v) { return v.value == va.value; });
        if (vb == b.scanValues.end()) {
            unmatched += (unmatched.empty() ? "" : ", ") + TerminalText(va.value) + " (A)";
            continue;
        }
        const bench::SeriesStatistics sa = bench::StatisticsOf(va.rates);
        const bench::SeriesStatistics sb = bench::StatisticsOf(vb->rates);
        const bench::RatioEstimate e = bench::CompareRates(va.rates, vb->rates);
        const std::string value = TerminalText(va.value);
        table.rows.push_back({value, CUtils::FormatString("%zu | %zu", sa.runs, sb.runs),
                              sa.runs > 0 ? CUtils::FormatFPS(sa.mean) : "n/a",
                              sb.runs > 0 ? CUtils::FormatFPS(sb.mean) : "n/a", Interval(e)});
        if (e.ratio > 0 && std::isfinite(e.ratio)) {
            const std::string at = " at " + variable + "=" + value;
            sentences +=
                VerdictSentence(nameA + at, nameB + at, va.rates.size(), vb->rates.size(), e) +
                "\n";
        }
    }
    for (const bench::ScanValueRates& vb : b.scanValues) {
        const bool inA =
            std::any_of(a.scanValues.begin(), a.scanValues.end(),
                        [&](const bench::ScanValueRates& v) { return v.value == vb.value; });
        if (!inA) unmatched += (unmatched.empty() ? "" : ", ") + TerminalText(vb.value) + " (B)";
    }
    std::string text = "\nScan of " + variable + ", value by value:\n" + table.Text();
    if (table.rows.empty()) text = "\nThe scans share no value of " + variable + ".\n";
    if (!unmatched.empty()) text += "Values in one scan only: " + unmatched + "\n";
    if (!sentences.empty()) text += "\n" + sentences;
    return text;
}

}  // namespace report
