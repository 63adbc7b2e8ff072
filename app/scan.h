// -scan=name:values: one script measured once per value of a script variable, the value set
// before each import. Reading the switch and the script's text here; the measuring is a
// comparison of the script's variants (series.h).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "avs/script_variable.h"

namespace app {

constexpr size_t kMostScanValues = 100;

// The values of "name:values", the text after "-scan=": a list ("threads:1,2,4,8",
// "radius:0.5,1.0", "mode:fast,slow") or a range of whole numbers with an optional step
// ("threads:1..8", "size:8..64:8"). Whole numbers become ints, decimals floats (and the whole
// numbers beside them too, so that the script's arithmetic stays in one kind), anything else
// strings. false with the reason to print when the text is no scan.
bool ParseScan(const std::string& scanText, std::vector<avs::ScriptVariable>& values,
               std::string& reason);

// Whether the script's text names the variable outside comments and strings (any case).
bool ScriptNamesVariable(const std::string& scriptText, const std::string& name);

// Whether the script passes the variable to Prefetch as its thread count: "Prefetch(name)",
// ".Prefetch(name)", "Prefetch(last, name)", "Prefetch(threads=name)".
bool PassesToPrefetch(const std::string& scriptText, const std::string& name);

}  // namespace app
