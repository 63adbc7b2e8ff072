// Scans of a script variable: the switch, the script's use of the variable, the table and its
// sentences, the result file read back and compared, and the chart.
#include <gtest/gtest.h>

#include <regex>

#include "app/scan.h"
#include "report/chart.h"
#include "report/compare.h"
#include "report/results.h"
#include "report/scan.h"
#include "sys/utils.h"

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// "threads i1 i2" for the values of a scan: each kind's letter and the value it holds.
std::string Shown(const std::vector<avs::ScriptVariable>& values) {
    std::string text = values.empty() ? "" : values.front().name;
    for (const avs::ScriptVariable& v : values) {
        switch (v.kind) {
            case avs::ScriptVariable::Kind::kInt:
                text += " i" + std::to_string(v.integer);
                break;
            case avs::ScriptVariable::Kind::kFloat:
                text += CUtils::FormatString(" f%g", v.decimal);
                break;
            case avs::ScriptVariable::Kind::kString:
                text += " s" + v.text;
                break;
        }
    }
    return text;
}

TEST(ScanSwitch, ValuesOfListsAndRangesOrWhyNot) {
    std::string many = "t:0";
    for (int i = 1; i <= 100; ++i)
        many += "," + std::to_string(i);
    const struct {
        std::string scanText, values, reason;
    } cases[] = {
        {"threads:1,2,4,8", "threads i1 i2 i4 i8", ""},
        {" size : 8..64:16 ", "size i8 i24 i40 i56", ""},
        {"t:-2..1", "t i-2 i-1 i0 i1", ""},
        {"t:5..5", "t i5", ""},
        {"radius:0.5, 1 ,1.5", "radius f0.5 f1 f1.5", ""},  // one kind for the arithmetic
        {"mode:fast,Slow", "mode sfast sSlow", ""},
        {"x:1,fast,-.5e", "x i1 sfast s-.5e", ""},
        {"threads", "", "A scan is -scan=name:values"},
        {"threads:", "", "A scan is -scan=name:values"},
        {":1,2", "", "A scan is -scan=name:values"},
        {"1t:1", "", "\"1t\" is not a script variable name"},
        {"a-b:1", "", "\"a-b\" is not a script variable name"},
        {"Global:1", "", "\"Global\" is a word of the script language"},
        {"t:8..1", "", "The range runs backwards: write it from the lowest value up (1..8)"},
        {"t:1..8:0", "", "The step of a range must be 1 or more"},
        {"t:1..8:-1", "", "The step of a range must be 1 or more"},
        {"t:0.5..2", "", "A range is first..last"},
        {"t:1..", "", "A range is first..last"},
        {"t:1..9999999999", "", "A range is first..last"},
        {"t:0..100", "", "A scan takes at most 100 values; this range has 101"},
        {"t:-2147483648..2147483647", "",
         "A scan takes at most 100 values; this range has 4294967296"},
        {many, "", "A scan takes at most 100 values; this list has 101"},
        {"t:1,,2", "", "A value of the list is empty"},
        {"t:1,", "", "A value of the list is empty"},
        {"t:1,01", "", "The value 01 is given twice"},
        {"t:1,1.0", "", "The value 1.0 is given twice"},
        {"t:a,\x1b[2J", "", "A value holds a control character"},
    };
    for (const auto& c : cases) {
        std::vector<avs::ScriptVariable> values;
        std::string reason;
        EXPECT_EQ(app::ParseScan(c.scanText, values, reason), c.reason.empty()) << c.scanText;
        EXPECT_EQ(Shown(values), c.values) << c.scanText;
        EXPECT_EQ(reason.substr(0, c.reason.size()), c.reason) << c.scanText << ": " << reason;
    }
}

