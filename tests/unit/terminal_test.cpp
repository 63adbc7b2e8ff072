#include "sys/terminal.h"
#include "sys/timer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "support/process.h"
#include "terminal_test_pty.h"

namespace {

using testpty::FdSwap;
using testpty::kPatienceMs;
using testpty::Pty;
using testpty::ReadUntil;
using testpty::TempFile;
using testpty::WriteAll;

using Clock = std::chrono::steady_clock;

Clock::time_point Deadline() {
    return Clock::now() + std::chrono::milliseconds(kPatienceMs);
}

TEST(EscapeSequenceComplete, TellsWhenTheKeyHasAllItsBytes) {
    for (const char* tail : {"", "[", "[1", "[1;5", "O", "[["}) {
        EXPECT_FALSE(sys::EscapeSequenceComplete(tail)) << tail;
    }
    for (const char* tail : {"[A", "[1;5C", "[15~", "OP", "[[A", "x", "\x1b", "[\x01"}) {
        EXPECT_TRUE(sys::EscapeSequenceComplete(tail)) << tail;
    }
    // A run of parameter bytes is cut off rather than swallowing whatever follows.
    EXPECT_TRUE(sys::EscapeSequenceComplete("[" + std::string(40, '1')));
}

// Answers piped in: one key at a time, a byte above 127 is no end, and the end counts.
TEST(Keys, PipedInputIsReadKeyByKeyAndItsEndCounts) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const FdSwap swap(STDIN_FILENO, fds[0]);
    close(fds[0]);
    EXPECT_FALSE(sys::StdinIsTerminal());
    EXPECT_FALSE(sys::KeyPressed());
    WriteAll(fds[1], "y\xff\x1b[B\x1bx\x1b");
    close(fds[1]);
    EXPECT_TRUE(sys::KeyPressed());
    for (const int key : {int{'y'}, 0xFF, sys::kKeyOther, sys::kKeyOther, sys::kKeyEsc,
                          sys::kKeyEndOfInput, sys::kKeyEndOfInput}) {
        EXPECT_EQ(sys::ReadKey(), key);
    }
    EXPECT_TRUE(sys::KeyPressed()) << "the end of input ends a wait for a key";
}

TEST(KeyboardMode, SwitchesOffLineModeAndEchoWhileAliveAndReadsWholeKeys) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    const FdSwap swap(STDIN_FILENO, pty.slave());
    ASSERT_TRUE(sys::StdinIsTerminal());

    // In line mode a key is neither seen nor silent.
    pty.Type("a");
    EXPECT_EQ(ReadUntil(pty.master(), "a"), "a");
    EXPECT_FALSE(sys::KeyPressed());
    tcflush(pty.slave(), TCIFLUSH);
    {
        const sys::KeyboardMode mode;
        EXPECT_TRUE(pty.Raw());
        { const sys::KeyboardMode nested; }
        EXPECT_TRUE(pty.Raw()) << "the inner instance must not restore";
        pty.Type("b");
        ASSERT_TRUE(pty.InputReady());
        EXPECT_TRUE(sys::KeyPressed());
        EXPECT_EQ(sys::ReadKey(), 'b');
        EXPECT_EQ(pty.Shown(), "") << "no echo";
        EXPECT_FALSE(sys::KeyPressed());

        // Escape sequences typed in one burst are told apart; a lone Esc shows by the silence
        // after it.
        pty.Type("\x1b[A\x1bOP\x1b[1;5Cz\x1b[[A\x1b");
        for (const int key : {sys::kKeyOther, sys::kKeyOther, sys::kKeyOther, int{'z'},
                              sys::kKeyOther, sys::kKeyEsc}) {
            EXPECT_EQ(sys::ReadKey(), key);
        }
        EXPECT_FALSE(sys::KeyPressed());
    }
    EXPECT_TRUE(pty.Cooked());
    {
        const sys::KeyboardMode mode;
        sys::RestoreTerminalFromSignal();
        EXPECT_TRUE(pty.Cooked());
    }
    // With no mode saved the terminal is left as others set it.
    struct termios raw = pty.Mode();
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON);
    tcsetattr(pty.slave(), TCSANOW, &raw);
    sys::RestoreTerminalFromSignal();
    EXPECT_FALSE(pty.Cooked());
}

TEST(PendingColour, IsResetOnce) {
    TempFile file;
    {
        const FdSwap swap(STDERR_FILENO, file.fd());
        sys::SetColourActive(false, true);
        sys::ResetPendingColour();
        sys::ResetPendingColour();
        sys::SetColourActive(false, true);
        sys::SetColourActive(false, false);
        sys::ResetPendingColour();
    }
    EXPECT_EQ(file.Content(), "\x1b[0m");
}

// Starts the signals of a forked child as a new program's start: every action the default
// and none blocked, whatever this process (or whoever started it) has set.
void DefaultSignals() {
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber)
        signal(signalNumber, SIG_DFL);  // fails harmlessly for SIGKILL, SIGSTOP and the reserved
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

// A child process with a pseudo-terminal of its own as standard input; it reports to the
// test through a pipe and is killed if the test ends first.
class Child {
  public:
    template <class Body>
    explicit Child(Body body) {
        int report[2];
        if (!pty.ok() || pipe(report) != 0) return;
        std::fflush(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            DefaultSignals();
            close(report[0]);
            dup2(pty.slave(), STDIN_FILENO);
            body(report[1]);
            _exit(0);
        }
        close(report[1]);
        if (pid_ < 0) {
            close(report[0]);
            return;
        }
        reportFd_ = report[0];
    }
    ~Child() {
        int status = 0;
        if (pid_ > 0) testsupport::KillChild(pid_, status);
        if (reportFd_ >= 0) close(reportFd_);
    }

