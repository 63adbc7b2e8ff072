// The Windows build's keys, prompts, pause and Ctrl+C on a console of Wine's own, which the
// console driver types into as a user would; and a pipe that never brings a byte.
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <ostream>

#include <nlohmann/json.hpp>

#include "e2e/e2e.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

// Trial and measured run 0.6 s each; 3 s each for the runs that are ended early.
const char kQuick[] = "BlankClip(length=300, width=64, height=64)\nMSBusy(2.0)\n";
const char kLong[] = "BlankClip(length=1500, width=64, height=64)\nMSBusy(2.0)\n";
// Windows ends a process by Ctrl+C with STATUS_CONTROL_C_EXIT, Wine 8 with 0: not compared.
constexpr int kEndedByCtrlC = 1 << 30;

struct Driven {
    std::string outcome;  // "ok", or the step that did not hold
    std::string screen;
    std::string virtualTerminalInput;  // the console's input mode at the end: "on" or "off"
    int exitCode = 0;
};

struct ConsoleCase {
    const char* name;
    bool longRun;
    std::vector<std::string> args;  // the script follows
    std::vector<std::string> steps;
    int exitCode;
    std::vector<std::string> shown;  // on the screen at the end
    std::vector<std::string> gone;   // not on it
    bool pause = false;
    const char* end = nullptr;  // how the result file says the run ended
};

void PrintTo(const ConsoleCase& c, std::ostream* os) {
    *os << c.name;
}

const std::string kCancel = "wait:Press 'Esc' to cancel";
const ConsoleCase kCases[] = {
    {"EscStopsTheRunOtherKeysDoNot",
     true,
     {"-json"},
     {kCancel, "key:x", "key:up", "key:cp+E0", "sleep:1000", "alive", "key:esc"},
     0,
     {"Frames processed:"},
     {"Press 'Esc'", "Frame (current | last):", "1500 (0 - 1499)"},
     false,
     "cancelled"},
    {"RangeYes",
     false,
     {"-range=0,5000"},
     {"wait:[y/n]", "key:x", "sleep:500", "alive", "key:y"},
     0,
     {"Frames processed:               300 (0 - 299)"},
     {"[y/n]", "Invalid frame range"}},
    // A console left in virtual-terminal input mode is read with it off, and left as found.
    {"RangeNoOnAConsoleInVirtualTerminalInputMode",
     false,
     {"-range=0,5000"},
     {"vt-input", "wait:[y/n]", "vt-off", "key:x", "key:up", "sleep:500", "alive", "key:n"},
     0,
     {"Number of frames:"},
     {"[y/n]", "Invalid frame range", "Frames processed"}},
    {"GpuYes",
     false,
     {"-gpu", "-info"},
     {"wait:[y/n]", "key:x", "sleep:500", "alive", "key:y"},
     0,
     {"Number of frames:"},
     {"[y/n]", "GPU-Z"}},
    {"GpuNo",
     false,
     {"-gpu", "-info"},
     {"wait:[y/n]", "key:x", "sleep:500", "alive", "key:n"},
     -1,
     {},
     {"[y/n]", "GPU-Z", "Number of frames"}},
    {"PauseEndsOnAnyKey",
     false,
     {"-info"},
     {"wait:Press any key to exit...", "sleep:500", "alive", "key:#"},
     0,
     {"Number of frames:"},
     {"Press any key"},
     true},
    {"CtrlCOnceStopsWithTheFiles",
     true,
     {"-log", "-csv"},
     {kCancel, "ctrl-c"},
     0,
     {"Frames processed:"},
     {"Press 'Esc'", "1500 (0 - 1499)"}},
    {"CtrlCTwiceEndsAtOnce",
     true,
     {"-csv"},
     {kCancel, "ctrl-c", "ctrl-c"},
     kEndedByCtrlC,
     {"Press 'Esc' to cancel"},  // the block as the first refresh left it, no summary
     {"Frames processed:"}},
};

