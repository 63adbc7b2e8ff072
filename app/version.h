// The program's own version, as the INI file and the banner show it.
#pragma once

#include <string>

// "a.b.c": the file version "a.b.c.0" cut to five characters.
std::string ProgramVersion();

// ProgramVersion() followed by the architecture in brackets, e.g. "1.4.2 (x64)".
std::string BannerVersion();

// "x64", "x86", "arm64", ...: the architecture this build runs on.
std::string ArchitectureName();
