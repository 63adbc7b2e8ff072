// Shared set-up of the end-to-end tests: each test gets its own copy of the program (its
// INI file lies beside it), its own lock directory, and minisynth on the loader's path.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/process.h"

namespace e2e {

std::string LibraryDir();
std::string VariantLibrary(const std::string& variant);

// With TREVALO_E2E_WINDOWS_BUILD set to a MinGW build directory, the suite runs that
// build's trevalo.exe and avisynth.dll under Wine instead of this build's program.
bool OnWine();
std::string WineLoader();
std::string WindowsBuildFile(const std::string& name);
// A path of the test's as the program shows it: Wine maps the root to drive Z:.
std::string Shown(const std::string& path);
// The program's text with the line ends of its C library ("\r\n" on Windows) made "\n".
std::string Lines(std::string text);
#define SKIP_ON_WINE(why) \
    if (::e2e::OnWine()) GTEST_SKIP() << "Windows build: " << why
#define SKIP_PTY_ON_WINE()                                                            \
    SKIP_ON_WINE(                                                                     \
        "Wine's console on a pseudo-terminal redraws every character, too slowly to " \
        "time")
// A library of the other word width than the program's, for the architecture refusal.
std::string ForeignWidthLibrary();

class Trevalo : public ::testing::Test {
  protected:
    void SetUp() override;

    // Runs the program with pipes as standard streams.
    testsupport::ProgramResult Run(const std::vector<std::string>& args,
                                   const std::string& stdinText = "");
    testsupport::ProgramOptions Options(const std::string& stdinText = "") const;
    // Writes the INI file beside the program: the twenty default lines with changes.
    void WriteIni(const std::vector<std::pair<std::string, std::string>>& changes);
    std::string Script(const std::string& name, const std::string& text) const;

    testsupport::TempDir dir;
    std::string exe;
    std::string runtimeDir;
};

// The version line that a fresh INI file carries, and the banner's text.
std::string ProgramVersion();

}  // namespace e2e
