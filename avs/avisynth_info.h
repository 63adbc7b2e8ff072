// What the installed AviSynth is: inspected at every start, before the command line is
// acted on, and reported by -avsinfo, the banner and the log.
#pragma once

#include <string>
#include <vector>

namespace avs {

// What the installation query found, as the reports show it.
struct Installation {
    std::string versionString;
    std::string fileVersion;
    int interfaceVersion = 0;
    int mtSupport = 0;
    std::string linkerVersion;
    std::string dllLocation;
    std::string timeStamp;
    std::vector<std::string> pluginDirs;  // "label:\tpath", in slot order, empty slots left out
};

}  // namespace avs

class CAvisynthInfo {
  public:
    virtual ~CAvisynthInfo() = default;

    // One full pass: the library file's facts and two AviSynth cycles of its own. 1 on
    // success; 0 with errorText (and loadFailed or foreignArchitecture where they apply).
    int QueryAvisynthInfo(std::string& errorText, std::string dllPath);
    // 5, 6 or 7; 0 with errorText on failure.
    int QueryInterfaceVersion(std::string& errorText, std::string dllPath);
    void ReadPluginDirectories();

    // The -avsinfo report, on standard output.
    void PrintReport() const;
    // The facts the reports carry.
    avs::Installation Facts() const;

    int mtSupport = 0;
    int interfaceVersion = 0;
    std::string pluginDirs[4];
    std::string dllLocation;
    std::string linkerVersion;
    std::string fileVersion;
    std::string versionString;
    std::string timeStamp;
    int is64Bit = 0;              // the library file is a 64-bit image
    int foreignArchitecture = 0;  // built for another architecture than this tool
    int loadFailed = 0;           // the library file was not found or not readable

  private:
    // The library file that the loader would open, inspected without running it.
    int InspectLibraryFile(const std::string& name, std::string& moduleName, bool& exportsLinkage,
                           std::string& errorText);
};

extern CAvisynthInfo g_avsInfo;

// "a.b.c.d" of a library file; "0.0.0.0" when it has none.
std::string GetFileVersionString(const std::string& path);
// The file's last-write time in UTC, or "Cannot determine timestamp".
std::string GetFileTimeStamp(const std::string& path);
