// Files on Windows: contents, location, time stamps, version resources, where the loader
// finds a library, and the frame server's plugin directories in the registry.
#include <windows.h>
// after windows.h
#include <psapi.h>
#undef CopyFile  // the tool's own, not the Windows macro

#include <cstring>
#include <utility>

#include "sys/file_info.h"
#include "sys/paths.h"
#include "sys/utils.h"
#include "sys/win32/win_error.h"

namespace sys {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Owns a file handle.
class FileHandle {
  public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() {
        if (Valid()) CloseHandle(handle_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE Get() const { return handle_; }

  private:
    HANDLE handle_;
};

// Opens a file on disk; a device, pipe or console fails as a file that is not there.
HANDLE OpenRegular(const std::string& path, DWORD access, DWORD disposition) {
    const HANDLE handle = CreateFileA(path.c_str(), access, kShareAll, nullptr, disposition,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        win32::TakeLastError();
        return handle;
    }
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        SetLastErrorText(win32::ErrorText(ERROR_FILE_NOT_FOUND));
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

// Reads up to maxBytes; with wholeOnly a longer file fails.
bool ReadUpTo(const std::string& path, std::vector<uint8_t>& bytes, size_t maxBytes,
              bool wholeOnly) {
    bytes.clear();
    FileHandle file(OpenRegular(path, GENERIC_READ, OPEN_EXISTING));
    if (!file.Valid()) return false;
    // A file too large is refused by its size, before a byte is held; the loop still stops at
    // maxBytes, as a file may grow while it is read.
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size)) size.QuadPart = 0;
    const bool larger = static_cast<uint64_t>(size.QuadPart) > maxBytes;
    if (wholeOnly && larger) {
        SetLastErrorText(win32::ErrorText(ERROR_FILE_TOO_LARGE));
        return false;
    }
    bytes.reserve(larger ? maxBytes : static_cast<size_t>(size.QuadPart));
    uint8_t chunk[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), chunk, sizeof chunk, &got, nullptr)) {
            win32::TakeLastError();
            bytes.clear();
            return false;
        }
        if (got == 0) return true;
        const size_t room = maxBytes - bytes.size();
        if (got > room) {
            if (wholeOnly) {
                bytes.clear();
                SetLastErrorText(win32::ErrorText(ERROR_FILE_TOO_LARGE));
                return false;
            }
            bytes.insert(bytes.end(), chunk, chunk + room);
            return true;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
}

bool WriteAll(HANDLE handle, const char* data, size_t size) {
    while (size > 0) {
        const DWORD part = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD put = 0;
        if (!::WriteFile(handle, data, part, &put, nullptr) || put == 0) {
            win32::TakeLastError();
            return false;
        }
        data += put;
        size -= put;
    }
    return true;
}

// A file written under a temporary name beside its final one and moved over it only when
// whole: a link at the name is replaced rather than followed, and a failed write leaves the
// earlier file as it was. Abandoned, the temporary file is deleted.
class ReplacementFile {
  public:
    explicit ReplacementFile(std::string path) : path_(std::move(path)) {}
    ~ReplacementFile() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
        if (!temporary_.empty()) DeleteFileA(temporary_.c_str());
    }
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // false with the last error set.
    bool Open() {
        const DWORD attributes = GetFileAttributesA(path_.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            SetLastErrorText(win32::ErrorText(ERROR_DIRECTORY));
            return false;
        }
        const size_t end = path_.find_last_of("/\\:");
        const std::string directory = end == std::string::npos ? "" : path_.substr(0, end + 1);
        for (int attempt = 0; attempt < 16; ++attempt) {
            // Exclusive creation makes a clash harmless; the counter and clock make it rare.
            LARGE_INTEGER now{};
            QueryPerformanceCounter(&now);
            const std::string candidate =
                directory + CUtils::FormatString(".trevalo-%08lx%08lx.tmp", GetCurrentProcessId(),
                                                 static_cast<unsigned long>(now.LowPart) + attempt);
            handle_ = CreateFileA(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
            if (handle_ != INVALID_HANDLE_VALUE) {
                temporary_ = candidate;
                return true;
            }
            if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
                break;
        }
        win32::TakeLastError();
        return false;
    }
    HANDLE Get() const { return handle_; }
    // Flushes to disk and moves over the final name; false with the last error set.
    bool Commit() {
        const bool flushed = FlushFileBuffers(handle_) != 0;
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        if (!flushed || !MoveFileExA(temporary_.c_str(), path_.c_str(),
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            win32::TakeLastError();
            return false;
        }
        temporary_.clear();
        return true;
    }

  private:
    std::string path_;
    std::string temporary_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// The devices behind the drive letters, for the names of mapped files.
std::vector<DriveDevice> DriveDevices() {
    std::vector<DriveDevice> drives;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const char drive[3] = {letter, ':', '\0'};
        char target[MAX_PATH];
        if (QueryDosDeviceA(drive, target, MAX_PATH) != 0) drives.push_back({drive, target});
    }
    return drives;
}

#ifdef _WIN64
constexpr REGSAM kRegistryView = KEY_WOW64_64KEY;
constexpr const char* kViewName = "x64";
#else
constexpr REGSAM kRegistryView = KEY_WOW64_32KEY;
constexpr const char* kViewName = "x86";
#endif

}  // namespace

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes, size_t maxBytes) {
    return ReadUpTo(path, bytes, maxBytes, true);
}

