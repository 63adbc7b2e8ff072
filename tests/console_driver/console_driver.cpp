// Runs a console program on a console of its own and uses it as a person at the keyboard
// would, for the interactive tests of the Windows build (Wine's console reads no keys typed
// into a terminal in time, but takes key events written into its input buffer):
//
//   console_driver STEP... -- PROGRAM [ARGUMENT...]
//
//   wait:TEXT   until TEXT is on the screen
//   gone:TEXT   until TEXT is no longer on the screen
//   key:KEY     a key pressed and released: one character, esc, up, enter; u+XXXX for the
//               character of that UTF-16 code, cp+XX for the character of that code in the
//               console's code page, each with no key of its own
//   ctrl-c      Ctrl+C raised in the console
//   sleep:MS    a pause
//   alive       the program has not ended yet
//   vt-input    (before the program starts) the console's virtual-terminal input on, as
//               another program may have left it
//   vt-off      virtual-terminal input is off now
//
// After the steps it waits for the program to end, then prints (UTF-8) a first line "ok" or
// what failed, the screen's rows, "virtual-terminal input: on" or "off", and "exit code: N". Every
// wait ends after 30 s. Exit status 0 when every step held, 1 when one did not, 2 when the program
// could not be run.
#include <windows.h>

#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr DWORD kLimitMs = 30000;
constexpr SHORT kColumns = 100;
constexpr SHORT kRows = 300;
constexpr DWORD kVirtualTerminalInput = 0x0200;  // ENABLE_VIRTUAL_TERMINAL_INPUT

bool VirtualTerminalInput(HANDLE input) {
    DWORD mode = 0;
    return GetConsoleMode(input, &mode) && (mode & kVirtualTerminalInput) != 0;
}

// The argument as the C run time splits it again: quoted, backslashes before a quote doubled.
std::wstring Quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L"\"";
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return "";
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size,
                        nullptr, nullptr);
    return bytes;
}

// The screen's rows without trailing blanks, up to the last row that is not empty.
std::vector<std::wstring> Screen(HANDLE output) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    std::vector<std::wstring> rows;
    if (!GetConsoleScreenBufferInfo(output, &info)) return rows;
    std::vector<wchar_t> row(static_cast<size_t>(info.dwSize.X));
    for (SHORT y = 0; y < info.dwSize.Y; ++y) {
        DWORD got = 0;
        ReadConsoleOutputCharacterW(output, row.data(), static_cast<DWORD>(row.size()), {0, y},
                                    &got);
        std::wstring text(row.data(), got);
        text.erase(text.find_last_not_of(L' ') + 1);
        rows.push_back(text);
    }
    while (!rows.empty() && rows.back().empty())
        rows.pop_back();
    return rows;
}

bool OnScreen(HANDLE output, const std::wstring& text) {
    for (const std::wstring& row : Screen(output))
        if (row.find(text) != std::wstring::npos) return true;
    return false;
}

// Polls until shown(text) is wanted; false after the limit.
bool WaitUntil(HANDLE output, const std::wstring& text, bool wanted) {
    for (DWORD waited = 0; waited < kLimitMs; waited += 50) {
        if (OnScreen(output, text) == wanted) return true;
        Sleep(50);
    }
    return false;
}

bool Press(HANDLE input, const std::wstring& name) {
    WORD virtualKey = 0;
    wchar_t character = 0;
    if (name == L"esc") {
        virtualKey = VK_ESCAPE;
        character = 0x1B;  // as Windows delivers it
    } else if (name == L"up") {
        virtualKey = VK_UP;
    } else if (name == L"enter") {
        virtualKey = VK_RETURN;
        character = L'\r';
    } else if (name.size() == 6 && (name.compare(0, 2, L"u+") == 0)) {
        character = static_cast<wchar_t>(std::wcstoul(name.c_str() + 2, nullptr, 16));
    } else if (name.size() == 5 && (name.compare(0, 3, L"cp+") == 0)) {
        const char code = static_cast<char>(std::wcstoul(name.c_str() + 3, nullptr, 16));
        MultiByteToWideChar(GetConsoleCP(), 0, &code, 1, &character, 1);
    } else if (name.size() == 1) {
        character = name[0];
        virtualKey = static_cast<WORD>(VkKeyScanW(character) & 0xFF);
    } else {
        return false;
    }
    INPUT_RECORD records[2] = {};
    for (int i = 0; i < 2; ++i) {
        KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
        records[i].EventType = KEY_EVENT;
        key.bKeyDown = i == 0;
        key.wRepeatCount = 1;
        key.wVirtualKeyCode = virtualKey;
        key.wVirtualScanCode = static_cast<WORD>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
        key.uChar.UnicodeChar = character;
    }
    DWORD written = 0;
    return WriteConsoleInputW(input, records, 2, &written) && written == 2;
}

