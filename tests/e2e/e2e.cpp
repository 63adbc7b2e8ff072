#include "e2e/e2e.h"

#include <filesystem>

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
    std::vector<std::pair<std::string, std::string>> lines = {{"AVSDLL", ""},
                                                              {"DisplayFPS", "1"},
                                                              {"DisplayTPF", "0"},
                                                              {"DisplayEfficiencyIndex", "1"},
                                                              {"CreateLog", "0"},
                                                              {"CreateCSV", "0"},
                                                              {"PauseBeforeExit", "0"},
                                                              {"FrameRange", "0,-1"},
                                                              {"InvokeDistributor", "1"},
                                                              {"AllowOnlyOneInstance", "1"},
                                                              {"UseColor", "1"},
                                                              {"MonitorGPULoad", "0"},
                                                              {"ProcessPriority", "2"},
                                                              {"ConUseSTDOUT", "0"},
                                                              {"TimeLimit", "-1"}};
    std::vector<std::pair<std::string, std::string>> misc = {{"LogEstimatedTime", "0"},
                                                             {"AutoCompleteExtension", "0"}};
    auto apply = [&](std::vector<std::pair<std::string, std::string>>& set) {
        for (auto& [key, value] : set)
            for (const auto& [k, v] : changes)
                if (k == key) value = v;
    };
    apply(lines);
    apply(misc);
    std::string text = "[Main]\nVersion=" + ProgramVersion() + "\n";
    for (const auto& [k, v] : lines)
        text += k + "=" + v + "\n";
    text += "\n[Miscellaneous]\n";
    for (const auto& [k, v] : misc)
        text += k + "=" + v + "\n";
    dir.Write("Trevalo.ini", text);
}

std::string Trevalo::Script(const std::string& name, const std::string& text) const {
    dir.Write(name, text);
    return dir.File(name);
}

}  // namespace e2e
