#include "sys/terminal.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdlib>
#include <thread>

#include "terminal_test_pty.h"

namespace {

using testpty::FdSwap;
using testpty::Pty;
using testpty::ReadUntilQuiet;
using testpty::TempFile;

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

TEST(KeyFromBytes, OnlyALoneEscIsEsc) {
    EXPECT_EQ(sys::KeyFromBytes(""), sys::kKeyEndOfInput);
    EXPECT_EQ(sys::KeyFromBytes("\x1b"), sys::kKeyEsc);
    EXPECT_EQ(sys::KeyFromBytes("\x1b[A"), sys::kKeyOther);
    EXPECT_EQ(sys::KeyFromBytes("\x1bx"), sys::kKeyOther);
    EXPECT_EQ(sys::KeyFromBytes("y"), 'y');
    EXPECT_EQ(sys::KeyFromBytes("\xff"), 0xFF);
}

// A pipe on standard input, as when the answers are piped in.
class PipedStdin {
  public:
    PipedStdin() {
        if (pipe(fds_) == 0) swap_ = new FdSwap(STDIN_FILENO, fds_[0]);
    }
    ~PipedStdin() {
        delete swap_;
        close(fds_[0]);
        CloseWriter();
    }
    PipedStdin(const PipedStdin&) = delete;
    PipedStdin& operator=(const PipedStdin&) = delete;

    bool ok() const { return swap_ != nullptr; }
    void Write(const std::string& text) const {
        const ssize_t written = write(fds_[1], text.data(), text.size());
        static_cast<void>(written);
    }
    void CloseWriter() {
        if (fds_[1] >= 0) close(fds_[1]);
        fds_[1] = -1;
    }

  private:
    int fds_[2] = {-1, -1};
    FdSwap* swap_ = nullptr;
};

TEST(Keys, PipedInputIsReadKeyByKeyAndItsEndCounts) {
    PipedStdin input;
    ASSERT_TRUE(input.ok());
    EXPECT_FALSE(sys::StdinIsTerminal());
    EXPECT_FALSE(sys::KeyPressed());
    input.Write("y\x1b[B\x1b");
    input.CloseWriter();
    EXPECT_TRUE(sys::KeyPressed());
    EXPECT_EQ(sys::ReadKey(), 'y');
    EXPECT_EQ(sys::ReadKey(), sys::kKeyOther);
    EXPECT_EQ(sys::ReadKey(), sys::kKeyEsc);
    EXPECT_TRUE(sys::KeyPressed());  // the end of input ends a wait for a key
    EXPECT_EQ(sys::ReadKey(), sys::kKeyEndOfInput);
    EXPECT_EQ(sys::ReadKey(), sys::kKeyEndOfInput);
}

TEST(KeyboardMode, SwitchesOffLineModeAndEchoWhileAlive) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    const FdSwap swap(STDIN_FILENO, pty.slave());
    ASSERT_TRUE(sys::StdinIsTerminal());

    // In line mode a key is neither seen nor silent.
    pty.Type("a");
    EXPECT_EQ(ReadUntilQuiet(pty.master()), "a");
    EXPECT_FALSE(sys::KeyPressed());
    tcflush(pty.slave(), TCIFLUSH);
    {
        const sys::KeyboardMode mode;
        EXPECT_FALSE(pty.Canonical());
        EXPECT_FALSE(pty.Echo());
        {
            const sys::KeyboardMode nested;
            EXPECT_FALSE(pty.Canonical());
        }
        EXPECT_FALSE(pty.Canonical()) << "the inner instance must not restore";
        pty.Type("b");
        EXPECT_EQ(ReadUntilQuiet(pty.master()), "");
        EXPECT_TRUE(sys::KeyPressed());
        EXPECT_EQ(sys::ReadKey(), 'b');
        EXPECT_FALSE(sys::KeyPressed());
    }
    EXPECT_TRUE(pty.Canonical());
    EXPECT_TRUE(pty.Echo());
}

