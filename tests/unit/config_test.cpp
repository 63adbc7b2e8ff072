// The configuration file: default contents, version check, key rules, reading real files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <sstream>

#include "app/config.h"
#include "support/process.h"
#include "sys/utils.h"

namespace {

namespace fs = std::filesystem;

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
        << s.AutoCompleteExtension << '|' << s.Runs;
    return out.str();
}

TEST(DefaultIni, HoldsTheTwentyOneLinesAndReadsBackAsDefaults) {
    const std::vector<std::string> lines = DefaultIniLines(kVersion);
    ASSERT_EQ(lines.size(), 21u);
    EXPECT_EQ(Joined(lines),
              "[Main]\nVersion=1.4.2\nAVSDLL=\nDisplayFPS=1\nDisplayTPF=0\n"
              "DisplayEfficiencyIndex=1\nCreateLog=0\nCreateCSV=0\nPauseBeforeExit=0\n"
              "FrameRange=0,-1\nInvokeDistributor=1\nAllowOnlyOneInstance=1\nUseColor=1\n"
              "MonitorGPULoad=0\nProcessPriority=2\nConUseSTDOUT=0\nTimeLimit=-1\nRuns=1\n"
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

// Each key's default line reads back as the default; another value moves only its own field.
TEST(IniKeys, DefaultLinesReadBackAsTheDefaultsAndOtherValuesMove) {
    const std::map<std::string, int32_t RunSettings::*> flags = {
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
        {"AutoCompleteExtension", &RunSettings::AutoCompleteExtension}};
    size_t flagsSeen = 0;
    for (const IniKey& key : kIniKeys) {
        SCOPED_TRACE(key.name);
        const std::string name = std::string(key.name) + "=";
        const std::string defaultLine = name + key.defaultText;
        RunSettings defaults;
        if (key.kind == IniKeyKind::kFrameRange) defaults.FrameRangeText = defaultLine;
        EXPECT_EQ(Describe(Applied({defaultLine})), Describe(defaults));
        if (key.kind == IniKeyKind::kFlag) {
            ASSERT_EQ(flags.count(key.name), 1u);
            ++flagsSeen;
            const auto field = flags.at(key.name);
            const std::string away = RunSettings{}.*field == 1 ? "0" : "1";
            RunSettings moved;
            moved.*field = 1 - moved.*field;
            for (const std::vector<std::string>& lines : {std::vector<std::string>{name + away},
                                                          {name + away, defaultLine},
                                                          {name + "1" + away}})
                EXPECT_EQ(Describe(Applied(lines)), Describe(moved)) << Joined(lines);
            EXPECT_EQ(Describe(Applied({name + away + "x"})), Describe(defaults));
            continue;
        }
        const std::string other =
            key.kind == IniKeyKind::kText ? "/opt/Other Lib/libavisynth.so"
            : key.kind == IniKeyKind::kFrameRange
                ? "1,2"
                : std::to_string(key.defaultText == std::to_string(key.min) ? key.max : key.min);
        EXPECT_NE(Describe(Applied({name + other})), Describe(RunSettings{})) << other;
        EXPECT_EQ(Describe(Applied({name + other, defaultLine})), Describe(defaults));
    }
    EXPECT_EQ(flagsSeen, flags.size());
}

// A flag's line needs only the name, so no key's name may begin another's.
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
        {{"ProcessPriority=3", "ProcessPriority=abc"}, priority(3)},
        {{"TimeLimit=999999"}, limit(999999)},
        {{"TimeLimit=60", "TimeLimit=0"}, limit(-1)},
        {{"TimeLimit=60", "TimeLimit=1h"}, limit(60)},
        {{"  avsdll =  /opt/My Lib/libavisynth.so \r"}, dll("/opt/My Lib/libavisynth.so")},
        {{"AVSDLL=/Lib=1.so"}, dll("/Lib=1.so")},
        {{"AVSDLL=/a.so", "AVSDLL="}, dll("")},
        {{"FrameRange=100,199"}, range(100, 199)},
        {{"  frameRange = 5 , -1  "}, range(5, -1)},
        {{"FrameRange=" + first27 + ",1"}, range(std::numeric_limits<int64_t>::max(), 1)},
        {{"FrameRange=1,2", tooLong}, unparsed},
        {{"FrameRange=1,2", "FrameRange=5"}, unparsed},
        {{"FrameRange=1,2", "FrameRange=,5"}, unparsed},
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
    const std::pair<const char*, int64_t> cases32[] = {{"42", 42},
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
    for (const auto& [text, as32] : cases32)
        EXPECT_EQ(ReadInt32(text), as32) << text;
    EXPECT_EQ(ReadInt64("99999999999999999999999"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(ReadInt64("-9223372036854775808"), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(ReadInt64("-99999999999999999999999"), std::numeric_limits<int64_t>::min());
}

// Every way out leaves the defaults, which a read that applied nothing would not.
class ReadConfigurationTest : public ::testing::Test {
  protected:
    std::string Read(const std::string& name = kIni) {
        settings_ = RunSettings{};
        settings_.CreateLog = 1;
        return ReadConfigurationAt(dir_.File(name), kVersion, settings_);
    }

    static constexpr const char* kIni = "Trevalo.ini";
    static constexpr const char* kBackup = "Trevalo.ini.bak";
    testsupport::TempDir dir_;
    RunSettings settings_;
    const std::string defaults_ = Joined(DefaultIniLines(kVersion));
};

// A missing file is created with its folders; an up-to-date one is applied and left alone.
TEST_F(ReadConfigurationTest, MissingFileIsCreatedAndAnUpToDateOneApplied) {
    const std::string nested = "config/trevalo/Trevalo.ini";
    EXPECT_EQ(Read(nested), "");
    EXPECT_EQ(dir_.Read(nested), defaults_);
    EXPECT_EQ(Describe(settings_), Describe(RunSettings{}));

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
    EXPECT_FALSE(dir_.Exists(kBackup));
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
        EXPECT_EQ(dir_.Read(kIni), defaults_);
        EXPECT_EQ(Describe(settings_), Describe(RunSettings{}));
    }
}

// What cannot be written is named and an old file kept; a non-regular file counts as missing.
TEST_F(ReadConfigurationTest, WhatCannotBeWrittenIsNamedAndNothingIsCreatedOver) {
    const std::string ini = dir_.File(kIni), backup = dir_.File(kBackup), old = "Version=1.3.9\n";
    const std::pair<std::function<bool()>, std::string> cases[] = {
        {[&] { return !dir_.Write(kIni, old).empty() && fs::create_directory(backup); }, backup},
        {[&] { return fs::create_directory(ini); }, ini},
        {[&] { return mkfifo(ini.c_str(), 0600) == 0; }, ini},
    };
    for (const auto& [make, named] : cases) {
        fs::remove_all(ini);
        fs::remove_all(backup);
        ASSERT_TRUE(make());
        EXPECT_EQ(Read().rfind("\nCannot create \"" + named + "\": ", 0), 0u);
        EXPECT_EQ(Describe(settings_), Describe(RunSettings{}));
        EXPECT_EQ(dir_.Exists(kBackup), named == backup);
        EXPECT_TRUE(named != backup || dir_.Read(kIni) == old);
    }
    // An outdated file reached through a link: the link is replaced, its target left alone.
    fs::remove_all(ini);
    const std::string elsewhere = dir_.Write("elsewhere.ini", old);
    fs::create_symlink(elsewhere, ini);
    EXPECT_EQ(Read(), "");
    EXPECT_FALSE(fs::is_symlink(ini));
    EXPECT_EQ(dir_.Read(kIni), defaults_);
    EXPECT_EQ(dir_.Read(kBackup), old);
    EXPECT_EQ(dir_.Read("elsewhere.ini"), old);
}

TEST(ConfigurationLocation, BesideTheExecutableUnlessInstalledOrItCannotBeWrittenThere) {
    const struct {
        const char* exeDir;
        bool writable, currentIni;
        const char* xdg;
        const char* home;
        const char* expected;
    } cases[] = {
        {"/home/u/t", true, false, "/x", "/h", "/home/u/t/Trevalo.ini"},
        {"/srv/t", false, true, "/x", "/h", "/srv/t/Trevalo.ini"},
        {"/usrlocal", true, false, "/x", "/h", "/usrlocal/Trevalo.ini"},
        // Installed: nothing beside the program, even for root or with an INI file there.
        {"/usr/bin", true, true, "/x", "/h", "/x/trevalo/Trevalo.ini"},
        {"/usr/local/bin", true, false, "", "/h", "/h/.config/trevalo/Trevalo.ini"},
        {"/opt", true, false, "", "/h", "/h/.config/trevalo/Trevalo.ini"},
        {"/opt/trevalo/bin", true, true, "", "/h", "/h/.config/trevalo/Trevalo.ini"},
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