class WindowsConsole : public Trevalo, public ::testing::WithParamInterface<ConsoleCase> {
  protected:
    void SetUp() override {
        if (!OnWine()) GTEST_SKIP() << "the Windows build's console";
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "Wine's console needs an X display (Xvfb)";
        Trevalo::SetUp();
    }

    Driven Drive(const std::vector<std::string>& steps, const std::vector<std::string>& args) {
        std::vector<std::string> line = {WindowsBuildFile("console_driver.exe")};
        line.insert(line.end(), steps.begin(), steps.end());
        line.push_back("--");
        line.push_back(Shown(dir.File("trevalo.exe")));
        line.insert(line.end(), args.begin(), args.end());
        testsupport::ProgramOptions options = Options();
        options.timeout = 100s;  // the driver's own waits end after 30 s each
        const testsupport::ProgramResult r = testsupport::RunProgram(WineLoader(), line, options);
        Driven driven;
        std::vector<std::string> rows = SplitLines(r.out);
        const std::string vt = "virtual-terminal input: ";
        if (rows.size() < 3 || rows.back().rfind("exit code: ", 0) != 0 ||
            rows[rows.size() - 2].rfind(vt, 0) != 0) {
            driven.outcome = "no report: " + r.out + r.err;
            return driven;
        }
        driven.outcome = rows.front();
        driven.exitCode = std::atoi(rows.back().c_str() + 11);
        driven.virtualTerminalInput = rows[rows.size() - 2].substr(vt.size());
        rows.erase(rows.end() - 2, rows.end());
        rows.erase(rows.begin());
        driven.screen = testsupport::Joined(rows);
        return driven;
    }
};

TEST_P(WindowsConsole, KeysPromptsPauseAndCtrlC) {
    const ConsoleCase& c = GetParam();
    WriteIni({{"PauseBeforeExit", c.pause ? "1" : "0"}});
    std::vector<std::string> args = c.args;
    args.push_back(Script("run.avs", c.longRun ? kLong : kQuick));
    const Driven d = Drive(c.steps, args);
    SCOPED_TRACE(d.screen);
    EXPECT_EQ(d.outcome, "ok");
    if (c.exitCode != kEndedByCtrlC) {
        EXPECT_EQ(d.exitCode, c.exitCode);
    }
    const bool vtInput = c.steps.front() == "vt-input";
    EXPECT_EQ(d.virtualTerminalInput, vtInput ? "on" : "off") << "the mode the console had";
    for (const std::string& text : c.shown)
        EXPECT_TRUE(Contains(d.screen, text));
    for (const std::string& text : c.gone)
        EXPECT_FALSE(Contains(d.screen, text));
    if (c.end != nullptr) {
        EXPECT_EQ(nlohmann::json::parse(dir.Read("run.json"))["end"], c.end);
    }
    if (c.args.front() == "-log") {
        EXPECT_TRUE(dir.Exists("run.log"));
        EXPECT_TRUE(dir.Exists("run.csv"));
    }
}

INSTANTIATE_TEST_SUITE_P(Trevalo, WindowsConsole, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ConsoleCase>& row) {
                             return std::string(row.param.name);
                         });

// A pipe that stays open and brings nothing (Wine cannot peek into it): the run goes on
// to its end instead of waiting for a byte.
TEST_F(Trevalo, APipeWithoutBytesLetsTheRunGoOn) {
    if (!OnWine()) GTEST_SKIP() << "a pipe that cannot be peeked at is Wine's";
    ASSERT_EQ(mkfifo(dir.File("quiet").c_str(), 0600), 0);
    testsupport::ProgramOptions options = Options();
    options.timeout = 40s;
    // Opened for reading and writing, the FIFO never ends and never brings a byte.
    const testsupport::ProgramResult r = testsupport::RunProgram(
        "/bin/sh", {"-c", "exec \"$0\" \"$@\" 0<>quiet", exe, Script("run.avs", kQuick)}, options);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(Lines(r.err), "Frames processed:               300 (0 - 299)"));
}

}  // namespace
}  // namespace e2e
