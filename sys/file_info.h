// Facts about files on disk: contents, real location, last-write time, where the dynamic
// loader finds a library, and the frame server's plugin directories.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sys {

// Only regular files (after following links) are read or written: a device, FIFO or socket
// fails at once, as a missing file does, and never blocks or streams without end.

// The whole file. false (bytes empty, last error set) when it cannot be read or is larger
// than maxBytes: refused by its size before it is read, or once it has grown past maxBytes.
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes, size_t maxBytes);

// At most the first maxBytes of the file; false (last error set) when it cannot be read.
bool ReadFileHead(const std::string& path, std::string& text, size_t maxBytes);

// What a path names, after following links: a special file is a FIFO, socket or device.
enum class FileKind { kMissing, kRegular, kDirectory, kSpecial };
FileKind KindOfFile(const std::string& path);

// Creates or replaces the file with text, byte for byte. false (last error set) on failure.
bool WriteFile(const std::string& path, const std::string& text);

// The platform's line end for text files the user edits: "\n", or "\r\n" on Windows.
const char* NativeLineEnd();

// Copies the file byte for byte, however large, to a new or replaced file.
bool CopyFile(const std::string& from, const std::string& to);

// Absolute path with every link resolved; "" on failure (last error set).
std::string RealPath(const std::string& path);

// The file's version resource as "a.b.c.d"; false where the system has none (POSIX) or the
// file carries none.
bool ReadVersionResource(const std::string& path, std::string& version);

// Last-write time in UTC: false when the file cannot be stat'ed.
bool ModificationTimeUtc(const std::string& path, unsigned& y, unsigned& mo, unsigned& d,
                         unsigned& h, unsigned& mi, unsigned& s);

// The file that the loader would open for a library name: a name with '/' is used as given;
// otherwise the loader's search: LD_LIBRARY_PATH, the directories of /etc/ld.so.conf (with
// its includes), then the default directories. "" when not found.
std::string FindLibraryFile(const std::string& name);

enum class PluginDirectoryKind { System, User };
struct PluginDirectory {
    PluginDirectoryKind kind;
    std::string path;
    unsigned slot = 0;  // the report's line for it, 0 to 3
    std::string label;  // "<name>:\t", the report's text before the path
};
// The plugin directories that AviSynth+ searches here, each only when it exists:
// <directory of the library>/avisynth (System) and $HOME/.local/lib/avisynth (User). On
// Windows: the registry's PluginDir+ and PluginDir2_5 values, per user and per machine, in
// the registry view of the build's width.
std::vector<PluginDirectory> PluginDirectories(const std::string& libraryPath);

// ---- Pure parts, shared by the implementations and unit-tested on literal input ----

// One meaningful line of an ld.so.conf-style file, in file order. Relative include
// patterns are made relative to fileDirectory, as the loader's configuration tool does.
struct LdSoConfLine {
    enum class Kind { Directory, Include };
    Kind kind;
    std::string value;  // a directory, or a glob pattern of further files
};
std::vector<LdSoConfLine> ParseLdSoConf(const std::string& text, const std::string& fileDirectory);

// The directories of a search-path variable (LD_LIBRARY_PATH): separated by ':' or ';';
// an empty entry means the current directory.
std::vector<std::string> SplitLibraryPath(const std::string& value);

// The loader's built-in directories for this build's architecture, in search order.
std::vector<std::string> DefaultLibraryDirectories();

// The candidate plugin directories before the existence check; an empty home skips the
// user directory.
std::vector<PluginDirectory> PluginDirectoryCandidates(const std::string& libraryPath,
                                                       const std::string& home);

}  // namespace sys
