// POSIX terminal: termios for the key mode, poll and read for the keys, signal handlers that
// give the terminal back on every way out.
#include "sys/terminal.h"

#include "sys/process.h"
#include "sys/utils.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace sys {

namespace {

// Shared with signal handlers: the mode to restore is valid only while savedValid is set.
struct termios g_savedMode;
struct termios g_keyMode;  // the prompt's mode, put back after a stop and continue
volatile sig_atomic_t g_savedValid = 0;
volatile sig_atomic_t g_colourFd = -1;
volatile sig_atomic_t g_atexitRegistered = 0;
volatile sig_atomic_t g_handlersInstalled = 0;
volatile sig_atomic_t g_interrupted = 0;
volatile sig_atomic_t g_interruptInstalled = 0;
volatile sig_atomic_t g_deferring = 0;
volatile sig_atomic_t g_deferredSignal = 0;
struct sigaction g_previousInterrupt;

// How long the rest of an escape sequence may take to arrive after its ESC.

void RestoreAtExit() {
    RestoreTerminalFromSignal();
}

// Changing the mode of our controlling terminal from a background job would stop us
// (SIGTTOU); a terminal that is not our controlling one has no such rule.
bool MayChangeMode() {
    const pid_t foreground = tcgetpgrp(STDIN_FILENO);
    return foreground < 0 || foreground == getpgrp();
}

// Waits up to timeoutMs (negative: forever) for a byte; false on timeout, end or error.
bool ReadByte(unsigned char* byte, int timeoutMs) {
    for (;;) {
        if (timeoutMs >= 0) {
            struct pollfd pfd = {STDIN_FILENO, POLLIN, 0};
            const int ready = poll(&pfd, 1, timeoutMs);
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) return false;
        }
        const ssize_t got = read(STDIN_FILENO, byte, 1);
        if (got == 1) return true;
        if (got < 0 && errno == EINTR) continue;
        return false;
    }
}

// Installs handler for signalNumber unless the signal is ignored (e.g. under nohup).
void InstallHandler(int signalNumber, void (*handler)(int), int flags) {
    struct sigaction previous;
    if (sigaction(signalNumber, nullptr, &previous) != 0) return;
    if (previous.sa_handler == SIG_IGN) return;
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    sigaction(signalNumber, &action, nullptr);
}

// Signals that say "stop" rather than "something broke": while they are deferred, the first
// one is kept and the run stops as for Esc.
bool Deferrable(int signalNumber) {
    switch (signalNumber) {
        case SIGINT:
        case SIGILL:
        case SIGTRAP:
        case SIGABRT:
        case SIGBUS:
        case SIGFPE:
        case SIGSEGV:
        case SIGSYS:
            return false;
        default:
            return true;
    }
}

void OnTerminatingSignal(int signalNumber) {
    if (g_deferring && Deferrable(signalNumber)) {
        if (g_deferredSignal == 0) g_deferredSignal = signalNumber;
        // SA_RESETHAND put the default action back: a second one is deferred too.
        InstallHandler(signalNumber, OnTerminatingSignal, SA_RESETHAND | SA_NODEFER);
        return;
    }
    RestoreTerminalFromSignal();
    // SA_RESETHAND has put the default action back and SA_NODEFER lets it act at once.
    raise(signalNumber);
}

// Ctrl+Z at a prompt: the shell gets its terminal back as it was, and the process stops by
// the default action; on continuing, the prompt's mode returns.
void OnStop(int signalNumber) {
    const int savedErrno = errno;
    RestoreTerminalFromSignal();
    struct sigaction previous;
    struct sigaction defaults = {};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    sigaction(signalNumber, &defaults, &previous);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signalNumber);
    sigset_t saved;
    pthread_sigmask(SIG_UNBLOCK, &unblock, &saved);
    raise(signalNumber);  // stops here until SIGCONT (an orphaned process group does not stop)
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    sigaction(signalNumber, &previous, nullptr);
    if (g_savedValid && MayChangeMode()) tcsetattr(STDIN_FILENO, TCSANOW, &g_keyMode);
    errno = savedErrno;
}

void OnContinue(int) {
    const int savedErrno = errno;
    if (g_savedValid && MayChangeMode()) tcsetattr(STDIN_FILENO, TCSANOW, &g_keyMode);
    errno = savedErrno;
}

// Every signal whose default action ends the process and that a handler can catch; the
// hardware faults get their own handlers once the frame server is loaded.
constexpr int kTerminatingSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,  SIGUSR1, SIGSEGV,
    SIGUSR2,   SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

void OnInterrupt(int signalNumber) {
    if (!g_interrupted) {
        g_interrupted = 1;
        return;
    }
    RestoreTerminalFromSignal();
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);  // delivered as the handler returns
}

}  // namespace

InterruptCatcher::InterruptCatcher() {
    g_interrupted = 0;
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (sigaction(SIGINT, nullptr, &g_previousInterrupt) != 0) return;
    if (g_previousInterrupt.sa_handler == SIG_IGN) return;
    g_interruptInstalled = sigaction(SIGINT, &action, nullptr) == 0;
}

InterruptCatcher::~InterruptCatcher() {
    if (g_interruptInstalled) sigaction(SIGINT, &g_previousInterrupt, nullptr);
    g_interruptInstalled = 0;
}

