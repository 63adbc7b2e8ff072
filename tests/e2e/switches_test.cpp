// Every switch and feature INI key, alone and all together, each shown to have its effect.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <regex>
#include <set>
#include <sstream>

#include "e2e/e2e.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

// 5 ms a frame: a sample every 10 frames, at most 200 frames per second.
constexpr double kCostMs = 5.0;
// 110 frames: a trial run of 0.55 s, the least it may take.
const char kQuick[] = "BlankClip(length=110, width=64, height=64)\nMSBusy(5)\n";
const char kLong[] = "BlankClip(length=1000, width=64, height=64)\nMSBusy(5)\n";
// 30 ms a frame: every frame a sample.
const char kSlow[] = "BlankClip(length=30, width=64, height=64)\nMSBusy(30.0)\n";
// Older-style multi-threading: two threads for the Distributor.
const char kMtMode[] = "SetMTMode(2, 2)\nBlankClip(length=200, width=64, height=64)\nMSBusy(5)\n";

// What a run left: its result, the console's lines, the files beside the script.
struct Outcome {
    testsupport::ProgramResult result;
    std::vector<std::string> console;
    const testsupport::TempDir& dir;
    std::string switches;  // as the command line gave them

    std::string Row(const std::string& label) const { return RowStarting(console, label); }
    std::vector<std::string> Figures(const std::string& label) const {
        return FiguresOf(Row(label), label);
    }
};
using Check = std::function<void(const Outcome&)>;

struct SwitchCase {
    const char* name;
    const char* args;   // split at blanks; the script's path follows them
    std::string ini;    // KEY=value pairs, split at blanks
    const char* files;  // the run's files beside the script, split at blanks
    Check check;
    const char* runText = kQuick;  // what the measured run (or -info) reads
    const char* nvml = nullptr;    // FAKE_NVML's mode, with NVIDIA's stand-in on the path
    const char* input = "";
};

void PrintTo(const SwitchCase& c, std::ostream* os) {  // names, not bytes, in test names
    *os << c.name;
}

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// The summary's frame line; 5 ms a frame bounds the rates to 200 fps and the time from below.
Check Measured(unsigned first, unsigned last) {
    return [=](const Outcome& o) {
        EXPECT_EQ(o.Row("Frames processed:"),
                  "Frames processed:               " + std::to_string(last - first + 1) + " (" +
                      std::to_string(first) + " - " + std::to_string(last) + ")");
        const std::vector<std::string> rates = o.Figures("FPS (min | max | average):");
        ASSERT_EQ(rates.size(), 3u);
        for (const std::string& rate : rates)
            EXPECT_LE(std::stod(rate), 1000.0 / kCostMs + 0.05) << rate;
        const std::vector<std::string> time = o.Figures("Time (elapsed):");
        ASSERT_EQ(time.size(), 1u);
        EXPECT_GE(DurationMs(time[0]), static_cast<int64_t>((last - first + 1) * kCostMs));
    };
}

// Stopped by a 1 s limit: fewer frames than the range, each its 5 ms, in at least a second.
void StoppedAfterASecond(const Outcome& o, const char* timeLabel = "Time (elapsed):") {
    const std::string row = o.Row("Frames processed:");
    unsigned count = 0, first = 0, last = 0;
    ASSERT_EQ(std::sscanf(row.c_str(), "Frames processed: %u (%u - %u)", &count, &first, &last), 3)
        << row;
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(count, last + 1);
    EXPECT_LT(last, 999u) << "the range is 5 s long";
    const std::vector<std::string> time = o.Figures(timeLabel);
    ASSERT_FALSE(time.empty()) << timeLabel;
    const int64_t elapsed = DurationMs(time[0]);
    EXPECT_GE(elapsed, 1000);
    EXPECT_GE(elapsed, static_cast<int64_t>(count * kCostMs));
}

void GpuFigures(const Outcome& o) {
    EXPECT_EQ(o.Row("GPU usage (average):"), "GPU usage (average):            37%");
    EXPECT_EQ(o.Row("Video engine load (average):"), "Video engine load (average):    12%");
    EXPECT_EQ(o.Row("GPU memory usage:"), "GPU memory usage:               1536 MB");
}

void NoGpuFigures(const Outcome& o) {
    EXPECT_EQ(o.Row("GPU usage"), "");
    EXPECT_EQ(o.Row("Video engine load"), "");
}

