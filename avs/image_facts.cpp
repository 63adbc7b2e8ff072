#include "avs/image_facts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Bounds-checked reads of little- or big-endian integers. Offsets arrive as 64-bit values
// straight from the file, so every check is written so that it cannot overflow.
class ByteReader {
  public:
    explicit ByteReader(const std::vector<uint8_t>& bytes)
        : data_(bytes.data()), size_(bytes.size()) {}

    void SetBigEndian(bool bigEndian) { bigEndian_ = bigEndian; }
    uint64_t Size() const { return size_; }
    const uint8_t* Data() const { return data_; }

    bool Has(uint64_t offset, uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }

    bool U8(uint64_t offset, uint8_t& value) const {
        if (!Has(offset, 1)) return false;
        value = data_[offset];
        return true;
    }
    bool U16(uint64_t offset, uint16_t& value) const {
        uint64_t v = 0;
        if (!Unsigned(offset, 2, v)) return false;
        value = static_cast<uint16_t>(v);
        return true;
    }
    bool U32(uint64_t offset, uint32_t& value) const {
        uint64_t v = 0;
        if (!Unsigned(offset, 4, v)) return false;
        value = static_cast<uint32_t>(v);
        return true;
    }
    // A field that is 4 bytes wide in 32-bit images and 8 bytes wide in 64-bit ones.
    bool Word(uint64_t offset, bool wide, uint64_t& value) const {
        return Unsigned(offset, wide ? 8 : 4, value);
    }

    // A NUL-terminated string that must end before `limit` bytes from `offset`.
    bool String(uint64_t offset, uint64_t limit, std::string& text) const {
        if (!Has(offset, 0)) return false;
        const uint64_t available = std::min<uint64_t>(limit, size_ - offset);
        if (available == 0) return false;
        const void* end = std::memchr(data_ + offset, 0, static_cast<size_t>(available));
        if (end == nullptr) return false;
        text.assign(reinterpret_cast<const char*>(data_ + offset),
                    static_cast<const uint8_t*>(end) - (data_ + offset));
        return true;
    }

  private:
    bool Unsigned(uint64_t offset, unsigned width, uint64_t& value) const {
        if (!Has(offset, width)) return false;
        value = 0;
        for (unsigned i = 0; i < width; ++i) {
            const unsigned index = bigEndian_ ? i : width - 1 - i;
            value = (value << 8) | data_[offset + index];
        }
        return true;
    }

    const uint8_t* data_;
    uint64_t size_;
    bool bigEndian_ = false;
};

bool Fail(std::string& errorText, const std::string& text) {
    errorText = text;
    return false;
}

// ---------------------------------------------------------------------------------------
// ELF

constexpr uint16_t kElfTypeShared = 3;   // ET_DYN
constexpr uint32_t kSectionStrtab = 3;   // SHT_STRTAB
constexpr uint32_t kSectionNobits = 8;   // SHT_NOBITS
constexpr uint32_t kSectionDynsym = 11;  // SHT_DYNSYM
constexpr uint16_t kSectionUndef = 0;    // SHN_UNDEF
constexpr uint16_t kSectionXindex = 0xFFFF;

struct ElfSection {
    uint32_t name = 0;
    uint32_t type = 0;
    uint64_t offset = 0;
    uint64_t size = 0;
    uint32_t link = 0;
    uint64_t entrySize = 0;
};

class ElfReader {
  public:
    ElfReader(const ByteReader& file, bool wide) : file_(file), wide_(wide) {}

    bool Run(ImageFacts& facts, std::string& errorText);

  private:
    bool Error(std::string& errorText, const std::string& detail) const {
        return Fail(errorText, "Malformed ELF file: " + detail);
    }
    bool ReadSectionHeader(uint64_t index, ElfSection& section) const;
    bool CheckedSection(uint64_t index, ElfSection& section, std::string& errorText) const;
    bool SectionString(const ElfSection& table, uint32_t offset, std::string& text,
                       std::string& errorText, const char* what) const;
    bool ReadSymbols(const ElfSection& symbols, ImageFacts& facts, std::string& errorText) const;

    const ByteReader& file_;
    bool wide_;
    uint64_t tableOffset_ = 0;
    uint64_t entrySize_ = 0;
    uint64_t count_ = 0;
};

