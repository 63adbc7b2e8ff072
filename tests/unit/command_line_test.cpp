// The command line: switches, values and their bounds, script names, messages.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>

#include "app/command_line.h"
#include "app/config.h"
#include "support/process.h"
#include "sys/paths.h"

namespace {

// The messages, each with the argument as typed.
using Text = const std::string&;
const auto Invalid = [](Text arg) { return "\nInvalid argument: \"" + arg + "\"\n"; };
const auto NotFound = [](Text arg) { return "\nFile not found: \"" + arg + "\"\n"; };
const auto BadFormat = [](Text arg) { return "\nInvalid parameter format: \"" + arg + "\"\n"; };
const auto BadValue = [](Text arg, Text bounds) {
    return "\nInvalid parameter value: \"" + arg + "\"\nValue must be between " + bounds + "\n";
};
const std::string kCompareUsage =
    "\n-compare takes two or more scripts, or two result files:\n"
    "Trevalo -compare a.avs b.avs [c.avs ...] [switches]\n"
    "Trevalo -compare a.json b.json\n";

// Parsing in a directory holding clip.avs, other.avs and Upper.AVS, made the current one.
class CommandLine : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = sys::CurrentDirectory();
        ASSERT_EQ(chdir(dir_.Path().c_str()), 0);
        cwd_ = sys::CurrentDirectory();
        for (const char* name : {"clip.avs", "other.avs", "Upper.AVS"})
            dir_.Write(name, "Version()\n");
    }
    void TearDown() override { EXPECT_EQ(chdir(saved_.c_str()), 0); }

    // The message of a failed parse, or what a successful one set apart from the defaults,
    // with the current directory written as "$".
    std::string Parse(const std::vector<std::string>& args, bool autoComplete, bool csvFromIni) {
        settings_ = RunSettings();
        settings_.AutoCompleteExtension = autoComplete;
        settings_.CreateCSV = csvFromIni;
        request_ = CommandLineRequest();
        std::string message;
        if (!ParseArguments(args, settings_, request_, message)) return message;
        const RunSettings& s = settings_;
        std::ostringstream out;
        out << (s.CreateLog ? "log " : "") << (s.CreateCSV ? "csv " : "")
            << (s.MonitorGPULoad ? "gpu " : "") << (request_.clipInfoRequested ? "info " : "")
            << (request_.jsonRequested ? "json " : "") << (request_.chartRequested ? "chart " : "")
            << (request_.avisynthInfoRequested ? "avsinfo " : "");
        if (!s.FrameRangeText.empty() || s.FrameRangeFirst != 0 || s.FrameRangeLast != -1) {
            out << "range " << s.FrameRangeFirst << " " << s.FrameRangeLast << " ("
                << s.FrameRangeText << ") ";
        }
        if (s.ProcessPriority != 2) out << "priority " << int(s.ProcessPriority) << " ";
        if (s.TimeLimit != -1) out << "limit " << s.TimeLimit << " ";
        if (s.Runs != 1) out << "runs " << s.Runs << (request_.runsGiven ? "" : " (ini)") << " ";
        for (std::string compared : request_.comparedScripts)
            out << "compare " << compared.replace(0, cwd_.size(), "$") << " ";
        std::string script = request_.scriptPath;
        if (script.rfind(cwd_ + "/", 0) == 0) script.replace(0, cwd_.size(), "$");
        if (!script.empty()) out << "script " << script << " ";
        out << "[" << request_.switchesText << "]";
        return out.str();
    }

    testsupport::TempDir dir_;
    std::string saved_, cwd_;
    RunSettings settings_;
    CommandLineRequest request_;
};

