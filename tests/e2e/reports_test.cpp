// The files a run leaves, after every way out, and -compare without AviSynth.
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "e2e/e2e.h"
#include "sys/utils.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testsupport::ProgramResult;

const char kQuick[] = "BlankClip(length=300, width=64, height=64)\nMSBusy(2.0)\n";
// A trial run of 0.6 s at 5 ms a frame, before a measured run that differs from it.
const char kShortTrial[] = "BlankClip(length=120, width=64, height=64)\nMSBusy(5)\n";

class Reports : public Trevalo {
  protected:
    // The log with plain line feeds, each of which must follow a CR.
    std::string Log(const std::string& name) {
        const std::string text = dir.Read(name);
        const std::string plain = std::regex_replace(text, std::regex("\r"), "");
        EXPECT_EQ(text, std::regex_replace(plain, std::regex("\n"), "\r\n")) << name;
        return plain;
    }
};

// A fault on the main thread or a worker: the message, exit 255, the files with every sample.
TEST_F(Reports, AFaultInsideAFilterEndsTheRunWithItsFiles) {
    // Under Wine the trial reads the fault's clip too, stopping after 5 s before the fault.
    const std::string at = OnWine() ? "1200" : "300";
    const struct {
        const char* name;
        std::string tail;
        const char* message;
    } cases[] = {
        {"main", "MSBusy(5)\nMSFault(" + at + ", \"divide\")\n",
         "Exception 0xC0000094\nSTATUS_INTEGER_DIVIDE_BY_ZERO\n"},
        {"worker", "MSBusy(10)\nMSFault(" + at + ", \"access\")\nPrefetch(2)\n",
         "Exception 0xC0000005\nSTATUS_ACCESS_VIOLATION\n"},
    };
    for (const auto& c : cases) {
        TrialThenRun part(dir.Path(), std::string(c.name) + ".avsi", kShortTrial,
                          "BlankClip(length=2000, width=64, height=64)\n" + c.tail);
        const std::string script =
            Script(std::string(c.name) + ".avs", "Import(\"" + std::string(c.name) + ".avsi\")\n");
        ProgramResult r = Run({"-log", "-csv", script});
        EXPECT_EQ(r.exitCode, kErrorStatus) << c.name << " " << r.termSignal;
        EXPECT_NE(r.err.find(std::string("\n") + c.message), std::string::npos) << r.err;
        const std::string log = Log(std::string(c.name) + ".log");
        EXPECT_NE(log.find(std::string("\n\n[AviSynth error]\n") + c.message), std::string::npos)
            << log;
        const size_t rows = SectionLines(log, "[Performance data]").size();  // and a heading
        EXPECT_GT(rows, 11u) << c.name;
        EXPECT_EQ(ReadCsv(dir.Read(std::string(c.name) + ".csv")).size(), rows);
    }
}

// Links planted at the result files' names are replaced, never followed; a disk that fills
// while they are written keeps each earlier file whole and says which and why.
TEST_F(Reports, ResultFilesReplaceLinksAndSurviveAFullDisk) {
    SKIP_ON_WINE("links and file-size limits are POSIX ones");
    const std::string script = Script("run.avs", kQuick);
    const char* const names[] = {"run.log", "run.csv", "run.json", "run.svg"};
    for (const char* name : names) {
        dir.Write(std::string("victim.") + name, "not yours");
        std::filesystem::create_symlink(dir.File(std::string("victim.") + name), dir.File(name));
    }
    const std::vector<std::string> all = {"-log", "-csv", "-json", "-chart", script};
    // Far below any file's size: the rows per sample follow the machine's speed.
    const unsigned long limit = 256;
    ProgramResult r = Run(all);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::map<std::string, std::string> earlier;
    for (const char* name : names) {
        EXPECT_FALSE(std::filesystem::is_symlink(dir.File(name))) << name;
        EXPECT_EQ(dir.Read(std::string("victim.") + name), "not yours") << name;
        earlier[name] = dir.Read(name);
        EXPECT_GT(earlier[name].size(), 2 * limit) << name;
    }

    testsupport::ProgramOptions options = Options();
    options.fileSizeLimit = limit;
    r = testsupport::RunProgram(exe, all, options);
    EXPECT_EQ(r.exitCode, kErrorStatus) << r.err;
    for (const char* name : names) {
        EXPECT_TRUE(
            Contains(r.err, "\nCannot create \"" + dir.File(name) + "\": File too large\n"));
        EXPECT_EQ(dir.Read(name), earlier[name]) << name;
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        EXPECT_NE(entry.path().filename().string().rfind(".trevalo-", 0), 0u) << entry.path();
}

// GPU-Z's window and shared memory, published by a stand-in, reach the files.
TEST_F(Reports, GpuZFiguresReachTheFilesOnWindows) {
    if (!OnWine()) GTEST_SKIP() << "GPU-Z is a Windows program";
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "GPU-Z's window needs an X display (Xvfb)";
    const std::string ready = dir.File("gpuz.ready");
    std::thread gpuz([&] {
        testsupport::RunProgram(WineLoader(), {WindowsBuildFile("gpuz_stub.exe"), "10", ready},
                                Options());
    });
    for (int i = 0; i < 600 && !std::filesystem::exists(ready); ++i)
        std::this_thread::sleep_for(100ms);
    ProgramResult r = Run({"-gpu", "-log", "-csv", Script("gpu.avs", kQuick)});
    gpuz.join();  // the stand-in ends after its 10 s
    ASSERT_TRUE(std::filesystem::exists(ready)) << "the GPU-Z stand-in did not start";
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "GPU usage (average):            42%"));
    EXPECT_TRUE(Contains(Log("gpu.log"), "Card name:               Stub Radeon\n"));
    const auto rows = ReadCsv(dir.Read("gpu.csv"));
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[1][7], "18") << "the video engine's load";
}

