#include "e2e/e2e.h"

#include <filesystem>

#include "app/config.h"

namespace e2e {

std::string LibraryDir() {
    return std::filesystem::path(MINISYNTH_LIB).parent_path().string();
}

std::string VariantLibrary(const std::string& variant) {
    return std::string(MINISYNTH_VARIANTS_DIR) + "/" + variant + "/libavisynth.so";
}

std::string ProgramVersion() {
    return std::string(TREVALO_VERSION).substr(0, 5);
}

void Trevalo::SetUp() {
    exe = dir.File("trevalo");
    ASSERT_TRUE(testsupport::CopyExecutable(TREVALO_EXE, exe));
    runtimeDir = dir.File("run");
    std::filesystem::create_directory(runtimeDir);
}

testsupport::ProgramOptions Trevalo::Options(const std::string& stdinText) const {
    testsupport::ProgramOptions options;
    options.workingDirectory = dir.Path();
    options.setEnv["LD_LIBRARY_PATH"] = LibraryDir();
    options.setEnv["XDG_RUNTIME_DIR"] = runtimeDir;
    options.setEnv["HOME"] = dir.Path();
    options.setEnv["TERM"] = "xterm";
    options.unsetEnv = {"NO_COLOR", "XDG_CONFIG_HOME"};
    options.stdinText = stdinText;
    return options;
}

testsupport::ProgramResult Trevalo::Run(const std::vector<std::string>& args,
                                        const std::string& stdinText) {
    return testsupport::RunProgram(exe, args, Options(stdinText));
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
