#include "e2e/e2e.h"

#include <cstdlib>
#include <filesystem>

#include "app/config.h"

namespace e2e {

namespace {

std::string WindowsBuild() {
    const char* dir = std::getenv("TREVALO_E2E_WINDOWS_BUILD");
    return dir != nullptr ? dir : "";
}

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

std::string WineLoader() {
    const char* loader = std::getenv("TREVALO_E2E_WINE");
    return loader != nullptr ? loader : "/usr/lib/wine/wine64";
}

std::string WindowsBuildFile(const std::string& name) {
    return WindowsBuild() + "/" + name;
}

std::string WinePrefix() {
    const char* prefix = std::getenv("WINEPREFIX");
    return prefix != nullptr ? prefix : "/tmp/trevalo-wine";
}

bool OnWine() {
    return !WindowsBuild().empty();
}

std::string Shown(const std::string& path) {
    if (!OnWine() || path.empty() || path[0] != '/') return path;
    std::string shown = "Z:" + path;
    for (char& c : shown)
        if (c == '/') c = '\\';
    return shown;
}

std::string Lines(std::string text) {
    if (!OnWine()) return text;
    std::string lines;
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lines += text[i];
    return lines;
}

std::string ForeignWidthLibrary() {
    if (OnWine()) {
        // The headers of a 32-bit x86 DLL: MZ, the PE signature at 64, machine i386.
        std::string pe32(64 + 24 + 224, '\0');
        pe32[0] = 'M';
        pe32[1] = 'Z';
        pe32[0x3c] = 64;
        pe32.replace(64, 4, std::string("PE\0\0", 4));
        pe32[68] = 0x4c;
        pe32[69] = 0x01;
        pe32[84] = static_cast<char>(224);  // size of the optional header
        pe32[86] = 0x02;                    // executable image
        pe32[87] = 0x21;                    // DLL, 32-bit machine
        pe32[88] = 0x0b;                    // PE32
        pe32[89] = 0x01;
        return pe32;
    }
    std::string elf32(52, '\0');
    elf32.replace(0, 4,
                  "\x7f"
                  "ELF");
    elf32[4] = 1;   // 32-bit
    elf32[5] = 1;   // little-endian
    elf32[6] = 1;   // version
    elf32[16] = 3;  // shared object
    elf32[18] = 3;  // i386
    elf32[20] = 1;
    return elf32;
}

std::string LibraryDir() {
    if (OnWine()) return WindowsBuild() + "/lib";
    return std::filesystem::path(MINISYNTH_LIB).parent_path().string();
}

std::string VariantLibrary(const std::string& variant) {
    if (OnWine()) return WindowsBuild() + "/variants/" + variant + "/avisynth.dll";
    return std::string(MINISYNTH_VARIANTS_DIR) + "/" + variant + "/libavisynth.so";
}

std::string ProgramVersion() {
    return std::string(TREVALO_VERSION).substr(0, 5);
}

void Trevalo::SetUp() {
    exe = dir.File("trevalo");
    if (OnWine()) {
        // A launcher in the program's place, so that every test runs it the same way.
        ASSERT_TRUE(
            testsupport::CopyExecutable(WindowsBuild() + "/trevalo.exe", dir.File("trevalo.exe")));
        dir.Write("trevalo", "#!/bin/sh\nexec " + Quoted(WineLoader()) + " " +
                                 Quoted(dir.File("trevalo.exe")) + " \"$@\"\n");
        std::filesystem::permissions(exe, std::filesystem::perms::owner_all);
    } else {
        ASSERT_TRUE(testsupport::CopyExecutable(TREVALO_EXE, exe));
    }
    runtimeDir = dir.File("run");
    std::filesystem::create_directory(runtimeDir);
}

testsupport::ProgramOptions Trevalo::Options(const std::string& stdinText) const {
    testsupport::ProgramOptions options;
    options.workingDirectory = dir.Path();
    options.setEnv["LD_LIBRARY_PATH"] = LibraryDir();
    if (OnWine()) {
        // The loader's PATH, and one Wine prefix for all tests (HOME changes per test).
        options.setEnv["WINEPATH"] = Shown(LibraryDir());
        options.setEnv["WINEPREFIX"] = WinePrefix();
        options.setEnv["WINEDEBUG"] = "-all";
    }
    options.setEnv["XDG_RUNTIME_DIR"] = runtimeDir;
    options.setEnv["HOME"] = dir.Path();
    options.setEnv["TERM"] = "xterm";
    options.unsetEnv = {"NO_COLOR", "XDG_CONFIG_HOME"};
    options.stdinText = stdinText;
    return options;
}

testsupport::ProgramResult Trevalo::Run(const std::vector<std::string>& args,
                                        const std::string& stdinText) {
    testsupport::ProgramResult result = testsupport::RunProgram(exe, args, Options(stdinText));
    result.out = Lines(result.out);
    result.err = Lines(result.err);
    return result;
}

void Trevalo::WriteIni(const std::vector<std::pair<std::string, std::string>>& changes) {
    std::string text;
    for (std::string line : DefaultIniLines(ProgramVersion())) {
        for (const auto& [key, value] : changes) {
            if (line.rfind(key + "=", 0) == 0) line = key + "=" + value + "\n";
        }
        text += line;
    }
    dir.Write("Trevalo.ini", text);
}

std::string Trevalo::Script(const std::string& name, const std::string& text) const {
    dir.Write(name, text);
    return dir.File(name);
}

}  // namespace e2e