// The run's own load fails after the trial: the forced log still has the general info.
TEST_F(Reports, ALoadThatFailsAfterTheTrialRunIsLoggedWhole) {
    SKIP_PTY_ON_WINE();
    TrialThenRun part(dir.Path(), "part.avsi", kShortTrial, "Import(\"gone.avsi\")\n");
    const std::string script = Script("main.avs", "Import(\"part.avsi\")\n");
    testsupport::PtySession pty(exe, {script}, Options());
    ProgramResult r = pty.Wait(30s);
    EXPECT_EQ(r.exitCode, kErrorStatus) << r.out;
    const std::string log = Log("main.log");
    EXPECT_EQ(Sections(log),
              (std::vector<std::string>{"[General info]", "[Script]", "[AviSynth error]"}));
    EXPECT_EQ(SectionLines(log, "[Script]"), std::vector<std::string>{"Import(\"part.avsi\")"});
    EXPECT_NE(log.find("Import: couldn't open \"gone.avsi\"", log.find("[AviSynth error]")),
              std::string::npos)
        << log;
}

// NVIDIA's stand-in's figures in the block and, after an empty line, in the summary.
TEST_F(Reports, GpuFiguresReachTheScreen) {
    SKIP_PTY_ON_WINE();
    const std::string script = Script("gpu.avs", kQuick);
    testsupport::ProgramOptions options = Options();
    options.setEnv["LD_LIBRARY_PATH"] = LibraryDir() + ":" + FAKE_NVML_DIR;
    testsupport::PtySession pty(exe, {"-gpu", script}, options);
    EXPECT_TRUE(pty.WaitFor("GPU usage (current | average):  37% | 37%", 30s)) << pty.Output();
    EXPECT_EQ(pty.Wait(30s).exitCode, 0);
    const std::string shown = testsupport::Joined(pty.Screen());
    EXPECT_TRUE(Contains(shown, "\n\nGPU usage (average):            37%\n"));
}

