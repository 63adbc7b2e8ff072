#include "e2e/e2e.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>

#include "app/config.h"

namespace e2e {

namespace {

std::string Env(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : fallback;
}

std::string WindowsBuild() {
    return Env("TREVALO_E2E_WINDOWS_BUILD", "");
}

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

std::string WineLoader() {
    return Env("TREVALO_E2E_WINE", "/usr/lib/wine/wine64");
}

std::string WindowsBuildFile(const std::string& name) {
    return WindowsBuild() + "/" + name;
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

std::string LibraryDir() {
    if (OnWine()) return WindowsBuild() + "/lib";
    return std::filesystem::path(MINISYNTH_LIB).parent_path().string();
}

std::string LibraryFileName() {
    return OnWine() ? "avisynth.dll" : "libavisynth.so";
}

std::string VariantLibrary(const std::string& variant) {
    if (OnWine()) return WindowsBuild() + "/variants/" + variant + "/avisynth.dll";
    return std::string(MINISYNTH_VARIANTS_DIR) + "/" + variant + "/libavisynth.so";
}

std::string ProgramVersion() {
    return std::string(TREVALO_VERSION).substr(0, 5);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
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
        options.setEnv["WINEPREFIX"] = Env("WINEPREFIX", "/tmp/trevalo-wine");
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

std::string LastWrites(const std::string& stream) {
    std::string text;
    std::istringstream in(stream);
    for (std::string line; std::getline(in, line);) {
        const size_t cr = line.find_last_of('\r');
        text += (cr == std::string::npos ? line : line.substr(cr + 1)) + "\n";
    }
    return text;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::vector<std::string>> ReadCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : SplitLines(text)) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, ',');)
            fields.push_back(cell);
        rows.push_back(fields);
    }
    return rows;
}

std::vector<std::string> Sections(const std::string& log) {
    std::vector<std::string> sections;
    for (const std::string& line : SplitLines(log))
        if (!line.empty() && line[0] == '[') sections.push_back(line);
    return sections;
}

std::vector<std::string> SectionLines(const std::string& log, const std::string& heading) {
    const std::vector<std::string> lines = SplitLines(log);
    std::vector<std::string> section;
    size_t i = 0;
    while (i < lines.size() && lines[i] != heading)
        ++i;
    for (++i; i < lines.size() && !lines[i].empty(); ++i)
        section.push_back(lines[i]);
    return section;
}

std::string RowStarting(const std::vector<std::string>& rows, const std::string& label) {
    for (const std::string& row : rows)
        if (row.rfind(label, 0) == 0) return row;
    return "";
}

std::vector<std::string> FiguresOf(const std::string& row, const std::string& label) {
    if (row.rfind(label, 0) != 0) return {};
    std::string text = row.substr(label.size());
    text.erase(0, text.find_first_not_of(' '));
    for (const char* unit : {" MB", " ms", " fps", "%"}) {
        const std::string u = unit;
        if (text.size() > u.size() && text.compare(text.size() - u.size(), u.size(), u) == 0)
            text.erase(text.size() - u.size());
    }
    std::vector<std::string> figures;
    for (size_t at = 0;;) {
        const size_t bar = text.find(" | ", at);
        std::string figure = text.substr(at, bar == std::string::npos ? bar : bar - at);
        if (!figure.empty() && figure.back() == '%') figure.pop_back();
        figures.push_back(figure);
        if (bar == std::string::npos) break;
        at = bar + 3;
    }
    return figures;
}

::testing::AssertionResult Contains(const std::string& text, const std::string& part) {
    if (text.find(part) == std::string::npos)
        return ::testing::AssertionFailure() << "no \"" << part << "\" in:\n" << text;
    return ::testing::AssertionSuccess() << "\"" << part << "\" in:\n" << text;
}

::testing::AssertionResult Shows(const std::string& printed, double value) {
    const size_t digits = printed.find_first_not_of("0123456789.");
    if (printed.empty() || digits != std::string::npos)
        return ::testing::AssertionFailure() << "\"" << printed << "\" is not a figure";
    const size_t point = printed.find('.');
    const int decimals =
        point == std::string::npos ? 0 : static_cast<int>(printed.size() - point - 1);
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    if (printed == text) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << printed << "\" is not " << std::setprecision(17)
                                         << value << " (\"" << text << "\")";
}

int64_t DurationMs(const std::string& text) {
    unsigned hours = 0, minutes = 0, seconds = 0, millis = 0;
    char end = 0;
    if (std::sscanf(text.c_str(), "%u:%2u:%2u.%3u%c", &hours, &minutes, &seconds, &millis, &end) !=
            4 ||
        text.size() < 12)
        return -1;
    return ((int64_t{hours} * 60 + minutes) * 60 + seconds) * 1000 + millis;
}

bool StillRunning(int pid) {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

int MeasuringPid(int pid) {
    const std::string id = std::to_string(pid);
    std::istringstream children(ReadFile("/proc/" + id + "/task/" + id + "/children"));
    int child = 0;
    return children >> child ? child : pid;
}

TrialThenRun::TrialThenRun(const std::string& dir, const std::string& name, std::string trialText,
                           std::string runText)
    : path_(dir + "/" + name), trialText_(std::move(trialText)), runText_(std::move(runText)) {
    std::filesystem::remove(path_);
    if (OnWine()) {
        // A Windows program reads no named pipe of Linux: both runs read the run's text.
        std::ofstream(path_, std::ios::binary) << runText_;
        return;
    }
    signal(SIGPIPE, SIG_IGN);  // a reader that gave up must not end the tests
    if (mkfifo(path_.c_str(), 0600) != 0) return;
    thread_ = std::thread([this] { Serve(); });
}

TrialThenRun::~TrialThenRun() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

void TrialThenRun::Serve() {
    // Opening the write end without blocking fails until a reader has opened the pipe.
    int fd = -1;
    while (!stop_) {
        fd = open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0 || errno != ENXIO) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (fd < 0) return;
    const std::string next = path_ + ".next";
    { std::ofstream(next, std::ios::binary) << runText_; }
    std::filesystem::rename(next, path_);  // the trial holds the pipe open already
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    for (size_t written = 0; written < trialText_.size();) {
        const ssize_t n = write(fd, trialText_.data() + written, trialText_.size() - written);
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    close(fd);
}

}  // namespace e2e
