// POSIX half of CUtils: the console stream, ANSI colours and cursor control, file status.
#include <sys/stat.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>

#include "sys/terminal.h"
#include "sys/utils.h"

CUtils::CUtils() {
    consoleWidth_ = sys::TerminalColumns(toStdout_);
}

CUtils::~CUtils() {
    sys::ResetPendingColour();
}

void CUtils::SetConsoleStream(bool toStdout) {
    toStdout_ = toStdout;
    consoleWidth_ = sys::TerminalColumns(toStdout_);
}

void CUtils::Print(bool toStdout, unsigned short colour, const char* format, ...) {
    if (format == nullptr) return;
    std::FILE* stream = toStdout ? stdout : stderr;
    const bool coloured =
        colour != 0 && ColorEnabled(useColor_, sys::IsTerminal(toStdout), std::getenv("NO_COLOR"));
    if (coloured) {
        sys::SetColourActive(toStdout, true);
        std::fputs(AnsiColorSequence(colour).c_str(), stream);
    }
    va_list args;
    va_start(args, format);
    std::vfprintf(stream, format, args);
    va_end(args);
    if (coloured) std::fputs(kAnsiReset, stream);
    std::fflush(stream);
    if (coloured) sys::SetColourActive(toStdout, false);
}

void CUtils::CursorUp(int n) {
    if (!sys::IsTerminal(toStdout_)) return;
    std::FILE* stream = toStdout_ ? stdout : stderr;
    // Like the Windows cursor move, n <= 0 only returns to column 0.
    if (n > 0) {
        std::fprintf(stream, "\x1b[%dA\r", n);
    } else {
        std::fputs("\r", stream);
    }
    std::fflush(stream);
}

std::string CUtils::ToOem(const std::string& text) {
    return text;
}  // terminals are UTF-8

bool CUtils::FileExists(const std::string& path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
        sys::SetLastErrorFromErrno(errno);
        return false;
    }
    return S_ISREG(status.st_mode);
}
