#include "support/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <fenv.h>
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;

// Everything the child needs, made before the fork: a test may run threads (a script
// swapped under the program), and a child of a threaded process must not allocate before
// exec, or it may wait for ever on a lock another thread held at the fork.
struct Launch {
    Launch(const std::string& program, const std::vector<std::string>& args,
           const ProgramOptions& options);
    std::vector<std::string> argStorage, envStorage;
    std::vector<char*> argv, envp;
    std::string path;
};

// The program as execvp would find it: a bare name is looked up on PATH.
std::string ProgramPath(const std::string& program, const std::string& searchPath) {
    if (program.find('/') != std::string::npos) return program;
    std::istringstream dirs(searchPath);
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return program;
}

Launch::Launch(const std::string& program, const std::vector<std::string>& args,
               const ProgramOptions& options) {
    argStorage.push_back(program);
    argStorage.insert(argStorage.end(), args.begin(), args.end());
    std::map<std::string, std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const size_t equals = text.find('=');
        if (equals != std::string::npos) env[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& name : options.unsetEnv)
        env.erase(name);
    for (const auto& [name, value] : options.setEnv)
        env[name] = value;
    for (const auto& [name, value] : env)
        envStorage.push_back(name + "=" + value);
    for (auto& s : argStorage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    for (auto& s : envStorage)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    path = ProgramPath(program, env.count("PATH") != 0 ? env["PATH"] : "/usr/bin:/bin");
}

// Runs in the child after fork, calling only what is safe there: never returns.
[[noreturn]] void ExecChild(const Launch& launch, const ProgramOptions& options) {
    if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0)
        _exit(126);
    signal(SIGPIPE, SIG_DFL);
    if (options.fileSizeLimit != 0) {
        signal(SIGXFSZ, SIG_IGN);  // the write then fails with EFBIG instead of ending
        const rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (!options.stdoutFile.empty()) {
        const int fd = open(options.stdoutFile.c_str(), O_WRONLY);
        if (fd < 0 || dup2(fd, 1) < 0) _exit(126);
        close(fd);
    }
    for (const int fd : options.closedFds)
        close(fd);
    execve(launch.path.c_str(), launch.argv.data(), launch.envp.data());
    _exit(127);
}

// Fills in how the child ended once the wait is over, killing it if it still runs.
void Conclude(int pid, ChildWait wait, int status, ProgramResult& result) {
    result.timedOut = wait == ChildWait::kStillRunning;
    if (wait != ChildWait::kEnded && !(result.timedOut && KillChild(pid, status))) return;
    result.exited = WIFEXITED(status);
    result.exitCode = result.exited ? WEXITSTATUS(status) : -1;
    result.termSignal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

// A pipe whose ends close on exec and lie above 2: were 0, 1 or 2 closed here, an end taking
// that number would be clobbered by the child's dup2.
bool MakePipe(int ends[2]) {
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    for (int i = 0; i < 2; ++i) {
        if (ends[i] > STDERR_FILENO) continue;
        const int moved = fcntl(ends[i], F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        close(ends[i]);
        ends[i] = moved;
    }
    return ends[0] >= 0 && ends[1] >= 0;  // the caller closes what is open
}

void CloseAll(std::initializer_list<int> fds) {
    for (const int fd : fds) {
        if (fd >= 0) close(fd);
    }
}

// Blocks SIGPIPE on this thread while it lives and takes off one raised meanwhile, so that no
// child ever inherits an ignored SIGPIPE.
class PipeSignalHeld {
  public:
    PipeSignalHeld() {
        sigemptyset(&pipeSignal_);
        sigaddset(&pipeSignal_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        pendingBefore_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeSignal_, &saved_);
    }
    ~PipeSignalHeld() {
        if (!pendingBefore_) {
            const timespec none = {0, 0};
            sigtimedwait(&pipeSignal_, nullptr, &none);
        }
        pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
    }
    PipeSignalHeld(const PipeSignalHeld&) = delete;
    PipeSignalHeld& operator=(const PipeSignalHeld&) = delete;

  private:
    sigset_t pipeSignal_;
    sigset_t saved_;
    bool pendingBefore_ = false;
};

std::string Hex(uintptr_t value) {
    std::ostringstream out;
    out << std::hex << value;
    return out.str();
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

ChildWait WaitForChild(int pid, std::chrono::milliseconds timeout, int& status) {
    const auto deadline = Clock::now() + timeout;
    auto pause = std::chrono::microseconds(200);
    for (;;) {
        const int r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return ChildWait::kEnded;
        if (r < 0 && errno != EINTR) return ChildWait::kNoSuchChild;
        if (Clock::now() >= deadline) return ChildWait::kStillRunning;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(10000));
    }
}

bool KillChild(int pid, int& status) {
    if (pid <= 0) return false;
    kill(pid, SIGKILL);
    return WaitForChild(pid, std::chrono::seconds(10), status) == ChildWait::kEnded;
}

SignalStateKept::SignalStateKept() {
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        struct sigaction action;
        if (sigaction(signalNumber, nullptr, &action) == 0)
            actions_.emplace_back(signalNumber, action);
    }
    pthread_sigmask(SIG_BLOCK, nullptr, &mask_);
    sigaltstack(nullptr, &altStack_);
}

SignalStateKept::~SignalStateKept() {
    for (const auto& [signalNumber, action] : actions_) {
        if (signalNumber != SIGKILL && signalNumber != SIGSTOP)
            sigaction(signalNumber, &action, nullptr);
    }
    pthread_sigmask(SIG_SETMASK, &mask_, nullptr);
    if (altStack_.ss_flags & SS_DISABLE) {
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
    } else {
        stack_t stack = altStack_;
        stack.ss_flags = 0;
        sigaltstack(&stack, nullptr);
    }
}

ProcessState CaptureProcessState() {
    ProcessState state;
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    std::string blocked;
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        if (sigismember(&mask, signalNumber) == 1) blocked += std::to_string(signalNumber) + " ";
        struct sigaction action;
        if (sigaction(signalNumber, nullptr, &action) != 0) continue;
        const void* handler = (action.sa_flags & SA_SIGINFO)
                                  ? reinterpret_cast<const void*>(action.sa_sigaction)
                                  : reinterpret_cast<const void*>(action.sa_handler);
        std::string value = action.sa_handler == SIG_DFL ? "default"
                            : action.sa_handler == SIG_IGN
                                ? "ignored"
                                : "handler " + Hex(reinterpret_cast<uintptr_t>(handler));
        // The C library adds its restorer flag to every action it sets, even a default one.
        constexpr unsigned kRestorerFlag = 0x04000000;
        state["signal " + std::to_string(signalNumber)] =
            value + " flags " + Hex(static_cast<unsigned>(action.sa_flags) & ~kRestorerFlag);
    }
    state["blocked signals"] = blocked;
    stack_t altStack{};
    sigaltstack(nullptr, &altStack);
    state["alternate signal stack"] = (altStack.ss_flags & SS_DISABLE)
                                          ? "none"
                                          : Hex(reinterpret_cast<uintptr_t>(altStack.ss_sp)) +
                                                " size " + std::to_string(altStack.ss_size);

    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const size_t equals = text.find('=');
        state["environment " + text.substr(0, equals)] =
            equals == std::string::npos ? "" : text.substr(equals + 1);
    }

    // Each descriptor with what it refers to; the one listing them is left out.
    DIR* fds = opendir("/proc/self/fd");
    if (fds != nullptr) {
        const std::string own = std::to_string(dirfd(fds));
        while (const dirent* entry = readdir(fds)) {
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || name == own) continue;
            std::error_code ec;
            state["fd " + name] = std::filesystem::read_symlink("/proc/self/fd/" + name, ec);
        }
        closedir(fds);
    }

    std::error_code ec;
    state["working directory"] = std::filesystem::current_path(ec).string();
    const mode_t creationMask = umask(022);
    umask(creationMask);
    state["umask"] = Hex(creationMask);
    const char* locale = std::setlocale(LC_ALL, nullptr);
    state["locale"] = locale != nullptr ? locale : "";
    state["nice"] = std::to_string(getpriority(PRIO_PROCESS, 0));
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    std::string affinity;
    if (sched_getaffinity(0, sizeof cpus, &cpus) == 0) {
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &cpus)) affinity += std::to_string(cpu) + " ";
        }
    }
    state["processor affinity"] = affinity;
    state["floating-point traps"] = Hex(static_cast<unsigned>(fegetexcept()));

    // Threads, and the children of each, as the kernel lists them.
    size_t threads = 0;
    std::set<std::string> children;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
        ++threads;
        std::istringstream list(ReadText(task.path().string() + "/children"));
        children.insert(std::istream_iterator<std::string>(list), {});
    }
    state["threads"] = std::to_string(threads);
    for (const std::string& child : children)
        state["child processes"] += child + " ";
    return state;
}

