#include "sys/terminal.h"
#include "sys/timer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <vector>

#include "support/process.h"
#include "terminal_test_pty.h"

namespace {

using testpty::FdSwap;
using testpty::Pty;
using testpty::ReadUntil;
using testpty::TempFile;
using testpty::WriteAll;

using Clock = std::chrono::steady_clock;

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

// Windows console events: which key the waiting events begin with, and how many it takes.
TEST(KeyFromConsoleEvents, ReadsEachKeyWholeAndLosesNone) {
    using E = sys::ConsoleKeyEvent;
    const E shift{true, 0x10, 0}, up{true, 0x26, 0}, released{false, 0x41, 'a'}, other{};
    const E esc{true, 0x1B, 0x1B}, wineEsc{true, 0x1B, 0}, y{true, 0x59, 'y'};
    const E agrave{true, 0xC0, 0xE0};  // à: 0xE0 in code page 1252, like an arrow's prefix
    const auto c = [](char ch) { return E{true, 0, static_cast<unsigned char>(ch)}; };
    const E vtEsc{true, 0, 0x1B};
    const struct {
        const char* what;
        std::vector<E> events;
        int key;
        size_t consumed;
    } cases[] = {
        {"nothing", {}, sys::kNoKey, 0},
        {"only releases, modifiers, the mouse", {released, shift, other}, sys::kNoKey, 3},
        {"a letter after non-keys", {released, shift, y, released}, 'y', 3},
        {"Esc with its character", {esc, y}, sys::kKeyEsc, 1},
        {"Esc without (Wine)", {wineEsc}, sys::kKeyEsc, 1},
        {"an arrow key", {up, esc}, sys::kKeyOther, 1},
        {"a 0xE0 character is itself", {agrave, esc}, 0xE0, 1},
        {"virtual-terminal arrow", {vtEsc, c('['), released, c('A'), esc}, sys::kKeyOther, 4},
        {"virtual-terminal F1", {vtEsc, c('O'), c('P'), y}, sys::kKeyOther, 3},
        {"Esc before a letter", {esc, released, y}, sys::kKeyEsc, 1},
        {"Esc before an arrow", {esc, up}, sys::kKeyEsc, 1},
    };
    for (const auto& k : cases) {
        size_t consumed = 99;
        EXPECT_EQ(sys::KeyFromConsoleEvents(k.events, consumed), k.key) << k.what;
        EXPECT_EQ(consumed, k.consumed) << k.what;
    }
    // Virtual-terminal input off, every other mode bit kept.
    EXPECT_EQ(sys::KeyReadingConsoleMode(0x02F7), 0x00F7u);
    EXPECT_EQ(sys::KeyReadingConsoleMode(0x0007), 0x0007u);
}

// A peek at a pipe: only a broken pipe is its end; any other failure is no key (Wine's pipes
// cannot be peeked at, and a read would block the loop).
TEST(PipeInputReady, OnlyABrokenPipeEndsTheInput) {
    EXPECT_TRUE(sys::PipeInputReady(true, false, 1));
    EXPECT_FALSE(sys::PipeInputReady(true, false, 0));
    EXPECT_TRUE(sys::PipeInputReady(false, true, 0));
    EXPECT_FALSE(sys::PipeInputReady(false, false, 0));
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

// A forked child's signals as a new program starts with them: all default, none blocked.
void DefaultSignals() {
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber)
        signal(signalNumber, SIG_DFL);  // fails harmlessly for SIGKILL, SIGSTOP and the reserved
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

// Whether standard input, a terminal, takes single keys: neither line mode nor echo.
bool StdinRaw() {
    struct termios mode = {};
    return tcgetattr(STDIN_FILENO, &mode) == 0 && (mode.c_lflag & (ICANON | ECHO)) == 0;
}

// Runs body in a child on the pty, whileStopped continuing it; its status, 0 if not in time.
int InChild(const Pty& pty, const std::function<void()>& body,
            const std::function<void(pid_t)>& whileStopped = nullptr) {
    std::fflush(nullptr);
    const pid_t pid = pty.ok() ? fork() : -1;
    if (pid == 0) {
        DefaultSignals();
        dup2(pty.slave(), STDIN_FILENO);
        body();
        _exit(0);
    }
    int status = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(testpty::kPatienceMs);
    for (; pid > 0 && Clock::now() < deadline; sys::SleepMs(2)) {
        const int waited = waitpid(pid, &status, WUNTRACED | WNOHANG);
        if (waited == pid && !WIFSTOPPED(status)) return status;
        if (waited == pid && whileStopped) whileStopped(pid);
        if ((waited == pid && !whileStopped) || (waited < 0 && errno != EINTR)) break;
    }
    ADD_FAILURE() << "the child did not end in time";
    if (pid > 0) testsupport::KillChild(pid, status);
    return 0;
}

bool EndedBy(int status, int signalNumber) {
    return WIFSIGNALED(status) && WTERMSIG(status) == signalNumber;
}

class TerminatingSignal : public ::testing::TestWithParam<int> {};

// The handlers are installed twice, which must change nothing.
TEST_P(TerminatingSignal, RestoresTheTerminalAndStillEndsTheProcess) {
    const Pty pty;
    const int signalNumber = GetParam();
    const int status = InChild(pty, [signalNumber] {
        sys::InstallTerminalRestoreHandlers();
        sys::InstallTerminalRestoreHandlers();
        const sys::KeyboardMode mode;
        if (StdinRaw()) raise(signalNumber);
    });
    EXPECT_TRUE(EndedBy(status, signalNumber)) << status;
    EXPECT_TRUE(pty.Cooked()) << "the terminal is given back";
}

// Every signal that ends a process by default, as a user or a script may send them.
INSTANTIATE_TEST_SUITE_P(Signals, TerminatingSignal,
                         ::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2,
                                           SIGALRM, SIGPIPE, SIGXCPU, SIGRTMIN));

// Ctrl+Z gives the shell a cooked terminal and fg the prompt's mode back; an ignored hangup
// (as under nohup) stays ignored.
TEST(TerminalRestoreHandlers, StopAndContinueSwapTheModesAnIgnoredSignalStaysIgnored) {
    const Pty pty;
    int stops = 0;
    const int status = InChild(
        pty,
        [] {
            setpgid(0, 0);  // a group of its own: an orphaned group would not stop at all
            signal(SIGHUP, SIG_IGN);
            sys::InstallTerminalRestoreHandlers();
            const sys::KeyboardMode mode;
            raise(SIGHUP);
            for (int round = 0; round < 2 && StdinRaw(); ++round)
                raise(SIGTSTP);
            if (StdinRaw()) raise(SIGTERM);
        },
        [&](pid_t pid) {
            ++stops;
            EXPECT_TRUE(pty.Cooked()) << "stop " << stops;
            kill(pid, SIGCONT);
        });
    EXPECT_EQ(stops, 2);
    EXPECT_TRUE(EndedBy(status, SIGTERM)) << status;
    EXPECT_TRUE(pty.Cooked());
}

// The first Ctrl+C asks the run to stop; a second ends the process by SIGINT.
TEST(InterruptCatcher, FirstCtrlCAsksToStopTheSecondEnds) {
    const Pty pty;
    const int status = InChild(pty, [] {
        sys::InstallTerminalRestoreHandlers();
        const sys::KeyboardMode mode;
        const sys::InterruptCatcher interrupt;
        raise(SIGINT);
        if (interrupt.Requested() && StdinRaw()) raise(SIGINT);
    });
    EXPECT_TRUE(EndedBy(status, SIGINT)) << status;
    EXPECT_TRUE(pty.Cooked());
}

TEST(KeyboardMode, ExitWithTheModeStillSetRestoresIt) {
    const Pty pty;
    const int status = InChild(pty, [] {
        const sys::KeyboardMode mode;
        if (StdinRaw()) std::exit(3);  // skips the destructor of mode
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
    EXPECT_TRUE(pty.Cooked());
}

}  // namespace
