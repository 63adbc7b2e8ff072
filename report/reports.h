// What a run leaves for the user: the clip report on the console and the text blocks of the
// log, the log file and the CSV file beside the script.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "avs/host.h"
#include "bench/record.h"
#include "bench/series_statistics.h"

namespace report {

// The script path with its last four characters replaced by the extension (".log",
// ".csv"); a path of at most four characters gets the extension appended.
std::string SiblingPath(const std::string& scriptPath, const char* extension);
// Where a run's log or CSV file goes: beside the script, a scan's run named by its value too
// ("x.threads=4.log"), any character a file name may not hold replaced by "_".
std::string ResultPath(const bench::RunSetup& setup, const char* extension);

// The message for a result file that could not be written, with the system's reason.
std::string CannotCreate(const std::string& path);

// "[General info]": the program, the script, the switches and the installation.
std::string GeneralInfo(const bench::RunSetup& setup);

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

// Prints the clip report on the console stream, over the status line.
void PrintClipInfo(const avs::VideoInfo& vi, bool mtAvailable, int mtMode);

// The graphics card's section of the log.
std::string GraphicsCardText(const bench::CardDescription& card);

// "[Runtime info]": the summary's lines as the console showed them, or the too-short message.
std::string RuntimeInfoText(const bench::RunTotals& totals, const bench::GpuFigures* gpu,
                            const bench::DisplayOptions& display,
                            const std::string& heading = "Runtime info");

// The log file's whole text from the script's text; pure, so its layout can be checked.
std::string LogFileText(const bench::RunRecord& record, const std::string& scriptText);

// The CSV file's whole text: empty without samples.
std::string CsvFileText(const bench::RunRecord& record);

// The lines a series adds to the summary: the runs' average rates as mean and standard
// deviation, their extremes and their coefficient of variation.
std::string SeriesSummaryText(const bench::SeriesStatistics& series);

// The warnings on a series: each outlier run by its number and rate (fps in run order), and
// a spread above 5 %.
std::vector<std::string> SeriesWarnings(const bench::SeriesStatistics& series,
                                        const std::vector<double>& fps);

// A series of runs of one script, however many it has. The log has the series' lines
// (seriesText) and each run's runtime info and samples; the CSV file a first column "Run".
std::string SeriesLogText(const std::vector<bench::RunRecord>& runs, const std::string& seriesText,
                          const std::string& scriptText);
std::string SeriesCsvText(const std::vector<bench::RunRecord>& runs);

// Write the files with CR LF line ends. "" on success, else the message to print.
std::string WriteLogFile(const bench::RunRecord& record);
std::string WriteCsvFile(const bench::RunRecord& record);
std::string WriteSeriesLogFile(const std::vector<bench::RunRecord>& runs,
                               const std::string& seriesText);
std::string WriteSeriesCsvFile(const std::vector<bench::RunRecord>& runs);

}  // namespace report
