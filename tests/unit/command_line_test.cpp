// The command line: switches, values and their bounds, script names, messages.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/command_line.h"
#include "sys/paths.h"

namespace {

// A scratch directory holding two scripts, made the current directory for relative names.
class CommandLineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = sys::CurrentDirectory();
        ASSERT_FALSE(saved_.empty());
        std::string pattern = std::filesystem::temp_directory_path().string() + "/cmdline_XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        ASSERT_EQ(chdir(dir_.c_str()), 0);
        cwd_ = sys::CurrentDirectory();
        std::ofstream("clip.avs") << "Version()\n";
        std::ofstream("other.avs") << "Version()\n";
        std::ofstream("Upper.AVS") << "Version()\n";
    }
    void TearDown() override {
        if (!saved_.empty()) {
            EXPECT_EQ(chdir(saved_.c_str()), 0);
        }
        std::error_code ignored;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
    }

    bool Parse(const std::vector<std::string>& args) {
        return ParseArguments(args, settings_, request_, message_);
    }
    // Parses what must fail and gives the message.
    std::string Fail(const std::vector<std::string>& args) {
        EXPECT_FALSE(Parse(args));
        return message_;
    }
    std::string InCwd(const std::string& name) const { return cwd_ + "/" + name; }

    std::string saved_, dir_, cwd_;
    RunSettings settings_;
    CommandLineRequest request_;
    std::string message_;
};

std::string Invalid(const std::string& text) {
    return "\nInvalid argument: \"" + text + "\"\n";
}
std::string NotFound(const std::string& text) {
    return "\nFile not found: \"" + text + "\"\n";
}
std::string BadFormat(const std::string& text) {
    return "\nInvalid parameter format: \"" + text + "\"\n";
}
std::string BadPriority(const std::string& text) {
    return "\nInvalid parameter value: \"" + text + "\"\nValue must be between 1 and 3\n";
}
std::string BadTimeLimit(const std::string& text) {
    return "\nInvalid parameter value: \"" + text + "\"\nValue must be between 1 and 999999\n";
}

// ---------------------------------------------------------------------------------------------
// Switches

TEST_F(CommandLineTest, FlagSwitchesSwitchFeaturesOn) {
    ASSERT_TRUE(Parse({"-log", "-csv", "-gpu", "-info", "-avsinfo"}));
    EXPECT_EQ(settings_.CreateLog, 1);
    EXPECT_EQ(settings_.CreateCSV, 1);
    EXPECT_EQ(settings_.MonitorGPULoad, 1);
    EXPECT_TRUE(request_.clipInfoRequested);
    EXPECT_TRUE(request_.avisynthInfoRequested);
    EXPECT_EQ(request_.scriptPath, "");
    EXPECT_EQ(request_.switchesText, "-log -csv -gpu -info -avsinfo");
}

TEST_F(CommandLineTest, ShortFormsAndNothingSwitchedOff) {
    settings_.CreateCSV = 1;
    ASSERT_TRUE(Parse({"-l", "-i"}));
    EXPECT_EQ(settings_.CreateLog, 1);
    EXPECT_TRUE(request_.clipInfoRequested);
    EXPECT_EQ(settings_.CreateCSV, 1);  // the INI setting stays
}

TEST_F(CommandLineTest, SwitchesIgnoreCaseAndSurroundingBlanks) {
    ASSERT_TRUE(Parse({"-LOG", " -log ", "\t-Csv\r\n"}));
    EXPECT_EQ(settings_.CreateLog, 1);
    EXPECT_EQ(settings_.CreateCSV, 1);
    EXPECT_EQ(request_.switchesText, "-LOG -log -Csv");
}

TEST_F(CommandLineTest, SwitchesTextKeepsTheTypedSwitchesButNotTheScript) {
    ASSERT_TRUE(Parse({"-avsinfo", "-Range=0,99", "clip.avs"}));
    EXPECT_EQ(request_.switchesText, "-avsinfo -Range=0,99");
    EXPECT_TRUE(request_.avisynthInfoRequested);
    EXPECT_EQ(request_.scriptPath, InCwd("clip.avs"));
    EXPECT_EQ(settings_.FrameRangeFirst, 0);
    EXPECT_EQ(settings_.FrameRangeLast, 99);
    EXPECT_EQ(settings_.FrameRangeText, "FrameRange=0,99");
}

TEST_F(CommandLineTest, NearMissesOfSwitchesAreInvalid) {
    EXPECT_EQ(Fail({"-logs"}), Invalid("-logs"));
    EXPECT_EQ(Fail({"--log"}), Invalid("--log"));
    EXPECT_EQ(Fail({"-range"}), Invalid("-range"));
    EXPECT_EQ(Fail({"/log"}), Invalid("/log"));
}