bool ElfReader::ReadSectionHeader(uint64_t index, ElfSection& section) const {
    // index < count_ and the table lies inside the file, so this cannot overflow
    const uint64_t at = tableOffset_ + index * entrySize_;
    const uint64_t w = wide_ ? 8 : 4;
    return file_.U32(at, section.name) && file_.U32(at + 4, section.type) &&
           file_.Word(at + 8 + 2 * w, wide_, section.offset) &&
           file_.Word(at + 8 + 3 * w, wide_, section.size) &&
           file_.U32(at + 8 + 4 * w, section.link) &&
           file_.Word(at + 16 + 5 * w, wide_, section.entrySize);
}

// A section whose contents lie inside the file.
bool ElfReader::CheckedSection(uint64_t index, ElfSection& section, std::string& errorText) const {
    if (index >= count_ || !ReadSectionHeader(index, section)) {
        return Error(errorText, "section index " + std::to_string(index) + " out of range");
    }
    if (section.type == kSectionNobits) {
        section.size = 0;
    } else if (!file_.Has(section.offset, section.size)) {
        return Error(errorText, "section " + std::to_string(index) + " lies outside the file");
    }
    return true;
}

bool ElfReader::SectionString(const ElfSection& table, uint32_t offset, std::string& text,
                              std::string& errorText, const char* what) const {
    if (offset >= table.size) {
        return Error(errorText, std::string(what) + " outside its string table");
    }
    if (!file_.String(table.offset + offset, table.size - offset, text)) {
        return Error(errorText, std::string("unterminated ") + what);
    }
    return true;
}

bool ElfReader::ReadSymbols(const ElfSection& symbols, ImageFacts& facts,
                            std::string& errorText) const {
    const uint64_t minimumEntry = wide_ ? 24 : 16;  // sizeof Elf64_Sym / Elf32_Sym
    if (symbols.entrySize < minimumEntry) {
        return Error(errorText, "dynamic symbol entry size " + std::to_string(symbols.entrySize) +
                                    " is too small");
    }
    if (symbols.link == kSectionUndef || symbols.link >= count_) {
        return Error(errorText, "the dynamic symbol table links to no string table");
    }
    ElfSection names;
    if (!CheckedSection(symbols.link, names, errorText)) return false;
    if (names.type != kSectionStrtab) {
        return Error(errorText,
                     "the dynamic symbol table links to a section that is not a "
                     "string table");
    }
    const uint64_t count = symbols.size / symbols.entrySize;
    for (uint64_t i = 1; i < count; ++i) {  // entry 0 is the reserved null symbol
        const uint64_t at = symbols.offset + i * symbols.entrySize;
        uint32_t nameOffset = 0;
        uint8_t info = 0;
        uint16_t sectionIndex = 0;
        const bool read = file_.U32(at, nameOffset) && file_.U8(at + (wide_ ? 4 : 12), info) &&
                          file_.U16(at + (wide_ ? 6 : 14), sectionIndex);
        if (!read) return Error(errorText, "dynamic symbol table lies outside the file");
        const unsigned binding = info >> 4;
        if (sectionIndex == kSectionUndef || binding == 0 /* STB_LOCAL */) continue;
        std::string name;
        if (!SectionString(names, nameOffset, name, errorText, "symbol name")) return false;
        if (!name.empty()) facts.exportNames.push_back(std::move(name));
    }
    return true;
}

