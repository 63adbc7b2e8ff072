// A script measured in several runs: the screen, the statistics and the files of a series.
#include <cmath>
#include <nlohmann/json.hpp>
#include <numeric>
#include <regex>

#include "e2e/e2e.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

// 0.6 s a run at 2 ms a frame (a trial run needs half a second).
const char kQuick[] = "BlankClip(length=300, width=64, height=64)\nMSBusy(2.0)\n";

class Series : public Trevalo {};

// Each run gives way to its line, the last to the summary with the series' lines below; the
// statistics are those of the runs' own averages, and every file holds every run.
TEST_F(Series, EachRunLeavesALineAndEveryFileHoldsEveryRun) {
    SKIP_PTY_ON_WINE();
    const std::string script = Script("run.avs", kQuick);
    WriteIni({{"Runs", "2"}});
    testsupport::PtySession pty(exe, {"-runs=3", "-log", "-csv", "-json", script}, Options());
    ASSERT_EQ(pty.Wait(60s).exitCode, 0) << pty.Output();
    const std::vector<std::string> screen = pty.Screen();
    const std::string all = testsupport::Joined(screen);
    // The switch wins over the INI file; no block is left behind.
    EXPECT_NE(RowStarting(screen, "Run 2 of 3:"), "") << all;
    EXPECT_EQ(RowStarting(screen, "Run 3 of 3:"), "") << all;
    EXPECT_EQ(RowStarting(screen, "Press 'Esc'"), "") << all;
    EXPECT_LT(all.find("Run 1 of 3:"), all.find("Run 2 of 3:"));
    EXPECT_LT(all.find("Run 2 of 3:"), all.find("Frames processed:"));
    EXPECT_LT(all.find("Frames processed:"), all.find("Runs:"));
    EXPECT_EQ(all.find("Number of frames:"), all.rfind("Number of frames:")) << "one clip report";

    const json result = json::parse(dir.Read("run.json"));
    ASSERT_EQ(result["runs"].size(), 3u);
    std::vector<double> rates;
    size_t samples = 0;
    for (const json& run : result["runs"]) {
        EXPECT_EQ(run["end"], "completed");
        rates.push_back(run["summary"]["fpsAverage"].get<double>());
        samples += run["samples"]["frame"].size();
        // The screen's line for the run shows its average.
        const size_t number = run["run"].get<size_t>();
        if (number < 3) {
            const std::string label = "Run " + std::to_string(number) + " of 3:";
            const std::string line = FiguresOf(RowStarting(screen, label), label).at(0);
            EXPECT_TRUE(Shows(line.substr(0, line.find(" fps, ")), rates.back()));
            EXPECT_EQ(DurationMs(line.substr(line.find(" fps, ") + 6)),
                      run["summary"]["elapsedMs"].get<int64_t>());
        }
    }
    const double mean = std::accumulate(rates.begin(), rates.end(), 0.0) / 3;
    double squares = 0;
    for (const double r : rates)
        squares += (r - mean) * (r - mean);
    const json& series = result["series"];
    EXPECT_NEAR(series["fpsMean"].get<double>(), mean, 1e-9 * mean);
    EXPECT_NEAR(series["fpsStandardDeviation"].get<double>(), std::sqrt(squares / 2), 1e-6);
    EXPECT_EQ(series["fpsMin"].get<double>(), *std::min_element(rates.begin(), rates.end()));
    const std::vector<std::string> shown = FiguresOf(
        RowStarting(screen, "FPS (mean +/- std. deviation):"), "FPS (mean +/- std. deviation):");
    ASSERT_FALSE(shown.empty()) << all;
    EXPECT_TRUE(Shows(shown[0].substr(0, shown[0].find(' ')), mean)) << shown[0];

    const auto csv = ReadCsv(dir.Read("run.csv"));
    ASSERT_EQ(csv.size(), samples + 1);
    EXPECT_EQ(csv[0][0], "Run");
    EXPECT_EQ(csv[0][1], "Frame");
    EXPECT_EQ(csv[1][0], "1");
    EXPECT_EQ(csv.back()[0], "3");
    const std::string log = dir.Read("run.log");
    for (const char* section : {"[Series]", "[Performance data, run 1 of 3]",
                                "[Performance data, run 3 of 3]", "[Runtime info, run 2 of 3]"})
        EXPECT_TRUE(Contains(log, section));
}

