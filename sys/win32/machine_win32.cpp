// The machine on Windows: the registry's processor and product names, the processor count,
// the installed memory and the version the kernel reports.
#include <windows.h>

#include <cstring>
#include <vector>

#include "sys/machine.h"
#include "sys/utils.h"

namespace sys {

namespace {

// Owns an open registry key.
class RegistryKey {
  public:
    // The 64-bit view also from a 32-bit Trevalo: the product name is the machine's.
    RegistryKey(HKEY hive, const wchar_t* path) {
        if (RegOpenKeyExW(hive, path, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key_) !=
            ERROR_SUCCESS) {
            key_ = nullptr;
        }
    }
    ~RegistryKey() {
        if (key_ != nullptr) RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // A string value as UTF-8, trimmed; "" when there is none.
    std::string Text(const wchar_t* name) const {
        if (key_ == nullptr) return "";
        DWORD bytes = 0;
        if (RegGetValueW(key_, nullptr, name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) !=
                ERROR_SUCCESS ||
            bytes < sizeof(wchar_t)) {
            return "";
        }
        std::vector<wchar_t> wide(bytes / sizeof(wchar_t) + 1);
        if (RegGetValueW(key_, nullptr, name, RRF_RT_REG_SZ, nullptr, wide.data(), &bytes) !=
            ERROR_SUCCESS) {
            return "";
        }
        std::string text = Utf8(wide.data());
        CUtils::Trim(text);
        return text;
    }

  private:
    static std::string Utf8(const wchar_t* wide) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
        if (size <= 1) return "";
        std::string text(static_cast<size_t>(size), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, &text[0], size, nullptr, nullptr);
        text.pop_back();  // the terminating NUL
        return text;
    }

    HKEY key_ = nullptr;
};

// The kernel's own version: GetVersionEx answers what the program's manifest claims.
bool KernelVersion(RTL_OSVERSIONINFOW& version) {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return false;
    const FARPROC address = GetProcAddress(ntdll, "RtlGetVersion");
    if (address == nullptr) return false;
    LONG(WINAPI * getVersion)(RTL_OSVERSIONINFOW*) = nullptr;
    static_assert(sizeof getVersion == sizeof address, "function pointers differ");
    std::memcpy(&getVersion, &address, sizeof getVersion);
    version = {};
    version.dwOSVersionInfoSize = sizeof version;
    return getVersion(&version) == 0;
}

}  // namespace

MachineFacts DescribeMachine() {
    MachineFacts machine;
    machine.processor =
        RegistryKey(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0")
            .Text(L"ProcessorNameString");

    machine.logicalProcessors = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    if (machine.logicalProcessors == 0) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        machine.logicalProcessors = info.dwNumberOfProcessors;
    }

    ULONGLONG kilobytes = 0;
    if (GetPhysicallyInstalledSystemMemory(&kilobytes) && kilobytes > 0) {
        machine.memoryMB = kilobytes / 1024;
    } else {
        MEMORYSTATUSEX status;
        status.dwLength = sizeof status;
        if (GlobalMemoryStatusEx(&status)) machine.memoryMB = status.ullTotalPhys / 1048576;
    }

    machine.system =
        RegistryKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion")
            .Text(L"ProductName");
    RTL_OSVERSIONINFOW version;
    if (KernelVersion(version)) {
        machine.systemVersion =
            CUtils::FormatString("%lu.%lu.%lu", static_cast<unsigned long>(version.dwMajorVersion),
                                 static_cast<unsigned long>(version.dwMinorVersion),
                                 static_cast<unsigned long>(version.dwBuildNumber));
        // Windows 11 kept the product name of Windows 10; its builds start at 22000.
        const std::string ten = "Windows 10";
        if (version.dwBuildNumber >= 22000 && machine.system.compare(0, ten.size(), ten) == 0) {
            machine.system.replace(0, ten.size(), "Windows 11");
        }
    }
    if (machine.system.empty()) machine.system = "Windows";
    return machine;
}

}  // namespace sys
