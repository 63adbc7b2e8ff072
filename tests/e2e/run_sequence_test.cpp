// The run from start to exit code, as a user meets it.
#include <chrono>
#include <thread>

#include "e2e/e2e.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using testsupport::ProgramResult;

constexpr int kErrorStatus = 255;  // exit code -1

// Renders for about `seconds` and then faults at the given frame, well after the pre-run
// has stopped at five seconds.
std::string SlowScript(const std::string& tail) {
    return "BlankClip(length=4000, width=64, height=64, pixel_type=\"YV12\")\n"
           "MSBusy(2.0)\n" +
           tail;
}

TEST_F(Trevalo, NoArgumentsShowsBannerVersionLineAndUsage) {
    ProgramResult r = Run({});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, kErrorStatus);
    EXPECT_NE(r.err.find("Trevalo " + ProgramVersion() + " (x64)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("minisynth"), std::string::npos) << "the AviSynth version line\n" << r.err;
    EXPECT_NE(r.out.find("Usage:  Trevalo script.avs [switches]"), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find("Usage:"), std::string::npos) << "the usage text goes to stdout";
    EXPECT_TRUE(dir.Exists("Trevalo.ini")) << "the first start creates the INI file";
}

// The trial run meets the error first and stops; with -info the run's own load meets it,
// under the handlers that force the log file.
TEST_F(Trevalo, ScriptThatFailsToImportReportsAviSynthsMessage) {
    std::string script = Script("bad.avs", "BlankClip(\n");
    ProgramResult r = Run({script});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, kErrorStatus);
    EXPECT_NE(r.err.find("syntax error"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("bad.avs"), std::string::npos) << r.err;

    r = Run({"-info", script});
    EXPECT_EQ(r.exitCode, kErrorStatus);
    EXPECT_NE(r.err.find("syntax error"), std::string::npos) << r.err;
    ASSERT_TRUE(dir.Exists("bad.log")) << "an error forces the log file";
    EXPECT_NE(dir.Read("bad.log").find("syntax error"), std::string::npos);
}

TEST_F(Trevalo, ScriptThatIsNotAClipIsRefusedInTheTrialRun) {
    std::string script = Script("number.avs", "42\n");
    ProgramResult r = Run({script});
    EXPECT_EQ(r.exitCode, kErrorStatus);
    EXPECT_NE(r.err.find("Script did not return a video clip:\n(" + script + ")"),
              std::string::npos)
        << r.err;
}

TEST_F(Trevalo, InfoLoadsTheScriptWithoutTrialRun) {
    std::string script = Script("clip.avs", "BlankClip(length=100)\n");
    ProgramResult r = Run({"-info", script});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("Analysing script..."), std::string::npos);
    EXPECT_NE(r.err.find("Loading script..."), std::string::npos);
}

TEST_F(Trevalo, InfoWithNonClipValueReportsTheRunsOwnCheck) {
    std::string script = Script("number.avs", "42\n");
    ProgramResult r = Run({"-info", script});
    EXPECT_EQ(r.exitCode, kErrorStatus);
    EXPECT_NE(r.err.find("\"" + script + "\":\nScript did not return a clip"), std::string::npos)
        << r.err;
    EXPECT_TRUE(dir.Exists("number.log")) << "an error forces the log file";
}

TEST_F(Trevalo, FaultsInTheTrialRunBecomeExceptionTexts) {
    struct Case {
        const char* kind;
        const char* text;
    } cases[] = {{"access", "Exception 0xC0000005\nSTATUS_ACCESS_VIOLATION"},
                 {"divide", "Exception 0xC0000094\nSTATUS_INTEGER_DIVIDE_BY_ZERO"}};
    for (const Case& c : cases) {
        std::string script =
            Script(std::string("fault-") + c.kind + ".avs",
                   "BlankClip(length=100)\nMSFault(3, \"" + std::string(c.kind) + "\")\n");
        ProgramResult r = Run({script});
        ASSERT_TRUE(r.exited) << c.kind << " killed by signal " << r.termSignal;
        EXPECT_EQ(r.exitCode, kErrorStatus) << c.kind;
        EXPECT_NE(r.err.find(c.text), std::string::npos) << r.err;
    }
}

// A fault in the measurement itself, on a terminal: the message, no core dump, and the
// terminal left as it was.
TEST_F(Trevalo, FaultsDuringTheRunEndItCleanlyOnATerminal) {
    struct Case {
        const char* kind;
        const char* text;
    } cases[] = {{"access", "STATUS_ACCESS_VIOLATION"},
                 {"divide", "STATUS_INTEGER_DIVIDE_BY_ZERO"}};
    for (const Case& c : cases) {
        std::string script = Script(std::string("late-") + c.kind + ".avs",
                                    SlowScript("MSFault(3500, \"" + std::string(c.kind) + "\")\n"));
        testsupport::PtySession pty(exe, {script}, Options());
        ASSERT_TRUE(pty.Started());
        ASSERT_TRUE(pty.WaitFor("Reading frames", 30s)) << pty.Output();
        ProgramResult r = pty.Wait(60s);
        ASSERT_TRUE(r.exited) << c.kind << " killed by signal " << r.termSignal;
        EXPECT_FALSE(r.coreDumped);
        EXPECT_EQ(r.exitCode, kErrorStatus);
        EXPECT_NE(r.out.find(c.text), std::string::npos) << r.out;
        EXPECT_TRUE(pty.TerminalIsCooked());
    }
}

