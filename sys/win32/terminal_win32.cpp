// The console on Windows: key events read from the console input, the pipe or file
// otherwise; Ctrl+C through a console control handler; colours through text attributes.
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <vector>

#include "sys/terminal.h"

namespace sys {

namespace {

std::atomic<int> g_interrupts{0};
std::atomic<bool> g_interruptInstalled{false};
std::atomic<bool> g_restoreInstalled{false};
std::atomic<HANDLE> g_colourHandle{nullptr};
std::atomic<WORD> g_colourRestore{0};
// The input mode the outermost KeyboardMode found, while it has changed it.
std::atomic<bool> g_inputModeSaved{false};
std::atomic<DWORD> g_savedInputMode{0};

HANDLE Input() {
    return GetStdHandle(STD_INPUT_HANDLE);
}

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

void RestoreInputMode() {
    if (g_inputModeSaved.exchange(false)) SetConsoleMode(Input(), g_savedInputMode.load());
}

bool PipeReady() {
    DWORD available = 0;
    const bool peeked = PeekNamedPipe(Input(), nullptr, 0, nullptr, &available, nullptr) != 0;
    return PipeInputReady(peeked, !peeked && GetLastError() == ERROR_BROKEN_PIPE, available);
}

// The events waiting in the console input, unread; false when it cannot be read at all.
bool PendingEvents(std::vector<ConsoleKeyEvent>& events) {
    events.clear();
    DWORD count = 0;
    if (!GetNumberOfConsoleInputEvents(Input(), &count)) return false;
    if (count == 0) return true;
    std::vector<INPUT_RECORD> records(count);
    DWORD got = 0;
    if (!PeekConsoleInputW(Input(), records.data(), count, &got)) return false;
    for (DWORD i = 0; i < got; ++i) {
        ConsoleKeyEvent event;
        if (records[i].EventType == KEY_EVENT) {
            const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
            event.keyDown = key.bKeyDown != 0;
            event.virtualKey = key.wVirtualKeyCode;
            event.character = key.uChar.UnicodeChar;
        }
        events.push_back(event);
    }
    return true;
}

void DropEvents(std::size_t count) {
    std::vector<INPUT_RECORD> records(count);
    DWORD got = 0;
    if (count > 0) ReadConsoleInputW(Input(), records.data(), static_cast<DWORD>(count), &got);
}

// Whether a key waits; what comes before it and is no key is dropped, the key stays.
bool ConsoleKeyWaiting() {
    std::vector<ConsoleKeyEvent> events;
    if (!PendingEvents(events)) return true;  // a read then tells
    std::size_t consumed = 0;
    if (KeyFromConsoleEvents(events, consumed) != kNoKey) return true;
    DropEvents(consumed);
    return false;
}

int ReadConsoleKey() {
    for (;;) {
        std::vector<ConsoleKeyEvent> events;
        if (!PendingEvents(events)) return kKeyEndOfInput;
        std::size_t consumed = 0;
        const int key = KeyFromConsoleEvents(events, consumed);
        DropEvents(consumed);
        if (key != kNoKey) return key;
        Sleep(10);
    }
}

bool InputReady() {
    const HANDLE input = Input();
    if (input == nullptr || input == INVALID_HANDLE_VALUE) return true;  // reads end at once
    if (IsConsole(input)) return ConsoleKeyWaiting();
    return GetFileType(input) == FILE_TYPE_PIPE ? PipeReady() : true;
}

bool ReadByte(unsigned char* byte, int timeoutMs) {
    if (timeoutMs >= 0) {
        int waited = 0;
        while (!InputReady()) {
            if (waited >= timeoutMs) return false;
            Sleep(5);
            waited += 5;
        }
    }
    DWORD got = 0;
    return ReadFile(Input(), byte, 1, &got, nullptr) && got == 1;
}

BOOL WINAPI OnInterrupt(DWORD event) {
    if (event != CTRL_C_EVENT) return FALSE;
    if (g_interrupts.fetch_add(1) == 0) return TRUE;  // the first Ctrl+C asks to stop
    RestoreTerminalFromSignal();
    return FALSE;  // the second ends the process as usual
}

BOOL WINAPI OnConsoleEnd(DWORD) {
    RestoreTerminalFromSignal();
    return FALSE;
}

}  // namespace

InterruptCatcher::InterruptCatcher() {
    g_interrupts = 0;
    g_interruptInstalled = SetConsoleCtrlHandler(OnInterrupt, TRUE) != 0;
}

InterruptCatcher::~InterruptCatcher() {
    if (g_interruptInstalled.exchange(false)) SetConsoleCtrlHandler(OnInterrupt, FALSE);
}

bool InterruptCatcher::Requested() const {
    return g_interrupts.load() != 0;
}

// Windows ends a console program by its control handler, not by signals to defer.
TerminationDeferral::TerminationDeferral() = default;
TerminationDeferral::~TerminationDeferral() = default;

int DeferredSignal() {
    return 0;
}

// No process shares the console with a watcher here.
struct SavedTerminalMode::Mode {};
SavedTerminalMode::SavedTerminalMode() = default;
SavedTerminalMode::~SavedTerminalMode() = default;
void SavedTerminalMode::Restore(bool) const {}

void ReleaseTerminalState() {
    RestoreTerminalFromSignal();
    if (g_interruptInstalled.exchange(false)) SetConsoleCtrlHandler(OnInterrupt, FALSE);
}

// Key events come without echo or a line anyway; only virtual-terminal input, which another
// program may have left on, would turn an arrow key into ESC [ A.
KeyboardMode::KeyboardMode() {
    DWORD mode = 0;
    if (g_inputModeSaved || !GetConsoleMode(Input(), &mode)) return;
    const DWORD keyMode = static_cast<DWORD>(KeyReadingConsoleMode(mode));
    if (keyMode == mode) return;
    g_savedInputMode = mode;
    g_inputModeSaved = true;
    if (!SetConsoleMode(Input(), keyMode)) {
        g_inputModeSaved = false;
        return;
    }
    owner_ = true;
}

KeyboardMode::~KeyboardMode() {
    if (owner_) RestoreInputMode();
}

bool KeyPressed() {
    return InputReady();
}

int ReadKey() {
    if (IsConsole(Input())) {
        const KeyboardMode mode;
        return ReadConsoleKey();
    }
    return ReadKeyFrom(ReadByte);
}

bool StdinIsTerminal() {
    return IsConsole(Input());
}

bool IsTerminal(bool stdoutStream) {
    return IsConsole(GetStdHandle(stdoutStream ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE)) &&
           TerminalTypeAllowsControl(std::getenv("TERM"));
}

int TerminalColumns(bool stdoutStream) {
    if (!IsTerminal(stdoutStream)) return 0;
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(
            GetStdHandle(stdoutStream ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE), &info)) {
        return 0;
    }
    return info.dwSize.X;
}

void RestoreTerminalFromSignal() {
    ResetPendingColour();
    RestoreInputMode();
}

void InstallTerminalRestoreHandlers() {
    if (!g_restoreInstalled.exchange(true)) SetConsoleCtrlHandler(OnConsoleEnd, TRUE);
}

void SetColourActive(bool stdoutStream, bool active) {
    if (!active) {
        g_colourHandle = nullptr;
        return;
    }
    const HANDLE handle = GetStdHandle(stdoutStream ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(handle, &info)) return;
    g_colourRestore = info.wAttributes;
    g_colourHandle = handle;
}

void ResetPendingColour() {
    const HANDLE handle = g_colourHandle.exchange(nullptr);
    if (handle != nullptr) SetConsoleTextAttribute(handle, g_colourRestore.load());
}

void BeginColour(bool stdoutStream, std::FILE* stream, unsigned short attribute) {
    std::fflush(stream);                  // text before stays in its own colour
    SetColourActive(stdoutStream, true);  // keeps the attributes to go back to
    SetConsoleTextAttribute(GetStdHandle(stdoutStream ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE),
                            attribute);
}

void EndColour(bool, std::FILE* stream) {
    std::fflush(stream);
    ResetPendingColour();
}

}  // namespace sys
