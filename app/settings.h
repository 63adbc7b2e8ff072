// The settings of one run: defaults, then the INI file, then the command line.
#pragma once

#include <cstdint>
#include <string>

// Held in both range fields while a range text is parsed; a malformed range leaves it there,
// and the range check rejects it later.
constexpr int64_t kUnparsedRange = 0xFFFFFFFFFF;

// Field names are the INI keys. Flags hold 0 or 1.
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
    int64_t TimeLimit = -1;       // seconds, 1 to 999999; -1: none
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
