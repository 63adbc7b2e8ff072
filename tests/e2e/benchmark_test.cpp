// The measurement as a user watches it on a terminal: the live block rewritten in place,
// the summary over it, the ways to stop early, and errors placed over the block.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <thread>

#include "e2e/e2e.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using testsupport::ProgramResult;
using testsupport::PtySession;

constexpr int kErrorStatus = 255;

// 1500 frames at 2 ms: 3 s of measuring, after a trial run of 0.6 s at the same cost.
const char kThreeSeconds[] = "BlankClip(length=1500, width=64, height=64)\nMSBusy(2.0)\n";
const char kShortTrial[] = "BlankClip(length=300, width=64, height=64)\nMSBusy(2.0)\n";
const char kImport[] = "Import(\"part.avsi\")\n";

size_t RowsWith(const std::vector<std::string>& screen, const std::string& text) {
    return static_cast<size_t>(
        std::count_if(screen.begin(), screen.end(),
                      [&](const std::string& row) { return row.find(text) != std::string::npos; }));
}

size_t RowOf(const std::vector<std::string>& screen, const std::string& text) {
    for (size_t i = 0; i < screen.size(); ++i)
        if (screen[i].find(text) != std::string::npos) return i;
    return std::string::npos;
}

// The live block is rewritten in place until the summary replaces it. Esc, Ctrl+C and the
// time limit end the run early with the frames actually covered; the summary and the files
// follow, and the exit code is 0.
TEST_F(Trevalo, TheLiveBlockIsReplacedByTheSummaryAtEveryEnd) {
    SKIP_PTY_ON_WINE();
    const std::string script = Script("run.avs", kImport);
    const struct {
        const char* key;  // typed after a second of refreshes
        std::vector<std::string> args;
        bool early;
    } cases[] = {{nullptr, {script}, false},
                 {"\x1b", {script}, true},
                 {"\x03", {"-log", "-csv", script}, true},
                 {nullptr, {"-timelimit=1", script}, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testsupport::Joined(c.args));
        TrialThenRun part(dir.Path(), "part.avsi", kShortTrial, kThreeSeconds);
        PtySession pty(exe, c.args, Options());
        ASSERT_TRUE(pty.WaitFor("Press 'Esc' to cancel", 30s)) << pty.Output();
        std::this_thread::sleep_for(500ms);  // several refreshes
        std::vector<std::string> screen = pty.Screen();
        EXPECT_EQ(RowsWith(screen, "Frame (current | last):"), 1u) << testsupport::Joined(screen);
        EXPECT_EQ(RowsWith(screen, "Press 'Esc' to cancel"), 1u);
        EXPECT_EQ(RowsWith(screen, "Reading frames"), 0u) << "the first refresh overwrote it";
        if (c.key != nullptr) pty.Type(c.key);

        ProgramResult r = pty.Wait(30s);
        const std::string shown = testsupport::Joined(pty.Screen());
        EXPECT_EQ(r.exitCode, 0) << shown;
        EXPECT_TRUE(pty.TerminalIsCooked());
        EXPECT_FALSE(Contains(shown, "Frame (current | last):"));
        EXPECT_FALSE(Contains(shown, "Press 'Esc'"));
        EXPECT_FALSE(Contains(shown, "^[")) << "Esc is not echoed";
        std::smatch summary;
        ASSERT_TRUE(std::regex_search(
            shown, summary,
            std::regex("\nFrames processed: +([0-9]+) \\(0 - ([0-9]+)\\)\n"
                       "FPS \\(min \\| max \\| average\\): +[0-9.]+ \\| [0-9.]+ \\| [0-9.]+\n"
                       "Memory usage \\(phys \\| virt\\): +[0-9]+ \\| [0-9]+ MB\n"
                       "Thread count: +1\n"
                       "CPU usage \\(average\\): +[0-9]+%\n"
                       "Efficiency index: +([0-9.]+|n/a)\n\n"
                       "Time \\(elapsed\\): +([0-9:.]+)\n$")))
            << shown;
        const long frames = std::stol(summary[1]);
        EXPECT_EQ(frames, std::stol(summary[2]) + 1);
        EXPECT_EQ(frames < 1500, c.early) << shown;
        EXPECT_GE(DurationMs(summary[4]), frames * 2) << "2 ms a frame";
        if (c.key == nullptr && c.early) {
            EXPECT_GE(DurationMs(summary[4]), 1000) << "the limit passed";
        }
    }
    EXPECT_TRUE(dir.Exists("run.log"));
    EXPECT_TRUE(dir.Exists("run.csv"));
}

