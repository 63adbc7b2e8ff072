// The reports' lines exactly, spacing included: -avsinfo, the log's general info, the clip's.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "app/version.h"
#include "e2e/e2e.h"

namespace e2e {
namespace {

// 2015-06-01, 09:05:00 UTC.
constexpr time_t kStamp = 1433149500;

// The compiler that built the tests built minisynth: its version is the library's record.
std::string CompilerVersion() {
#if defined(__GNUC__) && !defined(__clang__)
    return "GCC " + std::to_string(__GNUC__) + "." + std::to_string(__GNUC_MINOR__) + "." +
           std::to_string(__GNUC_PATCHLEVEL__);
#else
    return "";
#endif
}

TEST_F(Trevalo, TheInstallationReportAndTheLogsGeneralInformation) {
    SKIP_ON_WINE("the Windows report's plugin lines come from the registry");
    if (CompilerVersion().empty()) GTEST_SKIP() << "minisynth's compiler is not known here";
    // minisynth under its versioned name at a known time; plugin directories come second.
    const std::filesystem::path original = std::filesystem::canonical(MINISYNTH_LIB);
    const std::string library = dir.File("lib/" + original.filename().string());
    std::filesystem::create_directories(dir.File("lib"));
    std::filesystem::copy_file(original, library);
    const timespec times[2] = {{kStamp, 0}, {kStamp, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, library.c_str(), times, 0), 0);
    WriteIni({{"AVSDLL", library}});
    for (const bool plugins : {false, true}) {
        SCOPED_TRACE(plugins ? "with plugin directories" : "without");
        if (plugins) {
            std::filesystem::create_directories(dir.File("lib/avisynth"));
            std::filesystem::create_directories(dir.File(".local/lib/avisynth"));
        }
        const testsupport::ProgramResult r = Run({"-avsinfo"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        std::vector<std::string> expected = {
            "Avisynth version string:     minisynth 0.9 (stand-in frame server)",
            "File version:                " + std::string(TREVALO_VERSION) + ".0",
            "Avisynth Interface Version:  7",
            "Muli-threading support:      Yes",
            "Linker/compiler version:     " + CompilerVersion(),
            "Avisynth DLL location:       " + library,
            "Avisynth DLL time stamp:     2015-06-01, 09:05:00"};
        if (plugins) {
            expected.push_back("PluginDir+    (user):   " + dir.File(".local/lib/avisynth"));
            expected.push_back("PluginDir+    (system):   " + dir.File("lib/avisynth"));
        }
        EXPECT_EQ(r.out, testsupport::Joined(expected));
    }

    // The log's general information: the run's own lines, and the same installation (its
    // texts are report_test's).
    const std::string script = Script("run.avs", "BlankClip(length=10)\n");
    ASSERT_EQ(Run({"-info", "-log", script}).exitCode, 0);
    const std::vector<std::string> general = SectionLines(dir.Read("run.log"), "[General info]");
    ASSERT_EQ(general.size(), 12u);
    EXPECT_EQ(general[1], "Script file:                           " + script);
    EXPECT_EQ(general[2], "Command line switches:                 -info -log");
    EXPECT_EQ(general[8], "Avisynth.dll location:                 " + library);
    EXPECT_EQ(general[9], "Avisynth.dll time stamp:               2015-06-01, 09:05:00");
}

// -info's clip report on the console and in the log (with the audio); rarer lines are unit tests'.
TEST_F(Trevalo, TheClipReportShowsTheClipsProperties) {
    const struct {
        const char* name;
        const char* script;
        std::vector<std::string> video;  // the console's lines and the log's first
        std::vector<std::string> audio;  // the log's last
    } cases[] = {
        {"bottom",
         "BlankClip(length=50, width=720, height=480, pixel_type=\"YUY2\", fps=25, "
         "audio_rate=48000, channels=6, sample_type=\"float\")\nAssumeFieldBased()\nAssumeBFF()\n",
         {"Number of frames:                   50", "Length (hh:mm:ss.ms):     00:00:02.000",
          "Frame width:                       720", "Frame height:                      480",
          "Framerate:                      25.000 (25/1, BFF)",
          "Colorspace:                       YUY2"},
         {"Audio channels:                      6", "Audio bits/sample:                  32",
          "Audio sample rate:               48000", "Audio samples:                   96000"}},
        {"audio only",
         "BlankClip(length=250, fps=25)\nKillVideo()\n",
         {"Number of frames:                  n/a", "Length (hh:mm:ss.ms):              n/a",
          "Frame width:                       n/a", "Frame height:                      n/a",
          "Framerate:                         n/a", "Colorspace:                        n/a"},
         {"Audio channels:                      1", "Audio bits/sample:                  16",
          "Audio sample rate:               44100", "Audio samples:                  441000"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string script = Script("clip.avs", c.script);
        const testsupport::ProgramResult r = Run({"-info", "-log", script});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const std::vector<std::string> console = SplitLines(LastWrites(r.err));
        const auto first = std::find(console.begin(), console.end(), c.video[0]);
        ASSERT_NE(first, console.end()) << r.err;
        EXPECT_EQ(std::vector<std::string>(first, std::min(first + 6, console.end())), c.video)
            << r.err;
        std::vector<std::string> log = c.video;
        log.insert(log.end(), c.audio.begin(), c.audio.end());
        EXPECT_EQ(SectionLines(dir.Read("clip.log"), "[Clip info]"), log);
    }
}

}  // namespace
}  // namespace e2e
