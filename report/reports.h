// What a run leaves for the user: the clip report on the console and the text blocks of the
// log, the log file and the CSV file beside the script.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "avs/script.h"
#include "bench/measure.h"

class CAvisynthInfo;

namespace report {

// The script path with its last four characters replaced by the extension (".log",
// ".csv"); a path of at most four characters gets the extension appended.
std::string SiblingPath(const std::string& scriptPath, const char* extension);

// "[General info]": the program, the script, the switches and the installation.
std::string GeneralInfo(const std::string& bannerVersion, const std::string& scriptPath,
                        const std::string& switchesText, const CAvisynthInfo& avs);

// The clip's lines: as printed on the console, and the "[Clip info]" section with the audio
// lines for the log.
struct ClipReport {
    std::string console;
    std::string log;
};
ClipReport DescribeClip(const avs::VideoInfo& vi, bool mtAvailable, int mtMode);

// The colour space as the clip report names it ("YV12", "Unknown"); "" for a clip without
// video.
std::string ColourSpaceName(const avs::VideoInfo& vi);

// Bits per sample of an AviSynth audio sample type; 0 for an unknown one.
int AudioBitsPerSample(int sampleType);

// Prints the clip report and appends its section to logText.
void PrintClipInfo(const avs::ScriptSession& session, std::string& logText);

// The graphics card's description for the log, when GPU monitoring is on.
struct CardDescription {
    std::string cardName, gpuName, memorySize, openClVersion, driverVersion, sourceVersion;
};
std::string GraphicsCardText(const CardDescription& card);

struct LogInput {
    std::string scriptPath;
    std::string logText;
    std::string graphicsCardText;
    const bench::FrameSample* samples = nullptr;
    size_t sampleCount = 0;
    std::string errorText;
    bool monitorGpu = false;
    bool vpuAvailable = false;
};

// The log file's whole text from the script's text; pure, so its layout can be checked.
std::string LogFileText(const LogInput& in, const std::string& scriptText);

// The CSV file's whole text: empty without samples.
std::string CsvFileText(const bench::FrameSample* samples, size_t sampleCount, bool monitorGpu,
                        bool vpuAvailable);

// Write the files with CR LF line ends. "" on success, else the message to print.
std::string WriteLogFile(const LogInput& in);
std::string WriteCsvFile(const std::string& scriptPath, const bench::FrameSample* samples,
                         size_t sampleCount, bool monitorGpu, bool vpuAvailable);

}  // namespace report