TEST_F(Trevalo, ASecondInstanceIsRefusedWhileTheFirstRuns) {
    std::string script = Script("slow.avs", SlowScript(""));
    testsupport::PtySession first(exe, {script}, Options());
    ASSERT_TRUE(first.WaitFor("Analysing script", 30s)) << first.Output();

    ProgramResult second = Run({"-avsinfo"});
    EXPECT_EQ(second.exitCode, kErrorStatus);
    EXPECT_NE(second.err.find("One instance of Trevalo is already running"), std::string::npos)
        << second.err;
}

TEST_F(Trevalo, ClearingAllowOnlyOneInstanceLetsTwoRun) {
    WriteIni({{"AllowOnlyOneInstance", "0"}});
    std::string script = Script("slow.avs", SlowScript(""));
    testsupport::PtySession first(exe, {script}, Options());
    ASSERT_TRUE(first.WaitFor("Analysing script", 30s)) << first.Output();

    ProgramResult second = Run({"-avsinfo"});
    EXPECT_EQ(second.exitCode, 0) << second.err;
}

TEST_F(Trevalo, DemoScriptIsMeasured) {
    ProgramResult r = Run({std::string(EXAMPLES_DIR) + "/demo.avs"});
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, 0) << r.err;
}

TEST_F(Trevalo, PauseBeforeExitWaitsForAKeyOnATerminal) {
    WriteIni({{"PauseBeforeExit", "1"}});
    testsupport::PtySession pty(exe, {}, Options());
    ASSERT_TRUE(pty.WaitFor("Press any key to exit...", 30s)) << pty.Output();
    std::this_thread::sleep_for(300ms);
    pty.Type("x");
    ProgramResult r = pty.Wait(10s);
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.exitCode, kErrorStatus);
    EXPECT_TRUE(pty.TerminalIsCooked());
}

TEST_F(Trevalo, PauseBeforeExitEndsAtEndOfPipedInput) {
    WriteIni({{"PauseBeforeExit", "1"}});
    ProgramResult r = Run({});
    ASSERT_TRUE(r.exited);
    EXPECT_FALSE(r.timedOut);
    EXPECT_NE(r.err.find("Press any key to exit..."), std::string::npos);
}

TEST_F(Trevalo, GpuMonitoringWithoutGpuzAsksWhetherToGoOn) {
    std::string script = Script("clip.avs", "BlankClip(length=10)\n");
    {
        testsupport::PtySession pty(exe, {"-gpu", "-info", script}, Options());
        ASSERT_TRUE(pty.WaitFor("Continue without GPU monitoring? [y/n]", 30s)) << pty.Output();
        pty.Type("x");
        std::this_thread::sleep_for(200ms);
        pty.Type("n");
        ProgramResult r = pty.Wait(10s);
        EXPECT_EQ(r.exitCode, kErrorStatus) << "x is ignored, n declines\n" << r.out;
        EXPECT_EQ(r.out.find("Loading script"), std::string::npos);
    }
    {
        testsupport::PtySession pty(exe, {"-gpu", "-info", script}, Options());
        ASSERT_TRUE(pty.WaitFor("[y/n]", 30s)) << pty.Output();
        pty.Type("y");
        ProgramResult r = pty.Wait(30s);
        EXPECT_EQ(r.exitCode, 0) << r.out;
        EXPECT_NE(r.out.find("Loading script"), std::string::npos);
        EXPECT_TRUE(pty.TerminalIsCooked());
    }
    ProgramResult piped = Run({"-gpu", "-info", script}, "y");
    EXPECT_EQ(piped.exitCode, 0) << "a piped answer counts\n" << piped.err;
    ProgramResult ended = Run({"-gpu", "-info", script});
    EXPECT_EQ(ended.exitCode, kErrorStatus) << "end of input declines";
}

TEST_F(Trevalo, AnInvalidRangeOffersTheWholeClip) {
    std::string script =
        Script("range.avs", "BlankClip(length=300, width=64, height=64)\nMSBusy(2.0)\n");
    ProgramResult declined = Run({"-range=5,2", script}, "n");
    EXPECT_EQ(declined.exitCode, 0) << declined.err;
    EXPECT_NE(declined.err.find("Invalid frame range specified:\n"), std::string::npos);
    EXPECT_NE(declined.err.find("\"FrameRange=5,2\""), std::string::npos) << declined.err;
    EXPECT_NE(declined.err.find("Proceed with default (0,299)? [y/n]"), std::string::npos);
    EXPECT_EQ(declined.err.find("Frames processed"), std::string::npos) << "nothing measured";

    ProgramResult accepted = Run({"-range=0,300", script}, "y");
    EXPECT_EQ(accepted.exitCode, 0) << accepted.err;
    EXPECT_NE(accepted.err.find("Frames processed:  300 (0 - 299)"), std::string::npos)
        << accepted.err;
}

}  // namespace
}  // namespace e2e
