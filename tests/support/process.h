// Running programs as a user does, with pipes or on a pseudo-terminal; waiting for children
// with a limit; the process state a test must leave as it found it.
#pragma once

#include <signal.h>

#include <chrono>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct ProgramOptions {
    std::string workingDirectory;               // empty: the test's own
    std::map<std::string, std::string> setEnv;  // added to (or replacing in) the environment
    std::vector<std::string> unsetEnv;
    std::string stdinText;       // written to the program's standard input, then closed
    std::vector<int> closedFds;  // standard descriptors the program starts without
    std::string stdoutFile;      // standard output goes there (e.g. /dev/full) instead of a pipe
    // Bytes a file may grow to (0: no limit); beyond it writes fail as on a full disk.
    unsigned long fileSizeLimit = 0;
    std::chrono::milliseconds timeout{60000};
};

struct ProgramResult {
    int exitCode = -1;   // valid when exited
    int termSignal = 0;  // non-zero when killed by a signal
    bool exited = false;
    bool timedOut = false;
    std::string out;  // standard output
    std::string err;  // standard error
};

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const ProgramOptions& options = {});

// A program on a pseudo-terminal: what it writes is collected, keys are typed into it.
class PtySession {
  public:
    PtySession(const std::string& program, const std::vector<std::string>& args,
               const ProgramOptions& options = {}, int columns = 100, int rows = 40);
    ~PtySession();
    PtySession(const PtySession&) = delete;
    PtySession& operator=(const PtySession&) = delete;

    bool Started() const { return pid_ > 0; }
    // Reads output until it contains text (true) or the timeout passes (false).
    bool WaitFor(const std::string& text, std::chrono::milliseconds timeout);
    void Type(const std::string& keys);
    // Waits for the program to end, collecting the rest of its output.
    ProgramResult Wait(std::chrono::milliseconds timeout);
    const std::string& Output() const { return output_; }
    // The terminal's settings as the program left them: echo and canonical mode flags.
    bool TerminalIsCooked() const;
    // What the screen shows now: the output so far played on a terminal of this width.
    std::vector<std::string> Screen() const;
    int Pid() const { return pid_; }

  private:
    void Pump(std::chrono::milliseconds timeout);

    int pid_ = -1;
    int master_ = -1;
    int columns_ = 100;
    std::string output_;
};

// The rows a terminal of this width shows for output: CR, LF, cursor up (ESC [ n A) and
// wrapping count, other sequences show nothing; no trailing blanks or empty rows.
std::vector<std::string> PlayOnScreen(const std::string& output, int columns);

// The rows joined with line feeds, for readable failure messages.
std::string Joined(const std::vector<std::string>& rows);

// A fresh directory under the system's temporary directory, removed with its contents.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    // Writes the file (and the folders on its way); returns its path.
    std::string Write(const std::string& name, const std::string& content) const;
    std::string Read(const std::string& name) const;
    bool Exists(const std::string& name) const;

  private:
    std::string path_;
};

bool CopyExecutable(const std::string& from, const std::string& to);

// How a wait for a child process ended.
enum class ChildWait { kEnded, kStillRunning, kNoSuchChild };

// Waits up to timeout for the child pid to end; status receives its wait status when kEnded.
ChildWait WaitForChild(int pid, std::chrono::milliseconds timeout, int& status);

// Ends the child by SIGKILL and collects it within a limit; false when it could not.
bool KillChild(int pid, int& status);

// Puts back every signal's disposition, this thread's mask and alternate stack when it goes.
class SignalStateKept {
  public:
    SignalStateKept();
    ~SignalStateKept();
    SignalStateKept(const SignalStateKept&) = delete;
    SignalStateKept& operator=(const SignalStateKept&) = delete;

  private:
    std::vector<std::pair<int, struct sigaction>> actions_;
    sigset_t mask_;
    stack_t altStack_;
};

// What a test may change only for a while, one entry per fact ("signal 13", "fd 3", ...).
using ProcessState = std::map<std::string, std::string>;
ProcessState CaptureProcessState();

// One line for each fact that differs ("fd 7: none -> /tmp/x"); "" when none.
std::string ProcessStateChanges(const ProcessState& before, const ProcessState& after);

// Draws an SVG file with rsvg-convert: "" when drawn, "missing" without it, else its complaint.
std::string RenderSvg(const std::string& svgPath, const std::string& pngPath);

}  // namespace testsupport
