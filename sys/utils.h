// Console output and small text helpers shared by the whole tool.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

// printf-style checking; MinGW needs its own format flavour so that %zu and %lld are accepted.
#if defined(__MINGW32__) && defined(__MINGW_PRINTF_FORMAT)
#define TREVALO_PRINTF_FORMAT(fmt, first) __attribute__((format(__MINGW_PRINTF_FORMAT, fmt, first)))
#elif defined(__GNUC__) || defined(__clang__)
#define TREVALO_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define TREVALO_PRINTF_FORMAT(fmt, first)
#endif

class CUtils {
  public:
    CUtils();           // reads the width of the console stream (standard error)
    virtual ~CUtils();  // resets a colour that an interrupted Print left switched on

    CUtils(const CUtils&) = delete;
    CUtils& operator=(const CUtils&) = delete;

    // Console stream: standard output when toStdout, else standard error (the default).
    // Re-reads the width of that stream; 0 when it is not a terminal.
    void SetConsoleStream(bool toStdout);
    // The console stream: true for standard output, false for standard error.
    bool ConsoleIsStdout() const { return toStdout_; }
    void SetUseColor(bool useColor);
    void SetConsoleWidthForTest(int width);
    int ConsoleWidth() const;

    // printf-style output to standard output or standard error, flushed at once. colour 0
    // leaves the colour alone; others are console attributes (0x0F, 0x0B, 0x0C, 0x0A). On a
    // stream that is no terminal, carriage returns are left out.
    void Print(bool toStdout, unsigned short colour, const char* format, ...)
        TREVALO_PRINTF_FORMAT(4, 5);
    // On the console stream: a carriage return, the text padded to the console width, then
    // tail ("\r" for a status line that the next output overwrites, "\n" for a whole line).
    // Off a terminal only whole lines, as plain text; a blank one only ends an open line.
    void PrintPadded(unsigned short colour, const std::string& text, const char* tail);
    // Moves the cursor n lines up to column 0 on the console stream (terminal only).
    void CursorUp(int n);
    // Flushes both streams; then the system's text of the first failed write to standard
    // output (toStdout) or standard error, "" while none failed. A reader that went away (a
    // broken pipe) is no failure: nobody is left to miss the text; nor is a stream that was
    // never there.
    std::string OutputFailure(bool toStdout);
    // The text followed by blanks up to one column less than the console width.
    std::string PadToConsoleWidth(const std::string& text) const;
    // The text cut to one column less than the console width, so that it cannot wrap.
    std::string FitToConsoleWidth(const std::string& text) const;

    // The whole formatted text, however long; empty for a null format.
    static std::string FormatString(const char* format, ...) TREVALO_PRINTF_FORMAT(1, 2);
    static std::string FormatFPS(double value);
    static std::string FormatTPF(double value);
    static std::string ToOem(const std::string& text);
    static void Trim(std::string& text);
    static void ToLower(std::string& text);
    static bool IsNumber(const std::string& text);
    // True for a regular file, after following links: directories, devices, FIFOs and
    // sockets count as missing.
    static bool FileExists(const std::string& path);
    // The system's text of the last failing OS call, "" when there is none.
    static std::string GetLastErrorText();

  private:
    // Records a stream's first write error, with errno as the failed call left it.
    void NoteOutputState(bool toStdout);
    static std::string FormatV(const char* format, va_list args);

    bool toStdout_ = false;
    bool useColor_ = true;
    int outputError_[2] = {0, 0};  // errno of the first failed write: [0] stdout, [1] stderr
    int consoleWidth_ = 0;
    bool lineOpen_[2] = {false, false};  // the last text ended without a line feed
};

extern CUtils g_utils;

namespace sys {
// The "last error" of the tool's OS layer: set after a failing OS call, read through
// CUtils::GetLastErrorText.
void SetLastErrorText(std::string text);
void SetLastErrorFromErrno(int errorNumber);  // the C library's text for an errno value
void ClearLastError();
}  // namespace sys

// Colour only when the UseColor setting is on, the stream is a terminal and NO_COLOR is
// unset or empty (the no-color.org convention).
bool ColorEnabled(bool useColor, bool streamIsTerminal, const char* noColorValue);

// ANSI sequence for a console attribute (Windows bits: 1 blue, 2 green, 4 red, 8 bright;
// the same bits shifted by 4 for the background). "" for 0.
std::string AnsiColorSequence(unsigned short attribute);
constexpr const char* kAnsiReset = "\x1b[0m";