TEST_F(CommandLineTest, ParsingStopsAtTheFirstInvalidArgument) {
    EXPECT_EQ(Fail({"-csv", "-bogus", "-log"}), Invalid("-bogus"));
    EXPECT_EQ(settings_.CreateCSV, 1);
    EXPECT_EQ(settings_.CreateLog, 0);
}

TEST_F(CommandLineTest, EmptyArgumentsAreInvalid) {
    EXPECT_EQ(Fail({""}), Invalid(""));
    EXPECT_EQ(Fail({"  "}), Invalid("  "));
    settings_.AutoCompleteExtension = 1;
    EXPECT_EQ(Fail({""}), Invalid(""));
}

// ---------------------------------------------------------------------------------------------
// Values

TEST_F(CommandLineTest, RangeForms) {
    ASSERT_TRUE(Parse({"-range=0,-1"}));
    EXPECT_EQ(settings_.FrameRangeFirst, 0);
    EXPECT_EQ(settings_.FrameRangeLast, -1);

    // Accepted here; whether it fits the clip is checked later, with this text.
    ASSERT_TRUE(Parse({"-RANGE=5,2"}));
    EXPECT_EQ(settings_.FrameRangeFirst, 5);
    EXPECT_EQ(settings_.FrameRangeLast, 2);
    EXPECT_EQ(settings_.FrameRangeText, "FrameRange=5,2");

    ASSERT_TRUE(Parse({"-range=" + std::string(27, '1') + ",3"}));
    EXPECT_EQ(settings_.FrameRangeFirst, std::numeric_limits<int64_t>::max());
}

TEST_F(CommandLineTest, MalformedRangesGiveTheFormatMessageWithTheRawText) {
    for (const std::string& arg : std::vector<std::string>{
             "-range=10", "-range=,5", "-range=a,b", "-range=1,", " -Range=A,B ", "-range=1, 2",
             "-range=", "-range=" + std::string(28, '1') + ",3"}) {
        SCOPED_TRACE(arg);
        EXPECT_EQ(Fail({arg}), BadFormat(arg));
        EXPECT_EQ(settings_.FrameRangeFirst, kUnparsedRange);
        EXPECT_EQ(settings_.FrameRangeLast, kUnparsedRange);
    }
}

TEST_F(CommandLineTest, PriorityBounds) {
    ASSERT_TRUE(Parse({"-priority=3"}));
    EXPECT_EQ(settings_.ProcessPriority, 3);
    ASSERT_TRUE(Parse({"-Priority=1"}));
    EXPECT_EQ(settings_.ProcessPriority, 1);
    for (const char* arg : {"-priority=0", "-priority=4", "-priority=257",
                            "-priority=", "-priority=abc", "-priority=-2", "-priority=+2"}) {
        SCOPED_TRACE(arg);
        EXPECT_EQ(Fail({arg}), BadPriority(arg));
    }
}

TEST_F(CommandLineTest, TimeLimitBounds) {
    ASSERT_TRUE(Parse({"-timelimit=999999"}));
    EXPECT_EQ(settings_.TimeLimit, 999999);
    ASSERT_TRUE(Parse({"-timelimit=1-2"}));
    EXPECT_EQ(settings_.TimeLimit, 1);
    for (const char* arg : {"-timelimit=0", "-timelimit=1000000", "-timelimit=", "-timelimit=10s",
                            "-TimeLimit=-5", "-timelimit=99999999999"}) {
        SCOPED_TRACE(arg);
        EXPECT_EQ(Fail({arg}), BadTimeLimit(arg));
    }
}

TEST_F(CommandLineTest, LaterValuesWin) {
    ASSERT_TRUE(Parse({"-priority=1", "-range=1,2", "-timelimit=5", "-priority=3", "-range=3,4",
                       "-timelimit=6"}));
    EXPECT_EQ(settings_.ProcessPriority, 3);
    EXPECT_EQ(settings_.FrameRangeFirst, 3);
    EXPECT_EQ(settings_.FrameRangeLast, 4);
    EXPECT_EQ(settings_.FrameRangeText, "FrameRange=3,4");
    EXPECT_EQ(settings_.TimeLimit, 6);
    EXPECT_EQ(request_.switchesText,
              "-priority=1 -range=1,2 -timelimit=5 -priority=3 -range=3,4 -timelimit=6");
}

// ---------------------------------------------------------------------------------------------
// Script names