void LogOfARun(const Outcome& o) {
    const std::string log = o.dir.Read("run.log");
    EXPECT_EQ(Sections(log),
              (std::vector<std::string>{"[General info]", "[Clip info]", "[Runtime info]",
                                        "[Script]", "[Performance data]"}));
    EXPECT_EQ(RowStarting(SplitLines(log), "Command line switches:"),
              o.switches.empty() ? "" : "Command line switches:                 " + o.switches);
}

void ReportOnlyLog(const Outcome& o) {
    EXPECT_EQ(Sections(o.dir.Read("run.log")),
              (std::vector<std::string>{"[General info]", "[Clip info]", "[Script]"}));
}

// One row per 10 frames and the heading; the figures are figures_test's.
void CsvOfARun(const Outcome& o) {
    EXPECT_EQ(ReadCsv(o.dir.Read("run.csv")).size(), 12u);
}

Check MtModeAndThreads(const char* threads) {
    return [=](const Outcome& o) {
        EXPECT_EQ(o.Row("Active MT Mode:"), "Active MT Mode:                      2");
        EXPECT_EQ(o.Figures("Thread count:"), std::vector<std::string>{threads});
    };
}

const std::string kMtClassic = "AVSDLL=" + VariantLibrary("mt-classic");

const SwitchCase kCases[] = {
    // Each switch alone (short forms and case are command_line_test's).
    {"Log", "-log", "", "run.log", LogOfARun},
    {"Csv", "-csv", "", "run.csv", CsvOfARun},
    {"Json", "-json", "", "run.json",
     [](const Outcome& o) {
         const json j = json::parse(o.dir.Read("run.json"));
         EXPECT_EQ(j["end"], "completed");
         EXPECT_EQ(j["switches"], "-json");
         EXPECT_EQ(j["summary"]["framesProcessed"], 110);
         EXPECT_EQ(j["samples"]["frame"].size(), 11u);
     }},
    {"Chart", "-chart", "", "run.svg",
     [](const Outcome& o) {
         const std::string svg = o.dir.Read("run.svg");
         EXPECT_TRUE(Contains(svg, "<svg "));
         EXPECT_TRUE(
             Contains(svg, ">Average " + o.Figures("FPS (min | max | average):").at(2) + " fps<"));
     }},
    {"Gpu", "-gpu", "", "", GpuFigures, kQuick, ""},
    // A library without a device asks as no library does; readings it cannot give show 0.
    {"GpuWithoutADevice", "-gpu", "", "",
     [](const Outcome& o) {
         EXPECT_TRUE(Contains(o.result.err, "Continue without GPU monitoring? [y/n]"));
         NoGpuFigures(o);
     },
     kQuick, "none", "y"},
    {"GpuWithoutReadings", "-gpu -log", "", "run.log",
     [](const Outcome& o) {
         EXPECT_EQ(o.Row("GPU usage (average):"), "GPU usage (average):            0%");
         EXPECT_EQ(o.Row("Video engine load (average):"), "Video engine load (average):    0%");
         EXPECT_EQ(o.Row("GPU memory usage:"), "") << "no reading, no line";
         EXPECT_EQ(RowStarting(SplitLines(o.dir.Read("run.log")), "Memory size:"),
                   "Memory size:             n/a");
     },
     kQuick, "failing"},
    {"GpuWithoutASourceGoesOnWhenAllowed", "-gpu", "", "",
     [](const Outcome& o) {
         NoGpuFigures(o);
         Measured(0, 109)(o);
     },
     kQuick, nullptr, "y"},
    {"Info", "-info", "", "",
     [](const Outcome& o) {
         EXPECT_EQ(o.Row("Number of frames:"), "Number of frames:                  110");
         EXPECT_EQ(o.Row("Frames processed:"), "");
         EXPECT_FALSE(Contains(o.result.err, "Analysing script")) << "no trial run";
     }},
    // Ending before a measurement writes the log asked for, and no CSV.
    {"InfoWithLogAndCsv", "-info -log -csv", "", "run.log", ReportOnlyLog},
    {"DeclinedRangeWithLogAndCsv", "-log -csv -range=5,2", "", "run.log", ReportOnlyLog, kQuick,
     nullptr, "n"},
    {"Range", "-range=40,79", "", "", Measured(40, 79)},
    {"RangeToTheEnd", "-range=50,-1", "", "", Measured(50, 109)},
    {"RangeOfOneFrame", "-range=5,5", "", "",
     [](const Outcome& o) {
         EXPECT_EQ(o.Row("Frames processed:"), "Frames processed:               1 (5)");
     },
     kSlow},
    {"TimeLimit", "-timelimit=1", "", "", [](const Outcome& o) { StoppedAfterASecond(o); }, kLong},
    {"NoSwitch", "", "", "",
     [](const Outcome& o) {
         Measured(0, 109)(o);
         NoGpuFigures(o);
         EXPECT_EQ(o.Row("TPF"), "");
     }},

    // The INI keys that switch the same.
    {"IniCreateLog", "", "CreateLog=1", "run.log", LogOfARun},
    {"IniCreateCsv", "", "CreateCSV=1", "run.csv", CsvOfARun},
    {"IniMonitorGpuLoad", "", "MonitorGPULoad=1", "", GpuFigures, kQuick, ""},
    {"IniFrameRange", "", "FrameRange=40,79", "", Measured(40, 79)},
    {"IniTimeLimit", "", "TimeLimit=1", "", [](const Outcome& o) { StoppedAfterASecond(o); },
     kLong},
    // The times' figures are figures_test's.
    {"IniDisplayTpf", "", "DisplayTPF=1", "",
     [](const Outcome& o) { EXPECT_EQ(o.Figures("TPF (max | min | average):").size(), 3u); }},
    {"IniDisplayFpsOff", "", "DisplayFPS=0", "",
     [](const Outcome& o) {
         EXPECT_EQ(o.Row("FPS"), "");
         EXPECT_NE(o.Row("Frames processed:"), "");
         EXPECT_NE(o.Row("Efficiency index:"), "");
     }},
    {"IniDisplayEfficiencyIndexOff", "", "DisplayEfficiencyIndex=0", "",
     [](const Outcome& o) {
         EXPECT_EQ(o.Row("Efficiency index:"), "");
         EXPECT_NE(o.Row("FPS (min | max | average):"), "");
     }},
    // The estimate's value, and its absence after a whole range, are the unit tests'.
    {"IniLogEstimatedTime", "-timelimit=1", "LogEstimatedTime=1", "",
     [](const Outcome& o) {
         StoppedAfterASecond(o, "Time (elapsed | estimated):");
         EXPECT_EQ(o.Figures("Time (elapsed | estimated):").size(), 2u);
     },
     kLong},
    {"IniConUseStdout", "", "ConUseSTDOUT=1", "",
     [](const Outcome& o) {
         EXPECT_EQ(o.result.err, "");
         EXPECT_TRUE(Contains(o.result.out, "Trevalo " + ProgramVersion()));
         Measured(0, 109)(o);
     }},
    {"IniInvokeDistributor", "", kMtClassic, "", MtModeAndThreads("3"), kMtMode},
    {"IniInvokeDistributorOff", "", kMtClassic + " InvokeDistributor=0", "", MtModeAndThreads("1"),
     kMtMode},

    // Everything at once: each still has its effect.
    {"AllTogether", "-log -csv -json -chart -gpu -range=40,79 -timelimit=60 -priority=2", "",
     "run.log run.csv run.json run.svg",
     [](const Outcome& o) {
         Measured(40, 79)(o);
         GpuFigures(o);
         const std::string log = o.dir.Read("run.log");
         EXPECT_EQ(Sections(log), (std::vector<std::string>{
                                      "[General info]", "[Clip info]", "[Runtime info]", "[Script]",
                                      "[Graphics card info]", "[Performance data]"}));
         EXPECT_EQ(RowStarting(SplitLines(log), "Command line switches:"),
                   "Command line switches:                 " + o.switches);
         const auto csv = ReadCsv(o.dir.Read("run.csv"));
         ASSERT_EQ(csv.size(), 5u);
         EXPECT_EQ(csv[1][0], "50");
         EXPECT_EQ(csv[1].size(), 11u) << "with GPU and VPU";
         EXPECT_EQ(csv[1][6], "37");
         const json j = json::parse(o.dir.Read("run.json"));
         EXPECT_EQ(j["switches"], o.switches);
         EXPECT_EQ(j["range"], (json{{"first", 40}, {"last", 79}}));
         EXPECT_EQ(j["gpu"]["loadAveragePercent"], 37);
         EXPECT_TRUE(Contains(o.dir.Read("run.svg"), ">GPU load<"));
     },
     kQuick, ""},
};

