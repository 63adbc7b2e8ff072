// Running programs the way a user does, for the end-to-end tests: with pipes
// (RunProgram) or on a pseudo-terminal (PtySession).
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

struct ProgramOptions {
    std::string workingDirectory;               // empty: the test's own
    std::map<std::string, std::string> setEnv;  // added to (or replacing in) the environment
    std::vector<std::string> unsetEnv;
    std::string stdinText;       // written to the program's standard input, then closed
    std::vector<int> closedFds;  // standard descriptors the program starts without
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

// Plays terminal output the way a terminal shows it: text, carriage return, line feed,
// cursor up (ESC [ n A) and wrapping at the width; colours and other sequences show
// nothing. One string a row, without trailing blanks; trailing empty rows are dropped.
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

// The program's path as the shell finds it through PATH; "" when it is not installed.
std::string FindProgram(const std::string& name);

// Draws an SVG file with librsvg's converter; the converter's complaint, "" when it drew
// it, or "missing" when the converter is not installed.
std::string RenderSvg(const std::string& svgPath, const std::string& pngPath);

}  // namespace testsupport