bool ElfReader::Run(ImageFacts& facts, std::string& errorText) {
    const uint64_t headerSize = wide_ ? 64 : 52;
    if (!file_.Has(0, headerSize)) return Error(errorText, "the file header is truncated");

    uint16_t type = 0, machine = 0, headerEntrySize = 0, headerCount = 0, namesIndex = 0;
    uint64_t tableOffset = 0;
    const uint64_t t = wide_ ? 0x28 : 0x20;  // e_shoff; the later fields follow at fixed steps
    file_.U16(16, type);
    file_.U16(18, machine);
    file_.Word(t, wide_, tableOffset);
    file_.U16(t + (wide_ ? 18 : 14), headerEntrySize);
    file_.U16(t + (wide_ ? 20 : 16), headerCount);
    file_.U16(t + (wide_ ? 22 : 18), namesIndex);

    facts.machine = machine;
    if (type != kElfTypeShared) {
        return Fail(errorText, "Not a shared library (ELF file type " + std::to_string(type) + ")");
    }
    if (tableOffset == 0) return Error(errorText, "there are no section headers");
    if (headerEntrySize < (wide_ ? 64 : 40)) {
        return Error(errorText,
                     "section header size " + std::to_string(headerEntrySize) + " is too small");
    }
    if (!file_.Has(tableOffset, headerEntrySize)) {
        return Error(errorText, "the section header table lies outside the file");
    }
    tableOffset_ = tableOffset;
    entrySize_ = headerEntrySize;
    count_ = 1;  // enough to read the first entry, which holds the extended counts

    ElfSection first;
    ReadSectionHeader(0, first);
    uint64_t count = headerCount;
    uint64_t namesSection = namesIndex;
    if (count == 0) count = first.size;
    if (namesSection == kSectionXindex) namesSection = first.link;
    if ((file_.Size() - tableOffset) / headerEntrySize < count) {
        return Error(errorText, "the section header table (" + std::to_string(count) +
                                    " entries) lies outside the file");
    }
    count_ = count;

    // Section names are only needed to find .comment; without a name table there is none.
    ElfSection names;
    const bool haveNames = namesSection != kSectionUndef;
    if (haveNames) {
        if (!CheckedSection(namesSection, names, errorText)) return false;
        if (names.type != kSectionStrtab) {
            return Error(errorText, "the section name table is not a string table");
        }
    }

    bool haveSymbols = false;
    bool haveComment = false;
    ElfSection symbols;
    ElfSection comment;
    for (uint64_t i = 1; i < count_; ++i) {
        ElfSection section;
        if (!ReadSectionHeader(i, section)) return Error(errorText, "truncated section header");
        if (section.type == kSectionDynsym && !haveSymbols) {
            if (!CheckedSection(i, symbols, errorText)) return false;
            haveSymbols = true;
        }
        if (haveNames && !haveComment) {
            std::string name;
            if (!SectionString(names, section.name, name, errorText, "section name")) {
                return false;
            }
            if (name == ".comment") {
                if (!CheckedSection(i, comment, errorText)) return false;
                haveComment = true;
            }
        }
    }
    if (!haveSymbols) return Error(errorText, "there is no dynamic symbol table");
    if (!ReadSymbols(symbols, facts, errorText)) return false;

    if (haveComment && comment.size > 0) {
        facts.linkerVersion = CompilerFromComment(
            std::string(reinterpret_cast<const char*>(file_.Data() + comment.offset),
                        static_cast<size_t>(comment.size)));
    }
    if (facts.linkerVersion.empty()) facts.linkerVersion = "n/a";
    return true;
}

bool InspectElf(const std::vector<uint8_t>& bytes, ImageFacts& facts, std::string& errorText) {
    ByteReader file(bytes);
    uint8_t elfClass = 0, encoding = 0, version = 0;
    if (!file.U8(4, elfClass) || !file.U8(5, encoding) || !file.U8(6, version)) {
        return Fail(errorText, "Malformed ELF file: the file header is truncated");
    }
    if (elfClass != 1 && elfClass != 2) {
        return Fail(errorText, "Malformed ELF file: unknown class " + std::to_string(elfClass));
    }
    if (encoding != 1 && encoding != 2) {
        return Fail(errorText,
                    "Malformed ELF file: unknown byte order " + std::to_string(encoding));
    }
    if (version != 1) {
        return Fail(errorText, "Malformed ELF file: unknown version " + std::to_string(version));
    }
    facts.format = ImageFacts::Format::Elf;
    facts.is64Bit = elfClass == 2;
    facts.bigEndian = encoding == 2;
    file.SetBigEndian(facts.bigEndian);
    ElfReader reader(file, facts.is64Bit);
    return reader.Run(facts, errorText);
}

// ---------------------------------------------------------------------------------------
// PE

constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kMachineIa64 = 0x0200;
constexpr uint16_t kCharacteristicDll = 0x2000;
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint64_t kSectionHeaderSize = 40;
constexpr uint64_t kExportDirectorySize = 40;

class PeReader {
  public:
    explicit PeReader(const ByteReader& file) : file_(file) {}
    bool Run(ImageFacts& facts, std::string& errorText);

  private:
    bool Error(std::string& errorText, const std::string& detail) const {
        return Fail(errorText, "Malformed PE file: " + detail);
    }
    // File offset of an RVA and the bytes of its section that follow it in the file.
    bool RvaToOffset(uint32_t rva, uint64_t& offset, uint64_t& available) const;

