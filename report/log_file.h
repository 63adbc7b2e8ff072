// The log and CSV files beside the script.
#pragma once

#include <string>

#include "avs/script.h"
#include "bench/measure.h"

struct CommandLineRequest;

namespace report {

// The script path with its last four characters replaced by the extension.
std::string SiblingPath(const std::string& scriptPath, const char* extension);

std::string WriteLogFile(const std::string& scriptPath, const std::string& logText,
                         const std::string& errorText, const bench::Samples& samples,
                         uint32_t refreshInterval);

std::string WriteCsvFile(const std::string& scriptPath, const bench::Samples& samples,
                         uint32_t refreshInterval);

// Prints the clip's properties and starts the log text with them.
void PrintClipInfo(const avs::ScriptSession& session, const CommandLineRequest& request,
                   std::string& logText);

}  // namespace report