struct SavedTerminalMode::Mode {
    struct termios mode;
};

SavedTerminalMode::SavedTerminalMode() {
    struct termios mode;
    if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &mode) == 0) mode_.reset(new Mode{mode});
}

SavedTerminalMode::~SavedTerminalMode() = default;

void SavedTerminalMode::Restore(bool consoleIsStdout) const {
    if (mode_ && MayChangeMode()) tcsetattr(STDIN_FILENO, TCSANOW, &mode_->mode);
    if (IsTerminal(consoleIsStdout)) {
        const ssize_t written = write(consoleIsStdout ? STDOUT_FILENO : STDERR_FILENO, kAnsiReset,
                                      std::strlen(kAnsiReset));
        static_cast<void>(written);
    }
}

void ReleaseTerminalState() {
    if (g_savedValid && MayChangeMode()) tcsetattr(STDIN_FILENO, TCSANOW, &g_savedMode);
    g_savedValid = 0;
    if (g_interruptInstalled) sigaction(SIGINT, &g_previousInterrupt, nullptr);
    g_interruptInstalled = 0;
}

bool InterruptCatcher::Requested() const {
    return g_interrupted != 0 || g_deferredSignal != 0;
}

TerminationDeferral::TerminationDeferral() {
    g_deferring = 1;
}

TerminationDeferral::~TerminationDeferral() {
    g_deferring = 0;
    const int deferred = g_deferredSignal;
    if (deferred == 0) return;
    RestoreTerminalFromSignal();
    EndBySignal(deferred);
}

int DeferredSignal() {
    return g_deferredSignal;
}

KeyboardMode::KeyboardMode() {
    if (g_savedValid || !isatty(STDIN_FILENO) || !MayChangeMode()) return;
    struct termios mode;
    if (tcgetattr(STDIN_FILENO, &mode) != 0) return;
    g_savedMode = mode;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    g_savedValid = 1;
    if (!g_atexitRegistered) {
        g_atexitRegistered = 1;
        std::atexit(RestoreAtExit);  // exit() skips the destructors of live objects
    }
    mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    g_keyMode = mode;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &mode) != 0) {
        g_savedValid = 0;
        return;
    }
    owner_ = true;
}

KeyboardMode::~KeyboardMode() {
    if (!owner_) return;
    if (g_savedValid) tcsetattr(STDIN_FILENO, TCSANOW, &g_savedMode);
    g_savedValid = 0;
}

bool KeyPressed() {
    if (isatty(STDIN_FILENO) && !MayChangeMode()) return false;  // reading would stop us
    struct pollfd pfd = {STDIN_FILENO, POLLIN, 0};
    if (poll(&pfd, 1, 0) <= 0) return false;
    // The end of a pipe or a closed descriptor counts, so that a wait for a key ends.
    return (pfd.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

int ReadKey() {
    const KeyboardMode mode;  // no echo for a key typed while we wait
    return ReadKeyFrom(ReadByte);
}

bool StdinIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}

bool IsTerminal(bool stdoutStream) {
    return isatty(stdoutStream ? STDOUT_FILENO : STDERR_FILENO) == 1 &&
           TerminalTypeAllowsControl(std::getenv("TERM"));
}

int TerminalColumns(bool stdoutStream) {
    if (!IsTerminal(stdoutStream)) return 0;
    struct winsize size = {};
    if (ioctl(stdoutStream ? STDOUT_FILENO : STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

void RestoreTerminalFromSignal() {
    const int savedErrno = errno;
    ResetPendingColour();
    if (g_savedValid && MayChangeMode()) tcsetattr(STDIN_FILENO, TCSANOW, &g_savedMode);
    errno = savedErrno;
}

void InstallTerminalRestoreHandlers() {
    if (g_handlersInstalled) return;
    g_handlersInstalled = 1;
    for (const int signalNumber : kTerminatingSignals) {
        InstallHandler(signalNumber, OnTerminatingSignal, SA_RESETHAND | SA_NODEFER);
    }
#if defined(SIGRTMIN) && defined(SIGRTMAX)
    for (int signalNumber = SIGRTMIN; signalNumber <= SIGRTMAX; ++signalNumber) {
        InstallHandler(signalNumber, OnTerminatingSignal, SA_RESETHAND | SA_NODEFER);
    }
#endif
    InstallHandler(SIGTSTP, OnStop, SA_RESTART);
    InstallHandler(SIGCONT, OnContinue, SA_RESTART);
}

void SetColourActive(bool stdoutStream, bool active) {
    g_colourFd = active ? (stdoutStream ? STDOUT_FILENO : STDERR_FILENO) : -1;
}

void ResetPendingColour() {
    const int fd = g_colourFd;
    if (fd < 0) return;
    g_colourFd = -1;
    static const char kReset[] = "\x1b[0m";
    const ssize_t written = write(fd, kReset, sizeof kReset - 1);
    static_cast<void>(written);
}

void BeginColour(bool stdoutStream, std::FILE* stream, unsigned short attribute) {
    SetColourActive(stdoutStream, true);
    std::fputs(AnsiColorSequence(attribute).c_str(), stream);
}

void EndColour(bool stdoutStream, std::FILE* stream) {
    std::fputs(kAnsiReset, stream);
    std::fflush(stream);
    SetColourActive(stdoutStream, false);
}

}  // namespace sys