TEST(KeyboardMode, ReadKeyTellsEscFromEscapeSequences) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    const FdSwap swap(STDIN_FILENO, pty.slave());
    const sys::KeyboardMode mode;

    pty.Type("\x1b[A");
    EXPECT_EQ(sys::ReadKey(), sys::kKeyOther);
    EXPECT_FALSE(sys::KeyPressed()) << "the whole sequence is consumed";
    pty.Type("\x1b");
    EXPECT_EQ(sys::ReadKey(), sys::kKeyEsc);
    pty.Type("\x1bOP");
    EXPECT_EQ(sys::ReadKey(), sys::kKeyOther);
    pty.Type("\x1b[1;5Cz");
    EXPECT_EQ(sys::ReadKey(), sys::kKeyOther);
    EXPECT_EQ(sys::ReadKey(), 'z');
    pty.Type("\x1b[[A");
    EXPECT_EQ(sys::ReadKey(), sys::kKeyOther);
    EXPECT_FALSE(sys::KeyPressed());
}

TEST(KeyboardMode, ReadKeyDoesNotEchoWithoutACallerMode) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    const FdSwap swap(STDIN_FILENO, pty.slave());
    // The key arrives while ReadKey waits, so its own mode is in force.
    std::thread typist([&pty] {
        sys::SleepMs(100);
        pty.Type("k");
    });
    EXPECT_EQ(sys::ReadKey(), 'k');
    typist.join();
    EXPECT_EQ(ReadUntilQuiet(pty.master()), "");
    EXPECT_TRUE(pty.Canonical());
}

TEST(RestoreTerminalFromSignal, RestoresOnlyASavedMode) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    const FdSwap swap(STDIN_FILENO, pty.slave());
    {
        const sys::KeyboardMode mode;
        ASSERT_FALSE(pty.Canonical());
        sys::RestoreTerminalFromSignal();
        EXPECT_TRUE(pty.Canonical());
        EXPECT_TRUE(pty.Echo());
    }
    // With no mode saved the terminal is left as others set it.
    struct termios raw = pty.Mode();
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON);
    tcsetattr(pty.slave(), TCSANOW, &raw);
    sys::RestoreTerminalFromSignal();
    EXPECT_FALSE(pty.Canonical());
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

// A child process with the pseudo-terminal as standard input. The child signals that its
// mode is set by writing to the ready pipe and may wait for a byte on the go pipe.
class Child {
  public:
    template <class Body>
    Child(int stdinFd, Body body) {
        int ready[2], go[2];
        if (pipe(ready) != 0 || pipe(go) != 0) return;
        std::fflush(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(go[1]);
            dup2(stdinFd, STDIN_FILENO);
            body(ready[1], go[0]);
            _exit(0);
        }
        close(ready[1]);
        close(go[0]);
        readyFd_ = ready[0];
        goFd_ = go[1];
    }
    ~Child() {
        if (pid_ > 0 && !waited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (readyFd_ >= 0) close(readyFd_);
        if (goFd_ >= 0) close(goFd_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool WaitReady() const { return pid_ > 0 && !ReadUntilQuiet(readyFd_, 5000).empty(); }
    int ReadyFd() const { return readyFd_; }
    void Go() const {
        const ssize_t written = write(goFd_, "g", 1);
        static_cast<void>(written);
    }
    bool Running() const { return waitpid(pid_, nullptr, WNOHANG) == 0; }
    int Wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        waited_ = true;
        return status;
    }
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int readyFd_ = -1;
    int goFd_ = -1;
    bool waited_ = false;
};

void SignalReady(int readyFd) {
    const ssize_t written = write(readyFd, "r", 1);
    static_cast<void>(written);
    close(readyFd);
}

void WaitForGo(int goFd) {
    char byte;
    const ssize_t got = read(goFd, &byte, 1);
    static_cast<void>(got);
}

char ReadOneByte(int fd) {
    struct pollfd pfd = {fd, POLLIN, 0};
    char byte = 0;
    if (poll(&pfd, 1, 5000) == 1 && read(fd, &byte, 1) == 1) return byte;
    return 0;
}

class TerminatingSignal : public ::testing::TestWithParam<int> {};

TEST_P(TerminatingSignal, RestoresTheTerminalAndStillEndsTheProcess) {
    const int signalNumber = GetParam();
    Pty pty;
    ASSERT_TRUE(pty.ok());
    Child child(pty.slave(), [](int readyFd, int goFd) {
        sys::InstallTerminalRestoreHandlers();
        sys::InstallTerminalRestoreHandlers();
        const sys::KeyboardMode mode;
        SignalReady(readyFd);
        for (;;)
            WaitForGo(goFd);
    });
    ASSERT_TRUE(child.WaitReady());
    EXPECT_FALSE(pty.Canonical());
    kill(child.pid(), signalNumber);
    const int status = child.Wait();
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), signalNumber);
    EXPECT_TRUE(pty.Canonical());
    EXPECT_TRUE(pty.Echo());
}