    const ByteReader& file_;
    uint64_t sectionTable_ = 0;
    uint16_t sectionCount_ = 0;
};

bool PeReader::RvaToOffset(uint32_t rva, uint64_t& offset, uint64_t& available) const {
    for (uint16_t i = 0; i < sectionCount_; ++i) {
        const uint64_t at = sectionTable_ + i * kSectionHeaderSize;
        uint32_t virtualSize = 0, virtualAddress = 0, rawSize = 0, rawPointer = 0;
        if (!file_.U32(at + 8, virtualSize) || !file_.U32(at + 12, virtualAddress) ||
            !file_.U32(at + 16, rawSize) || !file_.U32(at + 20, rawPointer)) {
            return false;
        }
        // Raw data past the virtual size is alignment padding that is never mapped.
        const uint64_t backed = virtualSize != 0 ? std::min(virtualSize, rawSize) : rawSize;
        if (rva < virtualAddress || uint64_t{rva} - virtualAddress >= backed) continue;
        const uint64_t delta = uint64_t{rva} - virtualAddress;
        offset = uint64_t{rawPointer} + delta;
        if (!file_.Has(offset, 0)) return false;
        available = std::min(backed - delta, file_.Size() - offset);
        return true;
    }
    return false;
}

bool PeReader::Run(ImageFacts& facts, std::string& errorText) {
    uint32_t headerOffset = 0;
    if (!file_.U32(0x3C, headerOffset)) return Error(errorText, "the DOS header is truncated");
    const uint64_t coff = uint64_t{headerOffset} + 4;
    uint8_t signature[4] = {};
    for (unsigned i = 0; i < 4; ++i) {
        if (!file_.U8(uint64_t{headerOffset} + i, signature[i])) {
            return Error(errorText, "the PE header lies outside the file");
        }
    }
    if (std::memcmp(signature, "PE\0\0", 4) != 0) {
        return Error(errorText, "the PE signature is missing");
    }
    uint16_t machine = 0, sectionCount = 0, optionalSize = 0, characteristics = 0;
    if (!file_.U16(coff, machine) || !file_.U16(coff + 2, sectionCount) ||
        !file_.U16(coff + 16, optionalSize) || !file_.U16(coff + 18, characteristics)) {
        return Error(errorText, "the file header is truncated");
    }
    facts.format = ImageFacts::Format::Pe;
    facts.machine = machine;
    facts.is64Bit = machine == kMachineAmd64 || machine == kMachineIa64;

    const uint64_t optional = coff + 20;
    uint16_t magic = 0;
    if (optionalSize < 4 || !file_.Has(optional, optionalSize) || !file_.U16(optional, magic)) {
        return Error(errorText, "the optional header is truncated");
    }
    if (magic != kMagicPe32 && magic != kMagicPe32Plus) {
        return Error(errorText, "unknown optional header magic " + std::to_string(magic));
    }
    if (magic == kMagicPe32Plus) facts.is64Bit = true;
    if ((characteristics & kCharacteristicDll) == 0) {
        return Fail(errorText, "Not a shared library (the PE file is not a DLL)");
    }
    uint8_t linkerMajor = 0, linkerMinor = 0;
    file_.U8(optional + 2, linkerMajor);
    file_.U8(optional + 3, linkerMinor);
    facts.linkerVersion = std::to_string(linkerMajor) + "." + std::to_string(linkerMinor);

    sectionTable_ = optional + optionalSize;
    sectionCount_ = sectionCount;
    if (!file_.Has(sectionTable_, sectionCount * kSectionHeaderSize)) {
        return Error(errorText, "the section table lies outside the file");
    }

    const uint64_t countField = magic == kMagicPe32Plus ? 108 : 92;
    const uint64_t directories = countField + 4;
    uint32_t directoryCount = 0, exportRva = 0, exportSize = 0;
    if (optionalSize < directories + 8 || !file_.U32(optional + countField, directoryCount) ||
        directoryCount < 1 || !file_.U32(optional + directories, exportRva) ||
        !file_.U32(optional + directories + 4, exportSize) || exportRva == 0 || exportSize == 0) {
        return Fail(errorText, "The DLL has no export directory");
    }
    uint64_t exportOffset = 0, available = 0;
    if (!RvaToOffset(exportRva, exportOffset, available) || available < kExportDirectorySize) {
        return Error(errorText, "the export directory lies outside the file");
    }
    uint32_t nameCount = 0, nameTable = 0;
    file_.U32(exportOffset + 24, nameCount);
    file_.U32(exportOffset + 32, nameTable);
    if (nameCount == 0) return true;

    uint64_t tableOffset = 0;
    if (!RvaToOffset(nameTable, tableOffset, available) || available / 4 < nameCount) {
        return Error(errorText, "the export name table lies outside the file");
    }
    for (uint32_t i = 0; i < nameCount; ++i) {
        uint32_t nameRva = 0;
        file_.U32(tableOffset + uint64_t{i} * 4, nameRva);
        uint64_t nameOffset = 0, nameAvailable = 0;
        std::string name;
        if (!RvaToOffset(nameRva, nameOffset, nameAvailable) ||
            !file_.String(nameOffset, nameAvailable, name)) {
            return Error(errorText, "export name " + std::to_string(i) +
                                        " lies outside the file or is unterminated");
        }
        facts.exportNames.push_back(std::move(name));
    }
    return true;
}

