// The configuration file "Trevalo.ini": location, default contents, reading.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/settings.h"

// Fills g_settings from the INI file (creating it when missing or written by another
// version). Returns an error text ready to print, "" on success.
std::string ReadConfiguration();

// ReadConfiguration on a given file and version: defaults first, then the file. An outdated
// or foreign file is kept as iniPath + ".bak" before it is rewritten with the defaults.
std::string ReadConfigurationAt(const std::string& iniPath, const std::string& version,
                                RunSettings& settings);

// Where the INI file lies: beside the executable, or (when the executable is installed under
// /usr or /opt, or its directory cannot be written and holds no INI file of this version) in
// the user's configuration directory.
std::string ConfigurationPath(const std::string& version);

// How a user points the tool at a library it could not load: the AVSDLL key of the INI file
// at iniPath, or the loader's search variable. One line, ending in a line feed.
std::string LibraryLoadHint(const std::string& iniPath);

// True for a directory under /usr or /opt, where installations put programs.
bool IsInstallationDirectory(const std::string& dir);

// The location rule on given facts. exeDir: directory of the executable ("" when unknown);
// currentIniBesideExecutable: an INI file of this version lies there; xdgConfigHome, home:
// the environment values ("" when unset).
std::string ChooseConfigurationPath(const std::string& exeDir, bool exeDirWritable,
                                    bool currentIniBesideExecutable,
                                    const std::string& xdgConfigHome, const std::string& home);

// The twenty strings written to a new file, each ending with its line end(s).
std::vector<std::string> DefaultIniLines(const std::string& version);

// Splits file contents into lines; accepts LF and CR LF line ends.
std::vector<std::string> SplitIniLines(const std::string& text);

// Lower-cased, trimmed, and without any blank inside.
std::string NormaliseIniLine(const std::string& line);

// True when a "version=" line ends with the version text.
bool IniIsUpToDate(const std::vector<std::string>& lines, const std::string& version);

// Applies the key lines on top of settings; malformed lines change nothing.
void ApplyIniLines(const std::vector<std::string>& lines, RunSettings& settings);

// Reads a decimal number as strtol does (blanks, optional sign, digits up to the first other
// character; no digits give 0) and clamps it to the type's limits.
int32_t ReadInt32(const std::string& text);
int64_t ReadInt64(const std::string& text);
