// -compare: two result files side by side, without AviSynth.
#pragma once

#include <string>
#include <vector>

namespace app {

// Reads both files named by the arguments and prints the comparison on standard output.
// Returns the exit code: 0, or -1 after printing why a file could not be compared.
int RunCompare(const std::vector<std::string>& args);

}  // namespace app
