// The run from start to exit code: the pause before exit, the questions and their erasing.
#include <chrono>
#include <filesystem>
#include <ostream>

#include "app/version.h"
#include "e2e/e2e.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using testsupport::ProgramResult;

const char kPause[] = "Press any key to exit...";

// A clip of 300 frames at 2 ms each: the trial run takes 0.6 s.
const char kQuickScript[] = "BlankClip(length=300, width=64, height=64)\nMSBusy(2.0)\n";

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST_F(Trevalo, NoArgumentsShowsBannerVersionLineAndUsage) {
    ProgramResult r = Run({});
    EXPECT_EQ(r.exitCode, kErrorStatus);
    EXPECT_TRUE(Contains(r.err, "Trevalo " + ProgramVersion() + " (" + ArchitectureName() + ")"));
    EXPECT_TRUE(Contains(r.err, "minisynth")) << "the AviSynth version line";
    EXPECT_TRUE(Contains(r.out, "Usage:  Trevalo script.avs [switches]"));
    EXPECT_FALSE(Contains(r.err, "Usage:")) << "the usage text goes to stdout";
}

// Every way out pauses exactly once, last; all output on one stream shows the order.
TEST_F(Trevalo, EveryWayOutPausesExactlyOnceAtTheEnd) {
    const std::string quick = Script("quick.avs", kQuickScript);
    const std::string bad = Script("bad.avs", "BlankClip(\n");
    const std::string clip = Script("clip.avs", "BlankClip(length=10)\n");
    const std::string looping =
        Script("loop-error.avs", std::string(kQuickScript) + "MSFault(5, \"error\", \"boom\")\n");
    const struct {
        std::vector<std::string> args;
        const char* input;
        int exitCode;
        const char* shown;  // a text the way out prints before the pause
    } cases[] = {
        {{}, "", kErrorStatus, "Usage:"},
        {{"-avsinfo", clip}, "", 0, "Avisynth Interface Version:"},
        {{"-priority=9"}, "", kErrorStatus, "Value must be between 1 and 3"},
        {{"-gpu", clip}, "n", kErrorStatus, "Continue without GPU monitoring? [y/n]"},
        {{bad}, "", kErrorStatus, "syntax error"},
        {{"-info", clip}, "", 0, "Number of frames:"},
        {{"-range=5,2", quick}, "n", 0, "Proceed with default (0,299)? [y/n]"},
        {{"-range=0,99", quick}, "", 0, "Frames processed:"},
        {{"-range=0,9", looping}, "", kErrorStatus, "boom"},
    };
    WriteIni({{"PauseBeforeExit", "1"}, {"ConUseSTDOUT", "1"}});
    for (const auto& c : cases) {
        ProgramResult r = Run(c.args, c.input);
        SCOPED_TRACE(r.out);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(Count(r.out, kPause), 1u);
        const size_t pause = r.out.find(kPause);
        EXPECT_LT(r.out.find(c.shown), pause);
        if (pause != std::string::npos) {
            EXPECT_EQ(r.out.find_first_not_of(" \r", pause + sizeof kPause - 1), std::string::npos)
                << "printed after the pause";
        }
        EXPECT_EQ(r.err, "");
    }

    // A configuration error comes before the settings, so it never waits.
    std::filesystem::remove(dir.File("Trevalo.ini"));
    std::filesystem::create_directory(dir.File("Trevalo.ini"));
    ProgramResult r = Run({clip});
    EXPECT_EQ(r.exitCode, kErrorStatus);
    EXPECT_EQ(Count(r.out + r.err, kPause), 0u) << r.out;
}

// On a terminal any one key ends the pause unechoed; its line is cleared, the report stays.
TEST_F(Trevalo, PauseOnATerminalWaitsForOneKey) {
    SKIP_PTY_ON_WINE();
    WriteIni({{"PauseBeforeExit", "1"}});
    for (const char* key : {"#", "\r", "\x1b"}) {
        SCOPED_TRACE(testing::PrintToString(key));
        testsupport::PtySession pty(exe, {"-avsinfo"}, Options());
        ASSERT_TRUE(pty.WaitFor(kPause, 30s)) << pty.Output();
        pty.WaitFor("\x01 (never printed)", 300ms);
        EXPECT_TRUE(StillRunning(pty.Pid())) << "it waits for the key";
        pty.Type(key);
        ProgramResult r = pty.Wait(10s);
        EXPECT_FALSE(r.timedOut) << "the key ends the wait";
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_TRUE(pty.TerminalIsCooked());
        EXPECT_FALSE(Contains(r.out, "#")) << "the key is not echoed";
        const std::string shown = testsupport::Joined(pty.Screen());
        EXPECT_FALSE(Contains(shown, kPause)) << "the pause line is cleared";
        EXPECT_FALSE(Contains(shown, "(0.9.0.0)"));
        EXPECT_TRUE(Contains(shown, "Avisynth Interface Version:  7"));
    }
}

TEST_F(Trevalo, OneInstanceAtATimeUnlessAllowed) {
    SKIP_PTY_ON_WINE();
    // The trial run alone takes five seconds.
    const std::string script =
        Script("slow.avs", "BlankClip(length=4000, width=64, height=64)\nMSBusy(2.0)\n");
    for (const bool allowTwo : {false, true}) {
        WriteIni({{"AllowOnlyOneInstance", allowTwo ? "0" : "1"}});
        testsupport::PtySession first(exe, {script}, Options());
        ASSERT_TRUE(first.WaitFor("Analysing script", 30s)) << first.Output();
        ProgramResult second = Run({"-avsinfo"});
        if (allowTwo) {
            EXPECT_EQ(second.exitCode, 0) << second.err;
        } else {
            EXPECT_EQ(second.exitCode, kErrorStatus);
            EXPECT_TRUE(Contains(second.err, "One instance of Trevalo is already running"));
        }
    }
}

