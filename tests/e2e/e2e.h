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
