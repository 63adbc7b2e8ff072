#include "avs/avisynth_info.h"

#include <iterator>
#include <vector>

#include "avs/cycle.h"
#include "avs/host.h"
#include "avs/image_facts.h"
#include "sys/file_info.h"
#include "sys/library.h"
#include "sys/utils.h"

CAvisynthInfo g_avsInfo;

namespace {

// A frame server library is a few megabytes; anything far larger is not one.
constexpr size_t kLargestImage = 256u * 1024u * 1024u;

std::string LoadTextOf(const std::string& system) {
    const std::string text = "Cannot load " + sys::AvisynthLibraryFileName();
    return system.empty() ? text : text + "\n" + system;
}

std::string LoadText() {
    return LoadTextOf(CUtils::GetLastErrorText());
}

// The installation's texts for a cycle that did not go through; environmentText for a library
// that refused the environment.
std::string CycleErrorText(const avs::CycleResult& cycle, const char* environmentText) {
    switch (cycle.failure) {
        case avs::CycleFailure::kLoad:
            return LoadTextOf(cycle.systemText);
        case avs::CycleFailure::kEnvironment:
            return environmentText;
        case avs::CycleFailure::kCaught:
            return cycle.caught == avs::Caught::kOther ? LoadTextOf(cycle.systemText) : cycle.text;
        case avs::CycleFailure::kEntryPoint:
        case avs::CycleFailure::kUnload:
        case avs::CycleFailure::kNone:
            break;
    }
    return cycle.text;
}

std::string LibraryName(const std::string& dllPath) {
    return dllPath.empty() ? sys::DefaultAvisynthLibraryName() : dllPath;
}

}  // namespace

std::string GetFileVersionString(const std::string& path) {
    if (path.empty()) return "0.0.0.0";
    std::string version;
    if (sys::ReadVersionResource(path, version)) return version;
    std::string real = sys::RealPath(path);
    return FileVersionFromFileName(real.empty() ? path : real);
}

std::string GetFileTimeStamp(const std::string& path) {
    unsigned y, mo, d, h, mi, s;
    if (path.empty() || !sys::ModificationTimeUtc(path, y, mo, d, h, mi, s)) {
        return "Cannot determine timestamp";
    }
    return FormatTimeStamp(y, mo, d, h, mi, s);
}

int CAvisynthInfo::InspectLibraryFile(const std::string& name, std::string& moduleName,
                                      bool& exportsLinkage, std::string& errorText) {
    moduleName = sys::FindLibraryFile(name);
    std::vector<uint8_t> bytes;
    if (moduleName.empty()) {
        // Let the loader say why it cannot find the library.
        sys::Library probe;
        if (probe.Open(name)) sys::SetLastErrorText(name + ": library file not found");
        loadFailed = 1;
        errorText = LoadText();
        return 0;
    }
    if (!sys::ReadFileBytes(moduleName, bytes, kLargestImage)) {
        loadFailed = 1;
        errorText = LoadText();
        return 0;
    }
    ImageFacts facts;
    std::string inspectError;
    bool ok = InspectImage(bytes, facts, inspectError);
    if (facts.machine != 0 && IsForeignArchitecture(facts)) {
        is64Bit = facts.is64Bit ? 1 : 0;
        foreignArchitecture = 1;
        errorText = "Cannot load " + sys::AvisynthLibraryFileName();
        return 0;
    }
    if (!ok) {
        errorText = "Cannot load " + sys::AvisynthLibraryFileName() + "\n" + inspectError;
        return 0;
    }
    linkerVersion = facts.linkerVersion;
    exportsLinkage = ExportsLinkage(facts.exportNames);
    return 1;
}

