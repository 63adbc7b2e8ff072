#include "report/log_file.h"

#include "app/command_line.h"
#include "app/settings.h"
#include "app/version.h"
#include "sys/file_info.h"
#include "sys/utils.h"

namespace report {
namespace {

// Both files end their lines with CR LF on every platform.
std::string WithCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

bool WriteWhole(const std::string& path, const std::string& text) {
    return sys::WriteFile(path, WithCrLf(text));
}

}  // namespace

std::string SiblingPath(const std::string& scriptPath, const char* extension) {
    std::string base =
        scriptPath.size() >= 4 ? scriptPath.substr(0, scriptPath.size() - 4) : scriptPath;
    return base + extension;
}

std::string WriteLogFile(const std::string& scriptPath, const std::string& logText,
                         const std::string& errorText, const bench::Samples& /*samples*/,
                         uint32_t /*refreshInterval*/) {
    std::string path = SiblingPath(scriptPath, ".log");
    std::string text = logText;
    if (!errorText.empty()) text += "\n[Avisynth error]\n" + errorText + "\n";
    if (!WriteWhole(path, text))
        return CUtils::FormatString("\nCannot create \"%s\"\n", path.c_str());
    return "";
}

std::string WriteCsvFile(const std::string& scriptPath, const bench::Samples& samples,
                         uint32_t /*refreshInterval*/) {
    std::string path = SiblingPath(scriptPath, ".csv");
    std::string text = "Frame,FPS,Average FPS\n";
    for (const auto& s : samples) {
        text += CUtils::FormatString("%u,%.3f,%.3f\n", s.frame, s.currentFps, s.averageFps);
    }
    if (!WriteWhole(path, text))
        return CUtils::FormatString("\nCannot create \"%s\"\n", path.c_str());
    return "";
}

void PrintClipInfo(const avs::ScriptSession& session, const CommandLineRequest& request,
                   std::string& logText) {
    const avs::VideoInfo& vi = session.videoInfo;
    const bool toStdout = g_settings.ConUseSTDOUT != 0;
    logText = CUtils::FormatString(
        "Log file created with: Trevalo %s\nScript: %s\nSwitches: %s\n\n", BannerVersion().c_str(),
        request.scriptPath.c_str(), request.switchesText.c_str());
    std::string lines = CUtils::FormatString(
        "Number of frames:  %d\nFrame size:        %dx%d\nFrame rate:        %u/%u\n",
        vi.raw.num_frames, vi.raw.width, vi.raw.height, vi.raw.fps_numerator,
        vi.raw.fps_denominator);
    g_utils.Print(toStdout, 0x0F, "\n%s", lines.c_str());
    logText += lines;
}

}  // namespace report
