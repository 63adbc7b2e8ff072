// The configuration file: default contents, version check, key rules, reading real files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <limits>
#include <sstream>

#include "app/config.h"
#include "support/process.h"
#include "sys/utils.h"

namespace {

const char kVersion[] = "1.4.2";

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

TEST(DefaultIni, HoldsTheTwentyLinesAndReadsBackAsDefaults) {
    const std::vector<std::string> lines = DefaultIniLines(kVersion);
    ASSERT_EQ(lines.size(), 20u);
    EXPECT_EQ(Joined(lines),
              "[Main]\nVersion=1.4.2\nAVSDLL=\nDisplayFPS=1\nDisplayTPF=0\n"
              "DisplayEfficiencyIndex=1\nCreateLog=0\nCreateCSV=0\nPauseBeforeExit=0\n"
              "FrameRange=0,-1\nInvokeDistributor=1\nAllowOnlyOneInstance=1\nUseColor=1\n"
              "MonitorGPULoad=0\nProcessPriority=2\nConUseSTDOUT=0\nTimeLimit=-1\n"
              "\n[Miscellaneous]\nLogEstimatedTime=0\nAutoCompleteExtension=0\n");
    const std::vector<std::string> read = SplitIniLines(Joined(lines));
    EXPECT_TRUE(IniIsUpToDate(read, kVersion));
    RunSettings expected;
    expected.FrameRangeText = "FrameRange=0,-1";  // the range line is kept as written
    EXPECT_EQ(Describe(Applied(read)), Describe(expected));
}

// The file's lines as read: blanks, capitals and the Version value's last five characters.
TEST(IniVersion, BlanksCapitalsAndTheLastFiveCharactersCount) {
    for (const char* text : {"version = 1.4.2", "  VERSION=1.4.2  ", "Version=0.91.4.2",
                             "[Main]\r\nAVSDLL=\nVersion=1.4.2", "Version=1.4.2\r"}) {
        EXPECT_TRUE(IniIsUpToDate(SplitIniLines(text), kVersion)) << text;
    }
    for (const char* text : {"", "[Main]\nAVSDLL=\nUseColor=1", "Version=1.4.1", "Version=1.4.2.0",
                             "Version 1.4.2", "MyVersion=1.4.2", "Version=1.4\n.2"}) {
        EXPECT_FALSE(IniIsUpToDate(SplitIniLines(text), kVersion)) << text;
    }
}

TEST(IniFlags, MoveOnlyAwayFromTheirDefaultByTheLastCharacter) {
    const struct {
        const char* key;
        int32_t RunSettings::*field;
    } flags[] = {{"DisplayFPS", &RunSettings::DisplayFPS},
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
                 {"AutoCompleteExtension", &RunSettings::AutoCompleteExtension}};
    for (const auto& flag : flags) {
        SCOPED_TRACE(flag.key);
        const int32_t byDefault = RunSettings{}.*flag.field;
        const std::string key = flag.key;
        const std::string away = byDefault == 1 ? "0" : "1";
        const std::string same = byDefault == 1 ? "1" : "0";
        RunSettings moved;
        moved.*flag.field = 1 - byDefault;

        EXPECT_EQ(Describe(Applied({key + "=" + away})), Describe(moved));
        EXPECT_EQ(Describe(Applied({key + "=" + same})), Describe(RunSettings{}));
        EXPECT_EQ(Applied({key + "=" + away, key + "=" + same}).*flag.field, 1 - byDefault);
        EXPECT_EQ(Applied({key + "=1" + away}).*flag.field, 1 - byDefault);
        EXPECT_EQ(Applied({key + "=" + away + "x"}).*flag.field, byDefault);
    }
}

// Each key's line as a new file writes it reads back as RunSettings' default, and another
// value moves it: the file's defaults and the settings' defaults agree.
TEST(IniKeys, DefaultLinesReadBackAsTheDefaultsAndOtherValuesMove) {
    for (const IniKey& key : kIniKeys) {
        SCOPED_TRACE(key.name);
        const std::string defaultLine = std::string(key.name) + "=" + key.defaultText;
        std::string other;
        switch (key.kind) {
            case IniKeyKind::kFlag:
                other = std::string(key.defaultText) == "1" ? "0" : "1";
                break;
            case IniKeyKind::kText:
                other = "/opt/Other Lib/libavisynth.so";
                break;
            case IniKeyKind::kFrameRange:
                other = "1,2";
                break;
            case IniKeyKind::kBoundedInteger:
                other =
                    std::to_string(key.defaultText == std::to_string(key.min) ? key.max : key.min);
                break;
        }
        const std::string otherLine = std::string(key.name) + "=" + other;
        RunSettings defaults;
        if (key.kind == IniKeyKind::kFrameRange) defaults.FrameRangeText = defaultLine;

        EXPECT_EQ(Describe(Applied({defaultLine})), Describe(defaults));
        EXPECT_NE(Describe(Applied({otherLine})), Describe(RunSettings{})) << otherLine;
        // A flag moves only away from its default; any other value can be set back.
        if (key.kind != IniKeyKind::kFlag) {
            EXPECT_EQ(Describe(Applied({otherLine, defaultLine})), Describe(defaults));
        }
    }
}

// A flag's line needs only the name, so no key's name may begin another's: that line would
// set the wrong key.
TEST(IniKeys, NoNameBeginsAnother) {
    for (const IniKey& key : kIniKeys) {
        for (const IniKey& other : kIniKeys) {
            if (&key == &other) continue;
            std::string name = key.name, otherName = other.name;
            CUtils::ToLower(name);
            CUtils::ToLower(otherName);
            EXPECT_NE(otherName.compare(0, name.size(), name), 0) << key.name << ", " << other.name;
        }
    }
}

// Each case: the lines, and what they change in the default settings.
TEST(IniValues, KeysTakeTheirRangesAndKeepTheRest) {
    using Change = std::function<void(RunSettings&)>;
    const Change none = [](RunSettings&) {};
    const auto priority = [](int p) { return [p](RunSettings& s) { s.ProcessPriority = p; }; };
    const auto limit = [](int64_t t) { return [t](RunSettings& s) { s.TimeLimit = t; }; };
    const auto dll = [](const char* p) { return [p](RunSettings& s) { s.AVSDLL = p; }; };
    const auto range = [](int64_t a, int64_t b) {
        return [=](RunSettings& s) {
            s.FrameRangeFirst = a;
            s.FrameRangeLast = b;
        };
    };
    const Change unparsed = range(kUnparsedRange, kUnparsedRange);
    const std::string first27(27, '9');
    const std::string tooLong = "FrameRange=" + first27 + "9,1";
    const struct {
        std::vector<std::string> lines;
        Change change;
    } cases[] = {
        {{"[Main]", "Version=0.0.1", "", "   ", "; comment=1", "Unknown=0", "=", "x"}, none},
        {{"  USE Color = 0 \t\r"}, [](RunSettings& s) { s.UseColor = 0; }},
        {{"UseColor=false"}, none},
        {{"[Miscellaneous]", "MonitorGPULoad=1"}, [](RunSettings& s) { s.MonitorGPULoad = 1; }},
        {{"ProcessPriority = 1"}, priority(1)},
        {{"ProcessPriority=3", "ProcessPriority=0"}, priority(2)},
        {{"ProcessPriority=3", "ProcessPriority=257"}, priority(2)},
        {{"ProcessPriority=3", "ProcessPriority=-1"}, priority(2)},
        {{"ProcessPriority=3", "ProcessPriority=abc"}, priority(3)},
        {{"ProcessPriority=3", "ProcessPriority="}, priority(3)},
        {{"ProcessPriority=1-2"}, priority(1)},
        {{"TimeLimit=999999"}, limit(999999)},
        {{"TimeLimit=60", "TimeLimit=0"}, limit(-1)},
        {{"TimeLimit=60", "TimeLimit=99999999999"}, limit(-1)},
        {{"TimeLimit=60", "TimeLimit=1h"}, limit(60)},
        {{"AVSDLL=D:\\My Tools\\avisynth.dll"}, dll("D:\\My Tools\\avisynth.dll")},
        {{"  avsdll =  /opt/My Lib/libavisynth.so \r"}, dll("/opt/My Lib/libavisynth.so")},
        {{"AVSDLL=/Lib=1.so"}, dll("/Lib=1.so")},
        {{"AVSDLL=/a.so", "AVSDLL="}, dll("")},
        {{"FrameRange=100,199"}, range(100, 199)},
        {{"  frameRange = 5 , -1  "}, range(5, -1)},
        {{"FrameRange=" + first27 + ",1"}, range(std::numeric_limits<int64_t>::max(), 1)},
        {{"FrameRange=1,2", tooLong}, unparsed},
        {{"FrameRange=1,2", "FrameRange=5"}, unparsed},
        {{"FrameRange=1,2", "FrameRange=,5"}, unparsed},
        {{"FrameRange=1,2", "FrameRange=a,b"}, unparsed},
        {{"FrameRange=1,2", "FrameRange=1,2,3"}, unparsed},
    };
    for (const auto& c : cases) {
        RunSettings expected;
        c.change(expected);
        // A range line is kept as written, whether it parses or not.
        if (expected.FrameRangeFirst != 0) expected.FrameRangeText = c.lines.back();
        EXPECT_EQ(Describe(Applied(c.lines)), Describe(expected)) << Joined(c.lines);
    }
}

TEST(ReadNumber, BehavesLikeStrtolWithClamping) {
    const int64_t max32 = std::numeric_limits<int32_t>::max();
    const int64_t min32 = std::numeric_limits<int32_t>::min();
    const struct {
        const char* text;
        int64_t as32;
    } cases32[] = {{"42", 42},
                   {"-42", -42},
                   {"1-2", 1},
                   {"-", 0},
                   {"--5", 0},
                   {"", 0},
                   {" +7x", 7},
                   {"2147483648", max32},
                   {"-2147483649", min32},
                   {"-2147483648", min32},
                   {"000000000000000000000012", 12}};
    for (const auto& c : cases32)
        EXPECT_EQ(ReadInt32(c.text), c.as32) << c.text;
    EXPECT_EQ(ReadInt64("99999999999999999999999"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(ReadInt64("-9223372036854775808"), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(ReadInt64("-99999999999999999999999"), std::numeric_limits<int64_t>::min());
}

class ReadConfigurationTest : public ::testing::Test {
  protected:
    static constexpr const char* kIni = "Trevalo.ini";
    static constexpr const char* kBackup = "Trevalo.ini.bak";
    std::string Ini() const { return dir_.File(kIni); }
    std::string Backup() const { return dir_.File(kBackup); }
    std::string Defaults() const { return Joined(DefaultIniLines(kVersion)); }
    std::string Read() {
        settings_ = RunSettings{};
        settings_.CreateLog = 1;  // every way out must leave the defaults
        return ReadConfigurationAt(Ini(), kVersion, settings_);
    }

    testsupport::TempDir dir_;
    RunSettings settings_;
};

// A missing file, with its folders, is created with the defaults; an up-to-date file is
// applied and left alone.
TEST_F(ReadConfigurationTest, MissingFileIsCreatedAndAnUpToDateOneApplied) {
    EXPECT_EQ(Read(), "");
    EXPECT_EQ(dir_.Read(kIni), Defaults());
    EXPECT_EQ(Describe(settings_), Describe(RunSettings{}));
    const std::string nested = "config/trevalo/Trevalo.ini";
    EXPECT_EQ(ReadConfigurationAt(dir_.File(nested), kVersion, settings_), "");
    EXPECT_EQ(dir_.Read(nested), Defaults());

    const std::string text =
        "[Main]\r\nVersion=1.4.2\r\nAVSDLL = /Opt/My Lib/libavisynth.so\r\nCreateLog=0\r\n"
        "TimeLimit=30\r\n";
    dir_.Write(kIni, text);
    EXPECT_EQ(Read(), "");
    RunSettings expected;
    expected.AVSDLL = "/Opt/My Lib/libavisynth.so";
    expected.TimeLimit = 30;
    EXPECT_EQ(Describe(settings_), Describe(expected));
    EXPECT_EQ(dir_.Read(kIni), text);
    EXPECT_FALSE(std::filesystem::exists(Backup()));
}

// The old file is kept byte for byte, however large, and its settings are not used.
TEST_F(ReadConfigurationTest, OutdatedFilesAreBackedUpWholeAndRewritten) {
    const std::string huge = "CreateLog=1\n" + std::string(3 << 20, 'x') + "\nVersion=1.4.2\n";
    for (const std::string& old : {std::string("[Main]\nVersion=1.3.9\nCreateLog=1\n"),
                                   std::string("CreateLog=1\n"), huge}) {
        dir_.Write(kIni, old);
        dir_.Write(kBackup, "an older backup that is longer than the new one\n");
        EXPECT_EQ(Read(), "");
        EXPECT_TRUE(dir_.Read(kBackup) == old) << old.size();
        EXPECT_EQ(dir_.Read(kIni), Defaults());
        EXPECT_EQ(Describe(settings_), Describe(RunSettings{}));
    }
}

TEST_F(ReadConfigurationTest, AFailedBackupIsNamedAndKeepsTheOldFile) {
    const std::string old = "Version=1.3.9\nCreateLog=1\n";
    dir_.Write(kIni, old);
    ASSERT_TRUE(std::filesystem::create_directory(Backup()));
    EXPECT_EQ(Read(), "\nCannot create \"" + Backup() + "\"\n");
    EXPECT_EQ(dir_.Read(kIni), old);
    EXPECT_EQ(Describe(settings_), Describe(RunSettings{}));
}

// Anything but a regular file counts as missing; nothing is written into it, nothing hangs.
TEST_F(ReadConfigurationTest, WhatIsNoRegularFileCannotBeCreatedOver) {
    const std::function<bool()> makers[] = {
        [&] { return std::filesystem::create_directory(Ini()); },
        [&] { return mkfifo(Ini().c_str(), 0600) == 0; },
        [&] { return symlink("/dev/zero", Ini().c_str()) == 0; },
        [&] { return symlink("/dev/null", Ini().c_str()) == 0; },
    };
    for (const auto& make : makers) {
        std::filesystem::remove_all(Ini());
        ASSERT_TRUE(make());
        EXPECT_EQ(Read(), "\nCannot create \"" + Ini() + "\"\n");
        EXPECT_EQ(Describe(settings_), Describe(RunSettings{}));
        EXPECT_FALSE(std::filesystem::exists(Backup()));
    }
}

TEST(ConfigurationLocation, BesideTheExecutableUnlessItCannotBeWrittenThere) {
    const struct {
        const char* exeDir;
        bool writable, currentIni;
        const char* xdg;
        const char* home;
        const char* expected;
    } cases[] = {
        {"/opt/t", true, false, "/x", "/h", "/opt/t/Trevalo.ini"},
        {"/opt/t", false, true, "/x", "/h", "/opt/t/Trevalo.ini"},
        // Read-only, without an INI file of this version: the user's own directory.
        {"/usr/bin", false, false, "/x/cfg", "/home/u", "/x/cfg/trevalo/Trevalo.ini"},
        {"/usr/bin", false, false, "", "/home/u", "/home/u/.config/trevalo/Trevalo.ini"},
        {"/usr/bin", false, false, "cfg", "/home/u", "/home/u/.config/trevalo/Trevalo.ini"},
        {"", false, false, "", "/home/u", "/home/u/.config/trevalo/Trevalo.ini"},
        {"/usr/bin", false, false, "", "", "/usr/bin/Trevalo.ini"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ChooseConfigurationPath(c.exeDir, c.writable, c.currentIni, c.xdg, c.home),
                  c.expected);
    }
}

}  // namespace
