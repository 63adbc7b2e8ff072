// The files and the clip report a user keeps: their exact layouts on fixed input.
#include <gtest/gtest.h>

#include "avs/avisynth_info.h"
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

TEST(SiblingPath, ReplacesTheLastFourCharacters) {
    EXPECT_EQ(SiblingPath("/clips/test.avs", ".log"), "/clips/test.log");
    EXPECT_EQ(SiblingPath("test", ".log"), "test.log");
    EXPECT_EQ(SiblingPath("abcde", ".csv"), "a.csv");
    EXPECT_EQ(SiblingPath("movie.avsi", ".log"), "movie..log");
}

TEST(LogFile, SectionsInOrderWithTheScriptTrimmedAndTheError) {
    LogInput in;
    in.logText = "[General info]\nx\n\n\n[Clip info]\ny\n";
    in.graphicsCardText = "\n\n[Graphics card info]\nCard name:               Z\n";
    in.errorText = "Exception 0xC0000005\nSTATUS_ACCESS_VIOLATION";
    const std::string script = "\n  \n\tBlankClip()\r\n  Blur(1)  \n\n";
    EXPECT_EQ(LogFileText(in, script),
              "[General info]\nx\n\n\n[Clip info]\ny\n\n"
              "\n[Script]\nBlankClip()\n  Blur(1)\n\n"
              "\n\n[AviSynth error]\nException 0xC0000005\nSTATUS_ACCESS_VIOLATION\n");
    in.monitorGpu = true;
    EXPECT_NE(LogFileText(in, "x").find("\n\n[Graphics card info]\n"), std::string::npos);
}

// Each column ends under its heading; frame numbers count from 1.
TEST(LogFile, ThePerformanceTableInItsThreeLayouts) {
    const std::vector<bench::FrameSample> samples = Samples();
    const struct {
        bool gpu, vpu;
        const char* table;
    } cases[] = {
        {false, false,
         "\n[Performance data]\n"
         "       Frame    Frames/sec   Time/frame(ms)   CPU(%)   Threads   PhysMEM(MB)   "
         "VirtMEM(MB)\n"
         "           1        25.000        40.000000       12         9           120           "
         "300\n"
         "         100      1234.568         0.810000       12         9           120           "
         "300\n"},
        {true, false,
         "\n[Performance data]\n"
         "       Frame    Frames/sec   Time/frame(ms)   CPU(%)   GPU(%)   Threads   PhysMEM(MB)   "
         "VirtMEM(MB)\n"
         "           1        25.000        40.000000       12       30         9           120"
         "           300\n"
         "         100      1234.568         0.810000       12       30         9           120"
         "           300\n"},
        {true, true,
         "\n[Performance data]\n"
         "       Frame    Frames/sec   Time/frame(ms)   CPU(%)   GPU(%)   VPU(%)   Threads   "
         "PhysMEM(MB)   VirtMEM(MB)\n"
         "           1        25.000        40.000000       12       30        4         9"
         "           120           300\n"
         "         100      1234.568         0.810000       12       30        4         9"
         "           120           300\n"},
    };
    for (const auto& c : cases) {
        LogInput in;
        in.samples = samples.data();
        in.sampleCount = samples.size();
        in.monitorGpu = c.gpu;
        in.vpuAvailable = c.vpu;
        EXPECT_EQ(LogFileText(in, "x"), "\n\n[Script]\nx\n\n" + std::string(c.table));
    }
}

TEST(CsvFile, HeaderAndRowsOfNineTenOrElevenFields) {
    const std::vector<bench::FrameSample> samples = Samples();
    EXPECT_EQ(CsvFileText(samples.data(), 0, true, true), "") << "no samples: an empty file";
    EXPECT_EQ(CsvFileText(samples.data(), 1, false, true),
              "Frame,Frames/sec,Frames/sec(average),Time/frame(ms),Time/frame(average)(ms),CPU(%),"
              "Threads,PhysMEM(MB),VirtMEM(MB)\n"
              "1,25.000,20.000,40.000000,50.000000,12,9,120,300\n");
    EXPECT_NE(CsvFileText(samples.data(), 1, true, false).find("CPU(%),GPU(%),Threads"),
              std::string::npos);
    for (const auto& [gpu, vpu, fields] :
         {std::tuple{false, false, 9}, std::tuple{true, false, 10}, std::tuple{true, true, 11}}) {
        const std::string text = CsvFileText(samples.data(), 2, gpu, vpu);
        const std::string row = text.substr(text.rfind('\n', text.size() - 2) + 1);
        EXPECT_EQ(std::count(row.begin(), row.end(), ',') + 1, fields) << row;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
    }
}

avs::VideoInfo Clip(int width, int height, unsigned num, unsigned den, int frames, int pixel,
                    int imageType = 0) {
    avs::VideoInfo vi;
    vi.raw.width = width;
    vi.raw.height = height;
    vi.raw.fps_numerator = num;
    vi.raw.fps_denominator = den;
    vi.raw.num_frames = frames;
    vi.raw.pixel_type = pixel;
    vi.raw.image_type = imageType;
    return vi;
}

