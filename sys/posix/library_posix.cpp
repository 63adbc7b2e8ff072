// Dynamic libraries on POSIX systems: dlopen, dlsym, dlclose, dlerror.
#include <dlfcn.h>

#include <utility>

#include "sys/file_info.h"
#include "sys/library.h"
#include "sys/utils.h"

namespace sys {

namespace {

void TakeLoaderError(const char* fallback) {
    const char* text = dlerror();
    SetLastErrorText(text != nullptr ? text : fallback);
}

}  // namespace

Library::~Library() {
    if (handle_ != nullptr) dlclose(handle_);
}

Library::Library(Library&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

Library& Library::operator=(Library&& other) noexcept {
    if (this != &other) {
        if (handle_ != nullptr) dlclose(handle_);
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

bool Library::Open(const std::string& path) {
    Close();
    // A bare name is searched for as the loader would, but only a regular file is taken: the
    // loader itself would open a FIFO of that name and wait on it for ever.
    const std::string file = path.find('/') == std::string::npos ? FindLibraryFile(path) : path;
    if (file.empty()) {
        SetLastErrorText(path + ": no library file of this name on the loader's search path");
        return false;
    }
    dlerror();
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        TakeLoaderError("The library could not be loaded");
        return false;
    }
    return true;
}

void* Library::Symbol(const char* name) const {
    if (handle_ == nullptr || name == nullptr) {
        SetLastErrorText("No library is loaded");
        return nullptr;
    }
    dlerror();
    void* address = dlsym(handle_, name);
    if (address == nullptr) TakeLoaderError("The symbol was not found");
    return address;
}

bool Library::Close() {
    if (handle_ == nullptr) return true;
    dlerror();
    const int result = dlclose(std::exchange(handle_, nullptr));
    if (result != 0) {
        TakeLoaderError("The library could not be unloaded");
        return false;
    }
    return true;
}

std::string DefaultAvisynthLibraryName() {
#if defined(__APPLE__)
    return "libavisynth.dylib";
#else
    return "libavisynth.so";
#endif
}

std::string AvisynthLibraryFileName() {
    return DefaultAvisynthLibraryName();
}

const char* LibrarySearchVariable() {
#if defined(__APPLE__)
    return "DYLD_LIBRARY_PATH";
#else
    return "LD_LIBRARY_PATH";
#endif
}

}  // namespace sys