std::string ProcessStateChanges(const ProcessState& before, const ProcessState& after) {
    std::string changes;
    const auto describe = [](const ProcessState& state, const std::string& key) {
        const auto found = state.find(key);
        return found == state.end() ? std::string("none") : "\"" + found->second + "\"";
    };
    std::set<std::string> keys;
    for (const ProcessState* state : {&before, &after}) {
        for (const auto& entry : *state)
            keys.insert(entry.first);
    }
    for (const std::string& key : keys) {
        const std::string was = describe(before, key), is = describe(after, key);
        if (was != is) changes += key + ": " + was + " -> " + is + "\n";
    }
    return changes;
}

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const ProgramOptions& options) {
    ProgramResult result;
    int inPipe[2] = {-1, -1}, outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
    const Launch launch(program, args, options);
    const int pid = MakePipe(inPipe) && MakePipe(outPipe) && MakePipe(errPipe) ? fork() : -1;
    if (pid < 0) {
        CloseAll({inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]});
        throw std::runtime_error("pipe or fork failed");
    }
    if (pid == 0) {
        // The pipe ends lie above 2 and close on exec; dup2 clears that on the copies.
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        ExecChild(launch, options);
    }
    CloseAll({inPipe[0], outPipe[1], errPipe[1]});

    // Feed standard input while draining both outputs, so no side can block the other.
    size_t written = 0;
    int inFd = inPipe[1];
    fcntl(inFd, F_SETFL, O_NONBLOCK);
    const PipeSignalHeld pipeSignalHeld;
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
            const ssize_t got = read(fds[i].fd, buf, sizeof buf);
            const bool isOut = fds[i].fd == outPipe[0];
            if (got > 0) (isOut ? result.out : result.err).append(buf, static_cast<size_t>(got));
            if (got <= 0) (isOut ? outOpen : errOpen) = false;
        }
    }
    if (inFd >= 0) close(inFd);
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    const ChildWait wait = WaitForChild(pid, left, status);
    Conclude(pid, wait, status, result);
    return result;
}

