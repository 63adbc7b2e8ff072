#include "app/version.h"

#include "sys/utils.h"

std::string ProgramVersion() {
    // The build's version as its file version "a.b.c.0" carries it.
    std::string version = CUtils::FormatString("%u.%u.%u.0", TREVALO_VERSION_MAJOR,
                                               TREVALO_VERSION_MINOR, TREVALO_VERSION_PATCH);
    // The INI file's Version line carries exactly five characters.
    if (version.size() > 5) version.resize(5);
    return version;
}

std::string ArchitectureName() {
#if defined(__x86_64__) || defined(_M_X64) || defined(_M_AMD64)
    return "x64";
#elif defined(__i386__) || defined(_M_IX86)
    return "x86";
#elif defined(__aarch64__) || defined(_M_ARM64)
    return "arm64";
#elif defined(__arm__) || defined(_M_ARM)
    return "arm";
#elif defined(__riscv) && __riscv_xlen == 64
    return "riscv64";
#elif defined(__powerpc64__)
    return "ppc64";
#elif defined(__s390x__)
    return "s390x";
#else
    return "unknown";
#endif
}

std::string BannerVersion() {
    return ProgramVersion() + " (" + ArchitectureName() + ")";
}
