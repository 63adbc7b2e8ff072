#include "app/config.h"

#include <algorithm>
#include <limits>

#include "app/version.h"
#include "sys/file_info.h"
#include "sys/library.h"
#include "sys/paths.h"
#include "sys/utils.h"

namespace {

const char kIniName[] = "Trevalo.ini";

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

std::string CannotOpen(const std::string& path) {
    return "\nCannot open \"" + path + "\"\n";
}

std::string CannotCreate(const std::string& path) {
    const std::string why = CUtils::GetLastErrorText();
    return "\nCannot create \"" + path + "\"" + (why.empty() ? "" : ": " + why) + "\n";
}

// A real INI file is a few hundred bytes; whatever lies beyond this is not read, so no file
// or line can exhaust memory.
constexpr size_t kMaxIniBytes = 1 << 20;

bool ReadIniText(const std::string& path, std::string& content) {
    return sys::ReadFileHead(path, content, kMaxIniBytes);
}

// strtol on the digits, clamped to [lowest, highest].
int64_t ReadClamped(const std::string& text, int64_t lowest, int64_t highest) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Magnitudes in unsigned arithmetic, so that the lowest value itself fits.
    const uint64_t limit =
        negative ? static_cast<uint64_t>(-(lowest + 1)) + 1 : static_cast<uint64_t>(highest);
    uint64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
        magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
    }
    if (!negative) return static_cast<int64_t>(magnitude);
    if (magnitude == limit) return lowest;
    return -static_cast<int64_t>(magnitude);
}

// A flag moves only away from its default, and only the line's last character counts.
void ApplyFlag(const std::string& line, int32_t& flag, int32_t defaultValue) {
    const char away = defaultValue == 1 ? '0' : '1';
    if (line.back() == away) flag = defaultValue == 1 ? 0 : 1;
}

// A number within the key's bounds is taken, any other number means the default, and what
// is no number changes nothing.
void ApplyBoundedInteger(const IniKey& key, const std::string& value, RunSettings& settings) {
    if (!CUtils::IsNumber(value)) return;
    const int32_t number = ReadInt32(value);
    key.setInteger(settings, key.Accepts(number) ? number : ReadInt32(key.defaultText));
}

void ApplyFrameRange(const std::string& rawLine, const std::string& value, RunSettings& settings) {
    settings.FrameRangeText = rawLine;
    settings.FrameRangeFirst = kUnparsedRange;
    settings.FrameRangeLast = kUnparsedRange;
    if (value.size() < 3) return;
    const size_t comma = value.find(',');
    if (comma == std::string::npos || comma < 1 || comma > 27) return;
    const std::string first = value.substr(0, comma);
    const std::string last = value.substr(comma + 1);
    if (!CUtils::IsNumber(first) || !CUtils::IsNumber(last)) return;
    settings.FrameRangeFirst = ReadInt64(first);
    settings.FrameRangeLast = ReadInt64(last);
}

// The value after the raw line's first '=', so that a library path keeps its case and blanks.
std::string RawValue(const std::string& rawLine) {
    const size_t equals = rawLine.find('=');
    std::string value = equals == std::string::npos ? "" : rawLine.substr(equals + 1);
    CUtils::Trim(value);
    return value;
}

}  // namespace

int32_t ReadInt32(const std::string& text) {
    return static_cast<int32_t>(ReadClamped(text, std::numeric_limits<int32_t>::min(),
                                            std::numeric_limits<int32_t>::max()));
}

int64_t ReadInt64(const std::string& text) {
    return ReadClamped(text, std::numeric_limits<int64_t>::min(),
                       std::numeric_limits<int64_t>::max());
}

std::vector<std::string> DefaultIniLines(const std::string& version) {
    // The version opens the main section; a later section follows a blank line.
    IniSection section = IniSection::kMain;
    std::vector<std::string> lines = {std::string("[") + IniSectionName(section) + "]\n",
                                      "Version=" + version + "\n"};
    for (const IniKey& key : kIniKeys) {
        if (key.section != section) {
            section = key.section;
            lines.push_back(std::string("\n[") + IniSectionName(section) + "]\n");
        }
        lines.push_back(std::string(key.name) + "=" + key.defaultText + "\n");
    }
    return lines;
}

std::vector<std::string> SplitIniLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

std::string NormaliseIniLine(const std::string& line) {
    std::string normalised = line;
    CUtils::ToLower(normalised);
    CUtils::Trim(normalised);
    normalised.erase(std::remove(normalised.begin(), normalised.end(), ' '), normalised.end());
    return normalised;
}

bool IniIsUpToDate(const std::vector<std::string>& lines, const std::string& version) {
    for (const std::string& raw : lines) {
        const std::string line = NormaliseIniLine(raw);
        if (StartsWith(line, "version=") && line.size() >= 5 &&
            line.compare(line.size() - 5, 5, version) == 0) {
            return true;
        }
    }
    return false;
}