TEST_F(Trevalo, EveryWayOutLeavesAResultFileAndWithSamplesAChart) {
    const std::string quick = "BlankClip(length=300, width=64, height=64)\nMSBusy(2.0)\n";
    const std::string threeSeconds = "BlankClip(length=1500, width=64, height=64)\nMSBusy(2.0)\n";
    // The fault lies in the measured range; the trial run reads the clip without it, or under
    // Wine renders about 2500 frames of it in its 5 s.
    const std::string faulty =
        "BlankClip(length=3000, width=64, height=64)\nMSBusy(2.0)\n"
        "MSFault(2900, \"error\", \"boom at 2900\")\n";
    const struct {
        const char* name;
        std::string script;
        std::vector<std::string> args;
        const char* input;
        int exitCode;
    } cases[] = {
        {"completed", quick, {"-range=0,99"}, "", 0},
        {"cancelled", threeSeconds, {}, "\x1b", 0},  // read at the first refresh
        {"time limit", threeSeconds, {"-timelimit=1"}, "", 0},
        {"declined", quick + "KillAudio()\n", {"-range=5,2"}, "n", 0},
        {"error", faulty, {"-range=2700,2999"}, "", 255},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Wine cannot peek into a pipe, so a piped Esc stays unread; its console tests press it.
        if (OnWine() && c.name == std::string("cancelled")) continue;
        const std::string base = std::regex_replace(c.name, std::regex(" "), "-");
        TrialThenRun part(dir.Path(), base + ".avsi", quick, c.script);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-json", "-chart", "-csv", "-log",
                                 Script(base + ".avs", "Import(\"" + base + ".avsi\")\n")});
        EXPECT_EQ(Run(args, c.input).exitCode, c.exitCode);

        const json j = json::parse(dir.Read(base + ".json"));
        EXPECT_EQ(j["format"], "trevalo-result");
        EXPECT_EQ(j["script"], Shown(dir.File(base + ".avs")));
        EXPECT_EQ(j["avisynth"]["interfaceVersion"], 7);
        EXPECT_TRUE(std::regex_match(j["date"].get<std::string>(),
                                     std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")));
        EXPECT_EQ(j["end"], c.name);
        EXPECT_EQ(j["error"].is_null() ? "" : j["error"].get<std::string>(),
                  c.exitCode == 0 ? "" : "boom at 2900");
        EXPECT_TRUE(j["gpu"].is_null());
        // The machine as this process sees it.
        EXPECT_EQ(j["machine"]["logicalProcessors"], std::thread::hardware_concurrency());
        EXPECT_GT(j["machine"]["memoryMB"], 0);

        // The samples are the CSV's rows.
        const bool declined = c.name == std::string("declined");
        const json& samples = j["samples"];
        EXPECT_EQ(dir.Exists(base + ".csv"), !declined);
        if (!declined) {
            const std::string csv = dir.Read(base + ".csv");
            std::string rows;  // in the CSV's own formats and line ends
            for (size_t i = 0; i < samples["frame"].size(); ++i) {
                rows += CUtils::FormatString(
                    "%u,%.3f,%.3f,%.6f,%.6f,%u,%u,%u,%u\r\n", samples["frame"][i].get<unsigned>(),
                    samples["fps"][i].get<double>(), samples["averageFps"][i].get<double>(),
                    samples["timePerFrameMs"][i].get<double>(),
                    samples["averageTimePerFrameMs"][i].get<double>(),
                    samples["cpuPercent"][i].get<unsigned>(), samples["threads"][i].get<unsigned>(),
                    samples["physicalMB"][i].get<unsigned>(),
                    samples["virtualMB"][i].get<unsigned>());
            }
            EXPECT_EQ(rows, csv.substr(csv.find('\n') + 1));
        }
        EXPECT_EQ(samples["frame"].empty(), declined);
        EXPECT_EQ(dir.Exists(base + ".svg"), !declined);
        EXPECT_EQ(j["distribution"].is_null(), declined);
        EXPECT_EQ(j["range"].is_null(), declined);
        EXPECT_EQ(j["summary"].is_null(), declined || c.exitCode != 0);
    }
    const std::string rendered = testsupport::RenderSvg(dir.File("error.svg"), dir.File("e.png"));
    EXPECT_TRUE(rendered == "" || rendered == "missing") << rendered;
}

// Two result files of known figures side by side, with no AviSynth on the loader's path.
// A result file of a run, as far as -compare reads one.
json AResult() {
    return json::parse(R"({
        "format": "trevalo-result", "formatVersion": 1, "script": "/clips/a.avs",
        "avisynth": {"version": "AviSynth+ 3.7.5"},
        "clip": {"frames": 300, "width": 64, "height": 64},
        "range": {"first": 0, "last": 299}, "distribution": {"p1": 40.0},
        "summary": {"fpsAverage": 50.0, "fpsMin": 40.0, "fpsMax": 60.0,
                    "timePerFrameAverageMs": 20.0, "cpuAveragePercent": 25,
                    "physicalMemoryPeakMB": 100, "virtualMemoryPeakMB": 200, "threads": 4,
                    "efficiencyIndex": 2.0}})");
}

