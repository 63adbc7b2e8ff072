// Windows half of CUtils: console handles, cursor position, OEM text, file status,
// and the system's error texts.
#include <windows.h>

#include "sys/terminal.h"
#include "sys/utils.h"
#include "sys/win32/win_error.h"

namespace sys::win32 {

std::string ErrorText(unsigned long code) {
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text = length > 0 && buffer != nullptr ? std::string(buffer, length) : "";
    if (buffer != nullptr) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    if (text.empty() && code != 0) text = CUtils::FormatString("Error %lu", code);
    return text;
}

void TakeLastError() {
    SetLastErrorText(ErrorText(GetLastError()));
}

}  // namespace sys::win32

namespace {

HANDLE StreamHandle(bool toStdout) {
    return GetStdHandle(toStdout ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

}  // namespace

void CUtils::CursorUp(int n) {
    if (!sys::IsTerminal(toStdout_)) return;
    std::FILE* stream = toStdout_ ? stdout : stderr;
    std::fflush(stream);
    const HANDLE handle = StreamHandle(toStdout_);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(handle, &info)) return;
    COORD position = info.dwCursorPosition;
    position.X = 0;
    position.Y =
        static_cast<SHORT>(n > 0 && n < position.Y ? position.Y - n : (n > 0 ? 0 : position.Y));
    SetConsoleCursorPosition(handle, position);
}

std::string CUtils::ToOem(const std::string& text) {
    if (text.empty()) return text;
    std::string converted(text.size() + 1, '\0');
    if (!CharToOemA(text.c_str(), &converted[0])) return text;
    converted.resize(text.size());
    return converted;
}

bool CUtils::FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        sys::win32::TakeLastError();
        return false;
    }
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}
