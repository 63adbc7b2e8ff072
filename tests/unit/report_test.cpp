// The files and the clip report a user keeps: their exact layouts on fixed input.
#include <gtest/gtest.h>

#include "report/reports.h"

namespace report {
namespace {

std::vector<bench::FrameSample> Samples() {
    bench::FrameSample a;
    a.frame = 0;
    a.currentFps = 25.0;
    a.averageFps = 20.0;
    a.cpuPercent = 12;
    a.gpuPercent = 30;
    a.vpuPercent = 4;
    a.threadCount = 9;
    a.physicalMB = 120;
    a.virtualMB = 300;
    bench::FrameSample b = a;
    b.frame = 99;
    b.currentFps = 1234.5678;
    return {a, b};
}

// A record with the first count of those samples; gpu: monitored, vpu: with the video engine.
bench::RunRecord WithSamples(bool gpu, bool vpu, size_t count) {
    bench::RunRecord r;
    r.samples = Samples();
    r.samples.resize(count);
    if (gpu) r.gpu = bench::GpuRecord{std::nullopt, bench::GpuFigures{}, vpu};
    return r;
}

TEST(SiblingPath, ReplacesTheLastFourCharacters) {
    EXPECT_EQ(SiblingPath("/clips/test.avs", ".log"), "/clips/test.log");
    EXPECT_EQ(SiblingPath("test", ".log"), "test.log");
    EXPECT_EQ(SiblingPath("abcde", ".csv"), "a.csv");
    EXPECT_EQ(SiblingPath("movie.avsi", ".log"), "movie..log");
}

bench::RunSetup KnownSetup() {
    bench::RunSetup setup;
    setup.programVersion = "0.9.0";
    setup.architecture = "x64";
    setup.scriptPath = "/c/a.avs";
    setup.switches = "-log";
    setup.avisynth.versionString = "AviSynth+ 3.7.5";
    setup.avisynth.fileVersion = "3.7.5.0";
    setup.avisynth.interfaceVersion = 10;
    setup.avisynth.mtSupport = 1;
    setup.avisynth.linkerVersion = "GCC 12.2.0";
    setup.avisynth.dllLocation = "/usr/lib/libavisynth.so.3.7.5";
    setup.avisynth.timeStamp = "2024-01-02, 03:04:05";
    setup.avisynth.pluginDirs = {"PluginDir+    (system):\t/usr/lib/avisynth"};
    return setup;
}

constexpr const char* kGeneralInfo =
    "[General info]\n"
    "Log file created with:                 Trevalo 0.9.0 (x64)\n"
    "Script file:                           /c/a.avs\n"
    "Command line switches:                 -log\n"
    "Avisynth version string:               AviSynth+ 3.7.5\n"
    "Avisynth file version:                 3.7.5.0\n"
    "Avisynth Interface Version:            10\n"
    "Avisynth MT support:                   Yes\n"
    "Avisynth.dll linker/compiler version:  GCC 12.2.0\n"
    "Avisynth.dll location:                 /usr/lib/libavisynth.so.3.7.5\n"
    "Avisynth.dll time stamp:               2024-01-02, 03:04:05\n"
    "PluginDir+    (system):             /usr/lib/avisynth\n";

// Every part of the log in its place; what the run reached decides which sections there are.
TEST(LogFile, SectionsInOrderWithTheScriptTrimmedAndTheError) {
    bench::RunRecord r;
    r.setup = KnownSetup();
    r.errorText = "Exception 0xC0000005\nSTATUS_ACCESS_VIOLATION";
    const std::string script = "\n  \n\tBlankClip()\r\n  Blur(1)  \n\n";
    const std::string scriptAndError =
        "\n\n[Script]\nBlankClip()\n  Blur(1)\n\n"
        "\n\n[AviSynth error]\nException 0xC0000005\nSTATUS_ACCESS_VIOLATION\n";
    EXPECT_EQ(LogFileText(r, script), kGeneralInfo + scriptAndError) << "no clip reached";

    avs::VideoInfo clip;
    clip.raw.width = 64;
    clip.raw.height = 48;
    clip.raw.num_frames = 100;
    clip.raw.fps_numerator = 25;
    clip.raw.fps_denominator = 1;
    r.clip = clip;
    r.mtAvailable = true;
    r.mtMode = 2;
    bench::RunTotals t;
    t.firstFrame = 0;
    t.lastFrame = 99;
    t.rangeFrames = 100;
    t.framesProcessed = 100;
    t.refreshInterval = 10;
    t.minFps = 40.0;
    t.maxFps = 62.5;
    t.averageFps = 48.0;
    t.peakPhysicalMB = 130;
    t.peakVirtualMB = 310;
    t.physicalMB = 120;
    t.threadCount = 9;
    t.cpuAverage = 24;
    t.elapsedMs = 2083;
    r.totals = t;
    r.setup.display.tpf = true;
    bench::CardDescription card{"Card", "GPU", "8192 MB", "3.0", "535.1", "NVML 12.535"};
    r.gpu = bench::GpuRecord{card, bench::GpuFigures{}, false};
    r.gpu->last.memoryUsedAvailable = true;
    r.gpu->last.memoryUsedMB = 700;
    r.totals->gpuAverage = 33;
    EXPECT_EQ(LogFileText(r, script),
              kGeneralInfo + std::string(DescribeClip(clip, true, 2).log) +
                  "\n\n[Runtime info]\n"
                  "Frames processed:               100 (0 - 99)\n"
                  "FPS (min | max | average):      40.00 | 62.50 | 48.00\n"
                  "TPF (max | min | average):      25.00 | 16.00 | 20.83 ms\n"
                  "Memory usage (phys | virt):     130 | 310 MB\n"
                  "Thread count:                   9\n"
                  "CPU usage (average):            24%\n"
                  "Efficiency index:               2.000\n"
                  "GPU usage (average):            33%\n"
                  "GPU memory usage:               700 MB\n"
                  "Time (elapsed):                 00:00:02.083\n" +
                  "\n\n[Script]\nBlankClip()\n  Blur(1)\n\n"
                  "\n\n[Graphics card info]\nCard name:               Card\n"
                  "GPU name:                GPU\nMemory size:             8192 MB\n"
                  "OpenCL version:          3.0\nDriver version:          535.1\n"
                  "Info collected with:     NVML 12.535\n"
                  "\n\n[AviSynth error]\nException 0xC0000005\nSTATUS_ACCESS_VIOLATION\n");

    // A range shorter than the interval: the message alone, without a line end.
    r.totals->framesProcessed = 5;
    r.gpu.reset();
    r.errorText.clear();
    EXPECT_EQ(LogFileText(r, "x"), kGeneralInfo + std::string(DescribeClip(clip, true, 2).log) +
                                       "\n\n[Runtime info]\nThe specified frame range is too "
                                       "short for accurate measurements.\n\n[Script]\nx\n\n");
}

// Each column ends under its heading; frame numbers count from 1.
TEST(LogFile, ThePerformanceTableWithEveryColumn) {
    EXPECT_EQ(
        LogFileText(WithSamples(true, true, 2), "x"),
        GeneralInfo(bench::RunSetup{}) + "\n\n[Script]\nx\n\n" +
            "\n[Performance data]\n"
            "       Frame    Frames/sec   Time/frame(ms)   CPU(%)   GPU(%)   VPU(%)   Threads   "
            "PhysMEM(MB)   VirtMEM(MB)\n"
            "           1        25.000        40.000000       12       30        4         9"
            "           120           300\n"
            "         100      1234.568         0.810000       12       30        4         9"
            "           120           300\n");
    EXPECT_NE(LogFileText(WithSamples(true, false, 1), "x").find("CPU(%)   GPU(%)   Threads   "),
              std::string::npos);
}

TEST(CsvFile, HeaderAndRowsWithAndWithoutTheGpu) {
    EXPECT_EQ(CsvFileText(WithSamples(true, true, 0)), "") << "no samples: an empty file";
    EXPECT_EQ(CsvFileText(WithSamples(false, true, 1)),
              "Frame,Frames/sec,Frames/sec(average),Time/frame(ms),Time/frame(average)(ms),CPU(%),"
              "Threads,PhysMEM(MB),VirtMEM(MB)\n"
              "1,25.000,20.000,40.000000,50.000000,12,9,120,300\n");
    EXPECT_NE(CsvFileText(WithSamples(true, false, 1)).find("CPU(%),GPU(%),Threads"),
              std::string::npos);
    EXPECT_NE(CsvFileText(WithSamples(true, false, 1)).find(",12,30,9,"), std::string::npos);
}

// A series numbers each run's rows and sections, and says which run an error ended.
TEST(SeriesFiles, EachRunNumberedAndTheErrorByItsRun) {
    std::vector<bench::RunRecord> runs = {WithSamples(false, false, 1),
                                          WithSamples(false, false, 2)};
    runs[1].end = bench::RunEnd::kError;
    runs[1].errorText = "broken";
    const std::string csv = SeriesCsvText(runs);
    EXPECT_EQ(csv.substr(0, csv.find('\n')),
              "Run,Frame,Frames/sec,Frames/sec(average),Time/frame(ms),Time/frame(average)(ms),"
              "CPU(%),Threads,PhysMEM(MB),VirtMEM(MB)");
    EXPECT_NE(csv.find("\n1,1,25.000,"), std::string::npos) << csv;
    EXPECT_NE(csv.find("\n2,100,1234.568,"), std::string::npos) << csv;
    EXPECT_EQ(SeriesCsvText({WithSamples(false, false, 0), WithSamples(false, false, 0)}), "");
    const std::string log = SeriesLogText(runs, "Runs: 1\n", "script");
    for (const char* part :
         {"[Series]\nRuns: 1\n", "[Performance data, run 1 of 2]", "[Performance data, run 2 of 2]",
          "\n[AviSynth error, run 2]\nbroken\n"})
        EXPECT_NE(log.find(part), std::string::npos) << part << "\n" << log;
    EXPECT_EQ(log.find("[AviSynth error, run 1]"), std::string::npos);

    bench::SeriesStatistics series;
    series.runs = 3;
    series.outliers = {2};
    EXPECT_EQ(SeriesWarnings(series, {10, 10, 20}),
              std::vector<std::string>{"Warning: run 3 (20.00 fps) lies far from the others "
                                       "(more than three deviations from their median)."});
}

constexpr int kYV12 = static_cast<int>(0xA0000008u);

// The clip report's rarer lines and its colour-space names; its usual lines are the
// end-to-end tests'.
TEST(ClipReport, FieldOrderOnlyWhenFieldBasedUnknownsAndTheMtMode) {
    const auto clip = [](unsigned fpsNumerator, int pixelType, int imageType) {
        avs::VideoInfo vi;
        vi.raw.width = vi.raw.height = 64;
        vi.raw.fps_numerator = fpsNumerator;
        vi.raw.fps_denominator = 1;
        vi.raw.num_frames = 10;
        vi.raw.pixel_type = pixelType;
        vi.raw.image_type = imageType;
        return vi;
    };
    const int fieldBased = 1 << 2, tff = 1 << 1;
    const std::pair<avs::VideoInfo, const char*> cases[] = {
        {clip(50, kYV12, fieldBased), "(50/1)\n"},
        {clip(50, kYV12, tff), "(50/1)\n"},
        {clip(0, kYV12, 0), "Length (hh:mm:ss.ms):              n/a"},
        // Names right-aligned; I420 by its alias; a type without a name.
        {clip(25, 0x50000002, 0), "Colorspace:                      RGB32"},
        {clip(25, static_cast<int>(0xA0000010u), 0), "Colorspace:                       YV12"},
        {clip(25, static_cast<int>(0xE0000000u), 0), "Colorspace:                         Y8"},
        {clip(25, 0x7, 0), "Colorspace:                    Unknown"},
    };
    for (const auto& [vi, line] : cases) {
        const std::string console = DescribeClip(vi, false, 0).console;
        EXPECT_NE(console.find(line), std::string::npos) << line << "\n" << console;
    }
    EXPECT_NE(DescribeClip(clip(25, kYV12, 0), true, 2)
                  .console.find("YV12\nActive MT Mode:                      2\n"),
              std::string::npos);

    avs::VideoInfo audio;
    audio.raw.audio_samples_per_second = 48000;
    audio.raw.sample_type = 2;  // 16 bits
    audio.raw.nchannels = 2;
    audio.raw.num_audio_samples = 123456789012;
    EXPECT_NE(DescribeClip(audio, false, 0).log.find("Audio samples:            123456789012\n"),
              std::string::npos);
}

TEST(GeneralInfo, InstallationFactsAndPluginDirectories) {
    bench::RunSetup setup = KnownSetup();
    EXPECT_EQ(GeneralInfo(setup), kGeneralInfo);
    setup.switches.clear();
    EXPECT_EQ(GeneralInfo(setup).find("Command line switches"), std::string::npos);
}

}  // namespace
}  // namespace report
