// The result file: its statistics and nulls, how it is read back and compared, what it cannot
// make the terminal do; the chart's thinning, scales and drawing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <set>
#include <tuple>

#include "bench/loop.h"
#include "report/chart.h"
#include "report/compare.h"
#include "report/results.h"

namespace report {
namespace {

std::vector<bench::FrameSample> Rates(const std::vector<double>& fps) {
    std::vector<bench::FrameSample> samples(fps.size());
    for (size_t i = 0; i < fps.size(); ++i) {
        samples[i].frame = static_cast<uint32_t>(10 * i + 9);
        samples[i].currentFps = samples[i].averageFps = fps[i];
        samples[i].cpuPercent = static_cast<uint16_t>(i % 101);
        samples[i].gpuPercent = static_cast<uint16_t>(100 - i % 101);
    }
    return samples;
}

TEST(ResultJson, FiguresTheSummaryShowsAsNaAreNull) {
    bench::RunRecord r;
    r.setup.scriptPath = "/clips/bad\xff.avs";  // not UTF-8
    r.end = bench::RunEnd::kCompleted;
    r.clip = avs::VideoInfo{};
    r.clip->raw.width = 64;
    r.totals = bench::RunTotals{};  // no interval stored, no CPU measured
    r.totals->averageFps = 10;
    r.figures = bench::SummaryFiguresOf(*r.totals);
    const nlohmann::json j = nlohmann::json::parse(ResultJson(r));
    EXPECT_EQ(j["script"], "/clips/bad\xEF\xBF\xBD.avs");
    for (const char* key :
         {"fpsMin", "fpsMax", "timePerFrameMinMs", "timePerFrameMaxMs", "efficiencyIndex"})
        EXPECT_TRUE(j["summary"][key].is_null()) << key;
    EXPECT_EQ(j["summary"]["fpsAverage"], 10.0);
    EXPECT_EQ(j["summary"]["timePerFrameAverageMs"], 100.0);
    EXPECT_TRUE(j["clip"]["audio"].is_null());
    EXPECT_TRUE(j["distribution"].is_null());
    EXPECT_TRUE(j["samples"]["fps"].empty());
}

// A run of known figures that ended by its time limit, with three samples.
bench::RunRecord KnownRun() {
    bench::RunRecord r;
    r.setup.scriptPath = "/c/a.avs";
    r.setup.avisynth.versionString = "AviSynth+ 3.7.5";
    r.end = bench::RunEnd::kTimeLimit;
    r.clip = avs::VideoInfo{};
    r.clip->raw.width = 64;
    r.clip->raw.height = 48;
    r.clip->raw.num_frames = 1000;
    r.range = bench::FrameRange{10, 509};
    r.refreshInterval = 20;
    bench::RunTotals t;
    t.framesProcessed = 400;
    t.firstFrame = 10;
    t.lastFrame = 409;
    t.minFps = 40.0;
    t.maxFps = 62.5;
    t.averageFps = 50.0;
    t.peakPhysicalMB = 130;
    t.peakVirtualMB = 310;
    t.threadCount = 9;
    t.cpuAverage = 25;
    t.elapsedMs = 8000;
    t.estimatedMs = 10000;
    r.totals = t;
    r.figures = bench::SummaryFiguresOf(t);
    r.samples = Rates({45, 40, 62.5});
    r.rates = bench::DistributionOf(r.samples);
    return r;
}

// A series' file read back gives its runs' rates, which -compare judges with their interval;
// runs that stopped early are warned of, and rates no run writes are refused.
TEST(ResultJson, ASeriesReadBackIsJudgedByItsRuns) {
    std::vector<bench::RunRecord> runs(4, KnownRun());
    for (bench::RunRecord& run : runs)
        run.end = bench::RunEnd::kCompleted;
    runs[3].end = bench::RunEnd::kCancelled;
    const std::vector<double> slow = {50, 51, 49}, fast = {100, 102, 98};
    const auto readBack = [&](const std::vector<double>& rates) {
        const std::string text = SeriesResultJson(runs, bench::StatisticsOf(rates), rates);
        bench::RunRecord back;
        std::string reason;
        EXPECT_TRUE(ReadResultFile(text, back, reason)) << reason;
        return back;
    };
    const bench::RunRecord a = readBack(slow), b = readBack(fast);
    EXPECT_EQ(b.seriesRates, fast);
    EXPECT_EQ(b.figures->fpsAverage, 100.0);
    EXPECT_EQ(b.figures->fpsMin, 98.0);
    EXPECT_EQ(b.figures->fpsMax, 102.0);
    EXPECT_FALSE(b.figures->cpuAverage);
    const std::string compared = ComparisonText(a, b, "a.json", "b.json");
    EXPECT_NE(compared.find("Warning: A's run did not complete its range (it ended with "
                            "\"cancelled\")\n"),
              std::string::npos)
        << compared;
    const std::string verdict =
        VerdictSentence("a.avs (a.json)", "a.avs (b.json)", 3, 3, bench::CompareRates(slow, fast));
    EXPECT_NE(compared.find("\n" + verdict + "\n"), std::string::npos) << compared;
    EXPECT_NE(verdict.find("(95 % interval "), std::string::npos) << verdict;

    nlohmann::json j = nlohmann::json::parse(SeriesResultJson(runs, {}, slow));
    for (const nlohmann::json& rates :
         {nlohmann::json("50"), nlohmann::json({50, "51"}), nlohmann::json({50, {51}}),
          nlohmann::json(std::vector<double>(1001, 50.0)), nlohmann::json({50, -1})}) {
        j["series"]["runRates"] = rates;
        bench::RunRecord back;
        std::string reason;
        EXPECT_FALSE(ReadResultFile(j.dump(), back, reason)) << rates.dump().substr(0, 40);
        EXPECT_NE(reason.find("series.runRates"), std::string::npos) << reason;
    }
}

// Each summary figure under its own name; read back, the record compares as the run did.
TEST(ResultJson, EveryFigureInItsPlaceAndReadBack) {
    const bench::RunRecord r = KnownRun();
    const std::string text = ResultJson(r);
    const nlohmann::json j = nlohmann::json::parse(text);
    EXPECT_EQ(j["end"], "time limit");
    EXPECT_EQ(j["refreshInterval"], 20);
    EXPECT_EQ(j["range"], nlohmann::json({{"first", 10}, {"last", 509}}));
    EXPECT_EQ(j["summary"], nlohmann::json::parse(R"({
        "framesProcessed": 400, "firstFrame": 10, "lastFrame": 409,
        "fpsMin": 40.0, "fpsMax": 62.5, "fpsAverage": 50.0,
        "timePerFrameMinMs": 16.0, "timePerFrameMaxMs": 25.0, "timePerFrameAverageMs": 20.0,
        "physicalMemoryPeakMB": 130, "virtualMemoryPeakMB": 310, "threads": 9,
        "cpuAveragePercent": 25, "efficiencyIndex": 2.0, "elapsedMs": 8000, "estimatedMs": 10000
    })"));
    EXPECT_EQ(j["distribution"]["p1"], 40.0);
    EXPECT_EQ(j["distribution"]["p50"], 45.0);
    EXPECT_EQ(j["distribution"]["max"], 62.5);
    EXPECT_EQ(j["samples"]["frame"], nlohmann::json({10, 20, 30}));
    EXPECT_EQ(j["samples"]["timePerFrameMs"], nlohmann::json({1000.0 / 45, 25.0, 16.0}));

    bench::RunRecord back;
    std::string reason;
    ASSERT_TRUE(ReadResultFile(text, back, reason)) << reason;
    const std::string compared = ComparisonText(back, back, "a.json", "b.json");
    EXPECT_EQ(ComparisonText(r, r, "a.json", "b.json"), compared);
    EXPECT_NE(
        compared.find("FPS (min):                               40.00         40.00      1.00\n"
                      "FPS (max):                               62.50         62.50      1.00\n"),
        std::string::npos)
        << compared;

    // What the reader refuses beyond the end-to-end tests' cases; a figure that may be null is
    // read as n/a.
    const auto edited = [&j](const std::string& pointer, const nlohmann::json& value) {
        nlohmann::json copy = j;
        copy[nlohmann::json::json_pointer(pointer)] = value;
        return copy.dump();
    };
    const std::pair<std::string, const char*> refused[] = {
        {"[1]", "is not a Trevalo result file"},
        {edited("/formatVersion", 2), "has a result format version this Trevalo does not know"},
        {edited("/formatVersion", "1"), "has a result format version this Trevalo does not know"},
        {edited("/summary/fpsMin", "40"),
         "is not a Trevalo result file (summary.fpsMin is missing or not a number)"},
        {edited("/clip/width", true),
         "is not a Trevalo result file (clip.width is missing or not a number)"},
        {edited("/range/last", "509"),
         "is not a Trevalo result file (range.last is missing or not a number)"},
        {edited("/distribution/p1", "40"),
         "is not a Trevalo result file (distribution.p1 is missing or not a number)"},
    };
    for (const auto& [file, why] : refused) {
        EXPECT_FALSE(ReadResultFile(file, back, reason)) << why;
        EXPECT_EQ(reason, why);
    }
    ASSERT_TRUE(ReadResultFile(edited("/summary/fpsMin", nullptr), back, reason)) << reason;
    EXPECT_FALSE(back.figures->fpsMin);
}

// A figure no run writes where it stands is refused, whatever its type can hold.
TEST(ResultFile, RefusesFiguresNoRunCanProduce) {
    const nlohmann::json j = nlohmann::json::parse(ResultJson(KnownRun()));
    const struct {
        const char* pointer;
        nlohmann::json value;
    } edits[] = {
        {"/summary/fpsAverage", -0.15},
        {"/summary/fpsMin", 5e15},  // above 2^32 - 1 frames in a microsecond
        {"/summary/fpsMax", -1},
        {"/summary/timePerFrameAverageMs", 0},
        {"/summary/cpuAveragePercent", 101},
        {"/summary/cpuAveragePercent", 25.5},
        {"/summary/physicalMemoryPeakMB", 4294967296},
        {"/summary/virtualMemoryPeakMB", 1e300},
        {"/summary/threads", 65536},
        {"/summary/efficiencyIndex", -0.5},
        {"/clip/frames", 2147483648},
        {"/clip/width", 4294967296},
        {"/clip/height", 47.5},
        {"/range/first", 4294967296},
        {"/distribution/p1", 0},
        {"/distribution/max", 1e16},
        {"/machine/logicalProcessors", 4294967296},
        {"/machine/memoryMB", 1.5},
    };
    bench::RunRecord back;
    std::string reason;
    for (const auto& [pointer, value] : edits) {
        nlohmann::json copy = j;
        copy[nlohmann::json::json_pointer(pointer)] = value;
        std::string field = std::string(pointer + 1);
        std::replace(field.begin(), field.end(), '/', '.');
        EXPECT_FALSE(ReadResultFile(copy.dump(), back, reason)) << pointer << " " << value;
        EXPECT_EQ(reason,
                  "is not a Trevalo result file (" + field + " is not a figure a run can produce)")
            << value;
    }
    nlohmann::json copy = j;
    copy["range"]["first"] = 510;
    EXPECT_FALSE(ReadResultFile(copy.dump(), back, reason));
    EXPECT_EQ(reason, "is not a Trevalo result file (range.first is after range.last)");
    copy["range"]["first"] = 509;
    EXPECT_TRUE(ReadResultFile(copy.dump(), back, reason)) << reason;
}

// The largest and smallest figures a run writes are read back and shown as they are.
TEST(ResultFile, ReadsBackEveryFigureARunCanWrite) {
    const double most = std::numeric_limits<uint32_t>::max() / bench::kShortestDelta;
    bench::RunRecord r = KnownRun();
    r.clip->raw.num_frames = r.clip->raw.width = std::numeric_limits<int>::max();
    r.clip->raw.height = 0;
    r.range = bench::FrameRange{0, std::numeric_limits<uint32_t>::max()};
    bench::RunTotals& t = *r.totals;
    t.averageFps = 5e9;
    t.maxFps = most;
    t.minFps = 1e-9;
    t.cpuAverage = 100;
    t.peakPhysicalMB = std::numeric_limits<uint32_t>::max();
    t.peakVirtualMB = 0;
    t.threadCount = std::numeric_limits<uint16_t>::max();
    r.figures = bench::SummaryFiguresOf(t);
    r.samples = Rates({most, 1e-9});
    r.rates = bench::DistributionOf(r.samples);
    bench::RunRecord back;
    std::string reason;
    ASSERT_TRUE(ReadResultFile(ResultJson(r), back, reason)) << reason;
    const std::string compared = ComparisonText(back, back, "a.json", "b.json");
    EXPECT_EQ(compared, ComparisonText(r, r, "a.json", "b.json"));
    // Beyond 2^32 as they are, apart however wide.
    for (const char* row :
         {"FPS (average):                      5000000000    5000000000      1.00\n",
          "FPS (max):                       4294967295000000 4294967295000000      1.00\n",
          "Memory usage (phys, MB):            4294967295    4294967295      1.00\n",
          "Thread count:                            65535         65535      1.00\n",
          "Efficiency index:                     50000000      50000000      1.00\n"})
        EXPECT_NE(compared.find(row), std::string::npos) << row << "\n" << compared;

    // No rate, a CPU reading: an efficiency of 0.
    t.averageFps = 0;
    t.cpuAverage = 50;
    r.figures = bench::SummaryFiguresOf(t);
    ASSERT_TRUE(ReadResultFile(ResultJson(r), back, reason)) << reason;
    EXPECT_EQ(back.figures->efficiency, 0.0);
    EXPECT_FALSE(back.figures->fpsAverage);
}

// A ratio too large for a double is no ratio.
TEST(ComparisonText, AnOverflowingRatioIsNotShown) {
    bench::RunRecord a = KnownRun(), b = KnownRun();
    a.figures->fpsAverage = 1e-300;
    b.figures->fpsAverage = 1e300;
    const std::string compared = ComparisonText(a, b, "a.json", "b.json");
    EXPECT_EQ(compared.find("inf"), std::string::npos) << compared;
    EXPECT_NE(compared.find("\nThe average frame rates cannot be compared.\n"), std::string::npos);
}

// The machine goes out and comes back; unknown facts are null, and a file that names no machine
// reads as one whose machine is unknown.
TEST(ResultFile, TheMachineReadBack) {
    const auto facts = [](const sys::MachineFacts& m) {
        return std::make_tuple(m.processor, m.logicalProcessors, m.memoryMB, m.system,
                               m.systemVersion);
    };
    bench::RunRecord r = KnownRun();
    r.setup.machine = {"AMD EPYC 7B13", 2, 23000, "Debian GNU/Linux 12 (bookworm)", "6.1.0-18"};
    const std::string text = ResultJson(r);
    EXPECT_LT(text.find("\"avisynth\""), text.find("\"machine\""));
    nlohmann::json j = nlohmann::json::parse(text);
    EXPECT_EQ(j["machine"], nlohmann::json::parse(R"j({"processor": "AMD EPYC 7B13",
        "logicalProcessors": 2, "memoryMB": 23000, "system": "Debian GNU/Linux 12 (bookworm)",
        "systemVersion": "6.1.0-18"})j"));
    bench::RunRecord back;
    std::string reason;
    ASSERT_TRUE(ReadResultFile(text, back, reason)) << reason;
    EXPECT_EQ(facts(back.setup.machine), facts(r.setup.machine));

    r.setup.machine = {};
    j = nlohmann::json::parse(ResultJson(r));
    for (const char* key :
         {"processor", "logicalProcessors", "memoryMB", "system", "systemVersion"})
        EXPECT_TRUE(j["machine"][key].is_null()) << key;
    j["machine"]["system"] = "Windows 10 Pro";
    ASSERT_TRUE(ReadResultFile(j.dump(), back, reason)) << reason;
    EXPECT_EQ(facts(back.setup.machine), facts({"", 0, 0, "Windows 10 Pro", ""}));
    j.erase("machine");
    ASSERT_TRUE(ReadResultFile(j.dump(), back, reason)) << reason;
    EXPECT_EQ(facts(back.setup.machine), facts({}));
}

// Two named machines that differ are named in the warning, whatever fact differs; a file
// without a machine warns of nothing.
TEST(ComparisonText, TheMachinesDifferOnlyWhenBothAreNamed) {
    const sys::MachineFacts epyc{"AMD EPYC 7B13", 2, 23800, "Debian GNU/Linux 12 (bookworm)",
                                 "6.1.0-18-amd64"};
    sys::MachineFacts kernel = epyc, memory = epyc, controls = epyc;
    kernel.systemVersion = "6.1.0-21-amd64";
    memory.memoryMB = 512;
    memory.logicalProcessors = 1;
    controls.processor = "\x1B[2J";
    const struct {
        sys::MachineFacts a, b;
        const char* warning;  // "" for none
    } cases[] = {
        {epyc, epyc, ""},
        {epyc, {}, ""},
        {{}, {"", 0, 0, "Windows 11 Pro", ""}, ""},
        {epyc,
         {"Intel(R) Core(TM) i7-8700", 12, 16384, "Windows 11 Pro", "10.0.22631"},
         "machine (AMD EPYC 7B13, 2 CPUs, 23 GB, Debian GNU/Linux 12 (bookworm) 6.1.0-18-amd64 | "
         "Intel(R) Core(TM) i7-8700, 12 CPUs, 16 GB, Windows 11 Pro 10.0.22631)"},
        {epyc, kernel,
         "machine (AMD EPYC 7B13, 2 CPUs, 23 GB, Debian GNU/Linux 12 (bookworm) 6.1.0-18-amd64 | "
         "AMD EPYC 7B13, 2 CPUs, 23 GB, Debian GNU/Linux 12 (bookworm) 6.1.0-21-amd64)"},
        {memory, controls,
         "machine (AMD EPYC 7B13, 1 CPU, 512 MB, Debian GNU/Linux 12 (bookworm) 6.1.0-18-amd64 | "
         "\\x1B[2J, 2 CPUs, 23 GB, Debian GNU/Linux 12 (bookworm) 6.1.0-18-amd64)"},
    };
    for (const auto& c : cases) {
        bench::RunRecord a = KnownRun(), b = KnownRun();
        a.setup.machine = c.a;
        b.setup.machine = c.b;
        const std::string compared = ComparisonText(a, b, "a.json", "b.json");
        const size_t at = compared.find("Warning: the runs differ");
        EXPECT_EQ(at == std::string::npos ? "" : compared.substr(at, compared.find('\n', at) - at),
                  *c.warning ? "Warning: the runs differ in " + std::string(c.warning) : "")
            << c.warning;
    }
}

// Controls and bytes that are not UTF-8 shown as \xNN, by each of their bytes; text as it is.
TEST(TerminalText, EscapesWhatATerminalWouldObey) {
    const std::pair<std::string, std::string> cases[] = {
        {"/clips/a b.avs", "/clips/a b.avs"},
        {"\x1B]0;title\x07", "\\x1B]0;title\\x07"},  // sets the window's title
        {"\x1B[2J\x1B[H", "\\x1B[2J\\x1B[H"},        // clears the screen
        {std::string("a\0b", 3), "a\\x00b"},
        {" ~\x7F", " ~\\x7F"},
        {"\xC2\x85\xC2\x9B"
         "1m",
         "\\xC2\\x85\\xC2\\x9B"
         "1m"},                                                        // C1: NEL, CSI
        {"\xC2\x80\xC2\x9F\xC2\xA0", "\\xC2\\x80\\xC2\\x9F\xC2\xA0"},  // U+00A0 is text
        {"\xC3\x9C"
         "berpr\xC3\xBC"
         "fung",
         "\xC3\x9C"
         "berpr\xC3\xBC"
         "fung"},
        {"\xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF", "\xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF"},
        {"\xFF\xFE\x80\xBF", "\\xFF\\xFE\\x80\\xBF"},
        {"\x9B"
         "2J",
         "\\x9B"
         "2J"},                                        // a lone C1 byte
        {"\xC0\xAF\xC1\xBF", "\\xC0\\xAF\\xC1\\xBF"},  // overlong
        {"\xED\xA0\x80", "\\xED\\xA0\\x80"},           // a surrogate
        {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},  // above U+10FFFF
        {"\xE6\x97"
         "a",
         "\\xE6\\x97"
         "a"},  // cut short
        {"", ""},
    };
    for (const auto& [text, shown] : cases)
        EXPECT_EQ(TerminalText(text), shown) << text;
    // A Windows name in its code page: its letters kept, its controls not.
    EXPECT_EQ(TerminalText("\xDC"
                           "ber\x1B.json",
                           true),
              "\xDC"
              "ber\\x1B.json");
}

// How far the process's peak resident memory rose while fn ran, in MB; -1 where the peak
// cannot be reset.
double PeakRiseMB(const std::function<void()>& fn) {
    const auto status = [](const char* field) {
        std::ifstream in("/proc/self/status");
        for (std::string line; std::getline(in, line);)
            if (line.rfind(field, 0) == 0) return std::stod(line.substr(std::strlen(field)));
        return -1.0;
    };
    std::ofstream clear("/proc/self/clear_refs");
    if (!(clear << "5" << std::flush)) return -1;  // the peak is now the current size
    const double before = status("VmRSS:");
    fn();
    return (status("VmHWM:") - before) / 1024;
}

// Beside its fields, a result with 5 million numbers, a nesting a million deep, a long text and
// kept keys where they are not read: read in the memory of its fields, not of a document.
TEST(ResultFile, WhatIsNotReadIsNotStored) {
    nlohmann::json j = nlohmann::json::parse(ResultJson(KnownRun()));
    j["summary"]["more"] = {{"fpsAverage", "x"}, {"summary", nullptr}};
    j["error"] = std::string(2 << 20, 'e');
    j["extra"] = {{{"format", "other"}, {"summary", nullptr}, {"clip", {{"frames", "x"}}}}};
    std::string text = j.dump();
    text.pop_back();
    text += ", \"numbers\": [";
    for (int i = 0; i < 5000000; ++i)
        text += "0,";
    text += "0], \"deep\": " + std::string(1000000, '[') + std::string(1000000, ']') + "}";
    bench::RunRecord back;
    std::string reason;
    bool read = false;
    const double rise = PeakRiseMB([&] { read = ReadResultFile(text, back, reason); });
    ASSERT_TRUE(read) << reason;
    EXPECT_EQ(ComparisonText(back, back, "a.json", "b.json"),
              ComparisonText(KnownRun(), KnownRun(), "a.json", "b.json"));
    if (rise < 0) GTEST_SKIP() << "the peak memory cannot be reset here";
    EXPECT_LT(rise, 32) << "MB more at the peak, for " << text.size() / 1000000 << " MB of text";
}

// A kept text of at most 1 MiB; a longer one is no result's, and is refused, not stored.
TEST(ResultFile, AKeptTextIsAtMostOneMebibyte) {
    nlohmann::json j = nlohmann::json::parse(ResultJson(KnownRun()));
    bench::RunRecord back;
    std::string reason;
    const std::pair<const char*, const char*> texts[] = {
        {"/script", "is not a Trevalo result file (script is longer than 1 MiB)"},
        {"/avisynth/version",
         "is not a Trevalo result file (avisynth.version is longer than 1 MiB)"},
        {"/end", "is not a Trevalo result file (end is longer than 1 MiB)"},
        {"/machine/system", "is not a Trevalo result file (machine.system is longer than 1 MiB)"}};
    for (const auto& [pointer, why] : texts) {
        nlohmann::json copy = j;
        copy[nlohmann::json::json_pointer(pointer)] = std::string(1 << 20, 'a');
        EXPECT_TRUE(ReadResultFile(copy.dump(), back, reason)) << pointer << " " << reason;
        copy[nlohmann::json::json_pointer(pointer)] = std::string((1 << 20) + 1, 'a');
        EXPECT_FALSE(ReadResultFile(copy.dump(), back, reason)) << pointer;
        EXPECT_EQ(reason, why);
    }
    j["avisynth"]["version"] = std::string(1 << 20, 'v');
    ASSERT_TRUE(ReadResultFile(j.dump(), back, reason)) << reason;
    EXPECT_EQ(back.setup.avisynth.versionString.size(), size_t{1} << 20);
}

// 500,000 samples, a dip of one sample among them: each bucket keeps its lowest and highest.
TEST(Chart, BucketsKeepEachMinimumAndMaximum) {
    std::mt19937 random(7);
    std::vector<ChartPoint> points(500000);
    for (size_t i = 0; i < points.size(); ++i)
        points[i] = {static_cast<double>(i),
                     50.0 + std::uniform_real_distribution<>(-5, 5)(random)};
    points[123457].y = 1.0;
    const std::vector<ChartPoint> kept = MinMaxBuckets(points, 800);
    EXPECT_LE(kept.size(), 1600u);
    for (size_t b = 0; b < 800; ++b) {
        const auto first = points.begin() + static_cast<long>(b * points.size() / 800);
        const auto last = points.begin() + static_cast<long>((b + 1) * points.size() / 800);
        const auto [low, high] = std::minmax_element(
            first, last, [](const ChartPoint& p, const ChartPoint& q) { return p.y < q.y; });
        for (const auto& extreme : {*low, *high})
            EXPECT_TRUE(std::any_of(kept.begin(), kept.end(),
                                    [&](const ChartPoint& p) { return p.x == extreme.x; }))
                << "bucket " << b;
    }
    EXPECT_TRUE(std::is_sorted(kept.begin(), kept.end(),
                               [](const ChartPoint& p, const ChartPoint& q) { return p.x < q.x; }));
    EXPECT_EQ(MinMaxBuckets({{1, 2}, {2, 3}}, 800).size(), 2u);
}

TEST(Chart, AxesHaveRoundTicks) {
    const struct {
        double low, high;
        int ticks;
        double scaledLow, scaledHigh, step;
    } cases[] = {
        {0, 63.2, 6, 0, 80, 20},  {10, 300, 8, 0, 300, 50}, {2710, 2900, 8, 2700, 2900, 50},
        {0, 0.8, 6, 0, 0.8, 0.2}, {5, 5, 8, 5, 6, 0.2},     {0, 480000, 8, 0, 500000, 100000}};
    for (const auto& c : cases) {
        const AxisScale s = NiceScale(c.low, c.high, c.ticks);
        EXPECT_NEAR(s.low, c.scaledLow, 1e-9) << c.low << " " << c.high;
        EXPECT_NEAR(s.high, c.scaledHigh, 1e-9) << c.low << " " << c.high;
        EXPECT_NEAR(s.step, c.step, 1e-9) << c.low << " " << c.high;
    }
    EXPECT_EQ(TickLabel(250000, 50000), "250,000");
    EXPECT_EQ(TickLabel(1500, 500), "1500");
    EXPECT_EQ(TickLabel(0.6000000001, 0.2), "0.6");
    EXPECT_EQ(TickLabel(-1e-12, 0.2), "0.0");
    EXPECT_EQ(TickLabel(1e6 - 1e-7, 2e5, true), "1.0M");
}

// The SVG's tick labels so anchored: "end" the rates', "middle" the frames'.
std::vector<std::string> Labels(const std::string& svg, const std::string& anchor) {
    const std::regex label("text-anchor=\"" + anchor + "\">([0-9][^<]*)<");
    std::vector<std::string> texts;
    for (std::sregex_iterator m(svg.begin(), svg.end(), label), end; m != end; ++m)
        texts.push_back((*m)[1]);
    return texts;
}

// Frame ticks are whole; each rate label, at 0.6 em a character, ends right of the rotated
// title's descenders (0.3 em past its baseline), whose capitals (0.8 em) stay in the drawing.
TEST(Chart, TickLabelsAreWholeFramesAndRatesFitBesideTheTitle) {
    const struct {
        uint32_t samples;
        double fps;
        const char *topRate, *frames;
    } cases[] = {{1, 0.001, "0.0012", "1 2 "}, {2, 0.5, "0.6", "1 2 "},
                 {3, 30, "40", "1 2 3 "},      {2, 1e7, "12M", "1 2 "},
                 {2, 1e9, "1.2G", "1 2 "},     {2, 1e12, "1.2T", "1 2 "},
                 {2, 1e30, "1.2e30", "1 2 "},  {5000, 4e6, "5M", "0 1000 2000 3000 4000 5000 "}};
    for (const auto& c : cases) {
        bench::RunRecord r;
        r.samples = Rates(std::vector<double>(c.samples, c.fps));
        for (uint32_t i = 0; i < c.samples; ++i)
            r.samples[i].frame = i;
        r.rates = bench::DistributionOf(r.samples);
        const std::string svg = ChartSvg(r);
        std::string frames;
        for (const std::string& label : Labels(svg, "middle"))
            frames += label + " ";
        EXPECT_EQ(frames, c.frames) << c.samples;
        const std::vector<std::string> rates = Labels(svg, "end");
        EXPECT_EQ(rates.empty() ? "" : rates.back(), c.topRate);
        EXPECT_EQ(std::set<std::string>(rates.begin(), rates.end()).size(), rates.size()) << c.fps;
        std::smatch title;
        ASSERT_TRUE(std::regex_search(svg, title, std::regex("rotate\\(-90 ([0-9.]+) ")));
        const double titleX = std::stod(title[1]);
        EXPECT_GE(titleX, 0.8 * 13);
        for (const std::string& label : rates)
            EXPECT_GE(72 - 7.8 * static_cast<double>(label.size()), titleX + 0.3 * 13)
                << c.fps << " " << label;
    }
}

// What the chart says beside its lines: the load's scale, the run's program and date, grouped
// figures; and the CPU line starts at the first reading instead of at 0.
TEST(Chart, SaysWhatItShowsAndDrawsNoCpuLoadWithoutAReading) {
    bench::RunRecord r;
    r.samples = Rates({12000, 12500, 13000, 14000, 15000});
    r.samples[0].cpuMeasured = r.samples[1].cpuMeasured = r.samples[3].cpuMeasured = false;
    r.rates = bench::DistributionOf(r.samples);
    r.setup.programVersion = "1.2.3";
    r.setup.architecture = "x64";
    r.setup.date = "2026-12-07T20:58:56+01:00";
    const std::string svg = ChartSvg(r);
    EXPECT_NE(svg.find("| Trevalo 1.2.3 (x64), 2026-12-07 20:58</text>"), std::string::npos);
    EXPECT_NE(svg.find(">CPU load (% of all processors)</text>"), std::string::npos);
    EXPECT_NE(svg.find(">Average 15,000 fps</text>"), std::string::npos);
    EXPECT_NE(svg.find(">1 % low 12,000 fps</text>"), std::string::npos);
    // Samples 2 and 4 alone: each a dot of its own, at its own load, none at 0.
    const std::regex cpu("<(circle|polyline)[^>]*#ff7f0e");
    EXPECT_EQ(
        std::distance(std::sregex_iterator(svg.begin(), svg.end(), cpu), std::sregex_iterator()),
        2);
    EXPECT_EQ(svg.find("cy=\"570.0\" r=\"3\" fill=\"#ff7f0e\""), std::string::npos);
}

// A large run with GPU monitoring and a name full of markup; the end-to-end tests render one.
TEST(Chart, ALargeRunIsThinnedAndItsNameEscaped) {
    std::vector<double> fps(500000);
    for (size_t i = 0; i < fps.size(); ++i)
        fps[i] = 40.0 + static_cast<double>(i % 997) / 50.0;
    const auto samples = Rates(fps);
    bench::RunRecord r;
    r.setup.scriptPath = "/clips/a&b <c> \"d\" 'e'\x01\xc3.avs";
    r.setup.avisynth.versionString = "AviSynth+ <3.7.5>";
    r.end = bench::RunEnd::kCancelled;
    r.clip = avs::VideoInfo{};
    r.gpu = bench::GpuRecord{};
    r.samples = samples;
    r.rates = bench::DistributionOf(r.samples);
    const std::string svg = ChartSvg(r);
    EXPECT_NE(
        svg.find(">a&amp;b &lt;c&gt; &quot;d&quot; &apos;e&apos;\xEF\xBF\xBD\xEF\xBF\xBD.avs<"),
        std::string::npos);
    const size_t points = static_cast<size_t>(std::count(svg.begin(), svg.end(), ','));
    EXPECT_LT(points, 5000u) << "three series";
    EXPECT_GT(points, 3000u);
}

// Each run a circle where the axis puts its rate, in its script's row; values that are no rate
// left out; the axis holding every run and interval end inside its own ends.
TEST(ComparisonChart, RunsSitWhereTheAxisPutsThem) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        const char* what;
        std::vector<ComparedScript> scripts;
        size_t circles;
    } cases[] = {
        {"three",
         {{"a.avs", {50.1, 51.3, 49.8}, 50.4, 48.9, 51.9},
          {"b.avs", {61.0, 62.5, 60.2, 61.7}, 61.35, 59.8, 62.9},
          {"c.avs", {55.5, 55.5}, 55.5, 54.0, 57.0}},
         9},
        {"no spread", {{"a.avs", {30, 30, 30}, 30, 30, 30}, {"b.avs", {30, 30}, 30, 30, 30}}, 5},
        {"one run", {{"a.avs", {0.004}, 0.004, 0.004, 0.004}}, 1},
        {"no rates among them",
         {{"a.avs", {nan, 20, -1, 0, inf}, nan, -inf, inf}, {"b.avs", {}, 25, 24, 26}},
         1},
        {"huge", {{"a.avs", {1e300, 2e299}, 6e299, 1e299, 1e300}}, 2},
    };
    const std::regex tick(
        "<text x=\"([0-9.]+)\" y=\"[0-9.]+\" text-anchor=\"middle\">([0-9][^<]*)<");
    const std::regex circle("<circle cx=\"([0-9.]+)\" cy=\"([0-9.]+)\"");
    for (const auto& c : cases) {
        const std::string svg = ComparisonChartSvg(c.scripts, "Comparison");
        ASSERT_NE(svg.find("</svg>"), std::string::npos) << c.what;
        EXPECT_EQ(std::regex_search(svg, std::regex("nan|inf", std::regex::icase)), false)
            << c.what;
        std::vector<std::pair<double, std::string>> ticks;
        for (std::sregex_iterator m(svg.begin(), svg.end(), tick), end; m != end; ++m)
            ticks.emplace_back(std::stod((*m)[1]), (*m)[2]);
        ASSERT_GE(ticks.size(), 2u) << c.what;
        const double x0 = ticks.front().first, v0 = std::stod(ticks.front().second);
        const double x1 = ticks.back().first, v1 = std::stod(ticks.back().second);
        std::vector<std::pair<double, double>> expected;  // x, row
        for (size_t s = 0; s < c.scripts.size(); ++s) {
            const ComparedScript& script = c.scripts[s];
            const auto rate = [](double fps) { return std::isfinite(fps) && fps > 0; };
            for (double fps : {script.mean, script.low, script.high})
                EXPECT_TRUE(!rate(fps) || (v0 < fps && fps < v1)) << c.what << " " << fps;
            for (double fps : script.runFps)
                if (rate(fps))
                    expected.emplace_back(x0 + (fps - v0) / (v1 - v0) * (x1 - x0),
                                          static_cast<double>(s));
        }
        std::vector<std::pair<double, double>> drawn;
        for (std::sregex_iterator m(svg.begin(), svg.end(), circle), end; m != end; ++m)
            drawn.emplace_back(std::stod((*m)[1]), std::stod((*m)[2]));
        ASSERT_EQ(drawn.size(), c.circles) << c.what;
        ASSERT_EQ(expected.size(), c.circles) << c.what;
        for (size_t i = 0; i < drawn.size(); ++i) {
            EXPECT_NEAR(drawn[i].first, expected[i].first, 0.11) << c.what << " run " << i;
            if (i == 0) continue;
            // Rows from the top in the given order.
            EXPECT_EQ(drawn[i].second > drawn[i - 1].second,
                      expected[i].second > expected[i - 1].second)
                << c.what << " run " << i;
            EXPECT_EQ(drawn[i].second == drawn[i - 1].second,
                      expected[i].second == expected[i - 1].second)
                << c.what << " run " << i;
        }
    }
    EXPECT_EQ(ComparisonChartSvg({{"a.avs", {}, 5, 4, 6}, {"b.avs", {nan}, 0, 0, 0}}, "t"), "");
    EXPECT_EQ(ComparisonChartSvg({}, "t"), "");
}