TEST_F(Trevalo, CompareShowsTheRatiosWithoutAviSynth) {
    testsupport::ProgramOptions options = Options();
    options.setEnv["LD_LIBRARY_PATH"] = runtimeDir;
    options.setEnv["WINEPATH"] = Shown(runtimeDir);
    ASSERT_EQ(testsupport::RunProgram(exe, {"-avsinfo"}, options).exitCode, 255) << "no AviSynth";

    json a = AResult();
    json b = a;
    b["script"] = "/clips/b.avs";
    b["clip"]["frames"] = 1500;
    b["summary"]["fpsAverage"] = 61.5;
    dir.Write("a.json", a.dump());
    dir.Write("b.json", b.dump());
    testsupport::ProgramResult r =
        testsupport::RunProgram(exe, {"-compare", "a.json", "b.json"}, options);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // The texts are results_test's; here both files read, without AviSynth.
    for (const char* expected :
         {"\nWarning: the runs differ in frame count (300 | 1500)\n",
          "\nb.avs rendered 1.23 times as fast as a.avs in a single run each; the spread is "
          "unknown: measure with -runs=5"})
        EXPECT_TRUE(Contains(std::regex_replace(Lines(r.out), std::regex(" +"), " "), expected))
            << expected;

    json declined = a;
    declined["summary"] = nullptr;
    declined["end"] = "declined";
    dir.Write("declined.json", declined.dump());
    json negative = a;
    negative["summary"]["fpsAverage"] = -0.15;
    dir.Write("negative.json", negative.dump());
    dir.Write("text.json", "Frame,Frames/sec\n1,2\n");
    dir.Write("other.json", R"({"name": "another program", "fps": 50})");
    std::filesystem::create_directory(dir.File("folder.json"));
    ASSERT_EQ(mkfifo(dir.File("fifo.json").c_str(), 0600), 0);  // Wine shows it as a file
    const std::pair<const char*, const char*> bad[] = {
        {"text.json", "\"text.json\" is not JSON (syntax error at byte 1)"},
        {"other.json", "\"other.json\" is not a Trevalo result file"},
        {"declined.json", "\"declined.json\" holds no summary: its run ended with \"declined\""},
        {"negative.json",
         "\"negative.json\" is not a Trevalo result file (summary.fpsAverage is not a figure a run "
         "can produce)"},
        {"missing.json", "Cannot read \"missing.json\": "},  // and the system's words
        {"folder.json", "\"folder.json\" is a directory, not a result file"},
        {"fifo.json", "\"fifo.json\" is not a regular file (a FIFO, socket or device)"},
    };
    for (const auto& [file, message] : bad) {
        if (OnWine() && file == std::string("fifo.json")) continue;
        r = testsupport::RunProgram(exe, {"-compare", "a.json", file}, options);
        EXPECT_EQ(r.exitCode, 255) << file;
        EXPECT_TRUE(Contains(Lines(r.err), std::string("\n") + message));
        EXPECT_EQ(r.out, "") << file;
    }
}

// Texts of a result file reach the terminal escaped, a NUL among them ends nothing, and a file
// too large is refused by its size.
TEST_F(Trevalo, CompareShowsTheFilesTextsWithoutObeyingThem) {
    json a = AResult();
    a["script"] = "/clips/\x1B]0;owned\x07\x1B[2Jevil" + std::string(1, '\0') + "tail.avs";
    a["avisynth"]["version"] =
        "AviSynth+ \xC2\x9B"
        "31m";
    json b = a;
    b["script"] = "/clips/b.avs";
    b["avisynth"]["version"] = "AviSynth+ 3.7.5";
    b["summary"]["fpsAverage"] = 61.5;
    dir.Write("a.json", a.dump());
    dir.Write("b.json", b.dump());
    const auto obeyed = [](const std::string& text) {
        return text.find_first_of(std::string("\x1B\x07\0", 3)) != std::string::npos;
    };
    ProgramResult r = Run({"-compare", "a.json", "b.json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(obeyed(r.out)) << r.out;
    const std::string out = std::regex_replace(Lines(r.out), std::regex(" +"), " ");
    for (const char* expected :
         {"\nA: /clips/\\x1B]0;owned\\x07\\x1B[2Jevil\\x00tail.avs (a.json)\n",
          "AviSynth version (AviSynth+ \\xC2\\x9B31m | AviSynth+ 3.7.5)\n",
          "\nb.avs rendered 1.23 times as fast as \\x1B]0;owned\\x07\\x1B[2Jevil\\x00tail.avs in "
          "a single run each"})
        EXPECT_TRUE(Contains(out, expected)) << expected;

    json declined = b;
    declined["summary"] = nullptr;
    declined["end"] = "\x1B[2J";
    dir.Write("declined.json", declined.dump());
    std::filesystem::resize_file(dir.Write("big.json", ""), uintmax_t{1} << 30);  // sparse
    const std::pair<const char*, std::string> bad[] = {
        {"declined.json", "\"declined.json\" holds no summary: its run ended with \"\\x1B[2J\"\n"},
        {"big.json",
         OnWine() ? "Cannot read \"big.json\": " : "Cannot read \"big.json\": File too large\n"},
    };
    for (const auto& [file, message] : bad) {
        r = Run({"-compare", "a.json", file});
        EXPECT_EQ(r.exitCode, kErrorStatus) << file;
        EXPECT_TRUE(Contains(Lines(r.err), "\n" + message));
        EXPECT_FALSE(obeyed(r.err)) << r.err;
        EXPECT_EQ(r.out, "") << file;
    }
    if (OnWine()) return;  // a name with controls in it is for POSIX file systems
    dir.Write("\x1B[2J.json", b.dump());
    r = Run({"-compare", "\x1B[2J.json", "b.json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(Lines(r.out), "\nA: /clips/b.avs (\\x1B[2J.json)\n"));
    EXPECT_FALSE(obeyed(r.out)) << r.out;
}

}  // namespace
}  // namespace e2e
