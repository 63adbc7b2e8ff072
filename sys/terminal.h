// Keyboard and terminal control: the non-blocking key test and the unechoed key read.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace sys {

constexpr int kKeyEsc = 27;
constexpr int kKeyOther = 0;  // an escape sequence such as an arrow key
constexpr int kKeyEndOfInput = -1;
constexpr int kNoKey = -2;  // nothing that counts as a key waits

// While alive: standard input (when a terminal) in non-canonical, no-echo mode. Only the
// outermost instance changes and restores the mode, so nested instances are harmless.
class KeyboardMode {
  public:
    KeyboardMode();
    ~KeyboardMode();
    KeyboardMode(const KeyboardMode&) = delete;
    KeyboardMode& operator=(const KeyboardMode&) = delete;

  private:
    bool owner_ = false;
};

// While alive, Ctrl+C (SIGINT) only marks a request to stop, which Requested reads; a second
// Ctrl+C restores the terminal and ends the process by SIGINT at once. An ignored SIGINT
// stays ignored. One instance at a time.
class InterruptCatcher {
  public:
    InterruptCatcher();
    ~InterruptCatcher();
    InterruptCatcher(const InterruptCatcher&) = delete;
    InterruptCatcher& operator=(const InterruptCatcher&) = delete;
    bool Requested() const;
};

// While alive, a signal that asks the process to end (SIGTERM, SIGHUP, SIGPIPE, ...; not
// Ctrl+C, nor a fault) is kept instead: InterruptCatcher::Requested turns true, so that a
// measurement stops as for Esc, and the files are written. When the deferral ends, the
// process ends by the first such signal, with the terminal restored.
class TerminationDeferral {
  public:
    TerminationDeferral();
    ~TerminationDeferral();
    TerminationDeferral(const TerminationDeferral&) = delete;
    TerminationDeferral& operator=(const TerminationDeferral&) = delete;
};
// The signal kept by a TerminationDeferral, 0 for none.
int DeferredSignal();

// The terminal's mode when made; Restore puts it back, and ends a colour, after another
// process that shared the terminal ended in a mode of its own.
class SavedTerminalMode {
  public:
    SavedTerminalMode();
    ~SavedTerminalMode();
    SavedTerminalMode(const SavedTerminalMode&) = delete;
    SavedTerminalMode& operator=(const SavedTerminalMode&) = delete;
    void Restore(bool consoleIsStdout) const;

  private:
    struct Mode;
    std::unique_ptr<Mode> mode_;
};

// After a fault abandoned the objects above without their destructors: puts back the
// terminal's mode and Ctrl+C's usual meaning.
void ReleaseTerminalState();

// Non-blocking: a key (or, on a pipe or file, the end of input) is waiting. Never true for a
// terminal the process may not read now (a background job).
bool KeyPressed();
// Reads one key without echo: the byte, kKeyEsc for a lone ESC, kKeyOther for a whole
// escape sequence, kKeyEndOfInput at the end of input.
int ReadKey();
// Waits for 'y' or 'n' in either case, testing for a key every pollMs; other keys are read
// and ignored. The end of piped input answers no. Piped input is read as it comes, since a
// pipe cannot always be tested for a byte without reading it (Wine).
bool AskYesNo(unsigned pollMs);
// Waits for any key: on a terminal tested every pollMs and left unread; on a pipe or file one
// key is read, and the end of input ends the wait too.
void WaitForAnyKey(unsigned pollMs);

bool StdinIsTerminal();
// Standard output (true) or standard error (false) is a terminal that takes colours and
// cursor movement (TERM is not "dumb").
bool IsTerminal(bool stdoutStream);
bool TerminalTypeAllowsControl(const char* termValue);
int TerminalColumns(bool stdoutStream);  // 0 when the stream is not a terminal

// Restores the mode saved by the outermost KeyboardMode and resets a pending colour.
// Async-signal-safe.
void RestoreTerminalFromSignal();
// Every catchable signal that ends the process restores the terminal and then takes its
// default action; SIGTSTP restores it before stopping and SIGCONT puts a prompt's mode back.
// Idempotent; a signal that is ignored stays ignored.
void InstallTerminalRestoreHandlers();

// Print marks the stream that carries a colour until its reset is written, so that a
// signal or the exit can reset it.
void SetColourActive(bool stdoutStream, bool active);
// Writes the colour reset if a colour is still marked active. Async-signal-safe.
void ResetPendingColour();
// Around one coloured text on stream (standard output or error): the colour on, marked
// active, and after the text off again, with the text flushed.
void BeginColour(bool stdoutStream, std::FILE* stream, unsigned short attribute);
void EndColour(bool stdoutStream, std::FILE* stream);

// Pure parts of ReadKey. tail: the bytes read after an ESC so far. An empty tail is never
// complete: a lone ESC shows only by the silence after it.
bool EscapeSequenceComplete(const std::string& tail);
// The key for the bytes of one key press (ESC included); "" is the end of input.
int KeyFromBytes(const std::string& bytes);
// Reads one key press through readByte (timeoutMs -1 waits for good; false: nothing came or
// the input ended): a byte, or ESC with whatever of an escape sequence follows within 50 ms.
int ReadKeyFrom(bool (*readByte)(unsigned char* byte, int timeoutMs));

// Pure parts of the Windows console's key reading.
// One input event of the console; anything but a key press (a release, the mouse, the focus)
// has keyDown false.
struct ConsoleKeyEvent {
    bool keyDown = false;
    unsigned short virtualKey = 0;
    unsigned character = 0;  // UTF-16 unit; 0 for keys without one (arrows, Esc under Wine)
};
// The key that the events waiting in the console begin with: its character, kKeyEsc, or
// kKeyOther for a key without a character and for an escape sequence of a console left in
// virtual-terminal input mode. consumed: the events it takes, non-keys before it included.
// kNoKey when none of the events is a key; consumed then counts them all.
int KeyFromConsoleEvents(const std::vector<ConsoleKeyEvent>& events, std::size_t& consumed);
// The console input mode for reading keys: virtual-terminal input off, so that an arrow key
// comes as one key event and not as ESC [ A.
unsigned long KeyReadingConsoleMode(unsigned long mode);
// Whether a key (or the end of input) waits in a pipe, from what peeking at it gave: only a
// broken pipe is its end; a peek that fails otherwise (Wine: not supported) finds no key.
bool PipeInputReady(bool peeked, bool brokenPipe, unsigned long available);

}  // namespace sys
