// Dynamic libraries on Windows: LoadLibraryA, GetProcAddress, FreeLibrary.
#include <windows.h>

#include <cstring>
#include <utility>

#include "sys/library.h"
#include "sys/utils.h"
#include "sys/win32/win_error.h"

namespace sys {

Library::~Library() {
    if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

Library::Library(Library&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

Library& Library::operator=(Library&& other) noexcept {
    if (this != &other) {
        if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

bool Library::Open(const std::string& path) {
    Close();
    // No "insert a disk" or missing-DLL dialog boxes: the message goes to the console.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    handle_ = LoadLibraryA(path.c_str());
    const DWORD error = GetLastError();
    SetErrorMode(previous);
    if (handle_ == nullptr) {
        SetLastErrorText(win32::ErrorText(error));
        return false;
    }
    return true;
}

void* Library::Symbol(const char* name) const {
    if (handle_ == nullptr || name == nullptr) {
        SetLastErrorText("No library is loaded");
        return nullptr;
    }
    FARPROC address = GetProcAddress(static_cast<HMODULE>(handle_), name);
    if (address == nullptr) win32::TakeLastError();
    void* result = nullptr;
    static_assert(sizeof result == sizeof address, "function and data pointers differ");
    std::memcpy(&result, &address, sizeof result);
    return result;
}

bool Library::Close() {
    if (handle_ == nullptr) return true;
    if (!FreeLibrary(static_cast<HMODULE>(std::exchange(handle_, nullptr)))) {
        win32::TakeLastError();
        return false;
    }
    return true;
}

std::string DefaultAvisynthLibraryName() {
    return "avisynth";
}

std::string AvisynthLibraryFileName() {
    return "avisynth.dll";
}

const char* LibrarySearchVariable() {
    return "PATH";
}

}  // namespace sys
