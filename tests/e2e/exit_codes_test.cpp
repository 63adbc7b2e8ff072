// Every way out with its exit code and the message that tells the user why: 0 after a report
// or a measurement, however it stopped; 255 (-1) after every error. A file that cannot be
// written is an error only after a measurement.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>

#include "e2e/e2e.h"

namespace e2e {
namespace {

constexpr int kError = 255;

// 150 frames of 5 ms: a trial run of 0.75 s, a sample every 10 frames.
const char kQuick[] = "BlankClip(length=150, width=64, height=64)\nMSBusy(5)\n";
// The same cost in a shorter trial, for a measured run that differs from it.
const char kShortTrial[] = "BlankClip(length=120, width=64, height=64)\nMSBusy(5)\n";
const char kImport[] = "Import(\"part.avsi\")\n";

class ExitCodes;

struct ExitCase {
    const char* name;
    std::vector<std::string> args;  // "SCRIPT" stands for the script's path
    const char* script;             // the text of run.avs; nullptr writes none
    std::function<void(ExitCodes&)> prepare;
    const char* input;  // standard input
    int exitCode;
    const char* message;  // printed on either stream; "{dir}/" is the test's directory
    bool needsLinux;      // named pipes and the lock file are Linux's
};

void PrintTo(const ExitCase& c, std::ostream* os) {
    *os << c.name;
}

class ExitCodes : public Trevalo, public ::testing::WithParamInterface<ExitCase> {
  public:
    void SetUp() override {
        Trevalo::SetUp();
        options = Options();
    }
    void TearDown() override {
        if (lock >= 0) close(lock);
    }

