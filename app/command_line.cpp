#include "app/command_line.h"

#include "app/config.h"
#include "app/scan.h"
#include "sys/paths.h"
#include "sys/utils.h"

namespace {

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

bool EndsWith(const std::string& text, const char* suffix) {
    const size_t length = std::char_traits<char>::length(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

constexpr const char* kCompareUsage =
    "\n-compare takes two or more scripts, or two result files:\n"
    "Trevalo -compare a.avs b.avs [c.avs ...] [switches]\n"
    "Trevalo -compare a.json b.json\n";

std::string Quoted(const char* before, const std::string& text, const char* after = "\n") {
    return std::string(before) + "\"" + text + "\"" + after;
}

bool ParseRange(const std::string& value, RunSettings& settings) {
    settings.FrameRangeFirst = kUnparsedRange;
    settings.FrameRangeLast = kUnparsedRange;
    if (value.size() < 3) return false;
    const size_t comma = value.find(',');
    if (comma == std::string::npos || comma < 1 || comma > 27) return false;
    settings.FrameRangeText = "FrameRange=" + value;
    const std::string first = value.substr(0, comma);
    const std::string last = value.substr(comma + 1);
    if (!CUtils::IsNumber(first) || !CUtils::IsNumber(last)) return false;
    settings.FrameRangeFirst = ReadInt64(first);
    settings.FrameRangeLast = ReadInt64(last);
    return true;
}

// A switch's value for a bounded key of the INI file: a number within the key's bounds, as
// in the file, but anything else is refused rather than taken as the default.
bool ParseBounded(const std::string& raw, const std::string& value, const char* keyName,
                  RunSettings& settings, std::string& message) {
    const IniKey& key = *FindIniKey(keyName);
    const int32_t number = ReadInt32(value);
    if (!CUtils::IsNumber(value) || !key.Accepts(number)) {
        const std::string bounds = "\nValue must be between " + std::to_string(key.min) + " and " +
                                   std::to_string(key.max) + "\n";
        message = Quoted("\nInvalid parameter value: ", raw, bounds.c_str());
        return false;
    }
    key.setInteger(settings, number);
    return true;
}

// Why a script cannot be opened: a path beyond the system's limit is no missing file.
const char* NotFoundText(const std::string& absolute) {
    return sys::IsPathTooLong(absolute) ? "\nPath too long: " : "\nFile not found: ";
}

// A later script name replaces an earlier one; a user who meant to compare them is told how.
void NoteReplacedScript(CommandLineRequest& request, const std::string& raw) {
    std::string replaced = sys::FileNameOf(request.scriptPath);
    std::string replacing = raw;
    CUtils::Trim(replacing);
    request.notice = "\nTwo scripts named: only \"" + replacing +
                     "\" is run (to compare scripts: Trevalo -compare " + replaced + " " +
                     sys::FileNameOf(replacing) + ")\n";
}

// Script names: "x.avs" (any letter case), or "x" completed with ".avs" when allowed.
bool ParseScriptName(const std::string& raw, const std::string& lowered, RunSettings& settings,
                     CommandLineRequest& request, std::string& message) {
    // A comparison names several scripts; each is checked as the one of a run is.
    if (request.compareScripts) {
        if (EndsWith(lowered, ".json")) {  // result files are compared alone
            message = kCompareUsage;
            return false;
        }
        CommandLineRequest one;
        if (!ParseScriptName(raw, lowered, settings, one, message)) return false;
        request.comparedScripts.push_back(one.scriptPath);
        if (request.scriptPath.empty()) request.scriptPath = one.scriptPath;
        return true;
    }
    const size_t n = lowered.size();
    if (n > 4 && EndsWith(lowered, ".avs")) {
        const std::string absolute = sys::MakeAbsolute(raw);
        if (!absolute.empty()) {
            if (!request.scriptPath.empty() && request.scriptPath != absolute) {
                NoteReplacedScript(request, raw);
            }
            request.scriptPath = absolute;
            if (CUtils::FileExists(absolute)) return true;
            message = Quoted(NotFoundText(absolute), raw);
            return false;
        }
    } else if (settings.AutoCompleteExtension && request.scriptPath.empty() && n > 0) {
        const std::string candidate = raw + ".avs";
        const std::string absolute = sys::MakeAbsolute(candidate);
        if (!absolute.empty()) {
            request.scriptPath = absolute;
            if (CUtils::FileExists(absolute)) return true;
            message = Quoted(NotFoundText(absolute), candidate);
            return false;
        }
    }
    message = Quoted("\nInvalid argument: ", raw);
    return false;
}

bool ParseScanSwitch(const std::string& raw, const std::string& typed, CommandLineRequest& request,
                     std::string& message) {
    std::string reason;
    if (!request.scanValues.empty()) {
        reason = "-scan is given once: a scan varies one variable";
    } else if (request.compareScripts) {
        reason = "-scan measures one script; -compare compares scripts: use one or the other";
    } else if (app::ParseScan(typed.substr(6), request.scanValues, reason)) {
        return true;
    }
    message = Quoted("\nInvalid parameter value: ", raw, ("\n" + reason + "\n").c_str());
    return false;
}

bool ParseArgument(const std::string& raw, RunSettings& settings, CommandLineRequest& request,
                   std::string& message) {
    std::string typed = raw;
    CUtils::Trim(typed);
    std::string text = typed;
    CUtils::ToLower(text);
    const std::string append = typed + " ";

    if (text == "-avsinfo") {
        request.switchesText += append;
        request.avisynthInfoRequested = true;
    } else if (text == "-i" || text == "-info") {
        request.switchesText += append;
        request.clipInfoRequested = true;
    } else if (text == "-l" || text == "-log") {
        request.switchesText += append;
        settings.CreateLog = 1;
    } else if (text == "-csv") {
        request.switchesText += append;
        settings.CreateCSV = 1;
    } else if (text == "-json") {
        request.switchesText += append;
        request.jsonRequested = true;
    } else if (text == "-chart") {
        request.switchesText += append;
        request.chartRequested = true;
    } else if (text == "-gpu") {
        request.switchesText += append;
        settings.MonitorGPULoad = 1;
    } else if (StartsWith(text, "-range=")) {
        request.switchesText += append;
        if (!ParseRange(text.substr(7), settings)) {
            message = Quoted("\nInvalid parameter format: ", raw);
            return false;
        }
    } else if (StartsWith(text, "-priority=")) {
        request.switchesText += append;
        return ParseBounded(raw, text.substr(10), "ProcessPriority", settings, message);
    } else if (StartsWith(text, "-timelimit=")) {
        request.switchesText += append;
        return ParseBounded(raw, text.substr(11), "TimeLimit", settings, message);
    } else if (text == "-compare") {
        request.switchesText += append;
    } else if (StartsWith(text, "-scan=")) {
        request.switchesText += append;
        return ParseScanSwitch(raw, typed, request, message);
    } else if (StartsWith(text, "-runs=")) {
        request.switchesText += append;
        request.runsGiven = true;
        return ParseBounded(raw, text.substr(6), "Runs", settings, message);
    } else {
        return ParseScriptName(raw, text, settings, request, message);
    }
    return true;
}

}  // namespace

bool ParseArguments(const std::vector<std::string>& args, RunSettings& settings,
                    CommandLineRequest& request, std::string& message) {
    request = CommandLineRequest{};
    message.clear();
    for (std::string text : args) {
        CUtils::Trim(text);
        CUtils::ToLower(text);
        if (text == "-compare") request.compareScripts = true;
    }
    for (const std::string& raw : args) {
        if (!ParseArgument(raw, settings, request, message)) return false;
    }
    CUtils::Trim(request.switchesText);
    if (request.compareScripts && request.comparedScripts.size() < 2) {
        message = kCompareUsage;
        return false;
    }
    return true;
}

std::string ScanSwitchError(const std::vector<std::string>& args) {
    CommandLineRequest request;
    std::string message;
    for (const std::string& raw : args) {
        std::string typed = raw;
        CUtils::Trim(typed);
        std::string text = typed;
        CUtils::ToLower(text);
        if (text == "-compare") request.compareScripts = true;
    }
    for (const std::string& raw : args) {
        std::string typed = raw;
        CUtils::Trim(typed);
        std::string text = typed;
        CUtils::ToLower(text);
        if (StartsWith(text, "-scan=") && !ParseScanSwitch(raw, typed, request, message)) break;
    }
    return message;
}

bool IsCompareCommand(const std::vector<std::string>& args) {
    bool compare = false;
    for (std::string text : args) {
        CUtils::Trim(text);
        CUtils::ToLower(text);
        if (text == "-compare") {
            compare = true;
        } else if (!EndsWith(text, ".json")) {
            return false;
        }
    }
    return compare;
}

bool ParseCompareArguments(const std::vector<std::string>& args, std::string& first,
                           std::string& second, std::string& message) {
    std::vector<std::string> files;
    size_t switches = 0;
    for (const std::string& raw : args) {
        std::string text = raw;
        CUtils::Trim(text);
        CUtils::ToLower(text);
        if (text == "-compare") {
            ++switches;
        } else {
            files.push_back(raw);
        }
    }
    if (switches != 1 || files.size() != 2) {
        message =
            "\n-compare takes two result files and nothing else:\n"
            "Trevalo -compare a.json b.json\n";
        return false;
    }
    first = files[0];
    second = files[1];
    message.clear();
    return true;
}

bool ParseCommandLine(const std::vector<std::string>& args, CommandLineRequest& request) {
    std::string message;
    if (ParseArguments(args, g_settings, request, message)) {
        if (!request.notice.empty() && !request.avisynthInfoRequested) {
            g_utils.Print(g_settings.ConUseSTDOUT != 0, 0x0B, "%s", request.notice.c_str());
        }
        return true;
    }
    g_utils.Print(g_settings.ConUseSTDOUT != 0, 0x0B, "%s", message.c_str());
    return false;
}

void PrintUsage() {
    static const char* const kLines[] = {
        "\nUsage:  Trevalo script.avs [switches]\n\n",
        "Switches:\n",
        "  -help [-h, -?]      Show this text\n",
        "  -version            Show the program's version\n",
        "  -avsinfo            Display Avisynth info\n",
        "  -info [-i]          Display clip info\n",
        "  -log  [-l]          Create log file\n",
        "  -csv                Create csv file\n",
        "  -json               Create json result file\n",
        "  -chart              Create svg chart\n",
        "  -gpu                Monitor GPU/VPU usage\n",
        "  -range=first,last   Set frame range\n",
        "  -timelimit=n        Set time limit (seconds)\n",
        "  -runs=n             Measure the range n times (1 to 1000)\n",
        "  -priority=n         Set process priority (1:low, 2:normal, 3:high)\n\n",
        "  -compare a.avs b.avs [c.avs ...]\n",
        "                      Compare scripts in interleaved runs (-runs=n, 5 if not given)\n",
        "  -scan=name:values   Measure the script once per value of a script variable\n",
        "                      in interleaved runs, e.g. -scan=threads:1,2,4,8 with\n",
        "                      Prefetch(threads) in the script, or -scan=size:8..64:8\n",
        "  -compare a.json b.json\n",
        "                      Compare two json result files (no Avisynth needed)\n\n",
        "  For more info on the command line switches and INI file\n",
        "  options, read the documentation (Trevalo.html) included\n",
        "  in the distribution package.\n",
    };
    for (const char* line : kLines)
        g_utils.Print(true, 0x0F, "%s", line);
    g_utils.Print(true, 0, "\n");
}

InfoRequest FindInfoRequest(const std::vector<std::string>& args) {
    InfoRequest found = InfoRequest::kNone;
    for (std::string text : args) {
        CUtils::Trim(text);
        CUtils::ToLower(text);
        if (text == "-h" || text == "-help" || text == "--help" || text == "-?" || text == "/?") {
            return InfoRequest::kHelp;
        }
        if (text == "-version" || text == "--version") found = InfoRequest::kVersion;
    }
    return found;
}
