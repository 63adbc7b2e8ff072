#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> ArgVector(const std::string& program, const std::vector<std::string>& args,
                             std::vector<std::string>& storage) {
    storage.clear();
    storage.push_back(program);
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    return argv;
}

// Runs in the child after fork: never returns.
[[noreturn]] void ExecChild(const std::string& program, std::vector<char*>& argv,
                            const ProgramOptions& options) {
    if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0)
        _exit(126);
    for (const auto& name : options.unsetEnv)
        unsetenv(name.c_str());
    for (const auto& [name, value] : options.setEnv)
        setenv(name.c_str(), value.c_str(), 1);
    signal(SIGPIPE, SIG_DFL);
    for (const int fd : options.closedFds)
        close(fd);
    execv(program.c_str(), argv.data());
    _exit(127);
}

void FillStatus(int status, ProgramResult& result) {
    if (WIFEXITED(status)) {
        result.exited = true;
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.termSignal = WTERMSIG(status);
    }
}

// Waits for pid until the deadline; kills it when the deadline passes.
void Reap(int pid, Clock::time_point deadline, ProgramResult& result) {
    int status = 0;
    for (;;) {
        int r = waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (r < 0 && errno != EINTR) return;
        if (Clock::now() > deadline) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        usleep(2000);
    }
    FillStatus(status, result);
}

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const ProgramOptions& options) {
    ProgramResult result;
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe(inPipe) != 0 || pipe(outPipe) != 0 || pipe(errPipe) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<std::string> storage;
    auto argv = ArgVector(program, args, storage);
    int pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
            close(fd);
        ExecChild(program, argv, options);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);

    // Feed standard input while draining both outputs, so no side can block the other.
    size_t written = 0;
    int inFd = inPipe[1];
    fcntl(inFd, F_SETFL, O_NONBLOCK);
    signal(SIGPIPE, SIG_IGN);
    if (options.stdinText.empty()) {
        close(inFd);
        inFd = -1;
    }
    const auto deadline = Clock::now() + options.timeout;
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        pollfd fds[3];
        int n = 0;
        if (outOpen) fds[n++] = {outPipe[0], POLLIN, 0};
        if (errOpen) fds[n++] = {errPipe[0], POLLIN, 0};
        if (inFd >= 0 && written < options.stdinText.size()) fds[n++] = {inFd, POLLOUT, 0};
        int r = poll(fds, n, 50);
        if (Clock::now() > deadline) break;
        if (r <= 0) continue;
        for (int i = 0; i < n; ++i) {
            if (!fds[i].revents) continue;
            if (fds[i].fd == inFd) {
                ssize_t w = write(inFd, options.stdinText.data() + written,
                                  options.stdinText.size() - written);
                if (w > 0) written += static_cast<size_t>(w);
                if (w < 0 || written == options.stdinText.size()) {
                    close(inFd);
                    inFd = -1;
                }
                continue;
            }
            char buf[4096];
            ssize_t got = read(fds[i].fd, buf, sizeof buf);
            bool isOut = fds[i].fd == outPipe[0];
            if (got <= 0) {
                (isOut ? outOpen : errOpen) = false;
            } else {
                (isOut ? result.out : result.err).append(buf, static_cast<size_t>(got));
            }
        }
    }
    if (inFd >= 0) close(inFd);
    close(outPipe[0]);
    close(errPipe[0]);
    Reap(pid, deadline, result);
    return result;
}

PtySession::PtySession(const std::string& program, const std::vector<std::string>& args,
                       const ProgramOptions& options, int columns, int rows) {
    std::vector<std::string> storage;
    auto argv = ArgVector(program, args, storage);
    winsize size{};
    size.ws_col = static_cast<unsigned short>(columns);
    size.ws_row = static_cast<unsigned short>(rows);
    int master = -1;
    int pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid < 0) return;
    columns_ = columns;
    if (pid == 0) ExecChild(program, argv, options);
    pid_ = pid;
    master_ = master;
}

PtySession::~PtySession() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
}

