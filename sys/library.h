// A dynamic library loaded at run time, closed when the object goes.
#pragma once

#include <string>

namespace sys {

class Library {
  public:
    Library() = default;
    ~Library();  // closes the library if open; the result is ignored
    Library(Library&& other) noexcept;
    Library& operator=(Library&& other) noexcept;
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // Loads path (closing any library held before). A bare name is searched for as the
    // system's loader does, and only a regular file is taken (on POSIX). False on failure,
    // with the loader's text as the last error.
    bool Open(const std::string& path);

    // Address of an exported symbol; null when it is missing (the last error then says
    // why) or when no library is open.
    void* Symbol(const char* name) const;

    // False when the loader reports a failure (the last error says why); the handle is
    // released either way. True when nothing was open.
    bool Close();

    // Forgets the handle without closing it: the library stays loaded until the process
    // ends, for when its code may still be in use (after a fault inside it).
    void Release() { handle_ = nullptr; }

    bool IsOpen() const { return handle_ != nullptr; }

  private:
    void* handle_ = nullptr;
};

// The frame server's library name on this system, as the loader searches it.
std::string DefaultAvisynthLibraryName();

// The frame server's library as messages name it: "libavisynth.so", "avisynth.dll".
std::string AvisynthLibraryFileName();

// The environment variable that adds folders to the loader's search.
const char* LibrarySearchVariable();

}  // namespace sys