TEST(ScanSwitch, WhereTheScriptUsesTheVariable) {
    const struct {
        const char *script, *name;
        bool named, prefetch;
    } cases[] = {
        {"BlankClip()\nPrefetch(threads)\n", "threads", true, true},
        {"BlankClip().Prefetch( Threads )", "threads", true, true},
        {"c = BlankClip()\nPrefetch(c, n)", "n", true, true},
        {"BlankClip()\nPrefetch(threads=t)", "t", true, true},
        {"BlankClip()\nPrefetch(4)  # threads", "threads", false, false},
        {"/* t\n t */ BlankClip(pixel_type=\"t\")", "t", false, false},
        {"BlankClip(width=size)\nPrefetch(4)", "size", true, false},
        {"tt = 1\nBlankClip()", "t", false, false},
        {"MyPrefetch(n)", "n", true, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(app::ScriptNamesVariable(c.script, c.name), c.named) << c.script;
        EXPECT_EQ(app::PassesToPrefetch(c.script, c.name), c.prefetch) << c.script;
    }
    EXPECT_TRUE(report::CountsThreads("Threads", false, {"1", "2", "16"}));
    EXPECT_TRUE(report::CountsThreads("n", true, {"1", "3"}));
    EXPECT_FALSE(report::CountsThreads("n", false, {"1", "2"}));
    EXPECT_FALSE(report::CountsThreads("threads", true, {"0", "2"}));
    EXPECT_FALSE(report::CountsThreads("threads", true, {"1", "1-2"}));
}

// Four thread counts: twice as fast at 2, 3.6 times at 4, hardly more at 8.
report::ScanTable ThreadScan() {
    report::ScanTable scan;
    scan.script = "t.avs";
    scan.variable = "threads";
    scan.threadCounts = true;
    scan.points = {{"1", "int", {99, 100, 101}, 25.0, 4.0},
                   {"2", "int", {198, 200, 202}, 50.0, 4.0},
                   {"4", "int", {358, 360, 362}, 97.0, 3.71},
                   {"8", "int", {365, 367, 369}, std::nullopt, std::nullopt}};
    return scan;
}

// The line of the table that starts with the value.
std::string Row(const std::string& text, const std::string& value) {
    std::smatch m;
    return std::regex_search(text, m, std::regex("\n(" + value + " [^\n]*)")) ? m.str(1) : "";
}

TEST(ScanReport, TableVerdictsAndWhereTheGainEnds) {
    const std::string text = report::ScanComparisonText(ThreadScan());
    EXPECT_TRUE(Contains(text, "\nthreads   Runs   FPS (mean +/- deviation)")) << text;
    EXPECT_TRUE(Contains(text, "Speed-up (95 % interval)   CPU %   Efficiency   Parallel"));
    EXPECT_TRUE(std::regex_search(Row(text, "1"), std::regex("^1 +3 +100.0 \\+/- 1.000 +99.00 to "
                                                             "101.0 +1 \\(reference\\) +25 +4.000 "
                                                             "+100 %$")))
        << Row(text, "1");
    EXPECT_TRUE(
        std::regex_search(Row(text, "4"), std::regex("3\\.60 \\(3\\.5[0-9] to 3\\.6[0-9]\\) "
                                                     "+97 +3.710 +90 %$")))
        << Row(text, "4");
    EXPECT_TRUE(std::regex_search(Row(text, "8"), std::regex("n/a +n/a +46 %$"))) << Row(text, "8");
    EXPECT_TRUE(Contains(text, "\nthreads=2 rendered 2.00 times as fast as threads=1 (95 % "));
    EXPECT_TRUE(Contains(text,
                         "\nBeyond threads=4 the gain falls under 5 %: threads=8 renders "
                         "1.02 times as fast as threads=4.\n"))
        << text;
    EXPECT_FALSE(Contains(text, "Note:"));

    report::ScanTable scaling = ThreadScan();
    scaling.points.pop_back();
    EXPECT_TRUE(Contains(report::ScanComparisonText(scaling),
                         "\nEach step up to threads=4 gains 5 % or more.\n"));

    // Words: no thread figures; a value without a counted run has none; the note on a script
    // that never names the variable; values escaped.
    report::ScanTable words;
    words.script = "w.avs";
    words.variable = "mode";
    words.namedByScript = false;
    words.points = {{"fast", "string", {50, 51}, 40.0, 1.25},
                    {"\x1b[2J", "string", {}, std::nullopt, std::nullopt}};
    const std::string said = report::ScanComparisonText(words);
    EXPECT_TRUE(Contains(said, "\nNote: w.avs never names mode, so its variants are alike"));
    EXPECT_TRUE(Contains(said, "   Speed (95 % interval)   CPU %   Efficiency\n")) << said;
    EXPECT_TRUE(std::regex_search(Row(said, "\\\\x1B\\[2J"), std::regex("^\\S+ +0 +n/a +n/a +n/a")))
        << said;
    EXPECT_FALSE(Contains(said, "rendered"));
    EXPECT_FALSE(Contains(said, "gain"));
    EXPECT_FALSE(Contains(said, "\x1b"));
}

// Records of a scan whose runs had the given rates.
std::vector<std::vector<bench::RunRecord>> RunsOf(const report::ScanTable& scan) {
    std::vector<std::vector<bench::RunRecord>> runs;
    for (const report::ScanPoint& p : scan.points) {
        runs.emplace_back();
        for (size_t i = 0; i < p.rates.size(); ++i) {
            bench::RunRecord r;
            r.setup.scriptPath = "/x/t.avs";
            r.setup.variable = scan.variable + "=" + p.value;
            r.end = bench::RunEnd::kCompleted;
            runs.back().push_back(r);
        }
    }
    return runs;
}

TEST(ScanReport, ResultFileReadBackAndComparedValueByValue) {
    const report::ScanTable a = ThreadScan();
    const std::string text = report::ScanResultJson(a, RunsOf(a));
    bench::RunRecord readA;
    std::string reason;
    ASSERT_TRUE(report::ReadResultFile(text, readA, reason)) << reason;
    EXPECT_EQ(readA.scanVariable, "threads");
    ASSERT_EQ(readA.scanValues.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(readA.scanValues[i].value, a.points[i].value);
        EXPECT_EQ(readA.scanValues[i].rates, a.points[i].rates);
    }

    // B: the same scan, twice as fast at 2 threads, without 8 and with 16.
    report::ScanTable b = ThreadScan();
    for (double& rate : b.points[1].rates)
        rate *= 2;
    b.points[3].value = "16";
    bench::RunRecord readB;
    ASSERT_TRUE(report::ReadResultFile(report::ScanResultJson(b, RunsOf(b)), readB, reason));
    const std::string compared = report::ComparisonText(readA, readB, "a.json", "b.json");
    EXPECT_TRUE(Contains(compared, "\nScan of threads, value by value:\n")) << compared;
    EXPECT_TRUE(
        std::regex_search(Row(compared, "2"), std::regex("^2 +3 \\| 3 +200.0 +400.0 +2.00 ")))
        << compared;
    EXPECT_TRUE(Contains(compared, "Values in one scan only: 8 (A), 16 (B)\n"));
    EXPECT_TRUE(Contains(compared,
                         "t.avs (b.json) at threads=2 rendered 2.00 times as fast as "
                         "t.avs (a.json) at threads=2"));
    EXPECT_TRUE(Contains(compared, "at threads=1 rendered equally fast"));

    bench::RunRecord single;
    single.setup.scriptPath = "/x/t.avs";
    single.figures.emplace().fpsAverage = 100;
    EXPECT_TRUE(
        Contains(report::ComparisonText(readA, single, "a.json", "s.json"), "Only A is a scan"));

    // Arrays that disagree are no scan of Trevalo's.
    for (const auto& [from, to] :
         {std::pair{"\"runCounts\": [\n      3,", "\"runCounts\": [\n      4,"},
          std::pair{"\"runCounts\": [\n      3,", "\"runCounts\": [\n      2,"},
          std::pair{"\"valueTexts\": [\n      \"1\",", "\"valueTexts\": [\n      1,"},
          std::pair{"\"variable\": \"threads\"", "\"variable\": \"\""}}) {
        std::string damaged = text;
        ASSERT_NE(damaged.find(from), std::string::npos) << from;
        damaged.replace(damaged.find(from), std::string(from).size(), to);
        bench::RunRecord r;
        EXPECT_FALSE(report::ReadResultFile(damaged, r, reason)) << to;
        EXPECT_TRUE(Contains(reason, "do not agree")) << reason;
    }
}

TEST(ScanReport, ChartOfRatesAndCpuWithGaps) {
    report::ScanTable scan = ThreadScan();
    scan.points[1].cpu.reset();  // CPU known at 1, 4 and 8: a dot, then a line
    scan.points[3].cpu = 99.0;
    const std::string svg = report::ScanChartSvg(scan);
    EXPECT_TRUE(Contains(svg, ">Scan of threads in t.avs</text>"));
    EXPECT_TRUE(Contains(svg, ">CPU use (% of all processors)</text>"));
    const auto count = [&svg](const std::string& part) {
        size_t n = 0;
        for (size_t at = svg.find(part); at != std::string::npos; at = svg.find(part, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("<polyline fill=\"none\" stroke=\"#ff7f0e\""), 1u);
    EXPECT_EQ(count("<circle cx=\""), 5u);  // four means and the lone CPU figure
    EXPECT_EQ(count("<polyline fill=\"none\" stroke=\"#1f77b4\""), 1u);
    for (report::ScanPoint& p : scan.points)
        p.rates.clear();
    EXPECT_EQ(report::ScanChartSvg(scan), "");
}

}  // namespace
