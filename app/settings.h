// The settings of one run: defaults, then the INI file, then the command line.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

// Held in both range fields while a range text is parsed; a malformed range leaves it there,
// and the range check rejects it later.
constexpr int64_t kUnparsedRange = 0xFFFFFFFFFF;

// Field names are the INI keys; the defaults are those a new INI file holds (kIniKeys; a
// test keeps the two equal). Flags hold 0 or 1.
struct RunSettings {
    std::string AVSDLL;  // empty: the default library
    int32_t DisplayFPS = 1;
    int32_t DisplayTPF = 0;
    int32_t DisplayEfficiencyIndex = 1;
    int32_t CreateLog = 0;
    int32_t CreateCSV = 0;
    int32_t PauseBeforeExit = 0;
    int64_t FrameRangeFirst = 0;
    int64_t FrameRangeLast = -1;  // -1: the clip's last frame
    std::string FrameRangeText;   // the range as written, for the range check's message
    int64_t TimeLimit = -1;       // seconds, within its key's bounds; -1: none
    int32_t Runs = 1;             // measurements of the range, each in a fresh environment
    int32_t InvokeDistributor = 1;
    int32_t AllowOnlyOneInstance = 1;
    int32_t UseColor = 1;
    int32_t MonitorGPULoad = 0;
    uint8_t ProcessPriority = 2;  // 1 low, 2 normal, 3 high
    int32_t ConUseSTDOUT = 0;
    int32_t LogEstimatedTime = 0;
    int32_t AutoCompleteExtension = 0;
};

extern RunSettings g_settings;

// How a key's value is written and read (the rules are ApplyIniLines').
enum class IniKeyKind {
    kFlag,            // 0 or 1; a line moves it only away from its default
    kText,            // any text, its case and inner blanks kept
    kFrameRange,      // "first,last": FrameRangeFirst, FrameRangeLast and FrameRangeText
    kBoundedInteger,  // a whole number from min to max; any other number means the default
};

enum class IniSection { kMain, kMiscellaneous };

// The section's name as its header shows it, without the brackets.
const char* IniSectionName(IniSection section);

// One key of the INI file. Its value goes to the RunSettings field of the same name, reached
// through the member that its kind uses; a frame range fills the three FrameRange fields.
struct IniKey {
    const char* name;
    const char* defaultText;  // as a new file holds it
    IniKeyKind kind;
    IniSection section;
    int32_t RunSettings::*flag = nullptr;                 // kFlag
    std::string RunSettings::*text = nullptr;             // kText
    void (*setInteger)(RunSettings&, int32_t) = nullptr;  // kBoundedInteger
    int32_t min = 0;
    int32_t max = 0;

    constexpr bool Accepts(int64_t value) const { return value >= min && value <= max; }
};

constexpr IniKey FlagKey(const char* name, const char* defaultText, IniSection section,
                         int32_t RunSettings::*field) {
    IniKey key{name, defaultText, IniKeyKind::kFlag, section};
    key.flag = field;
    return key;
}

constexpr IniKey TextKey(const char* name, const char* defaultText, IniSection section,
                         std::string RunSettings::*field) {
    IniKey key{name, defaultText, IniKeyKind::kText, section};
    key.text = field;
    return key;
}

constexpr IniKey FrameRangeKey(const char* name, const char* defaultText, IniSection section) {
    return IniKey{name, defaultText, IniKeyKind::kFrameRange, section};
}

// field: the RunSettings member, of whatever integer type holds the range.
template <auto field>
constexpr IniKey BoundedKey(const char* name, const char* defaultText, IniSection section,
                            int32_t min, int32_t max) {
    IniKey key{name, defaultText, IniKeyKind::kBoundedInteger, section};
    key.setInteger = [](RunSettings& settings, int32_t value) {
        settings.*field = static_cast<std::remove_reference_t<decltype(settings.*field)>>(value);
    };
    key.min = min;
    key.max = max;
    return key;
}

// Every key, in the order a new file lists them (after the Version line, which opens the
// main section and belongs to no setting).
inline constexpr IniKey kIniKeys[] = {
    TextKey("AVSDLL", "", IniSection::kMain, &RunSettings::AVSDLL),
    FlagKey("DisplayFPS", "1", IniSection::kMain, &RunSettings::DisplayFPS),
    FlagKey("DisplayTPF", "0", IniSection::kMain, &RunSettings::DisplayTPF),
    FlagKey("DisplayEfficiencyIndex", "1", IniSection::kMain, &RunSettings::DisplayEfficiencyIndex),
    FlagKey("CreateLog", "0", IniSection::kMain, &RunSettings::CreateLog),
    FlagKey("CreateCSV", "0", IniSection::kMain, &RunSettings::CreateCSV),
    FlagKey("PauseBeforeExit", "0", IniSection::kMain, &RunSettings::PauseBeforeExit),
    FrameRangeKey("FrameRange", "0,-1", IniSection::kMain),
    FlagKey("InvokeDistributor", "1", IniSection::kMain, &RunSettings::InvokeDistributor),
    FlagKey("AllowOnlyOneInstance", "1", IniSection::kMain, &RunSettings::AllowOnlyOneInstance),
    FlagKey("UseColor", "1", IniSection::kMain, &RunSettings::UseColor),
    FlagKey("MonitorGPULoad", "0", IniSection::kMain, &RunSettings::MonitorGPULoad),
    BoundedKey<&RunSettings::ProcessPriority>("ProcessPriority", "2", IniSection::kMain, 1, 3),
    FlagKey("ConUseSTDOUT", "0", IniSection::kMain, &RunSettings::ConUseSTDOUT),
    BoundedKey<&RunSettings::TimeLimit>("TimeLimit", "-1", IniSection::kMain, 1, 999999),
    BoundedKey<&RunSettings::Runs>("Runs", "1", IniSection::kMain, 1, 1000),
    FlagKey("LogEstimatedTime", "0", IniSection::kMiscellaneous, &RunSettings::LogEstimatedTime),
    FlagKey("AutoCompleteExtension", "0", IniSection::kMiscellaneous,
            &RunSettings::AutoCompleteExtension),
};

// The key of this name (as written in kIniKeys); nullptr when there is none.
const IniKey* FindIniKey(const std::string& name);
