// The files a run leaves beside the script, read back as a user would, after every way out.
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "e2e/e2e.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using testsupport::ProgramResult;

constexpr int kErrorStatus = 255;
const char kQuick[] = "BlankClip(length=300, width=64, height=64)\nMSBusy(2.0)\n";
// A trial run of 0.6 s at 5 ms a frame, before a measured run that differs from it.
const char kShortTrial[] = "BlankClip(length=120, width=64, height=64)\nMSBusy(5)\n";

// Every line ends with CR LF; the text comes back with plain line feeds.
std::string WithoutCrLf(const std::string& text, bool& allCrLf) {
    std::string plain;
    allCrLf = true;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) allCrLf = false;
        if (text[i] != '\r') plain += text[i];
    }
    return plain;
}

// The rows of the log's performance table, its heading not counted.
size_t TableRows(const std::string& log) {
    const std::vector<std::string> table = SectionLines(log, "[Performance data]");
    return table.empty() ? 0 : table.size() - 1;
}

class Reports : public Trevalo {
  protected:
    std::string Log(const std::string& name) {
        bool crlf = false;
        const std::string log = WithoutCrLf(dir.Read(name), crlf);
        EXPECT_TRUE(crlf) << name << " ends its lines with CR LF";
        return log;
    }
};

// A fault on the main thread or a Prefetch worker: the message, exit 255, the files with every
// sample taken. With pipes, as a Windows build under Wine can be run.
TEST_F(Reports, AFaultInsideAFilterEndsTheRunWithItsFiles) {
    // The trial run reads the clip without the fault; under Wine it reads the same clip, and
    // stops after 5 s, near frame 1000, before the fault.
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
        EXPECT_GT(TableRows(log), 10u) << c.name;
        EXPECT_EQ(ReadCsv(dir.Read(std::string(c.name) + ".csv")).size(), TableRows(log) + 1);
    }
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
    struct Joined {
        std::thread& thread;
        ~Joined() { thread.join(); }
    } joined{gpuz};
    for (int i = 0; i < 600 && !std::filesystem::exists(ready); ++i)
        std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(std::filesystem::exists(ready)) << "the GPU-Z stand-in did not start";
    const std::string script = Script("gpu.avs", kQuick);
    ProgramResult r = Run({"-gpu", "-log", "-csv", script});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.err,
                         "GPU usage (average):            42%\n\r"
                         "Video engine load (average):    18%\n"));
    const std::string log = Log("gpu.log");
    EXPECT_TRUE(Contains(log,
                         "[Graphics card info]\nCard name:               Stub Radeon\n"
                         "GPU name:                Stub GPU\nMemory size:             4096 MB\n"
                         "OpenCL version:          2.0\nDriver version:          31.0.1\n"
                         "Info collected with:     GPU-Z 2.1.0\n"));
    const auto rows = ReadCsv(dir.Read("gpu.csv"));
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[1][6], "42");
    EXPECT_EQ(rows[1][7], "18");
}

// The run's own load fails after the trial run succeeded: the forced log still carries the
// general information, and the error.
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
    EXPECT_TRUE(Contains(log, "Script file:                           " + script));
    EXPECT_NE(log.find("Import: couldn't open \"gone.avsi\"", log.find("[AviSynth error]")),
              std::string::npos)
        << log;
}

// With a GPU source (here a stand-in for NVIDIA's library) the card's figures show in the
// block and, after an empty line, in the summary.
TEST_F(Reports, GpuFiguresReachTheScreen) {
    SKIP_PTY_ON_WINE();
    const std::string script = Script("gpu.avs", kQuick);
    testsupport::ProgramOptions options = Options();
    options.setEnv["LD_LIBRARY_PATH"] = LibraryDir() + ":" + FAKE_NVML_DIR;
    testsupport::PtySession pty(exe, {"-gpu", script}, options);
    EXPECT_TRUE(pty.WaitFor("GPU usage (current | average):  37% | 37%", 30s)) << pty.Output();
    EXPECT_EQ(pty.Wait(30s).exitCode, 0);
    const std::string shown = testsupport::Joined(pty.Screen());
    EXPECT_TRUE(Contains(shown,
                         "\n\nGPU usage (average):            37%\n"
                         "Video engine load (average):    12%\n"
                         "GPU memory usage:               1536 MB\n"));
}

}  // namespace
}  // namespace e2e
