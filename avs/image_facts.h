// Facts read from the frame server's library file without loading it: the file format,
// the architecture it was built for, its export names and the tool chain that built it.
// Everything here works on bytes in memory and never trusts an offset or size in the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ImageFacts {
    enum class Format { Elf, Pe };
    Format format = Format::Elf;
    bool is64Bit = false;                  // ELF class 64 / PE32+ (or machine x64/IA-64)
    bool bigEndian = false;                // ELF data encoding; always false for PE
    unsigned machine = 0;                  // e_machine or PE Machine; 0 while the header is unread
    std::vector<std::string> exportNames;  // ELF: defined non-local .dynsym names; PE: export names
    std::string linkerVersion;             // ELF: compiler from .comment ("n/a" when absent);
                                           // PE: "%u.%u" of the optional header's linker version
};

// The architecture that a library must have to be loadable by this build of the tool.
struct HostArchitecture {
    ImageFacts::Format format;
    bool is64Bit;
    bool bigEndian;
    unsigned machine;  // 0 when this build does not know its own machine code
};

// false + errorText for anything that is not a well-formed ELF or PE shared library.
// format, is64Bit, bigEndian and machine are filled as soon as the file header has been
// read, also when a later step fails, so that a caller can still name a foreign
// architecture; machine stays 0 when the header itself could not be read.
bool InspectImage(const std::vector<uint8_t>& bytes, ImageFacts& facts, std::string& errorText);

// Case-insensitive (ASCII, byte by byte) substring "avs_linkage" in any name.
bool ExportsLinkage(const std::vector<std::string>& names);

HostArchitecture ThisHostArchitecture();
// True when the image was built for another architecture than `host`.
bool IsForeignArchitecture(const ImageFacts& facts, const HostArchitecture& host);
// The same against this build of the tool.
bool IsForeignArchitecture(const ImageFacts& facts);

// "libavisynth.so.3.7.5" -> "3.7.5.0"; "libavisynth.so.12" -> "12.0.0.0"; no numeric
// suffix -> "0.0.0.0". A leading directory is ignored. Pass the resolved real file name.
std::string FileVersionFromFileName(const std::string& fileName);

// "%04u-%02u-%02u, %02u:%02u:%02u"
std::string FormatTimeStamp(unsigned y, unsigned mo, unsigned d, unsigned h, unsigned mi,
                            unsigned s);

// Compiler text from the contents of an ELF .comment section: "GCC 12.2.0", "clang 14.0.6";
// of several NUL-separated records the first compiler record; unknown text -> the first
// record trimmed; "" when there is no text at all.
std::string CompilerFromComment(const std::string& commentSection);