// Markup and controls in names and the title escaped; a long name cut in its middle, whole
// characters kept on both sides.
TEST(ComparisonChart, NamesAreEscapedAndLongOnesShortened) {
    const std::string longName = "\xC3\xA9" + std::string(100, 'x') + "_variant_b.avs";
    const std::string svg = ComparisonChartSvg(
        {{"a&b <c> \"d\"\x01.avs", {10}, 10, 9, 11}, {longName, {12}, 12, 11, 13}}, "<T&>");
    EXPECT_NE(svg.find(">a&amp;b &lt;c&gt; &quot;d&quot;\xEF\xBF\xBD.avs<"), std::string::npos);
    EXPECT_NE(svg.find(">&lt;T&amp;&gt;<"), std::string::npos);
    EXPECT_EQ(svg.find(longName), std::string::npos);
    EXPECT_TRUE(std::regex_search(svg, std::regex(">\xC3\xA9x+\xE2\x80\xA6x+_variant_b\\.avs<")))
        << svg;
}

TEST(ComparisonChart, PathIsTheFirstScriptsStemBesideIt) {
    const struct {
        const char *script, *chart;
    } cases[] = {
        {"/clips/a.avs", "/clips/a.compare.svg"},     {"a.avs", "a.compare.svg"},
        {"C:\\v\\b.x.avs", "C:\\v\\b.x.compare.svg"}, {"/d.e/name", "/d.e/name.compare.svg"},
        {"/c/.avs", "/c/.avs.compare.svg"},           {"movie.avsi", "movie.compare.svg"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ComparisonChartPath(c.script), c.chart);
}

}  // namespace
}  // namespace report
