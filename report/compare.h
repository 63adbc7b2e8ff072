// Two runs side by side: the text -compare prints for two records read from result files.
#pragma once

#include <string>
#include <vector>

#include "bench/record.h"
#include "bench/series_statistics.h"

namespace report {

// A text from a file or the command line as a terminal can show it without obeying it: each C0
// control, DEL, C1 control (U+0080..U+009F, by both its bytes) and byte that is not part of
// well-formed UTF-8 written as \xNN (ESC as \x1B, a NUL as \x00); any other text, such as
// "Überprüfung" or CJK, as it is. A name from the command line (keepNonUtf8) keeps bytes that
// are not UTF-8: on Windows it is in the system's code page, where they are letters.
std::string TerminalText(const std::string& text, bool keepNonUtf8 = false);

// The comparison: A and B named, a warning line when the clips, ranges or machines differ, each
// figure with the ratio of B to A, and the closing sentence by average frames per second. The
// scripts, AviSynth versions, machines and file names are shown as TerminalText.
std::string ComparisonText(const bench::RunRecord& a, const bench::RunRecord& b,
                           const std::string& fileA, const std::string& fileB);

// The verdict on B against A in words, never claiming a speed-up the runs do not support: how
// many times as fast where the interval lies above or below 1, equally fast within the noise
// where it holds 1, the bare ratio and a call for more runs where the spread is unknown, and
// that they cannot be compared where the estimate holds no ratio. Run counts are A's, then B's
// ("5 and 4 runs"). Figures have two decimals, or as many as needed (at most 4) for one that
// differs from 1 (a ratio other than 1, an end of an interval that excludes 1) not to show as
// 1.00. The names are shown as given.
std::string VerdictSentence(const std::string& nameA, const std::string& nameB, size_t runsA,
                            size_t runsB, const bench::RatioEstimate& estimate);

// One script of a comparison: its name as the terminal shows it (escaped by the caller) and
// its counted runs' average rates.
struct ScriptRates {
    std::string name;
    std::vector<double> rates;
};

// The comparison of scripts: a table (script, runs, fps mean +/- deviation, min to max, the
// speed relative to the first with its 95 % interval), then a sentence on each script after
// the first against the first.
std::string ScriptsComparisonText(const std::vector<ScriptRates>& scripts);

}  // namespace report
