// File-system paths: where the program lives, absolute paths, directories, environment.
#pragma once

#include <string>
#include <vector>

namespace sys {

// Full path of the running executable; "" when the system cannot tell.
std::string ExecutablePath();

// The process's current directory; "" when it cannot be read.
std::string CurrentDirectory();

// Joins a relative path with cwd and normalises it lexically (".", "..", repeated
// separators). The file need not exist; letter case and blanks are kept. "" when the path
// is empty or is relative to an empty or relative cwd.
std::string MakeAbsolute(const std::string& path, const std::string& cwd);

// MakeAbsolute against the current directory.
std::string MakeAbsolute(const std::string& path);

// The path cut before its last separator: "/a/b" -> "/a", "/a" -> "/", "a" -> "".
std::string DirectoryOf(const std::string& path);

// The part after the last '/' or '\\', for a path written on either system (a result file
// may come from the other one).
std::string FileNameOf(const std::string& path);

// dir and name with exactly one separator between them (name alone when dir is empty).
std::string JoinPath(const std::string& dir, const std::string& name);

bool IsDirectory(const std::string& path);

// True when the system refuses the path for its length (longer than its path limit).
bool IsPathTooLong(const std::string& path);

// True when files can be created in the existing directory dir.
bool IsDirectoryWritable(const std::string& dir);

// Creates dir and any missing parents; true when dir exists as a directory afterwards.
bool MakeDirectories(const std::string& dir);

// A mapped file's name as the system gives it ("\\Device\\HarddiskVolume3\\x.dll", or
// "\\??\\C:\\x.dll") with a drive letter: drives pairs each drive ("C:") with its device
// ("\\Device\\HarddiskVolume3"). "" when no drive holds it.
struct DriveDevice {
    std::string drive;
    std::string device;
};
std::string WithDriveLetter(const std::string& devicePath, const std::vector<DriveDevice>& drives);

// Value of an environment variable; "" when it is unset or empty.
std::string GetEnvironment(const char* name);

}  // namespace sys