class Switches : public Trevalo, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(Switches, EachHasItsEffect) {
    const SwitchCase& c = GetParam();
    if (c.nvml != nullptr && OnWine()) GTEST_SKIP() << "the NVIDIA stand-in is a Linux library";
    std::vector<std::pair<std::string, std::string>> ini;
    for (const std::string& pair : Words(c.ini))
        ini.emplace_back(pair.substr(0, pair.find('=')), pair.substr(pair.find('=') + 1));
    WriteIni(ini);
    std::unique_ptr<TrialThenRun> part;
    if (c.runText == kLong) {
        part = std::make_unique<TrialThenRun>(dir.Path(), "part.avsi", kQuick, kLong);
        Script("run.avs", "Import(\"part.avsi\")\n");
    } else {
        Script("run.avs", c.runText);
    }
    testsupport::ProgramOptions options = Options(c.input);
    if (c.nvml != nullptr) {
        options.setEnv["LD_LIBRARY_PATH"] = LibraryDir() + ":" + FAKE_NVML_DIR;
        options.setEnv["FAKE_NVML"] = c.nvml;
    }
    std::vector<std::string> args = Words(c.args);
    args.push_back(dir.File("run.avs"));
    const testsupport::ProgramResult r = testsupport::RunProgram(exe, args, options);
    const bool toStdout = c.ini == "ConUseSTDOUT=1";
    const Outcome o{r, SplitLines(LastWrites(Lines(toStdout ? r.out : r.err))), dir, c.args};
    EXPECT_EQ(r.exitCode, 0) << r.err;