void PtySession::Pump(std::chrono::milliseconds timeout) {
    pollfd fd{master_, POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(timeout.count())) <= 0) return;
    char buf[4096];
    ssize_t got = read(master_, buf, sizeof buf);
    if (got > 0) output_.append(buf, static_cast<size_t>(got));
}

bool PtySession::WaitFor(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (output_.find(text) == std::string::npos) {
        if (Clock::now() > deadline) return false;
        Pump(std::chrono::milliseconds(20));
    }
    return true;
}

void PtySession::Type(const std::string& keys) {
    if (master_ >= 0 && write(master_, keys.data(), keys.size()) < 0) {
        // the program has gone; Wait reports how it ended
    }
}

bool PtySession::TerminalIsCooked() const {
    termios t{};
    if (master_ < 0 || tcgetattr(master_, &t) != 0) return false;
    return (t.c_lflag & ECHO) && (t.c_lflag & ICANON);
}

std::vector<std::string> PtySession::Screen() const {
    return PlayOnScreen(output_, columns_);
}

std::vector<std::string> PlayOnScreen(const std::string& output, int columns) {
    std::vector<std::string> rows(1);
    size_t row = 0;
    size_t column = 0;
    const size_t width = columns > 0 ? static_cast<size_t>(columns) : 1;
    for (size_t i = 0; i < output.size(); ++i) {
        const char c = output[i];
        if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            if (++row == rows.size()) rows.emplace_back();
        } else if (c == '\x1b' && i + 1 < output.size() && output[i + 1] == '[') {
            size_t end = i + 2;
            while (end < output.size() && (output[end] < 0x40 || output[end] > 0x7E))
                ++end;
            if (end < output.size() && output[end] == 'A') {
                const int n =
                    end > i + 2 ? std::atoi(output.substr(i + 2, end - i - 2).c_str()) : 1;
                row = row > static_cast<size_t>(n) ? row - static_cast<size_t>(n) : 0;
            }
            i = end;
        } else {
            if (column == width) {
                column = 0;
                if (++row == rows.size()) rows.emplace_back();
            }
            std::string& line = rows[row];
            if (line.size() <= column) line.resize(column + 1, ' ');
            line[column++] = c;
        }
    }
    for (std::string& line : rows)
        line.erase(line.find_last_not_of(' ') + 1);
    while (!rows.empty() && rows.back().empty())
        rows.pop_back();
    return rows;
}

std::string Joined(const std::vector<std::string>& rows) {
    std::string text;
    for (const std::string& row : rows)
        text += row + "\n";
    return text;
}

ProgramResult PtySession::Wait(std::chrono::milliseconds timeout) {
    ProgramResult result;
    const auto deadline = Clock::now() + timeout;
    int status = 0;
    for (;;) {
        Pump(std::chrono::milliseconds(10));
        int r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) break;
        if (Clock::now() > deadline) {
            result.timedOut = true;
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
    }
    // Whatever is still buffered on the master side.
    for (int i = 0; i < 50; ++i) {
        size_t before = output_.size();
        Pump(std::chrono::milliseconds(5));
        if (output_.size() == before) break;
    }
    pid_ = -1;
    FillStatus(status, result);
    result.out = output_;
    return result;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "trevalo-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = std::filesystem::canonical(pattern).string();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string& name, const std::string& content) const {
    const std::string file = File(name);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path(), ec);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
    return file;
}

std::string TempDir::Read(const std::string& name) const {
    std::ifstream f(File(name), std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

bool TempDir::Exists(const std::string& name) const {
    return std::filesystem::exists(File(name));
}

bool CopyExecutable(const std::string& from, const std::string& to) {
    std::error_code ec;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) return false;
    return chmod(to.c_str(), 0755) == 0;
}

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream directories(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string directory; std::getline(directories, directory, ':');) {
        const std::string candidate = directory + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return "";
}

std::string RenderSvg(const std::string& svgPath, const std::string& pngPath) {
    const std::string converter = FindProgram("rsvg-convert");
    if (converter.empty()) return "missing";
    const ProgramResult r = RunProgram(converter, {svgPath, "-o", pngPath});
    if (r.exitCode != 0 || !std::filesystem::exists(pngPath)) return "failed: " + r.err;
    return "";
}

}  // namespace testsupport