constexpr int kYV12 = static_cast<int>(0xA0000008u);
constexpr int kFieldBased = 1 << 2;
constexpr int kTff = 1 << 1;
constexpr int kBff = 1 << 0;

TEST(ClipReport, ConsoleLinesAndTheLogSection) {
    const ClipReport pal = DescribeClip(Clip(720, 576, 25, 1, 1500, kYV12), false, 0);
    EXPECT_EQ(pal.console,
              "\nNumber of frames:                 1500"
              "\nLength (hh:mm:ss.ms):     00:01:00.000"
              "\nFrame width:                       720"
              "\nFrame height:                      576"
              "\nFramerate:                      25.000 (25/1)"
              "\nColorspace:                       YV12\n");
    EXPECT_EQ(pal.log.substr(0, 15), "\n\n[Clip info]\nN");
    EXPECT_NE(pal.log.find("Colorspace:                       YV12\n"
                           "Audio channels:                    n/a\n"
                           "Audio bits/sample:                 n/a\n"
                           "Audio sample rate:                 n/a\n"
                           "Audio samples:                     n/a\n"),
              std::string::npos)
        << pal.log;

    const struct {
        avs::VideoInfo vi;
        const char* line;
    } rates[] = {
        {Clip(64, 64, 30000, 1001, 10, kYV12),
         "Framerate:                      29.970 (30000/1001)"},
        {Clip(64, 64, 50, 1, 10, kYV12, kFieldBased | kTff), "(50/1, TFF)"},
        {Clip(64, 64, 50, 1, 10, kYV12, kFieldBased | kBff), "(50/1, BFF)"},
        {Clip(64, 64, 50, 1, 10, kYV12, kFieldBased), "(50/1)\n"},
        {Clip(64, 64, 50, 1, 10, kYV12, kTff), "(50/1)\n"},
        {Clip(64, 64, 0, 1, 10, kYV12), "Length (hh:mm:ss.ms):              n/a"},
        {Clip(64, 64, 25, 1, 10, 0x7), "Colorspace:                    Unknown"},
    };
    for (const auto& c : rates) {
        EXPECT_NE(DescribeClip(c.vi, false, 0).console.find(c.line), std::string::npos)
            << c.line << "\n"
            << DescribeClip(c.vi, false, 0).console;
    }

    EXPECT_NE(DescribeClip(Clip(64, 64, 25, 1, 10, kYV12), true, 2)
                  .console.find("YV12\nActive MT Mode:                      2\n"),
              std::string::npos);
}

TEST(ClipReport, AudioOnlyAndTheAudioLines) {
    avs::VideoInfo audio;
    audio.raw.audio_samples_per_second = 48000;
    audio.raw.sample_type = 2;  // 16 bits
    audio.raw.nchannels = 2;
    audio.raw.num_audio_samples = 123456789012;
    const ClipReport report = DescribeClip(audio, false, 0);
    EXPECT_EQ(report.console,
              "\nNumber of frames:                  n/a\nLength (hh:mm:ss.ms):              n/a"
              "\nFrame width:                       n/a\nFrame height:                      n/a"
              "\nFramerate:                         n/a\nColorspace:                        n/a\n");
    EXPECT_NE(report.log.find("Audio channels:                      2\n"
                              "Audio bits/sample:                  16\n"
                              "Audio sample rate:               48000\n"
                              "Audio samples:            123456789012\n"),
              std::string::npos)
        << report.log;
}

TEST(GeneralInfo, InstallationFactsAndPluginDirectories) {
    CAvisynthInfo avs;
    avs.versionString = "AviSynth+ 3.7.5";
    avs.fileVersion = "3.7.5.0";
    avs.interfaceVersion = 10;
    avs.mtSupport = 1;
    avs.linkerVersion = "GCC 12.2.0";
    avs.dllLocation = "/usr/lib/libavisynth.so.3.7.5";
    avs.timeStamp = "2024-01-02, 03:04:05";
    avs.pluginDirs[1] = "PluginDir+    (system):\t/usr/lib/avisynth";
    EXPECT_EQ(GeneralInfo("0.9.0 (x64)", "/c/a.avs", "-log ", avs),
              "[General info]\n"
              "Log file created with:                 Trevalo 0.9.0 (x64)\n"
              "Script file:                           /c/a.avs\n"
              "Command line switches:                 -log \n"
              "Avisynth version string:               AviSynth+ 3.7.5\n"
              "Avisynth file version:                 3.7.5.0\n"
              "Avisynth Interface Version:            10\n"
              "Avisynth MT support:                   Yes\n"
              "Avisynth.dll linker/compiler version:  GCC 12.2.0\n"
              "Avisynth.dll location:                 /usr/lib/libavisynth.so.3.7.5\n"
              "Avisynth.dll time stamp:               2024-01-02, 03:04:05\n"
              "PluginDir+    (system):             /usr/lib/avisynth\n");
    EXPECT_EQ(GeneralInfo("v", "s", "", avs).find("Command line switches"), std::string::npos);
}

}  // namespace
}  // namespace report