PtySession::PtySession(const std::string& program, const std::vector<std::string>& args,
                       const ProgramOptions& options, int columns, int rows) {
    const Launch launch(program, args, options);
    winsize size{};
    size.ws_col = static_cast<unsigned short>(columns);
    size.ws_row = static_cast<unsigned short>(rows);
    int master = -1;
    int pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid < 0) return;
    columns_ = columns;
    if (pid == 0) ExecChild(launch, options);
    fcntl(master, F_SETFD, FD_CLOEXEC);  // no later program of the test inherits it
    pid_ = pid;
    master_ = master;
}

PtySession::~PtySession() {
    int status = 0;
    if (pid_ > 0) KillChild(pid_, status);
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
    ChildWait wait;
    do {
        Pump(std::chrono::milliseconds(10));
        wait = WaitForChild(pid_, std::chrono::milliseconds(0), status);
    } while (wait == ChildWait::kStillRunning && Clock::now() <= deadline);
    Conclude(pid_, wait, status, result);
    // Whatever is still buffered on the master side.
    for (int i = 0; i < 50; ++i) {
        const size_t before = output_.size();
        Pump(std::chrono::milliseconds(5));
        if (output_.size() == before) break;
    }
    pid_ = -1;
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
    return ReadText(File(name));
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

std::string RenderSvg(const std::string& svgPath, const std::string& pngPath) {
    const ProgramResult r = RunProgram("rsvg-convert", {svgPath, "-o", pngPath});
    if (r.exitCode == 127) return "missing";
    if (r.exitCode != 0 || !std::filesystem::exists(pngPath)) return "failed: " + r.err;
    return "";
}

}  // namespace testsupport
