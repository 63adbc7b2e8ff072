// MSFault's kinds that end the process, each in a process of its own that requests frames
// through the C interface as the tool does.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/process.h"

namespace {

using namespace std::chrono_literals;

std::string Killed(int signalNumber) {
    return "signal " + std::to_string(signalNumber);
}

const std::vector<std::string> kUpTo6 = {"0", "1", "2", "3", "4", "5", "6"};
const std::vector<std::string> kAhead = {"0", "pause"};  // a worker meets the fault
const std::string kFirstFive = "0 1 2 3 4 ";

struct Case {
    const char* name;
    std::string script;  // after a 100-frame BlankClip
    std::vector<std::string> items;
    std::string ending;     // "running": still running a second after the handler began
    std::string out = "-";  // "-": not checked
    bool unlimitedStack = false;
};

void Check(const std::vector<Case>& cases, const testsupport::ProgramOptions& options = {}) {
    testsupport::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string program = RENDER_EXE;
        std::vector<std::string> args = {
            dir.Write("t.avs", "BlankClip(length=100)\n" + c.script + "\n")};
        args.insert(args.end(), c.items.begin(), c.items.end());
        if (c.unlimitedStack) {  // as high as the hard limit allows, from the program's start
            args.insert(args.begin(),
                        {"-c", "ulimit -s $(ulimit -H -s) && exec \"$0\" \"$@\"", program});
            program = "/bin/sh";
        }
        testsupport::PtySession run(program, args, options);
        ASSERT_TRUE(run.Started());
        if (c.ending == "running") {
            ASSERT_TRUE(run.WaitFor("caught", 30s)) << run.Output();
            EXPECT_FALSE(run.WaitFor("allocated", 1s)) << run.Output();
            continue;
        }
        const testsupport::ProgramResult r = run.Wait(30s);
        EXPECT_EQ(r.timedOut     ? "running"
                  : r.termSignal ? Killed(r.termSignal)
                                 : "exit " + std::to_string(r.exitCode),
                  c.ending)
            << r.out;
        EXPECT_EQ(c.out == "-" ? "-" : r.out, c.out);
    }
}

TEST(Faults, EndTheProcessAtTheirFrame) {
    Check({
        {"access", "MSFault(5, \"access\")", kUpTo6, Killed(SIGSEGV), kFirstFive},
        {"divide", "MSFault(5, \"divide\")", kUpTo6, Killed(SIGFPE), kFirstFive},
        {"overflow", "MSFault(5, \"overflow\")", kUpTo6, Killed(SIGSEGV), kFirstFive},
        {"overflow, no stack limit", "MSFault(5, \"overflow\")", kUpTo6, Killed(SIGSEGV),
         kFirstFive, true},
        {"overflow on a worker", "MSFault(3, \"overflow\")\nPrefetch(2)", kAhead, Killed(SIGSEGV)},
        {"abort", "MSFault(5, \"abort\")", kUpTo6, Killed(SIGABRT), kFirstFive},
        {"exit", "MSFault(5, \"exit\")", kUpTo6, "exit 3", kFirstFive},
        {"exit on a worker", "MSFault(3, \"exit\")\nPrefetch(2)", kAhead, "exit 3"},
        {"_exit", "MSFault(5, \"_exit\")", kUpTo6, "exit 3", kFirstFive},
        {"malloc without the trap",
         "MSFault(5, \"malloc\")",
         {"4", "5", "6"},
         "exit 0",
         "4 5:MSFault: \"malloc\" needs libmalloc_trap.so preloaded 6 end\r\n"},
    });
}

// The fault leaves the allocator's lock held: a handler that allocates waits for ever.
TEST(Faults, InTheAllocatorLeaveItsLockHeld) {
    const std::string trap = MALLOC_TRAP_LIB;
    if (trap.empty()) GTEST_SKIP() << "no allocator trap in this build (sanitizers)";
    testsupport::ProgramOptions options;
    options.setEnv["LD_PRELOAD"] = trap;
    Check({{"malloc", "MSFault(5, \"malloc\")", kUpTo6, Killed(SIGSEGV), kFirstFive},
           {"malloc, then a handler", "MSFault(5, \"malloc\")", {"-catch", "5"}, "running"}},
          options);
}

}  // namespace