// The driver stays alive through the Ctrl+C it raises; a handler is not inherited, unlike
// ignoring the event, so the program still gets it.
BOOL WINAPI KeepRunning(DWORD event) {
    return event == CTRL_C_EVENT ? TRUE : FALSE;
}

struct HandleCloser {
    void operator()(HANDLE handle) const {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};
using Handle = std::unique_ptr<void, HandleCloser>;

struct ArgumentsFree {
    void operator()(wchar_t** arguments) const { LocalFree(arguments); }
};

HANDLE OpenConsole(const wchar_t* name) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, OPEN_EXISTING, 0, nullptr);
}

void Report(HANDLE to, const std::string& text) {
    DWORD written = 0;
    WriteFile(to, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

int main() {
    int argc = 0;
    const std::unique_ptr<wchar_t*, ArgumentsFree> arguments(
        CommandLineToArgvW(GetCommandLineW(), &argc));
    wchar_t** argv = arguments.get();
    const HANDLE report = GetStdHandle(STD_OUTPUT_HANDLE);  // before the console replaces it
    int separator = 1;
    while (argv != nullptr && separator < argc && std::wcscmp(argv[separator], L"--") != 0)
        ++separator;
    if (argv == nullptr || separator + 1 >= argc) {
        Report(report, "usage: console_driver STEP... -- PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    std::wstring commandLine;
    for (int i = separator + 1; i < argc; ++i)
        commandLine += (i > separator + 1 ? L" " : L"") + Quoted(argv[i]);

    FreeConsole();
    if (!AllocConsole()) {
        Report(report, "cannot make a console\n");
        return 2;
    }
    const Handle inputHandle(OpenConsole(L"CONIN$"));
    const Handle outputHandle(OpenConsole(L"CONOUT$"));
    const HANDLE input = inputHandle.get();
    const HANDLE output = outputHandle.get();
    SetConsoleScreenBufferSize(output, {kColumns, kRows});
    SetConsoleCtrlHandler(KeepRunning, TRUE);
    for (int i = 1; i < separator; ++i) {
        DWORD mode = 0;
        if (std::wcscmp(argv[i], L"vt-input") == 0 && GetConsoleMode(input, &mode)) {
            SetConsoleMode(input, mode | kVirtualTerminalInput);
        }
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        Report(report, "cannot start " + Utf8(commandLine) + "\n");
        return 2;
    }
    const Handle thread(process.hThread);
    const Handle program(process.hProcess);

    std::wstring failed;
    for (int i = 1; i < separator && failed.empty(); ++i) {
        const std::wstring step = argv[i];
        const size_t colon = step.find(L':');
        const std::wstring verb = step.substr(0, colon);
        const std::wstring value = colon == std::wstring::npos ? L"" : step.substr(colon + 1);
        bool held = true;
        if (verb == L"wait") {
            held = WaitUntil(output, value, true);
        } else if (verb == L"gone") {
            held = WaitUntil(output, value, false);
        } else if (verb == L"key") {
            held = Press(input, value);
        } else if (verb == L"ctrl-c") {
            held = GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != 0;
        } else if (verb == L"sleep") {
            Sleep(static_cast<DWORD>(std::wcstoul(value.c_str(), nullptr, 10)));
        } else if (verb == L"alive") {
            held = WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT;
        } else if (verb == L"vt-input") {
            held = true;  // done before the start
        } else if (verb == L"vt-off") {
            held = !VirtualTerminalInput(input);
        } else {
            held = false;
        }
        if (!held) failed = step;
    }
    if (WaitForSingleObject(process.hProcess, kLimitMs) != WAIT_OBJECT_0) {
        if (failed.empty()) failed = L"the program to end";
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, kLimitMs);
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);

    std::string text = failed.empty() ? "ok\n" : "failed: " + Utf8(failed) + "\n";
    for (const std::wstring& row : Screen(output))
        text += Utf8(row) + "\n";
    text += std::string("virtual-terminal input: ") + (VirtualTerminalInput(input) ? "on" : "off") +
            "\n";
    text += "exit code: " + std::to_string(static_cast<int>(exitCode)) + "\n";
    Report(report, text);
    return failed.empty() ? 0 : 1;
}