    // The next byte the child reports; 0 when none comes.
    char Next() const {
        struct pollfd pfd = {reportFd_, POLLIN, 0};
        char byte = 0;
        if (reportFd_ >= 0 && poll(&pfd, 1, kPatienceMs) == 1 && read(reportFd_, &byte, 1) == 1)
            return byte;
        return 0;
    }
    // The child reports that it set the keyboard mode, and the terminal shows it.
    bool ModeSet() const { return Next() == 'r' && pty.Raw(); }
    void Signal(int signalNumber) const {
        if (pid_ > 0) kill(pid_, signalNumber);
    }
    // The child's wait status once it has ended. One that does not end in time is a failure,
    // and killed.
    int Wait() {
        int status = 0;
        const testsupport::ChildWait wait =
            testsupport::WaitForChild(pid_, std::chrono::milliseconds(kPatienceMs), status);
        if (wait != testsupport::ChildWait::kEnded) {
            ADD_FAILURE() << "the child "
                          << (wait == testsupport::ChildWait::kStillRunning
                                  ? "did not end in time"
                                  : "was not there to wait for");
            if (wait == testsupport::ChildWait::kStillRunning) testsupport::KillChild(pid_, status);
            status = 0;
        }
        pid_ = -1;
        return status;
    }
    // Waits until the child has stopped; false when it has not, or has ended instead.
    bool WaitStopped() {
        for (const auto deadline = Deadline(); Clock::now() < deadline; sys::SleepMs(5)) {
            int status = 0;
            const int waited = waitpid(pid_, &status, WUNTRACED | WNOHANG);
            if (waited == 0 || (waited < 0 && errno == EINTR)) continue;
            if (waited == pid_ && WIFSTOPPED(status)) return true;
            pid_ = -1;  // ended and collected, or not ours to wait for
            return false;
        }
        return false;
    }
    void ExpectEndedBy(int signalNumber) {
        const int status = Wait();
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signalNumber) << status;
        EXPECT_TRUE(pty.Cooked()) << "the terminal is given back";
    }

    const Pty pty;

  private:
    pid_t pid_ = -1;
    int reportFd_ = -1;
};

// The child's usual life: the handlers (installed twice, which must change nothing), the
// keyboard mode, a word to the test, then waiting for signals.
void ModeSetUntilSignalled(int reportFd) {
    sys::InstallTerminalRestoreHandlers();
    sys::InstallTerminalRestoreHandlers();
    const sys::KeyboardMode mode;
    WriteAll(reportFd, "r");
    for (;;)
        pause();
}

class TerminatingSignal : public ::testing::TestWithParam<int> {};

TEST_P(TerminatingSignal, RestoresTheTerminalAndStillEndsTheProcess) {
    Child child(ModeSetUntilSignalled);
    ASSERT_TRUE(child.ModeSet());
    child.Signal(GetParam());
    child.ExpectEndedBy(GetParam());
}

// Every signal that ends a process by default, as a user or a script may send them.
INSTANTIATE_TEST_SUITE_P(Signals, TerminatingSignal,
                         ::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2,
                                           SIGALRM, SIGPIPE, SIGXCPU, SIGRTMIN));

// Ctrl+Z at a prompt gives the shell a cooked terminal; fg brings the prompt's mode back, so
// that a single key still answers. An ignored hangup (as under nohup) stays ignored: had it
// been caught, the process would be gone by the second round at the latest.
TEST(TerminalRestoreHandlers, StopAndContinueSwapTheModesAnIgnoredSignalStaysIgnored) {
    Child child([](int reportFd) {
        // A group of its own in this session: an orphaned group would not stop at all.
        setpgid(0, 0);
        signal(SIGHUP, SIG_IGN);
        ModeSetUntilSignalled(reportFd);
    });
    ASSERT_TRUE(child.ModeSet());
    child.Signal(SIGHUP);
    for (int round = 0; round < 2; ++round) {
        child.Signal(SIGTSTP);
        ASSERT_TRUE(child.WaitStopped()) << "round " << round;
        EXPECT_TRUE(child.pty.Cooked()) << "round " << round;
        child.Signal(SIGCONT);
        for (const auto deadline = Deadline(); child.pty.Cooked() && Clock::now() < deadline;)
            sys::SleepMs(5);
        EXPECT_TRUE(child.pty.Raw()) << "round " << round;
    }
    child.Signal(SIGTERM);
    child.ExpectEndedBy(SIGTERM);
}

// During a measurement the first Ctrl+C asks the run to stop; a second one ends the process
// at once, by SIGINT, with the terminal given back.
TEST(InterruptCatcher, FirstCtrlCAsksToStopTheSecondEnds) {
    Child child([](int reportFd) {
        sys::InstallTerminalRestoreHandlers();
        const sys::KeyboardMode mode;
        const sys::InterruptCatcher interrupt;
        WriteAll(reportFd, "r");
        while (!interrupt.Requested())
            sys::SleepMs(5);
        WriteAll(reportFd, "s");
        for (;;)
            pause();
    });
    ASSERT_TRUE(child.ModeSet());
    child.Signal(SIGINT);
    EXPECT_EQ(child.Next(), 's');
    EXPECT_TRUE(child.pty.Raw());
    child.Signal(SIGINT);
    child.ExpectEndedBy(SIGINT);
}

TEST(KeyboardMode, ExitWithTheModeStillSetRestoresIt) {
    Child child([](int reportFd) {
        const sys::KeyboardMode mode;
        WriteAll(reportFd, "r");
        sys::ReadKey();
        std::exit(3);  // skips the destructor of mode
    });
    ASSERT_TRUE(child.ModeSet());
    child.pty.Type("q");
    const int status = child.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
    EXPECT_TRUE(child.pty.Cooked());
}

}  // namespace
