// POSIX half of CUtils: cursor control, file status.
#include <sys/stat.h>

#include <cerrno>

#include "sys/terminal.h"
#include "sys/utils.h"

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
    NoteOutputState(toStdout_);
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