TEST_F(CommandLineTest, ScriptNamesBecomeAbsolute) {
    ASSERT_TRUE(Parse({"clip.avs"}));
    EXPECT_EQ(request_.scriptPath, InCwd("clip.avs"));
    ASSERT_TRUE(Parse({"./sub/../other.avs"}));
    EXPECT_EQ(request_.scriptPath, InCwd("other.avs"));
    ASSERT_TRUE(Parse({InCwd("clip.avs")}));
    EXPECT_EQ(request_.scriptPath, InCwd("clip.avs"));
    EXPECT_EQ(request_.switchesText, "");
}

TEST_F(CommandLineTest, ExtensionIgnoresCaseButTheNameKeepsIt) {
    ASSERT_TRUE(Parse({"Upper.AVS"}));
    EXPECT_EQ(request_.scriptPath, InCwd("Upper.AVS"));
    EXPECT_EQ(Fail({"Missing.AVS"}), NotFound("Missing.AVS"));
    EXPECT_EQ(request_.scriptPath, InCwd("Missing.AVS"));
}

TEST_F(CommandLineTest, BareExtensionIsNoScriptName) {
    EXPECT_EQ(Fail({".avs"}), Invalid(".avs"));
    EXPECT_EQ(Fail({"clip.avsx"}), Invalid("clip.avsx"));
}

TEST_F(CommandLineTest, SecondScriptReplacesTheFirstAndBothMustExist) {
    ASSERT_TRUE(Parse({"clip.avs", "-log", "other.avs"}));
    EXPECT_EQ(request_.scriptPath, InCwd("other.avs"));
    EXPECT_EQ(Fail({"missing.avs", "other.avs"}), NotFound("missing.avs"));
    EXPECT_EQ(Fail({"clip.avs", "missing.avs"}), NotFound("missing.avs"));
}

TEST_F(CommandLineTest, FileNotFoundShowsTheRawText) {
    EXPECT_EQ(Fail({" sub/../missing.avs"}), NotFound(" sub/../missing.avs"));
}

TEST_F(CommandLineTest, AutoCompletionAddsTheExtensionOnce) {
    settings_.AutoCompleteExtension = 1;
    ASSERT_TRUE(Parse({"clip"}));
    EXPECT_EQ(request_.scriptPath, InCwd("clip.avs"));

    EXPECT_EQ(Fail({"clip", "other"}), Invalid("other"));
    EXPECT_EQ(Fail({"clip.avs", "other"}), Invalid("other"));
    EXPECT_EQ(Fail({"nothere"}), NotFound("nothere.avs"));
    EXPECT_EQ(Fail({".avs"}), NotFound(".avs.avs"));
    // A full name is still accepted after a completed one.
    ASSERT_TRUE(Parse({"clip", "other.avs"}));
    EXPECT_EQ(request_.scriptPath, InCwd("other.avs"));
}

TEST_F(CommandLineTest, WithoutAutoCompletionBareNamesAreInvalid) {
    settings_.AutoCompleteExtension = 0;
    EXPECT_EQ(Fail({"clip"}), Invalid("clip"));
    EXPECT_EQ(request_.scriptPath, "");
}

// ---------------------------------------------------------------------------------------------
// Console side

TEST(CommandLineConsole, FailurePrintsTheMessageOnTheConsoleStream) {
    const RunSettings saved = g_settings;
    g_settings.ConUseSTDOUT = 0;
    std::string arg0 = "trevalo", arg1 = "-log", arg2 = "-bogus";
    char* argv[] = {arg0.data(), arg1.data(), arg2.data(), nullptr};
    CommandLineRequest request;

    testing::internal::CaptureStderr();
    const bool ok = ParseCommandLine(3, argv, request);
    const std::string errors = testing::internal::GetCapturedStderr();
    g_settings = saved;

    EXPECT_FALSE(ok);
    EXPECT_EQ(errors, Invalid("-bogus"));
}

TEST(CommandLineConsole, UsageGoesToStandardOutput) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    PrintUsage();
    const std::string errors = testing::internal::GetCapturedStderr();
    const std::string text = testing::internal::GetCapturedStdout();

    EXPECT_EQ(errors, "");
    EXPECT_EQ(text.rfind("\nUsage:  Trevalo script.avs [switches]\n\nSwitches:\n", 0), 0u);
    for (const char* line :
         {"  -avsinfo            Display Avisynth info\n", "  -info [-i]          ",
          "  -log  [-l]          ", "  -csv                ", "  -gpu                ",
          "  -range=first,last   ", "  -timelimit=n        ",
          "  -priority=n         Set process priority (1:low, 2:normal, 3:high)\n\n",
          "(Trevalo.html)"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    const std::string end = "  in the distribution package.\n\n";
    ASSERT_GE(text.size(), end.size());
    EXPECT_EQ(text.substr(text.size() - end.size()), end);
}

}  // namespace