int CAvisynthInfo::QueryAvisynthInfo(std::string& errorText, std::string dllPath) {
    dllLocation.clear();
    is64Bit = 0;
    foreignArchitecture = 0;
    mtSupport = 0;
    interfaceVersion = 0;
    fileVersion.clear();
    versionString = "Unknown Avisynth Version";
    loadFailed = 0;
    errorText.clear();
    sys::ClearLastError();

    const std::string name = LibraryName(dllPath);
    std::string moduleName;
    bool exportsLinkage = false;
    if (!InspectLibraryFile(name, moduleName, exportsLinkage, errorText)) return 0;

    dllLocation = sys::RealPath(moduleName);
    if (dllLocation.empty()) dllLocation = moduleName;
    fileVersion = GetFileVersionString(dllLocation);
    if (!exportsLinkage) {
        errorText = CUtils::FormatString(
            "Avisynth version is too old (%s).\nPlease update to Avisynth 2.6 or Avisynth+.",
            fileVersion.c_str());
        return 0;
    }
    timeStamp = GetFileTimeStamp(dllLocation);

    interfaceVersion = QueryInterfaceVersion(errorText, dllPath);
    if (interfaceVersion == 0) return 0;

    // The environment cycle: version string and multi-threading support.
    const avs::CycleResult cycle =
        avs::RunCycle({name, interfaceVersion, true}, [&](avs::ScriptSession& session) {
            try {
                avs::Value result = session.env.InvokeWithoutArguments("VersionString");
                versionString = result.AsString();
            } catch (const avs::NotFound&) {
                // an AviSynth without VersionString keeps the default text
            }
            mtSupport =
                session.env.FunctionExists("SetMTMode") || session.env.FunctionExists("Prefetch")
                    ? 1
                    : 0;
        });
    if (!cycle.WorkStarted()) {
        errorText = CycleErrorText(cycle, "Could not create IScriptenvironment");
        return 0;
    }
    if (!cycle.Succeeded()) errorText = CycleErrorText(cycle, "");
    ReadPluginDirectories();
    return cycle.Succeeded() ? 1 : 0;
}

int CAvisynthInfo::QueryInterfaceVersion(std::string& errorText, std::string dllPath) {
    errorText.clear();
    int result = 0;
    const avs::CycleResult cycle =
        avs::RunCycle({LibraryName(dllPath), 5, true}, [&](avs::ScriptSession& session) {
            result = 5;
            try {
                session.env.CheckVersion(6);
                result = 6;
                session.env.CheckVersion(7);
                result = 7;
            } catch (const avs::AvisynthError&) {
                // the version reached so far stands
            }
        });
    if (cycle.Succeeded()) return result;
    errorText = CycleErrorText(
        cycle, "Could not create IScriptenvironment (AVISYNTH_INTERFACE_VERSION = 5)");
    return 0;
}

void CAvisynthInfo::ReadPluginDirectories() {
    for (auto& slot : pluginDirs)
        slot.clear();
    for (const auto& dir : sys::PluginDirectories(dllLocation)) {
        std::string text = dir.path;
        CUtils::Trim(text);
        if (text.empty() || dir.slot >= std::size(pluginDirs)) continue;
        pluginDirs[dir.slot] = dir.label + text;
    }
}

avs::Installation CAvisynthInfo::Facts() const {
    avs::Installation facts;
    facts.versionString = versionString;
    facts.fileVersion = fileVersion;
    facts.interfaceVersion = interfaceVersion;
    facts.mtSupport = mtSupport;
    facts.linkerVersion = linkerVersion;
    facts.dllLocation = dllLocation;
    facts.timeStamp = timeStamp;
    for (const std::string& entry : pluginDirs) {
        if (!entry.empty()) facts.pluginDirs.push_back(entry);
    }
    return facts;
}

void CAvisynthInfo::PrintReport() const {
    constexpr unsigned short kWhite = 0x0F;
    g_utils.Print(true, kWhite, "Avisynth version string:     %s\n", versionString.c_str());
    g_utils.Print(true, kWhite, "File version:                %s\n", fileVersion.c_str());
    g_utils.Print(true, kWhite, "Avisynth Interface Version:  %d\n", interfaceVersion);
    g_utils.Print(true, kWhite, "Muli-threading support:      %s\n", mtSupport ? "Yes" : "No");
    g_utils.Print(true, kWhite, "Linker/compiler version:     %s\n", linkerVersion.c_str());
    g_utils.Print(true, kWhite, "Avisynth DLL location:       %s\n",
                  CUtils::ToOem(dllLocation).c_str());
    g_utils.Print(true, kWhite, "Avisynth DLL time stamp:     %s\n", timeStamp.c_str());
    for (const auto& entry : pluginDirs) {
        if (entry.empty()) continue;
        size_t split = entry.find(":\t");
        std::string line = split == std::string::npos
                               ? entry
                               : entry.substr(0, split + 1) + "   " + entry.substr(split + 2);
        g_utils.Print(true, kWhite, "%s\n", CUtils::ToOem(line).c_str());
    }
}