// A question on a terminal takes y or n in either case, ignores other keys and is erased.
TEST_F(Trevalo, PromptsOnATerminalTakeOneKeyAndAreErased) {
    SKIP_PTY_ON_WINE();
    const std::string clip = Script("clip.avs", "BlankClip(length=10)\n");
    const std::string range = Script("range.avs", kQuickScript);
    const std::string gpu =
        "In order to measure GPU usage, an NVIDIA driver with its management library must be "
        "installed.\n\nContinue without GPU monitoring? [y/n]";
    const std::string proceed = "Proceed with default (0,299)? [y/n]";
    const struct {
        std::vector<std::string> args;
        std::string question;
        const char* answer;
        const char* erased;  // besides the question
        const char* shown;   // after the answer; nullptr: the run ends unloaded
    } cases[] = {
        {{"-gpu", "-info", clip}, gpu, "y", "GPU", "(0.9.0.0)\n\nNumber of frames:"},
        {{"-gpu", "-info", clip}, gpu, "Y", "GPU", "(0.9.0.0)\n\nNumber of frames:"},
        {{"-gpu", "-info", clip}, gpu, "n", "GPU", nullptr},
        {{"-gpu", "-info", clip}, gpu, "N", "GPU", nullptr},
        {{"-range=0,300", range}, proceed, "y", "Invalid frame range", "300 (0 - 299)"},
        {{"-range=0,300", range}, proceed, "Y", "Invalid frame range", "300 (0 - 299)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.question + " " + c.answer);
        testsupport::PtySession pty(exe, c.args, Options());
        ASSERT_TRUE(pty.WaitFor("[y/n]", 30s)) << pty.Output();
        EXPECT_TRUE(Contains(testsupport::Joined(pty.Screen()), c.question)) << pty.Output();
        pty.Type("x");
        pty.WaitFor("\x01 (never printed)", 300ms);
        EXPECT_TRUE(StillRunning(pty.Pid())) << "x is no answer";
        pty.Type(c.answer);
        ProgramResult r = pty.Wait(30s);
        const std::string shown = testsupport::Joined(pty.Screen());
        EXPECT_TRUE(pty.TerminalIsCooked());
        EXPECT_FALSE(Contains(shown, "[y/n]"));
        EXPECT_FALSE(Contains(shown, c.erased));
        EXPECT_EQ(r.exitCode, c.shown != nullptr ? 0 : kErrorStatus) << r.out;
        if (c.shown != nullptr) {
            EXPECT_TRUE(Contains(shown, c.shown));
        } else {
            EXPECT_FALSE(Contains(r.out, "Loading script"));
        }
    }
}

struct Answer {
    const char* name;
    const char* question;  // "range" or "gpu"
    const char* keys;      // typed before the input ends
    bool accepted;
};

// The same through a pipe (so under Wine too); the first answer counts, not the key after it.
const Answer kAnswers[] = {
    {"RangeYes", "range", "yn", true},
    {"RangeNo", "range", "ny", false},
    {"RangeOtherKeysThenCapitalYes", "range", "x q1\rYn", true},
    {"RangeOtherKeysThenCapitalNo", "range", "x q1\rNy", false},
    {"RangeEndOfInputDeclines", "range", "x", false},
    {"GpuYes", "gpu", "yn", true},
    {"GpuNo", "gpu", "ny", false},
    {"GpuOtherKeysThenCapitalYes", "gpu", "x q1\rYn", true},
    {"GpuOtherKeysThenCapitalNo", "gpu", "x q1\rNy", false},
    {"GpuEndOfInputDeclines", "gpu", "x", false},
};

void PrintTo(const Answer& a, std::ostream* os) {  // names, not bytes, in test names
    *os << a.name;
}

class Prompts : public Trevalo, public ::testing::WithParamInterface<Answer> {};

TEST_P(Prompts, TakeEitherCaseAndIgnoreOtherKeys) {
    const Answer& a = GetParam();
    const std::string script = Script("run.avs", kQuickScript);
    const bool range = a.question == std::string("range");
    const testsupport::ProgramResult r =
        range ? Run({"-range=5,400", script}, a.keys) : Run({"-gpu", "-info", script}, a.keys);
    EXPECT_TRUE(Contains(r.err, range ? "Proceed with default (0,299)? [y/n]"
                                      : "Continue without GPU monitoring? [y/n]"));
    EXPECT_EQ(r.exitCode, range || a.accepted ? 0 : kErrorStatus) << r.err;
    const std::string shown = LastWrites(r.err);
    const char* result = range ? "\nFrames processed:               300 (0 - 299)\n"
                               : "\nNumber of frames:                  300\n";
    EXPECT_EQ(static_cast<bool>(Contains(shown, result)), a.accepted) << shown;
    EXPECT_EQ(static_cast<bool>(Contains(shown, "Frames processed")), range && a.accepted);
}

INSTANTIATE_TEST_SUITE_P(Trevalo, Prompts, ::testing::ValuesIn(kAnswers),
                         [](const ::testing::TestParamInfo<Answer>& row) {
                             return std::string(row.param.name);
                         });

}  // namespace
}  // namespace e2e