// Esc stops the run and the series: what was measured is summarised and written, marked.
TEST_F(Series, EscStopsTheSeriesWithWhatWasMeasured) {
    SKIP_PTY_ON_WINE();
    const std::string script =
        Script("run.avs", "BlankClip(length=1000, width=64, height=64)\nMSBusy(3)\n");
    testsupport::PtySession pty(exe, {"-runs=4", "-csv", "-json", script}, Options());
    ASSERT_TRUE(pty.WaitFor("Run 1 of 4:", 30s)) << pty.Output();
    // Into the second run: its block is on the screen below the first run's line.
    const size_t first = pty.Output().find("Run 1 of 4:");
    for (int i = 0; i < 600 && pty.Output().find("Press 'Esc'", first) == std::string::npos; ++i)
        pty.WaitFor("\x01 (never printed)", 50ms);
    pty.Type("\x1b");
    ASSERT_EQ(pty.Wait(30s).exitCode, 0) << pty.Output();
    const json result = json::parse(dir.Read("run.json"));
    ASSERT_EQ(result["runs"].size(), 2u);
    EXPECT_EQ(result["runs"][1]["end"], "cancelled");
    EXPECT_EQ(result["end"], "cancelled");
    EXPECT_EQ(result["series"]["runsInStatistics"], 1);
    EXPECT_EQ(ReadCsv(dir.Read("run.csv")).back()[0], "2");
    EXPECT_NE(RowStarting(pty.Screen(), "Runs:"), "");
}

// An error ends the series at its run: its message, the files with that run, exit 255.
TEST_F(Series, AnErrorEndsTheSeriesWithItsFiles) {
    SKIP_ON_WINE("the trial run would read the failing clip there");
    TrialThenRun part(dir.Path(), "part.avsi", kQuick,
                      std::string(kQuick) + "MSFault(200, \"error\", \"broken at 200\")\n");
    const std::string script = Script("run.avs", "Import(\"part.avsi\")\n");
    const testsupport::ProgramResult r = Run({"-runs=3", "-json", script});
    EXPECT_EQ(r.exitCode, kErrorStatus) << r.err;
    EXPECT_TRUE(Contains(r.err, "broken at 200"));
    const json result = json::parse(dir.Read("run.json"));
    ASSERT_EQ(result["runs"].size(), 1u);
    EXPECT_EQ(result["end"], "error");
    EXPECT_TRUE(Contains(dir.Read("run.log"), "[AviSynth error, run 1]\r\nbroken at 200"));
}

TEST_F(Series, RunsOutsideTheirBoundsAreRefused) {
    const std::string script = Script("run.avs", kQuick);
    for (const char* value : {"0", "1001", "x", "-2"}) {
        const testsupport::ProgramResult r = Run({std::string("-runs=") + value, script});
        EXPECT_EQ(r.exitCode, kErrorStatus) << value;
        EXPECT_TRUE(Contains(r.out + r.err, "Value must be between 1 and 1000"));
    }
}