bool IsDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string TrimBlanks(const std::string& text) {
    const char* blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// The leading run of digits and dots: "14.0.0-1ubuntu1" -> "14.0.0".
std::string VersionPrefix(const std::string& token) {
    size_t n = 0;
    while (n < token.size() && ((token[n] >= '0' && token[n] <= '9') || token[n] == '.'))
        ++n;
    return token.substr(0, n);
}

// "GCC: (pkgversion) 12.2.0 [date] [(extra)]" -> "GCC 12.2.0"
std::string GccVersion(const std::string& record) {
    size_t pos = 4;  // after "GCC:"
    while (pos < record.size() && record[pos] == ' ')
        ++pos;
    if (pos < record.size() && record[pos] == '(') {
        int depth = 0;
        for (; pos < record.size(); ++pos) {
            if (record[pos] == '(') ++depth;
            if (record[pos] == ')' && --depth == 0) break;
        }
        ++pos;
    }
    while (pos < record.size() && record[pos] == ' ')
        ++pos;
    const std::string version = VersionPrefix(record.substr(std::min(pos, record.size())));
    return version.empty() ? "" : "GCC " + version;
}

// "... clang version 14.0.6 (...)" -> "clang 14.0.6"
std::string ClangVersion(const std::string& record) {
    static const std::string marker = "clang version ";
    const size_t pos = record.find(marker);
    if (pos == std::string::npos) return "";
    const std::string version = VersionPrefix(record.substr(pos + marker.size()));
    return version.empty() ? "" : "clang " + version;
}

}  // namespace

bool InspectImage(const std::vector<uint8_t>& bytes, ImageFacts& facts, std::string& errorText) {
    facts = ImageFacts();
    errorText.clear();
    if (bytes.size() >= 4 && std::memcmp(bytes.data(),
                                         "\x7F"
                                         "ELF",
                                         4) == 0) {
        return InspectElf(bytes, facts, errorText);
    }
    if (bytes.size() >= 2 && bytes[0] == 'M' && bytes[1] == 'Z') {
        ByteReader file(bytes);
        PeReader reader(file);
        return reader.Run(facts, errorText);
    }
    return Fail(errorText, "Not a shared library (neither an ELF nor a PE file)");
}

bool ExportsLinkage(const std::vector<std::string>& names) {
    static const std::string wanted = "avs_linkage";
    const auto sameLetter = [](char a, char b) {
        // ASCII folding only: bytes outside A-Z stay as they are
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(a) == lower(b);
    };
    for (const std::string& name : names) {
        if (std::search(name.begin(), name.end(), wanted.begin(), wanted.end(), sameLetter) !=
            name.end()) {
            return true;
        }
    }
    return false;
}