TEST_F(CommandLine, ArgumentsAndTheirResultsOrMessages) {
    const std::string big = std::string(27, '1');
    struct Case {
        std::vector<std::string> args;
        std::string expected;
        bool autoComplete = false, csvFromIni = false;
    };
    std::vector<Case> cases = {
        // Switches: any case, blanks around them ignored, typed text kept for the log.
        {{"-log", "-csv", "-gpu", "-info", "-avsinfo"},
         "log csv gpu info avsinfo [-log -csv -gpu -info -avsinfo]"},
        {{"-l", "-i"}, "log csv info [-l -i]", false, true},  // the INI's CSV setting stays
        {{"-JSON", "-chart"}, "json chart [-JSON -chart]"},
        // Scripts to compare, two or more, -compare anywhere; result files are taken apart before.
        {{"-compare"}, kCompareUsage},
        {{"clip.avs", "-compare"}, kCompareUsage},
        {{"clip.avs", "-Runs=7", "other.avs", "-compare", "clip.avs"},
         "runs 7 compare $/clip.avs compare $/other.avs compare $/clip.avs script $/clip.avs "
         "[-Runs=7 -compare]"},
        {{"-compare", "clip.avs", "missing.avs"}, NotFound("missing.avs")},
        {{"-compare", "a.json", "b.json", "-log"}, kCompareUsage},
        {{"-LOG", " -log ", "\t-Csv\r\n"}, "log csv [-LOG -log -Csv]"},
        {{""}, Invalid(""), true},
        {{"-csv", "-bogus", "-log"}, Invalid("-bogus")},
        // Values: checked against the clip later, so any order is accepted here.
        {{"-avsinfo", "-Range=0,99", "clip.avs"},
         "avsinfo range 0 99 (FrameRange=0,99) script $/clip.avs [-avsinfo -Range=0,99]"},
        {{"-range=0,-1"}, "range 0 -1 (FrameRange=0,-1) [-range=0,-1]"},
        {{"-RANGE=5,2"}, "range 5 2 (FrameRange=5,2) [-RANGE=5,2]"},
        {{"-range=" + big + ",3"},
         "range 9223372036854775807 3 (FrameRange=" + big + ",3) [-range=" + big + ",3]"},
        {{"-Priority=1"}, "priority 1 [-Priority=1]"},
        {{"-timelimit=999999"}, "limit 999999 [-timelimit=999999]"},
        {{"-timelimit=1-2"}, "limit 1 [-timelimit=1-2]"},
        {{"-priority=1", "-range=1,2", "-timelimit=5", "-priority=3", "-range=3,4", "-timelimit=6"},
         "range 3 4 (FrameRange=3,4) priority 3 limit 6 "
         "[-priority=1 -range=1,2 -timelimit=5 -priority=3 -range=3,4 -timelimit=6]"},
        // Script names: made absolute, extension in any case, the last one counts.
        {{"./sub/../other.avs"}, "script $/other.avs []"},
        {{cwd_ + "/clip.avs"}, "script $/clip.avs []"},
        {{"Upper.AVS"}, "script $/Upper.AVS []"},
        {{"clip.avs", "-log", "other.avs"}, "log script $/other.avs [-log]"},
        {{"missing.avs", "other.avs"}, NotFound("missing.avs")},
        {{"clip.avs", "missing.avs"}, NotFound("missing.avs")},
        // Completion adds ".avs" to one bare name only.
        {{"clip"}, "script $/clip.avs []", true},
        {{"clip", "other.avs"}, "script $/other.avs []", true},
        {{"clip", "other"}, Invalid("other"), true},
        {{"clip.avs", "other"}, Invalid("other"), true},
        {{"nothere"}, NotFound("nothere.avs"), true},
        {{".avs"}, NotFound(".avs.avs"), true},
        {{"-range=" + big + "1,3"}, BadFormat("-range=" + big + "1,3")},  // 28 digits
    };
    // Near misses of switches, no script names; the raw text is shown.
    for (const char* arg :
         {"-logs", "--log", "-range", "/log", "", "  ", ".avs", "clip.avsx", "clip"})
        cases.push_back({{arg}, Invalid(arg)});
    for (const char* arg : {"Missing.AVS", " sub/../missing.avs"})
        cases.push_back({{arg}, NotFound(arg)});
    for (const char* arg : {"-range=10", "-range=,5", "-range=a,b", "-range=1,", " -Range=A,B ",
                            "-range=1, 2", "-range="})
        cases.push_back({{arg}, BadFormat(arg)});
    for (const char* arg : {"-priority=0", "-priority=4", "-priority=257",
                            "-priority=", "-priority=abc", "-priority=-2", "-priority=+2"})
        cases.push_back({{arg}, BadValue(arg, "1 and 3")});
    for (const char* arg : {"-timelimit=0", "-timelimit=1000000", "-timelimit=", "-timelimit=10s",
                            "-TimeLimit=-5", "-timelimit=99999999999"})
        cases.push_back({{arg}, BadValue(arg, "1 and 999999")});
    for (const char* arg : {"-runs=0", "-runs=1001", "-runs=", "-runs=x", "-runs=-1"})
        cases.push_back({{arg}, BadValue(arg, "1 and 1000")});
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args) + (c.autoComplete ? " completing" : ""));
        EXPECT_EQ(Parse(c.args, c.autoComplete, c.csvFromIni), c.expected);
    }

    // Parsing stops at the first invalid argument; a malformed range leaves its marker.
    Parse({"-csv", "-bogus", "-log"}, false, false);
    EXPECT_TRUE(settings_.CreateCSV && !settings_.CreateLog);
    Parse({"-range=1,"}, false, false);
    EXPECT_EQ(settings_.FrameRangeFirst, kUnparsedRange);
    EXPECT_EQ(settings_.FrameRangeLast, kUnparsedRange);
}

// -compare anywhere with exactly two result files, which keep their order; with anything
// but result files it compares scripts.
TEST(CompareArguments, TwoFilesAndNothingElse) {
    const struct {
        std::vector<std::string> args;
        const char* parsed;  // "A|B", "" when refused, nullptr when scripts are compared
    } cases[] = {{{" -Compare ", "a.json", "B.JSON"}, "a.json|B.JSON"},
                 {{"a.json", "-compare", "b.json"}, "a.json|b.json"},
                 {{"-compare", "a.json"}, ""},
                 {{"-compare", "-compare", "a.json"}, ""},
                 {{"-compare", "a.json", "b.json", "c.json"}, ""},
                 {{"-compare", "a.json", "b.json", "-log"}, nullptr},
                 {{"-compare", "a.avs", "b.avs"}, nullptr},
                 {{"-compared", "a.json", "b.json"}, nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        std::string a, b, message;
        EXPECT_EQ(IsCompareCommand(c.args), c.parsed != nullptr);
        if (c.parsed == nullptr) continue;
        const bool parsed = ParseCompareArguments(c.args, a, b, message);
        EXPECT_EQ(parsed ? a + "|" + b : "", c.parsed);
        EXPECT_EQ(message.empty(), parsed) << message;
    }
}

}  // namespace
