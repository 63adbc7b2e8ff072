// The configuration file: default contents, version check, key rules, reading real files.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>

#include "app/config.h"
#include "app/version.h"
#include "support/process.h"

namespace {

const char kVersion[] = "1.4.2";

using testsupport::TempDir;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line;
    return text;
}

RunSettings Applied(const std::vector<std::string>& lines) {
    RunSettings settings;
    ApplyIniLines(lines, settings);
    return settings;
}

// Every field, so that a test can tell whether anything at all moved.
std::string Describe(const RunSettings& s) {
    std::ostringstream out;
    out << s.AVSDLL << '|' << s.DisplayFPS << s.DisplayTPF << s.DisplayEfficiencyIndex
        << s.CreateLog << s.CreateCSV << s.PauseBeforeExit << '|' << s.FrameRangeFirst << ','
        << s.FrameRangeLast << '|' << s.FrameRangeText << '|' << s.TimeLimit << '|'
        << s.InvokeDistributor << s.AllowOnlyOneInstance << s.UseColor << s.MonitorGPULoad << '|'
        << static_cast<int>(s.ProcessPriority) << '|' << s.ConUseSTDOUT << s.LogEstimatedTime
        << s.AutoCompleteExtension;
    return out.str();
}

RunSettings NonDefaults() {
    RunSettings s;
    s.AVSDLL = "x";
    s.DisplayFPS = 0;
    s.CreateLog = 1;
    s.FrameRangeFirst = 7;
    s.FrameRangeText = "y";
    s.TimeLimit = 5;
    s.ProcessPriority = 3;
    return s;
}

// ---------------------------------------------------------------------------------------------
// Default contents and version check

TEST(DefaultIni, HoldsTheTwentyLinesWithTheVersion) {
    const std::vector<std::string> lines = DefaultIniLines(kVersion);
    ASSERT_EQ(lines.size(), 20u);
    for (const std::string& line : lines)
        EXPECT_EQ(line.back(), '\n') << line;
    EXPECT_EQ(Joined(lines),
              "[Main]\nVersion=1.4.2\nAVSDLL=\nDisplayFPS=1\nDisplayTPF=0\n"
              "DisplayEfficiencyIndex=1\nCreateLog=0\nCreateCSV=0\nPauseBeforeExit=0\n"
              "FrameRange=0,-1\nInvokeDistributor=1\nAllowOnlyOneInstance=1\nUseColor=1\n"
              "MonitorGPULoad=0\nProcessPriority=2\nConUseSTDOUT=0\nTimeLimit=-1\n"
              "\n[Miscellaneous]\nLogEstimatedTime=0\nAutoCompleteExtension=0\n");
    EXPECT_EQ(lines[17], "\n[Miscellaneous]\n");
}

TEST(DefaultIni, ReadsBackAsUpToDateDefaults) {
    const std::vector<std::string> lines = SplitIniLines(Joined(DefaultIniLines(kVersion)));
    EXPECT_TRUE(IniIsUpToDate(lines, kVersion));
    RunSettings expected;
    expected.FrameRangeText = "FrameRange=0,-1";  // the range line is kept as written
    EXPECT_EQ(Describe(Applied(lines)), Describe(expected));
}

TEST(IniVersion, BlanksCapitalsAndTheLastFiveCharactersCount) {
    EXPECT_TRUE(IniIsUpToDate({"version = 1.4.2"}, kVersion));
    EXPECT_TRUE(IniIsUpToDate({"  VERSION=1.4.2  "}, kVersion));
    EXPECT_TRUE(IniIsUpToDate({"Version=0.91.4.2"}, kVersion));
    EXPECT_TRUE(IniIsUpToDate({"[Main]", "AVSDLL=", "Version=1.4.2"}, kVersion));
    EXPECT_TRUE(IniIsUpToDate({"Version=1.4.2\r"}, kVersion));
}

TEST(IniVersion, OtherOrMissingVersionsAreOutdated) {
    EXPECT_FALSE(IniIsUpToDate({}, kVersion));
    EXPECT_FALSE(IniIsUpToDate({"[Main]", "AVSDLL=", "UseColor=1"}, kVersion));
    EXPECT_FALSE(IniIsUpToDate({"Version=1.4.1"}, kVersion));
    EXPECT_FALSE(IniIsUpToDate({"Version=1.4.2.0"}, kVersion));
    EXPECT_FALSE(IniIsUpToDate({"Version 1.4.2"}, kVersion));
    EXPECT_FALSE(IniIsUpToDate({"MyVersion=1.4.2"}, kVersion));
}

