// The console on Windows: _kbhit and _getch on a console, the pipe or file otherwise;
// Ctrl+C through a console control handler; colours through text attributes.
#include <conio.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>

#include "sys/terminal.h"

namespace sys {

namespace {

std::atomic<int> g_interrupts{0};
std::atomic<bool> g_interruptInstalled{false};
std::atomic<bool> g_restoreInstalled{false};
std::atomic<HANDLE> g_colourHandle{nullptr};
std::atomic<WORD> g_colourRestore{0};

HANDLE Input() {
    return GetStdHandle(STD_INPUT_HANDLE);
}

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

// Bytes waiting in a pipe; true as well at its end (a read then tells).
bool PipeReady() {
    DWORD available = 0;
    if (!PeekNamedPipe(Input(), nullptr, 0, nullptr, &available, nullptr)) return true;
    return available > 0;
}

bool InputReady() {
    const HANDLE input = Input();
    if (input == nullptr || input == INVALID_HANDLE_VALUE) return true;  // reads end at once
    if (IsConsole(input)) return _kbhit() != 0;
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
    ResetPendingColour();
    return FALSE;  // the second ends the process as usual
}

BOOL WINAPI OnConsoleEnd(DWORD) {
    ResetPendingColour();
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
    ResetPendingColour();
    if (g_interruptInstalled.exchange(false)) SetConsoleCtrlHandler(OnInterrupt, FALSE);
}

// _getch reads without echo and without a line; the console's mode need not change.
KeyboardMode::KeyboardMode() = default;
KeyboardMode::~KeyboardMode() = default;

bool KeyPressed() {
    return InputReady();
}

int ReadKey() {
    if (IsConsole(Input())) {
        const int key = _getch();
        if (key == 0 || key == 0xE0) {  // a function or arrow key: its second code follows
            _getch();
            return kKeyOther;
        }
        return key == kKeyEsc ? kKeyEsc : key;
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
