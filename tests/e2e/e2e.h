// Each test gets its own program copy (INI beside it), lock directory and minisynth on the path.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"

namespace e2e {

std::string LibraryDir();
// The frame server's library as the program's messages name it.
std::string LibraryFileName();
std::string VariantLibrary(const std::string& variant);

// TREVALO_E2E_WINDOWS_BUILD names a MinGW build whose trevalo.exe runs under Wine instead.
bool OnWine();
std::string WineLoader();
std::string WindowsBuildFile(const std::string& name);
// A path of the test's as the program shows it: Wine maps the root to drive Z:.
std::string Shown(const std::string& path);
// The program's text with the line ends of its C library ("\r\n" on Windows) made "\n".
std::string Lines(std::string text);
#define SKIP_ON_WINE(why) \
    if (::e2e::OnWine()) GTEST_SKIP() << "Windows build: " << why
#define SKIP_PTY_ON_WINE() SKIP_ON_WINE("Wine's console on a pseudo-terminal is too slow to time")

class Trevalo : public ::testing::Test {
  protected:
    void SetUp() override;

    testsupport::ProgramResult Run(const std::vector<std::string>& args,
                                   const std::string& stdinText = "");
    testsupport::ProgramOptions Options(const std::string& stdinText = "") const;
    // The default INI file beside the program, with changes.
    void WriteIni(const std::vector<std::pair<std::string, std::string>>& changes);
    std::string Script(const std::string& name, const std::string& text) const;

    testsupport::TempDir dir;
    std::string exe;
    std::string runtimeDir;
};

// The version line that a fresh INI file carries, and the banner's text.
std::string ProgramVersion();
constexpr int kErrorStatus = 255;  // exit code -1
std::string ReadFile(const std::string& path);

// Each line's text after its last carriage return, as a status line's overwriting leaves it.
std::string LastWrites(const std::string& stream);
std::vector<std::string> SplitLines(const std::string& text);
std::vector<std::vector<std::string>> ReadCsv(const std::string& text);
std::vector<std::string> Sections(const std::string& log);
// The lines of a log section, from the one after its heading up to the first empty one.
std::vector<std::string> SectionLines(const std::string& log, const std::string& heading);
// The row of the screen (or of played console output) that starts with label; "" if none.
std::string RowStarting(const std::vector<std::string>& rows, const std::string& label);
// The figures after label, split at " | ", with a unit (" MB", "%", " ms", " fps") dropped.
std::vector<std::string> FiguresOf(const std::string& row, const std::string& label);
// Whether text holds part; either way the message shows the text.
::testing::AssertionResult Contains(const std::string& text, const std::string& part);
// Whether the text printed for a figure is value, shown with the decimals the text has.
::testing::AssertionResult Shows(const std::string& printed, double value);
// "00:01:02.345" as milliseconds; -1 when the text is no such duration.
int64_t DurationMs(const std::string& text);

// True while the program has not ended (unlike kill(pid, 0), also before it is reaped).
bool StillRunning(int pid);

// The process that measures for the program of this id: its child once the measuring has
// started in a process of its own, else the program itself.
int MeasuringPid(int pid);

// A part file the trial run reads as trialText and the measured run as runText (Wine: both).
class TrialThenRun {
  public:
    TrialThenRun(const std::string& dir, const std::string& name, std::string trialText,
                 std::string runText);
    ~TrialThenRun();
    TrialThenRun(const TrialThenRun&) = delete;
    TrialThenRun& operator=(const TrialThenRun&) = delete;

  private:
    void Serve();

    std::string path_, trialText_, runText_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace e2e