// Scripts compared run for run in turn: each script's runs in its files, and the verdict's
// ratio that of the geometric means of those runs, inside its interval.
TEST_F(Series, CompareInterleavesTheScriptsAndJudgesByTheirRuns) {
    const std::string a =
        Script("a.avs", "BlankClip(length=300, width=64, height=64)\nMSBusy(2)\n");
    const std::string b =
        Script("b.avs", "BlankClip(length=300, width=64, height=64)\nMSBusy(4)\n");
    const testsupport::ProgramResult r = Run({"-compare", a, b, "-runs=3", "-json", "-chart"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string out = Lines(r.err);
    size_t at = 0;
    for (const char* line : {"a.avs, run 1 of 3:", "b.avs, run 1 of 3:", "a.avs, run 2 of 3:",
                             "b.avs, run 2 of 3:", "a.avs, run 3 of 3:", "b.avs, run 3 of 3:"}) {
        const size_t found = out.find(line, at);
        ASSERT_NE(found, std::string::npos) << line << " after " << at << "\n" << out;
        at = found;
    }
    double logRatio = 0;
    for (const auto& [name, sign] : {std::pair{"a.json", -1.0}, std::pair{"b.json", 1.0}}) {
        const json result = json::parse(dir.Read(name));
        ASSERT_EQ(result["runs"].size(), 3u) << name;
        for (const json& run : result["runs"])
            logRatio += sign * std::log(run["summary"]["fpsAverage"].get<double>()) / 3;
    }
    // Either verdict is honest on a busy machine; its figures must be these runs'.
    std::smatch m;
    ASSERT_TRUE(
        std::regex_search(out, m,
                          std::regex("b\\.avs rendered ([0-9.]+) times as fast as a\\.avs \\(95 % "
                                     "interval ([0-9.]+) to ([0-9.]+); 3 runs each\\)")) ||
        std::regex_search(out, m,
                          std::regex("b\\.avs and a\\.avs rendered equally fast within the noise "
                                     "of these runs \\(ratio ([0-9.]+), 95 % interval ([0-9.]+) "
                                     "to ([0-9.]+)\\)")))
        << out;
    EXPECT_NEAR(std::stod(m[1]), std::exp(logRatio), 0.0051) << out;
    EXPECT_LE(std::stod(m[2]), std::stod(m[1]));
    EXPECT_GE(std::stod(m[3]), std::stod(m[1]));
    EXPECT_TRUE(Contains(dir.Read("a.compare.svg"), "b.avs"));
}

// A scan: each value set before every import of its runs, the values interleaved; its table;
// each value's log named by it, one result file holding every value, the chart.
TEST_F(Series, ScanSetsEachValueBeforeTheImportsOfItsRuns) {
    const std::string script =
        Script("run.avs", "BlankClip(length=600, width=64, height=64)\nMSBusy(cost)\n");
    const testsupport::ProgramResult r =
        Run({"-scan=cost:1..3:2", "-runs=2", "-json", "-log", "-chart", script});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string out = Lines(r.err);
    size_t at = 0;
    for (const char* line : {"cost=1, run 1 of 2:", "cost=3, run 1 of 2:", "cost=1, run 2 of 2:",
                             "cost=3, run 2 of 2:", "\ncost   Runs   FPS (mean +/- deviation)",
                             "\n1         2   ", "\n3         2   "}) {
        const size_t found = out.find(line, at);
        ASSERT_NE(found, std::string::npos) << line << " after " << at << "\n" << out;
        at = found;
    }
    const json scan = json::parse(dir.Read("run.json"))["scan"];
    EXPECT_EQ(scan["variable"], "cost");
    EXPECT_EQ(scan["valueTexts"], json::array({"1", "3"}));
    ASSERT_EQ(scan["values"].size(), 2u);
    for (const json& value : scan["values"]) {
        EXPECT_EQ(value["kind"], "int");
        EXPECT_EQ(value["runs"].size(), 2u);
        EXPECT_EQ(value["series"]["runRates"].size(), 2u);
    }
    for (const char* value : {"1", "3"}) {
        EXPECT_TRUE(Contains(dir.Read(std::string("run.cost=") + value + ".log"),
                             std::string("Script variable:                       cost=") + value));
    }
    EXPECT_TRUE(Contains(dir.Read("run.scan.svg"), "Scan of cost in run.avs"));

    // Words become strings; a script that never names the variable is said to have alike variants.
    const std::string words =
        Script("words.avs",
               "BlankClip(length=600, width=mode == \"big\" ? 128 : 64, height=64)\nMSBusy(1)\n");
    const testsupport::ProgramResult w = Run({"-scan=mode:small,big", "-runs=1", "-log", words});
    ASSERT_EQ(w.exitCode, 0) << w.err;
    EXPECT_TRUE(Contains(dir.Read("words.mode=big.log"), "Frame width:                       128"));
    EXPECT_TRUE(
        Contains(dir.Read("words.mode=small.log"), "Frame width:                        64"));
    // A value the script cannot take is named with the script's error.
    const std::string picky =
        Script("picky.avs", std::string("Assert(mode != \"bad\", \"no bad mode\")\n") + kQuick);
    const testsupport::ProgramResult refused = Run({"-scan=mode:good,bad", picky});
    EXPECT_EQ(refused.exitCode, kErrorStatus);
    EXPECT_TRUE(Contains(Lines(refused.err), "\nWith mode=bad:\nno bad mode")) << refused.err;
    const testsupport::ProgramResult unused =
        Run({"-scan=radius:0.5,1.5", "-runs=1", Script("plain.avs", kQuick)});
    EXPECT_TRUE(Contains(Lines(unused.err), "Note: plain.avs never names radius")) << unused.err;
}

// A scan that cannot be taken is refused before AviSynth is loaded.
TEST_F(Series, AMalformedScanIsRefusedBeforeAnythingIsLoaded) {
    const std::string script = Script("run.avs", kQuick);
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"-scan=threads:8..1", script}, "The range runs backwards"},
        {{"-scan=threads", script}, "A scan is -scan=name:values"},
        {{"-scan=a:1", "-scan=b:2", script}, "-scan is given once"},
        {{"-compare", script, script, "-scan=a:1,2"}, "use one or the other"},
    };
    for (const auto& c : cases) {
        const testsupport::ProgramResult r = Run(c.args);
        EXPECT_EQ(r.exitCode, kErrorStatus) << c.message;
        EXPECT_TRUE(Contains(r.out + r.err, c.message)) << r.out + r.err;
        EXPECT_FALSE(Contains(r.out + r.err, "Query Avisynth info")) << r.out + r.err;
    }
}

}  // namespace
}  // namespace e2e
