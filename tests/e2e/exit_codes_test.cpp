// Every way out's exit code and message: 0 after a report or measurement however stopped, 255
// after an error; an unwritable file is an error only after a measurement.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <sstream>

#include "e2e/e2e.h"

namespace e2e {
namespace {

// 150 frames of 5 ms: a trial run of 0.75 s, a sample every 10 frames.
const char kQuick[] = "BlankClip(length=150, width=64, height=64)\nMSBusy(5)\n";
// The same cost in a shorter trial, for a measured run that differs from it.
const char kShortTrial[] = "BlankClip(length=120, width=64, height=64)\nMSBusy(5)\n";
const char kImport[] = "Import(\"part.avsi\")\n";

class ExitCodes;
using Prepare = std::function<void(ExitCodes&)>;

struct ExitCase {
    const char* name;
    const char* args;    // split at blanks; SCRIPT stands for the script's path
    const char* script;  // the text of run.avs; nullptr writes none
    Prepare prepare;     // may be null
    const char* input;   // standard input
    int exitCode;
    const char* message;           // printed on either stream; "{dir}/" is the test's directory
    bool needsLinux = false;       // named pipes and the lock file are Linux's
    const char* leaves = nullptr;  // a file this way out still writes
};

void PrintTo(const ExitCase& c, std::ostream* os) {  // names, not bytes, in test names
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

    using Trevalo::dir;
    using Trevalo::runtimeDir;
    using Trevalo::WriteIni;
    testsupport::ProgramOptions options;
    std::unique_ptr<TrialThenRun> part;
    int lock = -1;
};

// A directory where the program would write the file.
Prepare Blocked(const std::string& name) {
    return [name](ExitCodes& t) { std::filesystem::create_directory(t.dir.File(name)); };
}
// The library named in the INI file; "{dir}/" is the test's directory.
Prepare Avsdll(const std::string& library) {
    return [library](ExitCodes& t) {
        const bool inDir = library.rfind("{dir}/", 0) == 0;
        // As the program would name it, since it shows the INI's text as it stands.
        t.WriteIni({{"AVSDLL", inDir ? Shown(t.dir.Path() + "/") + library.substr(6) : library}});
    };
}
Prepare Runs(const std::string& runText) {
    return [runText](ExitCodes& t) {
        t.part = std::make_unique<TrialThenRun>(t.dir.Path(), "part.avsi", kShortTrial, runText);
    };
}
const Prepare kNoLibraryOnThePath = [](ExitCodes& t) {
    t.options.setEnv["LD_LIBRARY_PATH"] = t.runtimeDir;
    t.options.setEnv["WINEPATH"] = Shown(t.runtimeDir);
};
const Prepare kTextAsLibrary = [](ExitCodes& t) {
    t.dir.Write("text.so", "not a library\n");
    Avsdll("{dir}/text.so")(t);
};
// Another Trevalo holds the lock against a second instance.
const Prepare kHoldLock = [](ExitCodes& t) {
    t.lock = open((t.runtimeDir + "/__trevalo__single__instance__lock__").c_str(),
                  O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(flock(t.lock, LOCK_EX | LOCK_NB), 0);
};
// The system's reason follows the name.
const char kCannotCreateLog[] = "\nCannot create \"{dir}/run.log\": ";

const ExitCase kCases[] = {
    // Reports and measurements: 0.
    {"Avsinfo", "-avsinfo", nullptr, nullptr, "", 0, "Avisynth Interface Version:  "},
    {"Info", "-info SCRIPT", kQuick, nullptr, "", 0, "\nNumber of frames:"},
    {"LastFrame", "SCRIPT", kQuick, nullptr, "", 0,
     "\nFrames processed:               150 (0 - 149)\n"},
    {"TimeLimit", "-timelimit=1 SCRIPT", kImport,
     Runs("BlankClip(length=1000, width=64, height=64)\nMSBusy(5)\n"), "", 0,
     "\nFrames processed:"},
    // Esc through a pipe stops the run at the first refresh.
    {"Esc", "SCRIPT", kQuick, nullptr, "\x1b", 0, "\nFrames processed:"},
    {"DeclinedRange", "-range=5,2 SCRIPT", kQuick, nullptr, "n", 0,
     "\nInvalid frame range specified:\n\"FrameRange=5,2\"\n"},
    {"RangeTooShort", "-range=0,4 SCRIPT", kQuick, nullptr, "", 0,
     "\nThe specified frame range is too short for accurate measurements."},
    // A report-only run prints a writer's error and keeps its 0.
    {"InfoWithAnUnwritableLog", "-info -log SCRIPT", kQuick, Blocked("run.log"), "", 0,
     kCannotCreateLog},
    {"DeclinedRangeWithAnUnwritableLog", "-log -range=5,2 SCRIPT", kQuick, Blocked("run.log"), "n",
     0, kCannotCreateLog},
    {"InfoWithAnUnwritableResultFile", "-info -json SCRIPT", kQuick, Blocked("run.json"), "", 0,
     "\nCannot create \"{dir}/run.json\": "},

    // Errors before anything is measured: 255.
    {"NoArguments", "", nullptr, nullptr, "", kErrorStatus,
     "Usage:  Trevalo script.avs [switches]"},
    {"UnknownSwitch", "-fast SCRIPT", kQuick, nullptr, "", kErrorStatus,
     "\nInvalid argument: \"-fast\"\n"},
    {"PriorityOutOfRange", "-priority=0 SCRIPT", kQuick, nullptr, "", kErrorStatus,
     "\nInvalid parameter value: \"-priority=0\"\nValue must be between 1 and 3\n"},
    {"TimeLimitOutOfRange", "-timelimit=1000000 SCRIPT", kQuick, nullptr, "", kErrorStatus,
     "\nInvalid parameter value: \"-timelimit=1000000\"\nValue must be between 1 and 999999\n"},
    {"RangeWithoutLast", "-range=5 SCRIPT", kQuick, nullptr, "", kErrorStatus,
     "\nInvalid parameter format: \"-range=5\"\n"},
    {"MissingScript", "absent.avs", nullptr, nullptr, "", kErrorStatus,
     "\nFile not found: \"absent.avs\"\n"},
    {"NoScript", "-log", nullptr, nullptr, "", kErrorStatus, "\nNo script file specified\n"},
    {"ConfigurationError", "SCRIPT", kQuick, Blocked("Trevalo.ini"), "", kErrorStatus,
     "\nCannot create \"{dir}/Trevalo.ini\": "},
    {"MissingAvsdll", "SCRIPT", kQuick, Avsdll("{dir}/absent/libavisynth.so"), "", kErrorStatus,
     "\nSpecified {lib} does not exist:\n{dir}/absent/libavisynth.so\n"},
    // How to point the program at a library: the INI file it reads, or the loader's path.
    {"NoLibrary", "SCRIPT", kQuick, kNoLibraryOnThePath, "", kErrorStatus,
     "{lib} in \"{dir}/Trevalo.ini\", or add the library's folder to "},
    {"NotALibrary", "SCRIPT", kQuick, kTextAsLibrary, "", kErrorStatus, "\nCannot load {lib}\n"},
    {"LibraryTooOld", "SCRIPT", kQuick, Avsdll(VariantLibrary("no-linkage")), "", kErrorStatus,
     ").\nPlease update to Avisynth 2.6 or Avisynth+.\n"},
    {"NoEntryPoint", "SCRIPT", kQuick, Avsdll(VariantLibrary("no-create-entry")), "", kErrorStatus,
     "Failed to load CreateScriptEnvironment()"},
    {"NoEnvironment", "SCRIPT", kQuick, Avsdll(VariantLibrary("env-refused")), "", kErrorStatus,
     "Could not create IScriptenvironment (AVISYNTH_INTERFACE_VERSION = 5)"},
    {"SecondInstance", "SCRIPT", kQuick, kHoldLock, "", kErrorStatus,
     "\nOne instance of Trevalo is already running\n", true},
    {"GpuMonitoringDeclined", "-gpu SCRIPT", kQuick, nullptr, "n", kErrorStatus,
     "\nIn order to measure GPU usage, "},
    {"GpuQuestionUnanswered", "-gpu SCRIPT", kQuick, nullptr, "", kErrorStatus,
     "\nIn order to measure GPU usage, "},
    {"TrialScriptError", "SCRIPT", "BlankClip(\n", nullptr, "", kErrorStatus,
     "\nScript error: syntax error"},
    {"TrialNoClip", "SCRIPT", "42\n", nullptr, "", kErrorStatus,
     "\nScript did not return a video clip:\n({dir}/run.avs)"},
    {"TrialFault", "SCRIPT", "BlankClip(length=100)\nMSFault(3, \"access\")\n", nullptr, "",
     kErrorStatus, "\nException 0xC0000005\nSTATUS_ACCESS_VIOLATION\n"},
    {"TrialFaultOnAWorker", "SCRIPT",
     "BlankClip(length=400, width=64, height=64)\nMSBusy(2)\n"
     "MSFault(50, \"divide\")\nPrefetch(2)\n",
     nullptr, "", kErrorStatus, "\nException 0xC0000094\nSTATUS_INTEGER_DIVIDE_BY_ZERO\n"},
    {"TrialEmptyClip", "SCRIPT", "BlankClip(length=0, width=64, height=64)\n", nullptr, "",
     kErrorStatus, "\n\"{dir}/run.avs\":\nScript returned a clip without frames"},
    {"TrialSilentError", "SCRIPT", "BlankClip(length=100)\nMSFault(3, \"error\", \"\")\n", nullptr,
     "", kErrorStatus, "\nFrame 3 could not be rendered; the frame server gave no reason."},
    // -info loads the script as the run does; its errors force the log too.
    {"InfoScriptError", "-info SCRIPT", "BlankClip(\n", nullptr, "", kErrorStatus,
     "\nScript error: syntax error", false, "run.log"},
    {"InfoNoClip", "-info SCRIPT", "42\n", nullptr, "", kErrorStatus,
     "\n\"{dir}/run.avs\":\nScript did not return a clip", false, "run.log"},
    {"TrialTooFast", "SCRIPT", "BlankClip(length=10)\n", nullptr, "", kErrorStatus,
     "\nScript runtime is too short for accurate measurements\n"},

    // Errors during the run's own load and measurement: 255, and the log is forced.
    {"LoadError", "SCRIPT", kImport, Runs("BlankClip(\n"), "", kErrorStatus,
     "\nScript error: syntax error", true, "run.log"},
    {"ErrorDuringTheRun", "SCRIPT", kImport,
     Runs(std::string(kQuick) + "MSFault(100, \"error\", \"boom\")\n"), "", kErrorStatus,
     "\nboom\n", true, "run.log"},
    {"FaultDuringTheRun", "SCRIPT", kImport,
     Runs(std::string(kQuick) + "MSFault(100, \"divide\")\n"), "", kErrorStatus,
     "\nException 0xC0000094\nSTATUS_INTEGER_DIVIDE_BY_ZERO\n", true},

    // A file that cannot be written after a measurement: 255.
    {"UnwritableLog", "-log -csv SCRIPT", kQuick, Blocked("run.log"), "", kErrorStatus,
     kCannotCreateLog, false, "run.csv"},
    {"UnwritableCsv", "-csv SCRIPT", kQuick, Blocked("run.csv"), "", kErrorStatus,
     "\nCannot create \"{dir}/run.csv\": "},
    {"UnwritableResultFile", "-json SCRIPT", kQuick, Blocked("run.json"), "", kErrorStatus,
     "\nCannot create \"{dir}/run.json\": "},
    {"UnwritableChart", "-chart SCRIPT", kQuick, Blocked("run.svg"), "", kErrorStatus,
     "\nCannot create \"{dir}/run.svg\": "},
    {"UnwritableLogAfterAnEarlyStop", "-log SCRIPT", kQuick, Blocked("run.log"), "\x1b",
     kErrorStatus, kCannotCreateLog},
};

TEST_P(ExitCodes, EachWayOutHasItsCodeAndItsMessage) {
    const ExitCase& c = GetParam();
    if (c.needsLinux && OnWine()) GTEST_SKIP() << "a named pipe or the lock file";
    if (c.script != nullptr) Script("run.avs", c.script);
    if (c.prepare) c.prepare(*this);
    std::vector<std::string> args;
    std::istringstream words(c.args);
    for (std::string arg; words >> arg;)
        args.push_back(arg == "SCRIPT" ? dir.File("run.avs") : arg);
    options.stdinText = c.input;
    const testsupport::ProgramResult r = testsupport::RunProgram(exe, args, options);
    const std::string shown = LastWrites(Lines(r.out)) + LastWrites(Lines(r.err));
    EXPECT_TRUE(r.exited) << "killed by signal " << r.termSignal;
    EXPECT_EQ(r.exitCode, c.exitCode) << shown;
    std::string message = c.message;
    const size_t at = message.find("{dir}/");
    if (at != std::string::npos) message.replace(at, 6, Shown(dir.Path() + "/"));
    const size_t lib = message.find("{lib}");
    if (lib != std::string::npos) message.replace(lib, 5, LibraryFileName());
    EXPECT_TRUE(Contains(shown, message));
    if (c.leaves != nullptr) {
        EXPECT_TRUE(dir.Exists(c.leaves)) << c.leaves;
    }
}

INSTANTIATE_TEST_SUITE_P(Trevalo, ExitCodes, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ExitCase>& row) {
                             return std::string(row.param.name);
                         });

// Output that cannot be written fails the run, whatever else went well; standard error says why.
TEST_F(Trevalo, OutputThatGoesNowhereEndsWith255) {
    SKIP_ON_WINE("/dev/full");
    const std::string script = Script("run.avs", kQuick);
    ASSERT_EQ(Run({"-json", script}).exitCode, 0);
    testsupport::ProgramOptions options = Options();
    options.stdoutFile = "/dev/full";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-avsinfo"},
          {"-compare", dir.File("run.json"), dir.File("run.json")},
          {"-info", script}}) {
        // The run's lines go to standard error unless the console is standard output.
        if (args[0] == "-info") WriteIni({{"ConUseSTDOUT", "1"}});
        const testsupport::ProgramResult r = testsupport::RunProgram(exe, args, options);
        EXPECT_EQ(r.exitCode, kErrorStatus) << args[0];
        EXPECT_TRUE(
            Contains(r.err, "\nCannot write to standard output: No space left on device\n"));
    }
    options.stdoutFile = "/dev/null";
    EXPECT_EQ(testsupport::RunProgram(exe, {"-avsinfo"}, options).exitCode, 0);
}

}  // namespace
}  // namespace e2e
