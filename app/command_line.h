// The program's arguments: switches on top of the INI settings, and the script to run.
#pragma once

#include <string>
#include <vector>

#include "app/settings.h"
#include "avs/script_variable.h"

struct CommandLineRequest {
    std::string scriptPath;  // absolute; empty when no script was named
    std::string notice;      // a line for the console about what the arguments meant, or ""
    bool avisynthInfoRequested = false;
    bool clipInfoRequested = false;
    bool jsonRequested = false;   // -json: script.json beside the script
    bool chartRequested = false;  // -chart: script.svg beside the script
    bool runsGiven = false;       // -runs=n on the command line
    // -compare of scripts: each script named, in order (scriptPath is the first).
    bool compareScripts = false;
    std::vector<std::string> comparedScripts;
    // -scan=name:values: the script measured once per value of the variable.
    std::vector<avs::ScriptVariable> scanValues;
    std::string switchesText;  // the recognised switches as typed, for the log
};

// Parses the arguments (without the program name) into settings and request. Stops at the
// first invalid argument: returns false with the message to print.
bool ParseArguments(const std::vector<std::string>& args, RunSettings& settings,
                    CommandLineRequest& request, std::string& message);

// The message for the first -scan switch that cannot be taken, "" when there is none: a scan is
// checked before AviSynth is loaded.
std::string ScanSwitchError(const std::vector<std::string>& args);

// True when one of the arguments is -compare (any case, blanks around it ignored) and every
// other argument names a result file (".json"): the run then compares result files and needs
// no AviSynth. With scripts, -compare is a switch of ParseArguments.
bool IsCompareCommand(const std::vector<std::string>& args);

// "-compare a.json b.json": the switch once, anywhere, and exactly two other arguments, the
// result files A and B in their order. false with the message to print otherwise.
bool ParseCompareArguments(const std::vector<std::string>& args, std::string& first,
                           std::string& second, std::string& message);

// ParseArguments applied to g_settings; prints the message on failure.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLineRequest& request);

// The usage text, to standard output.
void PrintUsage();

// What a start asks for before anything else: help (-h, -help, --help, -?, /?) or the
// version (-version, --version), anywhere on the command line; help wins.
enum class InfoRequest { kNone, kHelp, kVersion };
InfoRequest FindInfoRequest(const std::vector<std::string>& args);