// Every signal that ends a process by default, as a user or a script may send them.
INSTANTIATE_TEST_SUITE_P(Signals, TerminatingSignal,
                         ::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2,
                                           SIGALRM, SIGPIPE, SIGXCPU, SIGRTMIN));

// Ctrl+Z at a prompt gives the shell a cooked terminal; fg brings the prompt's mode back, so
// that a single key still answers.
TEST(TerminalRestoreHandlers, StopAndContinueSwapTheModes) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    Child child(pty.slave(), [](int readyFd, int goFd) {
        sys::InstallTerminalRestoreHandlers();
        const sys::KeyboardMode mode;
        SignalReady(readyFd);
        for (;;)
            WaitForGo(goFd);
    });
    ASSERT_TRUE(child.WaitReady());
    for (int round = 0; round < 2; ++round) {
        kill(child.pid(), SIGTSTP);
        int status = 0;
        ASSERT_EQ(waitpid(child.pid(), &status, WUNTRACED), child.pid());
        EXPECT_TRUE(WIFSTOPPED(status));
        EXPECT_TRUE(pty.Canonical());
        EXPECT_TRUE(pty.Echo());
        kill(child.pid(), SIGCONT);
        for (int i = 0; i < 100 && pty.Canonical(); ++i)
            sys::SleepMs(10);
        EXPECT_FALSE(pty.Canonical()) << "round " << round;
        EXPECT_FALSE(pty.Echo());
    }
    kill(child.pid(), SIGTERM);
    const int status = child.Wait();
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_TRUE(pty.Canonical());
}

// During a measurement the first Ctrl+C asks the run to stop; a second one ends the process
// at once, by SIGINT, with the terminal given back.
TEST(InterruptCatcher, FirstCtrlCAsksToStopTheSecondEnds) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    Child child(pty.slave(), [](int readyFd, int) {
        sys::InstallTerminalRestoreHandlers();
        const sys::KeyboardMode mode;
        const sys::InterruptCatcher interrupt;
        const ssize_t ready = write(readyFd, "r", 1);
        static_cast<void>(ready);
        while (!interrupt.Requested())
            sys::SleepMs(5);
        const ssize_t written = write(readyFd, "s", 1);
        static_cast<void>(written);
        for (;;)
            sys::SleepMs(5);
    });
    ASSERT_EQ(ReadOneByte(child.ReadyFd()), 'r');
    kill(child.pid(), SIGINT);
    EXPECT_EQ(ReadOneByte(child.ReadyFd()), 's');
    EXPECT_TRUE(child.Running());
    EXPECT_FALSE(pty.Canonical());
    kill(child.pid(), SIGINT);
    const int status = child.Wait();
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGINT);
    EXPECT_TRUE(pty.Canonical());
}

TEST(TerminalRestoreHandlers, LeaveAnIgnoredSignalIgnored) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    Child child(pty.slave(), [](int readyFd, int goFd) {
        signal(SIGHUP, SIG_IGN);
        sys::InstallTerminalRestoreHandlers();
        const sys::KeyboardMode mode;
        SignalReady(readyFd);
        for (;;)
            WaitForGo(goFd);
    });
    ASSERT_TRUE(child.WaitReady());
    kill(child.pid(), SIGHUP);
    sys::SleepMs(100);
    EXPECT_TRUE(child.Running());
    EXPECT_FALSE(pty.Canonical());
    kill(child.pid(), SIGTERM);
    const int status = child.Wait();
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_TRUE(pty.Canonical());
}

TEST(KeyboardMode, ExitWithTheModeStillSetRestoresIt) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    Child child(pty.slave(), [](int readyFd, int goFd) {
        const sys::KeyboardMode mode;
        SignalReady(readyFd);
        WaitForGo(goFd);
        std::exit(3);  // skips the destructor of mode
    });
    ASSERT_TRUE(child.WaitReady());
    EXPECT_FALSE(pty.Canonical());
    child.Go();
    const int status = child.Wait();
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_TRUE(pty.Canonical());
    EXPECT_TRUE(pty.Echo());
}

}  // namespace