bool ReadFileHead(const std::string& path, std::string& text, size_t maxBytes) {
    std::vector<uint8_t> bytes;
    const bool ok = ReadUpTo(path, bytes, maxBytes, false);
    text.assign(bytes.begin(), bytes.end());
    return ok;
}

bool WriteFile(const std::string& path, const std::string& text) {
    ReplacementFile file(path);
    return file.Open() && WriteAll(file.Get(), text.data(), text.size()) && file.Commit();
}

const char* NativeLineEnd() {
    return "\r\n";
}

bool CopyFile(const std::string& from, const std::string& to) {
    FileHandle source(OpenRegular(from, GENERIC_READ, OPEN_EXISTING));
    if (!source.Valid()) return false;
    ReplacementFile target(to);
    if (!target.Open()) return false;
    char chunk[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(source.Get(), chunk, sizeof chunk, &got, nullptr)) {
            win32::TakeLastError();
            return false;
        }
        if (got == 0) return target.Commit();
        if (!WriteAll(target.Get(), chunk, got)) return false;
    }
}

FileKind KindOfFile(const std::string& path) {
    // Pipes and devices are named in the device namespace: \\.\pipe\name, \\.\COM1. The
    // reserved names (NUL, CON) are refused by the read that follows, as no file on disk.
    if (path.rfind("\\\\.\\", 0) == 0) return FileKind::kSpecial;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return FileKind::kMissing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::kDirectory : FileKind::kRegular;
}

std::string RealPath(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        win32::TakeLastError();
        return "";
    }
    const DWORD size = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    std::vector<char> buffer(size + 1);
    const DWORD length = GetFullPathNameA(path.c_str(), size + 1, buffer.data(), nullptr);
    if (length == 0 || length > size) {
        win32::TakeLastError();
        return "";
    }
    return std::string(buffer.data(), length);
}

bool ReadVersionResource(const std::string& path, std::string& version) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return false;
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, data.data())) return false;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length) ||
        info == nullptr || length < sizeof *info) {
        return false;
    }
    version = CUtils::FormatString("%u.%u.%u.%u", unsigned{HIWORD(info->dwFileVersionMS)},
                                   unsigned{LOWORD(info->dwFileVersionMS)},
                                   unsigned{HIWORD(info->dwFileVersionLS)},
                                   unsigned{LOWORD(info->dwFileVersionLS)});
    return true;
}

bool ModificationTimeUtc(const std::string& path, unsigned& y, unsigned& mo, unsigned& d,
                         unsigned& h, unsigned& mi, unsigned& s) {
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    SYSTEMTIME utc;
    if (!FileTimeToSystemTime(&found.ftLastWriteTime, &utc)) return false;
    y = utc.wYear;
    mo = utc.wMonth;
    d = utc.wDay;
    h = utc.wHour;
    mi = utc.wMinute;
    s = utc.wSecond;
    return true;
}

std::string FindLibraryFile(const std::string& name) {
    if (name.empty()) return "";
    // Mapped as data, the file is found by the loader's own search, whatever its
    // architecture, and none of its code runs.
    const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    const HMODULE image = LoadLibraryExA(name.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    SetErrorMode(previousMode);
    if (image == nullptr) {
        win32::TakeLastError();
        return "";
    }
    // The handle of a data file carries flags in its low bits.
    void* base = reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(image) & ~uintptr_t{3});
    std::vector<char> mapped(32768);
    const DWORD length = GetMappedFileNameA(GetCurrentProcess(), base, mapped.data(),
                                            static_cast<DWORD>(mapped.size()));
    std::string location;
    if (length > 0) location = WithDriveLetter(std::string(mapped.data(), length), DriveDevices());
    FreeLibrary(image);
    if (location.empty()) SetLastErrorText(name + ": the mapped file matches no drive");
    return location;
}

std::vector<PluginDirectory> PluginDirectories(const std::string&) {
    struct Slot {
        HKEY hive;
        const char* hiveName;
        const char* value;
        const char* labelName;
    };
    static const Slot kSlots[] = {
        {HKEY_CURRENT_USER, "HKCU", "PluginDir+", "PluginDir+  "},
        {HKEY_LOCAL_MACHINE, "HKLM", "PluginDir+", "PluginDir+  "},
        {HKEY_CURRENT_USER, "HKCU", "PluginDir2_5", "PluginDir2_5"},
        {HKEY_LOCAL_MACHINE, "HKLM", "PluginDir2_5", "PluginDir2_5"},
    };
    std::vector<PluginDirectory> found;
    unsigned slot = 0;
    for (const Slot& entry : kSlots) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(entry.hive, "Software\\Avisynth", 0, KEY_READ | kRegistryView, &key) ==
            ERROR_SUCCESS) {
            char buffer[2049] = {};
            DWORD size = 2048;
            // The value's type is not checked: an expandable string is shown unexpanded.
            if (RegQueryValueExA(key, entry.value, nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS) {
                found.push_back({entry.hive == HKEY_CURRENT_USER ? PluginDirectoryKind::User
                                                                 : PluginDirectoryKind::System,
                                 buffer, slot,
                                 CUtils::FormatString("%s  (%s, %s):\t", entry.labelName,
                                                      entry.hiveName, kViewName)});
            }
            RegCloseKey(key);
        }
        ++slot;
    }
    return found;
}

}  // namespace sys