    std::set<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        for (const char* extension : {".log", ".csv", ".json", ".svg"})
            if (entry.path().extension() == extension)
                files.insert(entry.path().filename().string());
    }
    const std::vector<std::string> expected = Words(c.files);
    EXPECT_EQ(files, std::set<std::string>(expected.begin(), expected.end()));
    c.check(o);
}

INSTANTIATE_TEST_SUITE_P(Trevalo, Switches, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<SwitchCase>& row) {
                             return std::string(row.param.name);
                         });

// Colours on a terminal unless UseColor=0 or NO_COLOR says otherwise; never into a pipe.
TEST_F(Trevalo, ColoursFollowUseColorAndNoColor) {
    SKIP_PTY_ON_WINE();
    const std::string script = Script("run.avs", kQuick);
    const std::regex colour("\x1b\\[[0-9;]*m");
    const struct {
        const char* useColor;
        const char* noColor;  // nullptr: unset
        bool coloured;
    } cases[] = {{"1", nullptr, true}, {"0", nullptr, false}, {"1", "1", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("UseColor=") + c.useColor + (c.noColor ? " NO_COLOR=1" : ""));
        WriteIni({{"UseColor", c.useColor}});
        testsupport::ProgramOptions options = Options();
        if (c.noColor != nullptr) options.setEnv["NO_COLOR"] = c.noColor;
        testsupport::PtySession pty(exe, {"-info", script}, options);
        EXPECT_EQ(pty.Wait(30s).exitCode, 0);
        EXPECT_EQ(std::regex_search(pty.Output(), colour), c.coloured) << pty.Output();
    }
    const testsupport::ProgramResult piped = Run({"-info", script});
    EXPECT_FALSE(std::regex_search(piped.err, colour)) << piped.err;
}

// The nice value granted to a process asking for it (raising needs the right to).
int NiceGranted(int wanted) {
    const pid_t child = fork();
    if (child == 0) {
        setpriority(PRIO_PROCESS, 0, wanted);
        _exit(getpriority(PRIO_PROCESS, 0) + 20);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WEXITSTATUS(status) - 20;
}

// The nice value while paused before exit: 1 low, 3 high, from either place, the switch winning.
TEST_F(Trevalo, PriorityIsTheProcessesNiceValue) {
    SKIP_PTY_ON_WINE();
    const std::string quick = Script("quick.avs", kQuick);
    const struct {
        const char* name;
        std::vector<std::string> args;
        const char* ini;
        int nice;
    } cases[] = {
        {"-priority=1 alone", {"-priority=1", quick}, "2", 19},
        {"-priority=3", {"-priority=3", "-info", quick}, "2", -10},
        {"ProcessPriority=3", {"-info", quick}, "3", -10},
        {"-priority=1 over ProcessPriority=3", {"-priority=1", "-info", quick}, "3", 19},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteIni({{"PauseBeforeExit", "1"}, {"ProcessPriority", c.ini}});
        testsupport::PtySession pty(exe, c.args, Options());
        ASSERT_TRUE(pty.WaitFor("Press any key to exit...", 30s)) << pty.Output();
        EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(pty.Pid())), NiceGranted(c.nice));
        pty.Type(" ");
        EXPECT_EQ(pty.Wait(10s).exitCode, 0);
    }
}

}  // namespace
}  // namespace e2e