    void Ini(const std::vector<std::pair<std::string, std::string>>& changes) { WriteIni(changes); }
    void Directory(const std::string& name) { std::filesystem::create_directory(dir.File(name)); }
    void File(const std::string& name, const std::string& text) { dir.Write(name, text); }
    std::string Path(const std::string& name) const { return dir.File(name); }
    void RunReads(const std::string& runText) {
        part = std::make_unique<TrialThenRun>(dir.Path(), "part.avsi", kShortTrial, runText);
    }
    // Another Trevalo holds the lock against a second instance.
    void HoldInstanceLock() {
        lock = open((runtimeDir + "/__trevalo__single__instance__lock__").c_str(),
                    O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
    }
    void NoLibraryOnThePath() {
        options.setEnv["LD_LIBRARY_PATH"] = runtimeDir;
        options.setEnv["WINEPATH"] = Shown(runtimeDir);
    }

    testsupport::ProgramOptions options;

  private:
    std::unique_ptr<TrialThenRun> part;
    int lock = -1;
};

const auto kNothing = [](ExitCodes&) {};

const ExitCase kCases[] = {
    // Reports and measurements: 0.
    {"Avsinfo", {"-avsinfo"}, nullptr, kNothing, "", 0, "Avisynth Interface Version:  ", false},
    {"Info", {"-info", "SCRIPT"}, kQuick, kNothing, "", 0, "\nNumber of frames:", false},
    {"LastFrame",
     {"SCRIPT"},
     kQuick,
     kNothing,
     "",
     0,
     "\nFrames processed:               150 (0 - 149)\n",
     false},
    {"TimeLimit",
     {"-timelimit=1", "SCRIPT"},
     kImport,
     [](ExitCodes& t) { t.RunReads("BlankClip(length=1000, width=64, height=64)\nMSBusy(5)\n"); },
     "",
     0,
     "\nFrames processed:",
     false},
    // Esc through a pipe stops the run at the first refresh.
    {"Esc", {"SCRIPT"}, kQuick, kNothing, "\x1b", 0, "\nFrames processed:", false},
    {"DeclinedRange",
     {"-range=5,2", "SCRIPT"},
     kQuick,
     kNothing,
     "n",
     0,
     "\nInvalid frame range specified:\n\"FrameRange=5,2\"\n",
     false},
    {"RangeTooShort",
     {"-range=0,4", "SCRIPT"},
     kQuick,
     kNothing,
     "",
     0,
     "\nThe specified frame range is too short for accurate measurements.",
     false},
    // A report-only run prints a writer's error and keeps its 0.
    {"InfoWithAnUnwritableLog",
     {"-info", "-log", "SCRIPT"},
     kQuick,
     [](ExitCodes& t) { t.Directory("run.log"); },
     "",
     0,
     "\nCannot create \"{dir}/run.log\"\n",
     false},
    {"DeclinedRangeWithAnUnwritableLog",
     {"-log", "-range=5,2", "SCRIPT"},
     kQuick,
     [](ExitCodes& t) { t.Directory("run.log"); },
     "n",
     0,
     "\nCannot create \"{dir}/run.log\"\n",
     false},
    {"InfoWithAnUnwritableResultFile",
     {"-info", "-json", "SCRIPT"},
     kQuick,
     [](ExitCodes& t) { t.Directory("run.json"); },
     "",
     0,
     "\nCannot create \"{dir}/run.json\"\n",
     false},

    // Errors before anything is measured: 255.
    {"NoArguments",
     {},
     nullptr,
     kNothing,
     "",
     kError,
     "Usage:  Trevalo script.avs [switches]",
     false},
    {"UnknownSwitch",
     {"-fast", "SCRIPT"},
     kQuick,
     kNothing,
     "",
     kError,
     "\nInvalid argument: \"-fast\"\n",
     false},
    {"PriorityOutOfRange",
     {"-priority=0", "SCRIPT"},
     kQuick,
     kNothing,
     "",
     kError,
     "\nInvalid parameter value: \"-priority=0\"\nValue must be between 1 and 3\n",
     false},
    {"TimeLimitOutOfRange",
     {"-timelimit=1000000", "SCRIPT"},
     kQuick,
     kNothing,
     "",
     kError,
     "\nInvalid parameter value: \"-timelimit=1000000\"\nValue must be between 1 and 999999\n",
     false},
    {"RangeWithoutLast",
     {"-range=5", "SCRIPT"},
     kQuick,
     kNothing,
     "",
     kError,
     "\nInvalid parameter format: \"-range=5\"\n",
     false},
    {"MissingScript",
     {"absent.avs"},
     nullptr,
     kNothing,
     "",
     kError,
     "\nFile not found: \"absent.avs\"\n",
     false},
    {"NoScript", {"-log"}, nullptr, kNothing, "", kError, "\nNo script file specified\n", false},
    {"ConfigurationError",
     {"SCRIPT"},
     kQuick,
     [](ExitCodes& t) { t.Directory("Trevalo.ini"); },
     "",
     kError,
     "\nCannot create \"{dir}/Trevalo.ini\"\n",
     false},
    {"MissingAvsdll",
     {"SCRIPT"},
     kQuick,
     [](ExitCodes& t) {
         t.Ini({{"AVSDLL", t.Path("absent/libavisynth.so")}});
     },
     "",
     kError,
     "\nSpecified avisynth.dll does not exist:\n",
     false},
    {"NoLibrary",
     {"SCRIPT"},
     kQuick,
     [](ExitCodes& t) { t.NoLibraryOnThePath(); },
     "",
     kError,
     "\nCannot load avisynth.dll\n",
     false},
    {"NotALibrary",
     {"SCRIPT"},
     kQuick,
     [](ExitCodes& t) {
         t.File("text.so", "not a library\n");
         t.Ini({{"AVSDLL", t.Path("text.so")}});
     },
     "",
     kError,
     "\nCannot load avisynth.dll\n",
     false},
    {"LibraryTooOld",
     {"SCRIPT"},
     kQuick,
     [](ExitCodes& t) {
         t.Ini({{"AVSDLL", VariantLibrary("no-linkage")}});
     },
     "",
     kError,
     ").\nPlease update to Avisynth 2.6 or Avisynth+.\n",
     false},
    {"NoEntryPoint",
     {"SCRIPT"},
     kQuick,
     [](ExitCodes& t) {
         t.Ini({{"AVSDLL", VariantLibrary("no-create-entry")}});
     },
     "",
     kError,
     "Failed to load CreateScriptEnvironment()",
     false},
    {"NoEnvironment",
     {"SCRIPT"},
     kQuick,
     [](ExitCodes& t) {
         t.Ini({{"AVSDLL", VariantLibrary("env-refused")}});
     },
     "",
     kError,
     "Could not create IScriptenvironment",
     false},
    {"SecondInstance",
     {"SCRIPT"},
     kQuick,
     [](ExitCodes& t) { t.HoldInstanceLock(); },
     "",
     kError,
     "\nOne instance of Trevalo is already running\n",
     true},
    {"GpuMonitoringDeclined",
     {"-gpu", "SCRIPT"},
     kQuick,
     kNothing,
     "n",
     kError,
     "\nIn order to measure GPU usage, ",
     false},
    {"GpuQuestionUnanswered",
     {"-gpu", "SCRIPT"},
     kQuick,
     kNothing,
     "",
     kError,
     "\nIn order to measure GPU usage, ",
     false},
    {"TrialScriptError",
     {"SCRIPT"},
     "BlankClip(\n",
     kNothing,
     "",
     kError,
     "\nScript error: syntax error",
     false},
    {"TrialNoClip",
     {"SCRIPT"},
     "42\n",
     kNothing,
     "",
     kError,
     "\nScript did not return a video clip:",
     false},
    {"TrialFault",
     {"SCRIPT"},
     "BlankClip(length=100)\nMSFault(3, \"access\")\n",
     kNothing,
     "",
     kError,
     "\nException 0xC0000005\nSTATUS_ACCESS_VIOLATION\n",
     false},
    {"TrialTooFast",
     {"SCRIPT"},
     "BlankClip(length=10)\n",
     kNothing,
     "",
     kError,
     "\nScript runtime is too short for accurate measurements\n",
     false},

    // Errors during the run's own load and measurement: 255, and the log is forced.
    {"LoadError",
     {"SCRIPT"},
     kImport,
     [](ExitCodes& t) { t.RunReads("BlankClip(\n"); },
     "",
     kError,
     "\nScript error: syntax error",
     true},
    {"ErrorDuringTheRun",
     {"SCRIPT"},
     kImport,
     [](ExitCodes& t) { t.RunReads(std::string(kQuick) + "MSFault(100, \"error\", \"boom\")\n"); },
     "",
     kError,
     "\nboom\n",
     true},
    {"FaultDuringTheRun",
     {"SCRIPT"},
     kImport,
     [](ExitCodes& t) { t.RunReads(std::string(kQuick) + "MSFault(100, \"divide\")\n"); },
     "",
     kError,
     "\nException 0xC0000094\nSTATUS_INTEGER_DIVIDE_BY_ZERO\n",
     true},

    // A file that cannot be written after a measurement: 255.
    {"UnwritableLog",
     {"-log", "SCRIPT"},
     kQuick,
     [](ExitCodes& t) { t.Directory("run.log"); },
     "",
     kError,
     "\nCannot create \"{dir}/run.log\"\n",
     false},
    {"UnwritableCsv",
     {"-csv", "SCRIPT"},
     kQuick,
     [](ExitCodes& t) { t.Directory("run.csv"); },
     "",
     kError,
     "\nCannot create \"{dir}/run.csv\"\n",
     false},
    {"UnwritableResultFile",
     {"-json", "SCRIPT"},
     kQuick,
     [](ExitCodes& t) { t.Directory("run.json"); },
     "",
     kError,
     "\nCannot create \"{dir}/run.json\"\n",
     false},
    {"UnwritableChart",
     {"-chart", "SCRIPT"},
     kQuick,
     [](ExitCodes& t) { t.Directory("run.svg"); },
     "",
     kError,
     "\nCannot create \"{dir}/run.svg\"\n",
     false},
    {"UnwritableLogAfterAnEarlyStop",
     {"-log", "SCRIPT"},
     kQuick,
     [](ExitCodes& t) { t.Directory("run.log"); },
     "\x1b",
     kError,
     "\nCannot create \"{dir}/run.log\"\n",
     false},
};

TEST_P(ExitCodes, EachWayOutHasItsCodeAndItsMessage) {
    const ExitCase& c = GetParam();
    if (c.needsLinux && OnWine()) GTEST_SKIP() << "a named pipe or the lock file";
    if (c.script != nullptr) Script("run.avs", c.script);
    c.prepare(*this);
    std::vector<std::string> args = c.args;
    for (std::string& arg : args)
        if (arg == "SCRIPT") arg = dir.File("run.avs");
    options.stdinText = c.input;
    const testsupport::ProgramResult r = testsupport::RunProgram(exe, args, options);
    const std::string shown = LastWrites(Lines(r.out)) + LastWrites(Lines(r.err));
    EXPECT_TRUE(r.exited) << "killed by signal " << r.termSignal;
    EXPECT_EQ(r.exitCode, c.exitCode) << shown;
    std::string message = c.message;
    const size_t at = message.find("{dir}/");
    if (at != std::string::npos) message.replace(at, 6, Shown(dir.Path() + "/"));
    EXPECT_NE(shown.find(message), std::string::npos) << message << "\n---\n" << shown;
}

INSTANTIATE_TEST_SUITE_P(Trevalo, ExitCodes, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ExitCase>& row) {
                             return std::string(row.param.name);
                         });

}  // namespace
}  // namespace e2e