TEST(IniLines, SplitAcceptsLfAndCrLf) {
    EXPECT_EQ(SplitIniLines("a\r\nb\nc"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(SplitIniLines("a\n\r\nb\r\n"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(SplitIniLines("x\r\r\n"), (std::vector<std::string>{"x\r"}));
    EXPECT_TRUE(SplitIniLines("").empty());
}

TEST(IniLines, NormaliseLowersTrimsAndDropsInnerBlanks) {
    EXPECT_EQ(NormaliseIniLine("  Use Color = 0 \t\r"), "usecolor=0");
    EXPECT_EQ(NormaliseIniLine("\tFrameRange = 1 , 2"), "framerange=1,2");
    EXPECT_EQ(NormaliseIniLine(""), "");
}

// ---------------------------------------------------------------------------------------------
// Key rules

struct FlagKey {
    const char* key;
    int32_t RunSettings::*field;
};

const FlagKey kFlagKeys[] = {
    {"DisplayFPS", &RunSettings::DisplayFPS},
    {"DisplayTPF", &RunSettings::DisplayTPF},
    {"DisplayEfficiencyIndex", &RunSettings::DisplayEfficiencyIndex},
    {"CreateLog", &RunSettings::CreateLog},
    {"CreateCSV", &RunSettings::CreateCSV},
    {"PauseBeforeExit", &RunSettings::PauseBeforeExit},
    {"InvokeDistributor", &RunSettings::InvokeDistributor},
    {"AllowOnlyOneInstance", &RunSettings::AllowOnlyOneInstance},
    {"UseColor", &RunSettings::UseColor},
    {"MonitorGPULoad", &RunSettings::MonitorGPULoad},
    {"ConUseSTDOUT", &RunSettings::ConUseSTDOUT},
    {"LogEstimatedTime", &RunSettings::LogEstimatedTime},
    {"AutoCompleteExtension", &RunSettings::AutoCompleteExtension},
};

TEST(IniFlags, MoveOnlyAwayFromTheirDefault) {
    for (const FlagKey& flag : kFlagKeys) {
        SCOPED_TRACE(flag.key);
        const int32_t byDefault = RunSettings{}.*flag.field;
        const std::string key = flag.key;
        const std::string away = byDefault == 1 ? "0" : "1";
        const std::string same = byDefault == 1 ? "1" : "0";

        EXPECT_EQ(Applied({key + "=" + away}).*flag.field, 1 - byDefault);
        EXPECT_EQ(Applied({key + "=" + same}).*flag.field, byDefault);
        // Once moved, the default value does not bring it back.
        EXPECT_EQ(Applied({key + "=" + away, key + "=" + same}).*flag.field, 1 - byDefault);
        // Only the last character counts.
        EXPECT_EQ(Applied({key + "=1" + away}).*flag.field, 1 - byDefault);
        EXPECT_EQ(Applied({key + "=" + away + "x"}).*flag.field, byDefault);
        // Other flags stay where they were.
        RunSettings expected;
        expected.*flag.field = 1 - byDefault;
        EXPECT_EQ(Describe(Applied({key + "=" + away})), Describe(expected));
    }
}

TEST(IniFlags, IgnoreCaseBlanksAndSections) {
    EXPECT_EQ(Applied({"DisplayFPS=10"}).DisplayFPS, 0);
    EXPECT_EQ(Applied({"UseColor = 0"}).UseColor, 0);
    EXPECT_EQ(Applied({"  USECOLOR=0  "}).UseColor, 0);
    EXPECT_EQ(Applied({"UseColor=false"}).UseColor, 1);
    EXPECT_EQ(Applied({"[Miscellaneous]", "MonitorGPULoad=1"}).MonitorGPULoad, 1);
    EXPECT_EQ(Applied({"UseColor=0\r"}).UseColor, 0);
}

TEST(IniLines, UnknownAndSectionLinesChangeNothing) {
    const RunSettings settings =
        Applied({"[Main]", "Version=0.0.1", "", "   ", "; comment=1", "Unknown=0", "=", "x"});
    EXPECT_EQ(Describe(settings), Describe(RunSettings{}));
}

TEST(IniValues, ProcessPriorityTakesOneToThreeElseTheDefault) {
    EXPECT_EQ(Applied({"ProcessPriority=3"}).ProcessPriority, 3);
    EXPECT_EQ(Applied({"ProcessPriority = 1"}).ProcessPriority, 1);
    EXPECT_EQ(Applied({"ProcessPriority=3", "ProcessPriority=0"}).ProcessPriority, 2);
    EXPECT_EQ(Applied({"ProcessPriority=3", "ProcessPriority=4"}).ProcessPriority, 2);
    EXPECT_EQ(Applied({"ProcessPriority=3", "ProcessPriority=257"}).ProcessPriority, 2);
    EXPECT_EQ(Applied({"ProcessPriority=3", "ProcessPriority=-1"}).ProcessPriority, 2);
    EXPECT_EQ(Applied({"ProcessPriority=3", "ProcessPriority=abc"}).ProcessPriority, 3);
    EXPECT_EQ(Applied({"ProcessPriority=3", "ProcessPriority="}).ProcessPriority, 3);
    EXPECT_EQ(Applied({"ProcessPriority=1-2"}).ProcessPriority, 1);
    EXPECT_EQ(Applied({"ProcessPriority=1", "ProcessPriority=3"}).ProcessPriority, 3);
}

TEST(IniValues, TimeLimitTakesOneTo999999ElseNone) {
    EXPECT_EQ(Applied({"TimeLimit=60"}).TimeLimit, 60);
    EXPECT_EQ(Applied({"TimeLimit=999999"}).TimeLimit, 999999);
    EXPECT_EQ(Applied({"TimeLimit=60", "TimeLimit=0"}).TimeLimit, -1);
    EXPECT_EQ(Applied({"TimeLimit=60", "TimeLimit=1000000"}).TimeLimit, -1);
    EXPECT_EQ(Applied({"TimeLimit=60", "TimeLimit=99999999999"}).TimeLimit, -1);
    EXPECT_EQ(Applied({"TimeLimit=60", "TimeLimit=1h"}).TimeLimit, 60);
    EXPECT_EQ(Applied({"TimeLimit=60", "TimeLimit=5"}).TimeLimit, 5);
}

TEST(IniValues, AvsDllKeepsCaseAndInnerBlanks) {
    EXPECT_EQ(Applied({"AVSDLL=D:\\My Tools\\avisynth.dll"}).AVSDLL, "D:\\My Tools\\avisynth.dll");
    EXPECT_EQ(Applied({"  avsdll =  /opt/My Lib/libavisynth.so \r"}).AVSDLL,
              "/opt/My Lib/libavisynth.so");
    EXPECT_EQ(Applied({"AVSDLL=/Ünïcode/Lib=1.so"}).AVSDLL, "/Ünïcode/Lib=1.so");
    EXPECT_EQ(Applied({"AVSDLL=/a.so", "AVSDLL=/b.so"}).AVSDLL, "/b.so");
    EXPECT_EQ(Applied({"AVSDLL=/a.so", "AVSDLL="}).AVSDLL, "");
}

TEST(IniRange, ParsesFirstAndLast) {
    const RunSettings s = Applied({"FrameRange=100,199"});
    EXPECT_EQ(s.FrameRangeFirst, 100);
    EXPECT_EQ(s.FrameRangeLast, 199);
    EXPECT_EQ(s.FrameRangeText, "FrameRange=100,199");

    const RunSettings blanks = Applied({"  frameRange = 5 , -1  "});
    EXPECT_EQ(blanks.FrameRangeFirst, 5);
    EXPECT_EQ(blanks.FrameRangeLast, -1);
    EXPECT_EQ(blanks.FrameRangeText, "  frameRange = 5 , -1  ");
}

TEST(IniRange, MalformedRangesLeaveTheMarker) {
    for (const char* line : {"FrameRange=5", "FrameRange=,5", "FrameRange=a,b", "FrameRange=5,",
                             "FrameRange=1;2", "FrameRange=1,2,3"}) {
        SCOPED_TRACE(line);
        const RunSettings s = Applied({"FrameRange=1,2", line});
        EXPECT_EQ(s.FrameRangeFirst, kUnparsedRange);
        EXPECT_EQ(s.FrameRangeLast, kUnparsedRange);
        EXPECT_EQ(s.FrameRangeText, line);
    }
}

TEST(IniRange, FirstNumberHasAtMost27Characters) {
    const std::string first27(27, '9');
    const RunSettings fits = Applied({"FrameRange=" + first27 + ",1"});
    EXPECT_EQ(fits.FrameRangeFirst, std::numeric_limits<int64_t>::max());  // clamped
    EXPECT_EQ(fits.FrameRangeLast, 1);

    const RunSettings tooLong = Applied({"FrameRange=" + first27 + "9,1"});
    EXPECT_EQ(tooLong.FrameRangeFirst, kUnparsedRange);
    EXPECT_EQ(tooLong.FrameRangeLast, kUnparsedRange);
}

TEST(ReadNumber, BehavesLikeStrtolWithClamping) {
    EXPECT_EQ(ReadInt32("42"), 42);
    EXPECT_EQ(ReadInt32("-42"), -42);
    EXPECT_EQ(ReadInt32("1-2"), 1);
    EXPECT_EQ(ReadInt32("-"), 0);
    EXPECT_EQ(ReadInt32("--5"), 0);
    EXPECT_EQ(ReadInt32(""), 0);
    EXPECT_EQ(ReadInt32(" +7x"), 7);
    EXPECT_EQ(ReadInt32("2147483647"), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(ReadInt32("2147483648"), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(ReadInt32("-2147483648"), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(ReadInt32("-2147483649"), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(ReadInt32("000000000000000000000012"), 12);
    EXPECT_EQ(ReadInt64("9223372036854775807"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(ReadInt64("99999999999999999999999"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(ReadInt64("-9223372036854775808"), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(ReadInt64("-99999999999999999999999"), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(ReadInt64("1099511627775"), kUnparsedRange);
}

// ---------------------------------------------------------------------------------------------
// Reading real files

class ReadConfigurationTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(dir_.Path().empty()); }
    std::string Ini() const { return dir_.Path() + "/Trevalo.ini"; }
    std::string Backup() const { return Ini() + ".bak"; }
    std::string Defaults() const { return Joined(DefaultIniLines(kVersion)); }

    TempDir dir_;
    RunSettings settings_ = NonDefaults();
};

TEST_F(ReadConfigurationTest, MissingFileIsCreatedAndDefaultsAreUsed) {
    EXPECT_EQ(ReadConfigurationAt(Ini(), kVersion, settings_), "");
    EXPECT_EQ(ReadFile(Ini()), Defaults());
    EXPECT_EQ(Describe(settings_), Describe(RunSettings{}));
    EXPECT_FALSE(std::filesystem::exists(Backup()));
}

TEST_F(ReadConfigurationTest, MissingDirectoriesAreCreated) {
    const std::string nested = dir_.Path() + "/config/trevalo/Trevalo.ini";
    EXPECT_EQ(ReadConfigurationAt(nested, kVersion, settings_), "");
    EXPECT_EQ(ReadFile(nested), Defaults());
}

TEST_F(ReadConfigurationTest, UpToDateFileIsAppliedAndLeftAlone) {
    const std::string text =
        "[Main]\r\nVersion=1.4.2\r\nAVSDLL = /Opt/My Lib/libavisynth.so\r\nCreateLog=1\r\n"
        "FrameRange=10,20\r\nTimeLimit=30\r\n";
    WriteFile(Ini(), text);
    EXPECT_EQ(ReadConfigurationAt(Ini(), kVersion, settings_), "");

    RunSettings expected;
    expected.AVSDLL = "/Opt/My Lib/libavisynth.so";
    expected.CreateLog = 1;
    expected.FrameRangeFirst = 10;
    expected.FrameRangeLast = 20;
    expected.FrameRangeText = "FrameRange=10,20";
    expected.TimeLimit = 30;
    EXPECT_EQ(Describe(settings_), Describe(expected));
    EXPECT_EQ(ReadFile(Ini()), text);
    EXPECT_FALSE(std::filesystem::exists(Backup()));
}

TEST_F(ReadConfigurationTest, OutdatedFileIsBackedUpAndRewritten) {
    const std::string old = "[Main]\nVersion=1.3.9\nCreateLog=1\nAVSDLL=/mine.so\n";
    WriteFile(Ini(), old);
    WriteFile(Backup(), "an older backup that is longer than the new one\n");
    EXPECT_EQ(ReadConfigurationAt(Ini(), kVersion, settings_), "");
    EXPECT_EQ(ReadFile(Backup()), old);
    EXPECT_EQ(ReadFile(Ini()), Defaults());
    EXPECT_EQ(Describe(settings_), Describe(RunSettings{}));  // the old settings are not used
}

TEST_F(ReadConfigurationTest, FileWithoutVersionIsBackedUpAndRewritten) {
    const std::string old = "CreateLog=1\n";
    WriteFile(Ini(), old);
    EXPECT_EQ(ReadConfigurationAt(Ini(), kVersion, settings_), "");
    EXPECT_EQ(ReadFile(Backup()), old);
    EXPECT_EQ(ReadFile(Ini()), Defaults());
    EXPECT_EQ(settings_.CreateLog, 0);
}

TEST_F(ReadConfigurationTest, FailedBackupKeepsTheOldFile) {
    const std::string old = "Version=1.3.9\nCreateLog=1\n";
    WriteFile(Ini(), old);
    ASSERT_TRUE(std::filesystem::create_directory(Backup()));
    EXPECT_EQ(ReadConfigurationAt(Ini(), kVersion, settings_),
              "\nCannot create \"" + Ini() + "\"\n");
    EXPECT_EQ(ReadFile(Ini()), old);
    EXPECT_EQ(Describe(settings_), Describe(RunSettings{}));
}

TEST_F(ReadConfigurationTest, DirectoryInPlaceOfTheFileCannotBeCreated) {
    ASSERT_TRUE(std::filesystem::create_directory(Ini()));
    EXPECT_EQ(ReadConfigurationAt(Ini(), kVersion, settings_),
              "\nCannot create \"" + Ini() + "\"\n");
    EXPECT_EQ(Describe(settings_), Describe(RunSettings{}));
    EXPECT_FALSE(std::filesystem::exists(Backup()));
}

TEST_F(ReadConfigurationTest, UnopenableFileCannotBeOpened) {
    // A socket exists and is no directory, yet cannot be opened as a file, even by root.
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = Ini();
    if (path.size() >= sizeof(address.sun_path)) GTEST_SKIP() << "temporary path too long";
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);

    const std::string result = ReadConfigurationAt(path, kVersion, settings_);
    close(fd);
    EXPECT_EQ(result, "\nCannot open \"" + path + "\"\n");
    EXPECT_EQ(Describe(settings_), Describe(RunSettings{}));
}

TEST_F(ReadConfigurationTest, UnreadableFileCannotBeOpened) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
    WriteFile(Ini(), "Version=1.4.2\n");
    ASSERT_EQ(chmod(Ini().c_str(), 0), 0);
    EXPECT_EQ(ReadConfigurationAt(Ini(), kVersion, settings_), "\nCannot open \"" + Ini() + "\"\n");
    EXPECT_EQ(Describe(settings_), Describe(RunSettings{}));
}

// ---------------------------------------------------------------------------------------------
// Location and version

TEST(ConfigurationLocation, BesideTheExecutableWhenWritableOrPresent) {
    EXPECT_EQ(ChooseConfigurationPath("/opt/t", true, false, "/x", "/h"), "/opt/t/Trevalo.ini");
    EXPECT_EQ(ChooseConfigurationPath("/opt/t", false, true, "/x", "/h"), "/opt/t/Trevalo.ini");
}

TEST(ConfigurationLocation, UserDirectoryForSystemWideInstallations) {
    EXPECT_EQ(ChooseConfigurationPath("/usr/bin", false, false, "/x/cfg", "/home/u"),
              "/x/cfg/trevalo/Trevalo.ini");
    EXPECT_EQ(ChooseConfigurationPath("/usr/bin", false, false, "", "/home/u"),
              "/home/u/.config/trevalo/Trevalo.ini");
    // A relative XDG_CONFIG_HOME is invalid.
    EXPECT_EQ(ChooseConfigurationPath("/usr/bin", false, false, "cfg", "/home/u"),
              "/home/u/.config/trevalo/Trevalo.ini");
    EXPECT_EQ(ChooseConfigurationPath("", false, false, "", "/home/u"),
              "/home/u/.config/trevalo/Trevalo.ini");
    // Nowhere better to go: stay beside the executable.
    EXPECT_EQ(ChooseConfigurationPath("/usr/bin", false, false, "", ""), "/usr/bin/Trevalo.ini");
}

TEST(ProgramVersionText, IsTheFileVersionCutToFiveCharacters) {
    EXPECT_EQ(ProgramVersion(), (std::string(TREVALO_VERSION) + ".0").substr(0, 5));
    EXPECT_EQ(BannerVersion(), ProgramVersion() + " (" + ArchitectureName() + ")");
#if defined(__x86_64__)
    EXPECT_EQ(ArchitectureName(), "x64");
#elif defined(__i386__)
    EXPECT_EQ(ArchitectureName(), "x86");
#endif
}

}  // namespace
