// The measuring in a process of its own: whatever ends it, every sample reaches the files, the
// user reads why, and the exit status is honest.
#include <signal.h>

#include <chrono>
#include <memory>
#include <string>

#include "e2e/e2e.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using testsupport::ProgramResult;

const char kLong[] = "BlankClip(length=3000, width=64, height=64)\nMSBusy(5)\n";

class MeasuringProcess : public Trevalo {
  protected:
    // Starts a long run on a terminal, with every file asked for, and waits for its block.
    testsupport::PtySession& Start() {
        part_ = std::make_unique<TrialThenRun>(dir.Path(), "part.avsi",
                                               "BlankClip(length=300, width=64, height=64)\n"
                                               "MSBusy(2)\n",
                                               kLong);
        const std::string script = Script("run.avs", "Import(\"part.avsi\")\n");
        pty_ = std::make_unique<testsupport::PtySession>(
            exe, std::vector<std::string>{"-log", "-csv", "-json", "-chart", script}, Options());
        EXPECT_TRUE(pty_->WaitFor("Press 'Esc' to cancel", 30s)) << pty_->Output();
        pty_->WaitFor("\x01 (never printed)", 600ms);  // a few samples stored
        return *pty_;
    }
    // Every file written, with every sample: the CSV's rows as many as the log's.
    void ExpectFilesWithSamples(const std::string& ending) {
        const std::string log = dir.Read("run.log");
        const size_t rows = ReadCsv(dir.Read("run.csv")).size();
        EXPECT_GT(rows, 2u);
        EXPECT_EQ(SectionLines(log, "[Performance data]").size(), rows);
        EXPECT_TRUE(dir.Exists("run.json") && dir.Exists("run.svg"));
        EXPECT_TRUE(Contains(dir.Read("run.json"), "\"end\": \"" + ending + "\""));
    }

    std::unique_ptr<TrialThenRun> part_;
    std::unique_ptr<testsupport::PtySession> pty_;
};

// A signal that asks Trevalo to end stops the run as Esc does; the files are written, and the
// process then ends by that signal.
TEST_F(MeasuringProcess, AStopSignalEndsTheRunWithItsFilesThenByItself) {
    SKIP_ON_WINE("POSIX signals");
    for (const int signal : {SIGTERM, SIGHUP, SIGPIPE, SIGUSR1}) {
        SCOPED_TRACE(signal);
        testsupport::PtySession& pty = Start();
        kill(pty.Pid(), signal);
        const ProgramResult r = pty.Wait(30s);
        EXPECT_EQ(r.termSignal, signal) << pty.Output();
        EXPECT_NE(RowStarting(pty.Screen(), "Frames processed:"), "") << pty.Output();
        ExpectFilesWithSamples("cancelled");
    }
}

// The measuring process killed from outside (as the kernel does when memory runs out): the
// watcher says so and writes the files with every sample taken.
TEST_F(MeasuringProcess, AKilledMeasuringProcessLeavesItsSamples) {
    SKIP_ON_WINE("a process of its own is the POSIX build's");
    testsupport::PtySession& pty = Start();
    const int measuring = MeasuringPid(pty.Pid());
    ASSERT_NE(measuring, pty.Pid());
    kill(measuring, SIGKILL);
    const ProgramResult r = pty.Wait(30s);
    EXPECT_EQ(r.exitCode, kErrorStatus) << pty.Output();
    const char message[] = "The frame server ended the process by signal 9 (Killed)";
    EXPECT_EQ(RowStarting(pty.Screen(), "The frame server"), message) << pty.Output();
    ExpectFilesWithSamples("error");
    EXPECT_TRUE(Contains(dir.Read("run.log"), std::string("[AviSynth error]\r\n") + message));
}

// Whatever the frame server does to the measuring process, the watcher says what, writes the
// files with every sample taken, and ends with 255.
TEST_F(MeasuringProcess, EveryDeathOfTheMeasuringProcessLeavesItsSamples) {
    SKIP_ON_WINE("a process of its own is the POSIX build's");
    const struct {
        const char* kind;
        const char* tail;  // after the fault
        const char* message;
    } cases[] = {
        {"overflow", "Prefetch(2)\n",
         "The frame server ended the process by signal 11 (Segmentation fault), probably a "
         "stack overflow in a filter"},
        {"abort", "", "The frame server ended the process by signal 6 (Aborted)"},
        {"exit", "", "The frame server ended the process with exit code 3"},
        {"_exit", "", "The frame server ended the process with exit code 3"},
        // The report would wait for ever on the allocator's lock: the watcher ends it.
        {"malloc", "", "Exception 0xC0000005\nSTATUS_ACCESS_VIOLATION"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        testsupport::ProgramOptions options = Options();
        if (std::string(c.kind) == "malloc") {
            if (std::string(MALLOC_TRAP_LIB).empty()) continue;  // a sanitizer's allocator
            options.setEnv["LD_PRELOAD"] = MALLOC_TRAP_LIB;
        }
        const TrialThenRun part(dir.Path(), "part.avsi",
                                "BlankClip(length=300, width=64, height=64)\nMSBusy(2)\n",
                                std::string(kLong) + "MSFault(400, \"" + c.kind + "\")\n" + c.tail);
        const std::string script = Script("run.avs", "Import(\"part.avsi\")\n");
        const ProgramResult r = testsupport::RunProgram(exe, {"-csv", "-json", "-chart", script},
                                                        options);  // an error forces the log
        EXPECT_EQ(r.exitCode, kErrorStatus) << r.err;
        // A sanitizer gives every thread a signal stack: its overflow is then caught in process.
        const bool caught =
            std::string(c.kind) == "overflow" && Contains(Lines(r.err), "\nException 0xC0000005\n");
        EXPECT_TRUE(caught || Contains(Lines(r.err), std::string("\n") + c.message + "\n"));
        ExpectFilesWithSamples("error");
        EXPECT_TRUE(Contains(dir.Read("run.log"), "[AviSynth error]"));
    }
}

}  // namespace
}  // namespace e2e