HostArchitecture ThisHostArchitecture() {
    HostArchitecture host{};
#if defined(_WIN32)
    host.format = ImageFacts::Format::Pe;
#else
    host.format = ImageFacts::Format::Elf;
#endif
    host.is64Bit = sizeof(void*) == 8;
#if defined(__BYTE_ORDER__) && defined(__ORDER_BIG_ENDIAN__)
    host.bigEndian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
#endif
#if defined(_WIN32)
#if defined(_M_X64) || defined(__x86_64__)
    host.machine = 0x8664;  // IMAGE_FILE_MACHINE_AMD64
#elif defined(_M_IX86) || defined(__i386__)
    host.machine = 0x014C;  // IMAGE_FILE_MACHINE_I386
#elif defined(_M_ARM64) || defined(__aarch64__)
    host.machine = 0xAA64;  // IMAGE_FILE_MACHINE_ARM64
#endif
#else
#if defined(__x86_64__)
    host.machine = 62;  // EM_X86_64 (also the x32 ABI, which is class 32)
#elif defined(__i386__)
    host.machine = 3;  // EM_386
#elif defined(__aarch64__)
    host.machine = 183;  // EM_AARCH64
#elif defined(__arm__)
    host.machine = 40;  // EM_ARM
#elif defined(__powerpc64__)
    host.machine = 21;  // EM_PPC64
#elif defined(__powerpc__)
    host.machine = 20;  // EM_PPC
#elif defined(__riscv)
    host.machine = 243;  // EM_RISCV
#elif defined(__s390__)
    host.machine = 22;  // EM_S390
#elif defined(__loongarch__)
    host.machine = 258;  // EM_LOONGARCH
#endif
#endif
    return host;
}

bool IsForeignArchitecture(const ImageFacts& facts, const HostArchitecture& host) {
    if (facts.format != host.format) return true;
    if (host.machine != 0 && facts.machine != host.machine) return true;
    if (facts.format == ImageFacts::Format::Elf) {
        return facts.is64Bit != host.is64Bit || facts.bigEndian != host.bigEndian;
    }
    // PE: the machine alone names the architecture; without a known host machine fall
    // back to the word size.
    return host.machine == 0 && facts.is64Bit != host.is64Bit;
}

bool IsForeignArchitecture(const ImageFacts& facts) {
    return IsForeignArchitecture(facts, ThisHostArchitecture());
}

std::string FileVersionFromFileName(const std::string& fileName) {
    static const std::string none = "0.0.0.0";
    std::string name = fileName.substr(fileName.find_last_of('/') + 1);
    std::string suffix;
    const size_t so = name.rfind(".so.");
    static const std::string dylib = ".dylib";
    if (so != std::string::npos) {
        suffix = name.substr(so + 4);
    } else if (name.size() > dylib.size() &&
               name.compare(name.size() - dylib.size(), dylib.size(), dylib) == 0) {
        // macOS puts the version before the extension: libavisynth.3.7.5.dylib
        name.resize(name.size() - dylib.size());
        const size_t dot = name.find('.');
        if (dot == std::string::npos) return none;
        suffix = name.substr(dot + 1);
    } else {
        return none;
    }

    unsigned parts[4] = {0, 0, 0, 0};
    size_t count = 0;
    size_t start = 0;
    while (true) {
        const size_t dot = suffix.find('.', start);
        const std::string part = suffix.substr(start, dot == std::string::npos ? dot : dot - start);
        // Each part is a 16-bit word, as in a Windows version resource.
        if (count == 4 || !IsDigits(part) || part.size() > 5 || std::stoul(part) > 0xFFFF) {
            return none;
        }
        parts[count++] = static_cast<unsigned>(std::stoul(part));
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
    return text;
}

std::string FormatTimeStamp(unsigned y, unsigned mo, unsigned d, unsigned h, unsigned mi,
                            unsigned s) {
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u, %02u:%02u:%02u", y, mo, d, h, mi, s);
    return text;
}

std::string CompilerFromComment(const std::string& commentSection) {
    std::vector<std::string> records;
    size_t start = 0;
    while (start <= commentSection.size()) {
        size_t end = commentSection.find('\0', start);
        if (end == std::string::npos) end = commentSection.size();
        const std::string record = TrimBlanks(commentSection.substr(start, end - start));
        if (!record.empty()) records.push_back(record);
        start = end + 1;
    }
    for (const std::string& record : records) {
        std::string compiler;
        if (record.compare(0, 4, "GCC:") == 0) {
            compiler = GccVersion(record);
        } else {
            compiler = ClangVersion(record);
        }
        if (!compiler.empty()) return compiler;
    }
    // Unknown tool chain: its own words, skipping what the linker adds.
    for (const std::string& record : records) {
        if (record.compare(0, 7, "Linker:") != 0) return record;
    }
    return records.empty() ? "" : records.front();
}