// Into a pipe the block would be appended at each refresh: only the status lines and the
// summary are written. A dumb terminal is treated the same.
TEST_F(Trevalo, NoLiveBlockWhenTheConsoleIsNoTerminal) {
    SKIP_PTY_ON_WINE();
    const std::string script = Script("run.avs", kShortTrial);
    ProgramResult piped = Run({"-range=0,299", script});
    EXPECT_EQ(piped.exitCode, 0);
    EXPECT_FALSE(Contains(piped.err, "Frame (current"));
    EXPECT_TRUE(Contains(piped.err, "Frames processed:               300 (0 - 299)"));

    testsupport::ProgramOptions options = Options();
    options.setEnv["TERM"] = "dumb";
    PtySession dumb(exe, {"-range=0,99", script}, options);
    EXPECT_EQ(dumb.Wait(30s).exitCode, 0);
    EXPECT_FALSE(Contains(dumb.Output(), "Frame (current"));
    EXPECT_FALSE(Contains(dumb.Output(), "\x1b")) << "no colour, no cursor moves";
    EXPECT_TRUE(Contains(dumb.Output(), "Frames processed:               100 (0 - 99)"));
}

// An error at a frame while the block shows: the block's last two lines are blanked and the
// message takes the place of the Esc hint; a hardware fault follows one line lower. The same
// for an error that reaches the main thread from a Prefetch worker. The log keeps the
// samples and ends with the message.
TEST_F(Trevalo, AnErrorDuringTheRunIsPrintedOverTheBlocksLowerEnd) {
    SKIP_PTY_ON_WINE();
    // 5 ms a frame (10 ms on two workers): the block shows before the measured run meets the
    // fault at 1.5 s; the trial run reads the clip without it.
    const std::string plain = "BlankClip(length=1300, width=64, height=64)\nMSBusy(5.0)\n";
    const std::string workers = "BlankClip(length=1300, width=64, height=64)\nMSBusy(10.0)\n";
    const struct {
        const char* name;
        std::string script;
        const char* message;
        size_t rowsBelowTime;
    } cases[] = {
        {"error", plain + "MSFault(300, \"error\", \"boom at 300\")\n", "boom at 300", 2},
        {"access", plain + "MSFault(300, \"access\")\n", "Exception 0xC0000005", 3},
        {"divide", plain + "MSFault(300, \"divide\")\n", "Exception 0xC0000094", 3},
        {"worker", workers + "MSFault(300, \"error\", \"boom at 300\")\nPrefetch(2)\n",
         "boom at 300", 2},
    };
    for (const auto& c : cases) {
        TrialThenRun part(dir.Path(), std::string(c.name) + ".avsi",
                          "BlankClip(length=120, width=64, height=64)\nMSBusy(5.0)\n", c.script);
        const std::string script =
            Script(std::string(c.name) + ".avs", "Import(\"" + std::string(c.name) + ".avsi\")\n");
        PtySession pty(exe, {script}, Options());
        ASSERT_TRUE(pty.WaitFor("Press 'Esc' to cancel", 30s)) << pty.Output();
        ProgramResult r = pty.Wait(30s);
        EXPECT_TRUE(r.exited) << c.name << " killed by signal " << r.termSignal;
        EXPECT_EQ(r.exitCode, kErrorStatus) << c.name;
        EXPECT_TRUE(pty.TerminalIsCooked());
        const std::vector<std::string> screen = pty.Screen();
        const size_t time = RowOf(screen, "Time (elapsed | estimated):");
        ASSERT_NE(time, std::string::npos) << testsupport::Joined(screen);
        EXPECT_EQ(RowOf(screen, c.message), time + c.rowsBelowTime) << testsupport::Joined(screen);
        for (size_t row = time + 1; row < time + c.rowsBelowTime; ++row)
            EXPECT_EQ(screen[row], "") << c.name << " row " << row << "\n"
                                       << testsupport::Joined(screen);
        EXPECT_EQ(RowsWith(screen, "Press 'Esc'"), 0u) << testsupport::Joined(screen);
        const std::string log = dir.Read(std::string(c.name) + ".log");
        EXPECT_NE(log.find("[Performance data]"), std::string::npos) << c.name << " keeps samples";
        EXPECT_NE(log.find("[AviSynth error]\r\n" + std::string(c.message)), std::string::npos)
            << log;
    }
}

// Before the measurement an error starts on a new line below the cleared status line.
TEST_F(Trevalo, AnErrorBeforeTheRunStartsOnANewLine) {
    SKIP_PTY_ON_WINE();
    const std::string script = Script("bad.avs", "BlankClip(\n");
    PtySession pty(exe, {"-info", script}, Options());
    ProgramResult r = pty.Wait(30s);
    EXPECT_EQ(r.exitCode, kErrorStatus);
    const std::vector<std::string> screen = pty.Screen();
    const size_t version = RowOf(screen, "(0.9.0.0)");
    ASSERT_NE(version, std::string::npos);
    EXPECT_EQ(screen.at(version + 1), "") << testsupport::Joined(screen);
    EXPECT_EQ(screen.at(version + 2).rfind("Script error: syntax error", 0), 0u)
        << testsupport::Joined(screen);
}

}  // namespace
}  // namespace e2e