void ApplyIniLines(const std::vector<std::string>& lines, RunSettings& settings) {
    for (const std::string& raw : lines) {
        const std::string line = NormaliseIniLine(raw);
        if (line.empty()) continue;
        for (const IniKey& key : kIniKeys) {
            // A flag's name alone is enough; a value needs its '='.
            std::string prefix = key.name;
            CUtils::ToLower(prefix);
            if (key.kind != IniKeyKind::kFlag) prefix += '=';
            if (!StartsWith(line, prefix.c_str())) continue;
            const std::string value = line.substr(prefix.size());
            switch (key.kind) {
                case IniKeyKind::kFlag:
                    ApplyFlag(line, settings.*key.flag, ReadInt32(key.defaultText));
                    break;
                case IniKeyKind::kText:
                    settings.*key.text = RawValue(raw);
                    break;
                case IniKeyKind::kFrameRange:
                    ApplyFrameRange(raw, value, settings);
                    break;
                case IniKeyKind::kBoundedInteger:
                    ApplyBoundedInteger(key, value, settings);
                    break;
            }
            break;  // no key's name begins another's
        }
    }
}

bool IsInstallationDirectory(const std::string& dir) {
    for (const char* prefix : {"/usr", "/opt"}) {
        const size_t length = std::char_traits<char>::length(prefix);
        if (dir.compare(0, length, prefix) == 0 && (dir.size() == length || dir[length] == '/')) {
            return true;
        }
    }
    return false;
}

std::string ChooseConfigurationPath(const std::string& exeDir, bool exeDirWritable,
                                    bool currentIniBesideExecutable,
                                    const std::string& xdgConfigHome, const std::string& home) {
    // An installed program writes nothing beside itself, where no package manager would
    // remove it; run by root it could.
    if (!exeDir.empty() && !IsInstallationDirectory(exeDir) &&
        (exeDirWritable || currentIniBesideExecutable)) {
        return sys::JoinPath(exeDir, kIniName);
    }
    // A system-wide installation, whose own INI file (if any) cannot be rewritten: the
    // user's configuration directory. A relative XDG_CONFIG_HOME is invalid and ignored.
    std::string base;
    if (!xdgConfigHome.empty() && xdgConfigHome[0] == '/') {
        base = xdgConfigHome;
    } else if (!home.empty()) {
        base = sys::JoinPath(home, ".config");
    }
    if (base.empty()) return sys::JoinPath(exeDir, kIniName);
    return sys::JoinPath(sys::JoinPath(base, "trevalo"), kIniName);
}

std::string ConfigurationPath(const std::string& version) {
    const std::string executable = sys::ExecutablePath();
    const std::string exeDir = executable.empty() ? "" : sys::DirectoryOf(executable);
#ifdef _WIN32
    static_cast<void>(version);
    return sys::JoinPath(exeDir, kIniName);
#else
    const bool writable = !exeDir.empty() && sys::IsDirectoryWritable(exeDir);
    bool current = false;
    std::string content;
    if (!writable && !exeDir.empty() && ReadIniText(sys::JoinPath(exeDir, kIniName), content)) {
        current = IniIsUpToDate(SplitIniLines(content), version);
    }
    return ChooseConfigurationPath(exeDir, writable, current,
                                   sys::GetEnvironment("XDG_CONFIG_HOME"),
                                   sys::GetEnvironment("HOME"));
#endif
}

std::string LibraryLoadHint(const std::string& iniPath) {
#ifdef _WIN32
    const char* example = "C:\\AviSynth\\";
#else
    const char* example = "/path/to/";
#endif
    return "Set AVSDLL=" + std::string(example) + sys::AvisynthLibraryFileName() + " in \"" +
           iniPath + "\", or add the library's folder to " + sys::LibrarySearchVariable() + ".\n";
}

std::string ReadConfigurationAt(const std::string& iniPath, const std::string& version,
                                RunSettings& settings) {
    // Defaults before anything can fail, so every way out leaves them in place.
    settings = RunSettings{};

    // Anything but a regular file counts as missing; creating the file over it then fails.
    const bool existed = CUtils::FileExists(iniPath);
    std::string content;
    std::vector<std::string> lines;
    if (existed) {
        if (!ReadIniText(iniPath, content)) return CannotOpen(iniPath);
        lines = SplitIniLines(content);
    }

    if (!existed || !IniIsUpToDate(lines, version)) {
        // Keep the user's old settings before the defaults replace them; without a backup
        // the old file stays untouched.
        const std::string backup = iniPath + ".bak";
        if (existed && !sys::CopyFile(iniPath, backup)) return CannotCreate(backup);
        const std::string dir = sys::DirectoryOf(iniPath);
        if (!dir.empty()) sys::MakeDirectories(dir);  // a failure shows when writing

        std::string text;
        for (const std::string& line : DefaultIniLines(version)) {
            for (const char c : line) {
                if (c == '\n') {
                    text += sys::NativeLineEnd();
                } else {
                    text += c;
                }
            }
        }
        if (!sys::WriteFile(iniPath, text)) return CannotCreate(iniPath);
        return "";  // the new file is not read back: the run uses the defaults
    }

    ApplyIniLines(lines, settings);
    return "";
}

std::string ReadConfiguration() {
    const std::string version = ProgramVersion();
    return ReadConfigurationAt(ConfigurationPath(version), version, g_settings);
}
