#include "avs/image_facts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sys/file_info.h"

namespace {

using namespace std::string_literals;

// ---- Writing integers in a chosen width and byte order ----

void Put(std::vector<uint8_t>& bytes, size_t offset, uint64_t value, unsigned width,
         bool bigEndian = false) {
    if (bytes.size() < offset + width) bytes.resize(offset + width);
    for (unsigned i = 0; i < width; ++i) {
        const unsigned shift = 8 * (bigEndian ? width - 1 - i : i);
        bytes[offset + i] = static_cast<uint8_t>(value >> shift);
    }
}

void Align(std::vector<uint8_t>& bytes, size_t alignment) {
    while (bytes.size() % alignment != 0)
        bytes.push_back(0);
}

// ---- A small ELF shared library: header, .dynsym, .dynstr, .comment, .shstrtab ----

struct ElfSymbol {
    std::string name;
    uint8_t binding;  // 0 local, 1 global, 2 weak
    uint16_t section;
};

constexpr uint8_t kLocal = 0, kGlobal = 1, kWeak = 2;

class ElfBuilder {
  public:
    bool wide = true;
    bool bigEndian = false;
    uint16_t machine = 62;
    uint16_t type = 3;
    bool withComment = true;
    std::string comment = "GCC: (Debian 12.2.0-14+deb12u1) 12.2.0\0"s;
    std::vector<ElfSymbol> symbols = {
        {"avs_create_script_environment", kGlobal, 1},
        {"AVS_linkage", kGlobal, 1},
        {"imported_function", kGlobal, 0},  // undefined: an import, not an export
        {"local_helper", kLocal, 1},
        {"weak_export", kWeak, 1},
    };
    std::vector<std::string> ExpectedExports() const {
        std::vector<std::string> names;
        for (const ElfSymbol& s : symbols) {
            if (s.section != 0 && s.binding != kLocal) names.push_back(s.name);
        }
        return names;
    }

    // Section indexes of the built image.
    static constexpr unsigned kDynsym = 1, kDynstr = 2;
    unsigned Shstrtab() const { return withComment ? 4 : 3; }
    unsigned Count() const { return Shstrtab() + 1; }

    // Header field offsets.
    size_t W() const { return wide ? 8 : 4; }
    size_t ShoffField() const { return wide ? 0x28 : 0x20; }
    size_t ShentsizeField() const { return wide ? 0x3A : 0x2E; }
    size_t ShnumField() const { return wide ? 0x3C : 0x30; }
    size_t ShstrndxField() const { return wide ? 0x3E : 0x32; }
    // Section header field offsets, relative to the entry.
    size_t NameField() const { return 0; }
    size_t OffsetField() const { return 8 + 2 * W(); }
    size_t SizeField() const { return 8 + 3 * W(); }
    size_t LinkField() const { return 8 + 4 * W(); }
    size_t EntsizeField() const { return 16 + 5 * W(); }
    size_t SectionHeader(unsigned index) const { return shoff + index * (wide ? 64 : 40); }
    size_t SymbolSize() const { return wide ? 24 : 16; }

    void Set(std::vector<uint8_t>& bytes, size_t offset, uint64_t value, unsigned width) const {
        Put(bytes, offset, value, width, bigEndian);
    }
    void SetWord(std::vector<uint8_t>& bytes, size_t offset, uint64_t value) const {
        Set(bytes, offset, value, static_cast<unsigned>(W()));
    }

    size_t shoff = 0;
    size_t dynstrOffset = 0, dynstrSize = 0, dynsymOffset = 0;

    std::vector<uint8_t> Build() {
        std::vector<uint8_t> b(wide ? 64 : 52, 0);
        b[0] = 0x7F, b[1] = 'E', b[2] = 'L', b[3] = 'F';
        b[4] = wide ? 2 : 1;
        b[5] = bigEndian ? 2 : 1;
        b[6] = 1;
        Set(b, 16, type, 2);
        Set(b, 18, machine, 2);
        Set(b, 20, 1, 4);
        Set(b, wide ? 52 : 40, b.size(), 2);  // e_ehsize

        // .dynstr
        dynstrOffset = b.size();
        b.push_back(0);
        std::vector<size_t> nameOffsets;
        for (const ElfSymbol& s : symbols) {
            nameOffsets.push_back(b.size() - dynstrOffset);
            b.insert(b.end(), s.name.begin(), s.name.end());
            b.push_back(0);
        }
        dynstrSize = b.size() - dynstrOffset;

        // .dynsym, with the null symbol first
        Align(b, 8);
        dynsymOffset = b.size();
        b.resize(b.size() + SymbolSize(), 0);
        for (size_t i = 0; i < symbols.size(); ++i) {
            const size_t at = b.size();
            b.resize(at + SymbolSize(), 0);
            Set(b, at, nameOffsets[i], 4);
            const uint8_t info = static_cast<uint8_t>(symbols[i].binding << 4 | 1);
            b[at + (wide ? 4 : 12)] = info;
            Set(b, at + (wide ? 6 : 14), symbols[i].section, 2);
        }
        const size_t dynsymSize = b.size() - dynsymOffset;

        const size_t commentOffset = b.size();
        if (withComment) b.insert(b.end(), comment.begin(), comment.end());

        const std::string names = "\0.dynsym\0.dynstr\0.comment\0.shstrtab\0"s;
        const size_t shstrtabOffset = b.size();
        b.insert(b.end(), names.begin(), names.end());

        Align(b, 8);
        shoff = b.size();
        SetWord(b, ShoffField(), shoff);
        Set(b, ShentsizeField(), wide ? 64 : 40, 2);
        Set(b, ShnumField(), Count(), 2);
        Set(b, ShstrndxField(), Shstrtab(), 2);
        b.resize(shoff + Count() * (wide ? 64 : 40), 0);
        auto section = [&](unsigned index, const char* name, uint32_t sectionType, size_t offset,
                           size_t size, uint32_t link, size_t entsize) {
            const size_t at = SectionHeader(index);
            Set(b, at + NameField(), names.find(name), 4);
            Set(b, at + 4, sectionType, 4);
            SetWord(b, at + OffsetField(), offset);
            SetWord(b, at + SizeField(), size);
            Set(b, at + LinkField(), link, 4);
            SetWord(b, at + EntsizeField(), entsize);
        };
        section(kDynsym, ".dynsym", 11, dynsymOffset, dynsymSize, kDynstr, SymbolSize());
        section(kDynstr, ".dynstr", 3, dynstrOffset, dynstrSize, 0, 0);
        if (withComment) section(3, ".comment", 1, commentOffset, comment.size(), 0, 1);
        section(Shstrtab(), ".shstrtab", 3, shstrtabOffset, names.size(), 0, 0);
        return b;
    }
};

// ---- A small PE DLL: DOS header, PE header, one section holding the export directory ----

class PeBuilder {
  public:
    uint16_t machine = 0x014C;
    bool plus = false;  // PE32+
    uint8_t linkerMajor = 6, linkerMinor = 0;
    uint16_t characteristics = 0x2102;  // executable, 32-bit machine, DLL
    bool withExports = true;
    std::vector<std::string> names = {"_avs_create_script_environment@4", "avs_get_frame",
                                      "AVS_linkage", "CreateScriptEnvironment"};

    static constexpr size_t kPeHeader = 0x40, kCoff = 0x44, kOptional = 0x58;
    static constexpr uint32_t kSectionRva = 0x1000;
    static constexpr size_t kRawPointer = 0x200;
    size_t OptionalSize() const { return plus ? 240 : 224; }
    size_t SectionTable() const { return kOptional + OptionalSize(); }
    size_t DirectoryField() const { return kOptional + (plus ? 112 : 96); }
    // File offsets set by Build.
    size_t exportDirectory = 0, nameTable = 0, lastNul = 0;

    std::vector<uint8_t> Build() {
        std::vector<uint8_t> b(kRawPointer, 0);
        b[0] = 'M', b[1] = 'Z';
        Put(b, 0x3C, kPeHeader, 4);
        b[kPeHeader] = 'P', b[kPeHeader + 1] = 'E';
        Put(b, kCoff, machine, 2);
        Put(b, kCoff + 2, 1, 2);
        Put(b, kCoff + 16, OptionalSize(), 2);
        Put(b, kCoff + 18, characteristics, 2);
        Put(b, kOptional, plus ? 0x20B : 0x10B, 2);
        b[kOptional + 2] = linkerMajor;
        b[kOptional + 3] = linkerMinor;
        Put(b, DirectoryField() - 4, 16, 4);  // NumberOfRvaAndSizes

        // Section contents: directory, function table, name pointers, ordinals, strings.
        const size_t n = names.size();
        auto rva = [](size_t offset) {
            return static_cast<uint32_t>(offset - kRawPointer + kSectionRva);
        };
        exportDirectory = kRawPointer;
        const size_t functions = exportDirectory + 40;
        nameTable = functions + 4 * n;
        const size_t ordinals = nameTable + 4 * n;
        size_t strings = ordinals + 2 * n;
        b.resize(strings, 0);
        const std::string dllName = "avisynth.dll";
        Put(b, exportDirectory + 12, rva(strings), 4);
        b.insert(b.end(), dllName.begin(), dllName.end());
        b.push_back(0);
        Put(b, exportDirectory + 16, 1, 4);
        Put(b, exportDirectory + 20, n, 4);
        Put(b, exportDirectory + 24, n, 4);
        Put(b, exportDirectory + 28, rva(functions), 4);
        Put(b, exportDirectory + 32, rva(nameTable), 4);
        Put(b, exportDirectory + 36, rva(ordinals), 4);
        for (size_t i = 0; i < n; ++i) {
            Put(b, functions + 4 * i, 0x2000 + 16 * i, 4);
            Put(b, ordinals + 2 * i, i, 2);
            Put(b, nameTable + 4 * i, rva(b.size()), 4);
            b.insert(b.end(), names[i].begin(), names[i].end());
            lastNul = b.size();
            b.push_back(0);
        }
        const size_t used = b.size() - kRawPointer;
        Align(b, 0x200);

        const size_t s = SectionTable();
        const char sectionName[8] = {'.', 'e', 'd', 'a', 't', 'a', 0, 0};
        for (size_t i = 0; i < 8; ++i)
            b[s + i] = static_cast<uint8_t>(sectionName[i]);
        Put(b, s + 8, used, 4);
        Put(b, s + 12, kSectionRva, 4);
        Put(b, s + 16, b.size() - kRawPointer, 4);
        Put(b, s + 20, kRawPointer, 4);
        if (withExports) {
            Put(b, DirectoryField(), kSectionRva, 4);
            Put(b, DirectoryField() + 4, used, 4);
        }
        return b;
    }
};

ImageFacts MustInspect(const std::vector<uint8_t>& bytes) {
    ImageFacts facts;
    std::string errorText;
    EXPECT_TRUE(InspectImage(bytes, facts, errorText)) << errorText;
    EXPECT_EQ(errorText, "");
    return facts;
}

std::string MustFail(const std::vector<uint8_t>& bytes) {
    ImageFacts facts;
    std::string errorText;
    EXPECT_FALSE(InspectImage(bytes, facts, errorText));
    EXPECT_NE(errorText, "");
    return errorText;
}

bool SameFacts(const ImageFacts& a, const ImageFacts& b) {
    return a.format == b.format && a.is64Bit == b.is64Bit && a.bigEndian == b.bigEndian &&
           a.machine == b.machine && a.exportNames == b.exportNames &&
           a.linkerVersion == b.linkerVersion;
}

// Every prefix, or `samples` of them spread over the file: an orderly failure, or, when
// the cut only lost bytes nobody reads, exactly the facts of the whole file. Each prefix
// is its own exactly-sized buffer, so that AddressSanitizer sees any read past its end.
void CheckPrefixes(const std::vector<uint8_t>& bytes, size_t samples, bool allMustFail) {
    const ImageFacts whole = MustInspect(bytes);
    const size_t step = samples == 0 || bytes.size() <= samples ? 1 : bytes.size() / samples;
    for (size_t length = 0; length < bytes.size(); length += step) {
        const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + length);
        ImageFacts facts;
        std::string errorText;
        const bool ok = InspectImage(prefix, facts, errorText);
        ASSERT_EQ(ok, errorText.empty()) << "cut at " << length << ": " << errorText;
        if (ok) {
            ASSERT_FALSE(allMustFail) << "cut at " << length;
            ASSERT_TRUE(SameFacts(whole, facts)) << "cut at " << length;
        }
    }
}

// Overwrite each byte in turn with values that tend to break offsets and counts.
void CheckCorruptions(const std::vector<uint8_t>& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        for (uint8_t value : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
            std::vector<uint8_t> damaged(bytes);
            damaged[i] = value;
            ImageFacts facts;
            std::string errorText;
            const bool ok = InspectImage(damaged, facts, errorText);
            ASSERT_EQ(ok, errorText.empty()) << "byte " << i << " = " << int(value);
        }
    }
}

// ---------------------------------------------------------------------------------------

TEST(InspectElf, ReadsEveryClassAndByteOrder) {
    for (bool wide : {true, false}) {
        for (bool bigEndian : {false, true}) {
            SCOPED_TRACE(std::string(wide ? "64" : "32") + (bigEndian ? " big" : " little"));
            ElfBuilder elf;
            elf.wide = wide;
            elf.bigEndian = bigEndian;
            elf.machine = wide ? 183 : 40;
            const ImageFacts facts = MustInspect(elf.Build());
            EXPECT_EQ(facts.format, ImageFacts::Format::Elf);
            EXPECT_EQ(facts.is64Bit, wide);
            EXPECT_EQ(facts.bigEndian, bigEndian);
            EXPECT_EQ(facts.machine, elf.machine);
            EXPECT_EQ(facts.exportNames, elf.ExpectedExports());
            EXPECT_EQ(facts.linkerVersion, "GCC 12.2.0");
            EXPECT_TRUE(ExportsLinkage(facts.exportNames));
        }
    }
}

TEST(InspectElf, CommentAndNameTableAreOptional) {
    ElfBuilder elf;
    elf.withComment = false;
    EXPECT_EQ(MustInspect(elf.Build()).linkerVersion, "n/a");

    // An empty .comment says nothing either.
    ElfBuilder empty;
    empty.comment.clear();
    EXPECT_EQ(MustInspect(empty.Build()).linkerVersion, "n/a");

    // A .comment without file contents (SHT_NOBITS): its offset and size mean nothing.
    ElfBuilder nobits;
    std::vector<uint8_t> image = nobits.Build();
    const size_t comment = nobits.SectionHeader(3);
    nobits.Set(image, comment + 4, 8, 4);
    nobits.SetWord(image, comment + nobits.OffsetField(), image.size() + 100);
    EXPECT_EQ(MustInspect(image).linkerVersion, "n/a");

    // No section name table: the symbols are still found by type.
    ElfBuilder unnamed;
    std::vector<uint8_t> bytes = unnamed.Build();
    unnamed.Set(bytes, unnamed.ShstrndxField(), 0, 2);
    const ImageFacts facts = MustInspect(bytes);
    EXPECT_EQ(facts.exportNames, unnamed.ExpectedExports());
    EXPECT_EQ(facts.linkerVersion, "n/a");
}

TEST(InspectElf, ExtendedSectionNumbering) {
    // More than 0xFF00 sections: e_shnum and e_shstrndx move into section header 0.
    ElfBuilder elf;
    std::vector<uint8_t> bytes = elf.Build();
    elf.Set(bytes, elf.ShnumField(), 0, 2);
    elf.Set(bytes, elf.ShstrndxField(), 0xFFFF, 2);
    elf.SetWord(bytes, elf.SectionHeader(0) + elf.SizeField(), elf.Count());
    elf.Set(bytes, elf.SectionHeader(0) + elf.LinkField(), elf.Shstrtab(), 4);
    const ImageFacts facts = MustInspect(bytes);
    EXPECT_EQ(facts.exportNames, elf.ExpectedExports());
    EXPECT_EQ(facts.linkerVersion, "GCC 12.2.0");

    // ... and a count there that the file cannot hold is refused.
    elf.SetWord(bytes, elf.SectionHeader(0) + elf.SizeField(), 0xFFFFFFFFFFFFull);
    MustFail(bytes);
}

TEST(InspectElf, TruncatedAtEveryLength) {
    for (bool wide : {true, false}) {
        ElfBuilder elf;
        elf.wide = wide;
        // The section headers come last, so no prefix is a whole image.
        CheckPrefixes(elf.Build(), 0, true);
    }
}

TEST(InspectElf, AnySingleDamagedByteIsHandled) {
    for (bool wide : {true, false}) {
        for (bool bigEndian : {false, true}) {
            ElfBuilder elf;
            elf.wide = wide;
            elf.bigEndian = bigEndian;
            CheckCorruptions(elf.Build());
        }
    }
}

TEST(InspectElf, BogusOffsetsSizesAndCounts) {
    for (bool wide : {true, false}) {
        SCOPED_TRACE(wide ? "64" : "32");
        ElfBuilder elf;
        elf.wide = wide;
        const std::vector<uint8_t> good = elf.Build();
        const uint64_t huge = wide ? 0xFFFFFFFFFFFFFFF0ull : 0xFFFFFFF0ull;
        auto damaged = [&](size_t offset, uint64_t value, unsigned width) {
            std::vector<uint8_t> bytes(good);
            elf.Set(bytes, offset, value, width);
            return bytes;
        };
        const unsigned word = static_cast<unsigned>(elf.W());
        const size_t dynsym = elf.SectionHeader(ElfBuilder::kDynsym);
        const size_t dynstr = elf.SectionHeader(ElfBuilder::kDynstr);

        EXPECT_NE(MustFail(damaged(elf.ShnumField(), 0xFFFF, 2)).find("section header table"),
                  std::string::npos);
        MustFail(damaged(elf.ShoffField(), good.size(), word));
        MustFail(damaged(elf.ShoffField(), huge, word));
        MustFail(damaged(elf.ShoffField(), 0, word));
        MustFail(damaged(elf.ShentsizeField(), 8, 2));
        MustFail(damaged(elf.ShstrndxField(), elf.Count(), 2));
        MustFail(damaged(elf.ShstrndxField(), ElfBuilder::kDynsym, 2));  // not a string table
        MustFail(damaged(dynsym + elf.OffsetField(), good.size(), word));
        MustFail(damaged(dynsym + elf.OffsetField(), huge, word));
        MustFail(damaged(dynsym + elf.SizeField(), huge, word));
        MustFail(damaged(dynsym + elf.LinkField(), elf.Count(), 4));
        MustFail(damaged(dynsym + elf.LinkField(), 0xFFFFFFFF, 4));
        MustFail(damaged(dynsym + elf.LinkField(), ElfBuilder::kDynsym, 4));
        MustFail(damaged(dynsym + elf.EntsizeField(), 0, word));
        MustFail(damaged(dynsym + elf.EntsizeField(), 4, word));
        MustFail(damaged(dynstr + elf.SizeField(), huge, word));
        MustFail(damaged(dynstr + elf.OffsetField(), huge, word));
        // A section name outside .shstrtab.
        MustFail(damaged(elf.SectionHeader(ElfBuilder::kDynstr) + elf.NameField(), 0xFFFFFF, 4));

        // A symbol name beyond its string table.
        MustFail(damaged(elf.dynsymOffset + elf.SymbolSize(), elf.dynstrSize + 5, 4));

        // An unterminated name: .dynstr ends before the last name's NUL.
        MustFail(damaged(dynstr + elf.SizeField(), elf.dynstrSize - 1, word));
    }
}

TEST(InspectElf, NotASharedLibrary) {
    ElfBuilder executable;
    executable.type = 2;  // ET_EXEC
    EXPECT_NE(MustFail(executable.Build()).find("Not a shared library"), std::string::npos);

    ElfBuilder noSymbols;
    noSymbols.symbols.clear();
    std::vector<uint8_t> bytes = noSymbols.Build();
    noSymbols.Set(bytes, noSymbols.SectionHeader(ElfBuilder::kDynsym) + 4, 1, 4);  // PROGBITS
    MustFail(bytes);

    const std::string text = "# not a library\nVersion()\n";
    MustFail(std::vector<uint8_t>(text.begin(), text.end()));
    MustFail({});
    MustFail({0x7F, 'E', 'L', 'F'});
    ElfBuilder badClass;
    bytes = badClass.Build();
    bytes[4] = 3;
    MustFail(bytes);
}

TEST(InspectElf, HeaderFactsSurviveLaterFaults) {
    // The architecture is known even when the rest is unreadable, so that a caller can
    // report a foreign library as such.
    ElfBuilder elf;
    elf.wide = false;
    elf.machine = 3;
    std::vector<uint8_t> bytes = elf.Build();
    elf.SetWord(bytes, elf.ShoffField(), bytes.size());
    ImageFacts facts;
    std::string errorText;
    ASSERT_FALSE(InspectImage(bytes, facts, errorText));
    EXPECT_EQ(facts.machine, 3u);
    EXPECT_FALSE(facts.is64Bit);
}

// ---- Real libraries of this machine ----

std::vector<uint8_t> ReadReal(const std::string& path) {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(sys::ReadFileBytes(path, bytes, size_t(1) << 30)) << path;
    return bytes;
}

TEST(InspectRealFiles, SystemCLibrary) {
    const std::string path = sys::FindLibraryFile("libc.so.6");
    ASSERT_NE(path, "");
    const std::vector<uint8_t> bytes = ReadReal(sys::RealPath(path));
    const ImageFacts facts = MustInspect(bytes);
    EXPECT_FALSE(IsForeignArchitecture(facts));
    EXPECT_EQ(facts.is64Bit, sizeof(void*) == 8);
    auto has = [&](const std::string& name) {
        for (const std::string& n : facts.exportNames) {
            if (n == name) return true;
        }
        return false;
    };
    EXPECT_TRUE(has("malloc"));
    EXPECT_TRUE(has("printf"));
    EXPECT_FALSE(ExportsLinkage(facts.exportNames));
    EXPECT_NE(facts.linkerVersion, "");
    CheckPrefixes(bytes, 64, false);
}

TEST(InspectRealFiles, ThisTestProgram) {
    const std::vector<uint8_t> bytes = ReadReal("/proc/self/exe");
    ASSERT_GT(bytes.size(), 18u);
    ImageFacts facts;
    std::string errorText;
    const bool ok = InspectImage(bytes, facts, errorText);
    if (bytes[16] == 3) {  // position-independent: an ELF shared object
        ASSERT_TRUE(ok) << errorText;
        // Built here a moment ago: the compiler's record is in .comment.
        EXPECT_TRUE(facts.linkerVersion.rfind("GCC ", 0) == 0 ||
                    facts.linkerVersion.rfind("clang ", 0) == 0)
            << facts.linkerVersion;
    } else {
        EXPECT_FALSE(ok);
        EXPECT_NE(errorText.find("Not a shared library"), std::string::npos);
    }
    EXPECT_FALSE(IsForeignArchitecture(facts));
}

// ---- PE ----

TEST(InspectPe, ThirtyTwoAndSixtyFourBitDlls) {
    struct Case {
        uint16_t machine;
        bool plus;
        bool is64;
    };
    for (const Case& c :
         {Case{0x014C, false, false}, Case{0x8664, true, true}, Case{0x0200, true, true},
          Case{0x8664, false, true}, Case{0xAA64, true, true}}) {
        SCOPED_TRACE(c.machine);
        PeBuilder pe;
        pe.machine = c.machine;
        pe.plus = c.plus;
        pe.linkerMajor = static_cast<uint8_t>(c.plus ? 14 : 6);
        pe.linkerMinor = static_cast<uint8_t>(c.plus ? 29 : 0);
        const ImageFacts facts = MustInspect(pe.Build());
        EXPECT_EQ(facts.format, ImageFacts::Format::Pe);
        EXPECT_EQ(facts.machine, c.machine);
        EXPECT_EQ(facts.is64Bit, c.is64);
        EXPECT_EQ(facts.exportNames, pe.names);
        EXPECT_EQ(facts.linkerVersion,
                  std::to_string(pe.linkerMajor) + "." + std::to_string(pe.linkerMinor));
        EXPECT_TRUE(ExportsLinkage(facts.exportNames));
    }
}

TEST(InspectPe, ExportDirectoryRequired) {
    PeBuilder pe;
    pe.withExports = false;
    MustFail(pe.Build());

    // A 64-bit DLL without one still tells its architecture.
    PeBuilder wide;
    wide.machine = 0x8664;
    wide.plus = true;
    wide.withExports = false;
    ImageFacts facts;
    std::string errorText;
    ASSERT_FALSE(InspectImage(wide.Build(), facts, errorText));
    EXPECT_TRUE(facts.is64Bit);
    EXPECT_EQ(facts.machine, 0x8664u);

    PeBuilder none;
    none.names.clear();
    EXPECT_TRUE(MustInspect(none.Build()).exportNames.empty());

    PeBuilder executable;
    executable.characteristics = 0x0102;
    EXPECT_NE(MustFail(executable.Build()).find("Not a shared library"), std::string::npos);
}

TEST(InspectPe, TruncatedOrDamaged) {
    for (bool plus : {false, true}) {
        PeBuilder pe;
        pe.plus = plus;
        pe.machine = plus ? 0x8664 : 0x014C;
        const std::vector<uint8_t> good = pe.Build();
        // The section's raw data is padded, so late cuts may still hold every name.
        CheckPrefixes(good, 0, false);
        CheckCorruptions(good);

        auto damaged = [&](size_t offset, uint64_t value, unsigned width) {
            std::vector<uint8_t> bytes(good);
            Put(bytes, offset, value, width);
            return bytes;
        };
        MustFail(damaged(0x3C, good.size() - 2, 4));  // e_lfanew past the end
        MustFail(damaged(0x3C, 0xFFFFFFFF, 4));
        MustFail(damaged(PeBuilder::kCoff + 2, 0xFFFF, 2));   // section count
        MustFail(damaged(PeBuilder::kCoff + 16, 0xFFFF, 2));  // optional header size
        MustFail(damaged(PeBuilder::kCoff + 16, 8, 2));
        MustFail(damaged(PeBuilder::kOptional, 0x107, 2));  // magic
        MustFail(damaged(pe.DirectoryField(), 0x9000, 4));  // export RVA in no section
        MustFail(damaged(pe.DirectoryField(), 0xFFFFFFFF, 4));
        MustFail(damaged(pe.exportDirectory + 24, 0x40000000, 4));  // name count
        MustFail(damaged(pe.exportDirectory + 24, 0xFFFFFFFF, 4));
        MustFail(damaged(pe.exportDirectory + 32, 0xFFFFFFF0, 4));  // name table RVA
        MustFail(damaged(pe.nameTable, 0x0FFFFFFF, 4));             // one name's RVA
        MustFail(damaged(pe.SectionTable() + 20, 0xFFFFFF00, 4));   // raw data pointer

        // Section data ends just before the last name's terminator.
        const size_t cut = pe.lastNul - PeBuilder::kRawPointer;
        MustFail(damaged(pe.SectionTable() + 8, cut, 4));
        MustFail(damaged(pe.SectionTable() + 16, cut, 4));
    }
}

// ---- Names and architectures ----

TEST(ExportsLinkage, AnyCaseAnyPosition) {
    EXPECT_TRUE(ExportsLinkage({"AVS_linkage"}));
    EXPECT_TRUE(ExportsLinkage({"foo", "_AVS_LINKAGE"}));
    EXPECT_TRUE(ExportsLinkage({"xAvS_LiNkAgEx"}));
    EXPECT_TRUE(ExportsLinkage({"avs_linkage"}));
    EXPECT_FALSE(ExportsLinkage({}));
    EXPECT_FALSE(ExportsLinkage({""}));
    EXPECT_FALSE(ExportsLinkage({"avs_linkag", "vs_linkage", "avs linkage", "avs_link_age"}));
    // Bytes outside ASCII fold to nothing: no 'İ'-style matches, no crash.
    EXPECT_FALSE(ExportsLinkage({"\xC4\xB0\xFF\x80vs_linkage"}));
}

TEST(ForeignArchitecture, ComparesFormatClassMachineAndByteOrder) {
    const HostArchitecture host = ThisHostArchitecture();
    ElfBuilder native;
    native.wide = host.is64Bit;
    native.bigEndian = host.bigEndian;
    native.machine = static_cast<uint16_t>(host.machine);
    const ImageFacts nativeFacts = MustInspect(native.Build());
#if !defined(_WIN32)
    EXPECT_FALSE(IsForeignArchitecture(nativeFacts));
#endif
    EXPECT_FALSE(IsForeignArchitecture(
        nativeFacts, {ImageFacts::Format::Elf, host.is64Bit, host.bigEndian, host.machine}));

    ImageFacts other = nativeFacts;
    other.is64Bit = !other.is64Bit;
    EXPECT_TRUE(IsForeignArchitecture(other, host));
    other = nativeFacts;
    other.bigEndian = !other.bigEndian;
    EXPECT_TRUE(IsForeignArchitecture(other, host));
    other = nativeFacts;
    other.machine = host.machine + 1;
    EXPECT_EQ(IsForeignArchitecture(other, host), host.machine != 0);

    const HostArchitecture x86{ImageFacts::Format::Pe, false, false, 0x014C};
    const HostArchitecture x64{ImageFacts::Format::Pe, true, false, 0x8664};
    PeBuilder pe32;
    const ImageFacts dll32 = MustInspect(pe32.Build());
    PeBuilder pe64;
    pe64.machine = 0x8664;
    pe64.plus = true;
    const ImageFacts dll64 = MustInspect(pe64.Build());
    EXPECT_FALSE(IsForeignArchitecture(dll32, x86));
    EXPECT_TRUE(IsForeignArchitecture(dll64, x86));
    EXPECT_TRUE(IsForeignArchitecture(dll32, x64));
    EXPECT_FALSE(IsForeignArchitecture(dll64, x64));
    // A machine this build cannot name: the word size still decides.
    EXPECT_TRUE(IsForeignArchitecture(dll64, {ImageFacts::Format::Pe, false, false, 0}));
    EXPECT_FALSE(IsForeignArchitecture(dll32, {ImageFacts::Format::Pe, false, false, 0}));
    // An ELF file is no DLL, and the other way round.
    EXPECT_TRUE(IsForeignArchitecture(nativeFacts, x64));
    EXPECT_TRUE(IsForeignArchitecture(dll64, {ImageFacts::Format::Elf, true, false, 0x8664}));
}

// ---- Texts ----

TEST(FileVersionFromFileName, NumericSuffixOfTheRealName) {
    EXPECT_EQ(FileVersionFromFileName("libavisynth.so.3.7.5"), "3.7.5.0");
    EXPECT_EQ(FileVersionFromFileName("/usr/local/lib/libavisynth.so.3.7.5"), "3.7.5.0");
    EXPECT_EQ(FileVersionFromFileName("libavisynth.so.12"), "12.0.0.0");
    EXPECT_EQ(FileVersionFromFileName("libavisynth.so.1.2.3.4"), "1.2.3.4");
    EXPECT_EQ(FileVersionFromFileName("libavisynth.so.007.1"), "7.1.0.0");
    EXPECT_EQ(FileVersionFromFileName("libavisynth.3.7.5.dylib"), "3.7.5.0");
    for (const char* none :
         {"libavisynth.so", "libavisynth.so.", "libavisynth.so.3..5", "libavisynth.so.3.7.5.",
          "libavisynth.so.1.2.3.4.5", "libavisynth.so.3.x", "libavisynth.so.65536",
          "libavisynth.so.99999999999999999999", "/opt/lib.so.2/libavisynth.so", "", "avisynth",
          "libavisynth.dylib"}) {
        EXPECT_EQ(FileVersionFromFileName(none), "0.0.0.0") << none;
    }
}

TEST(FormatTimeStamp, ZeroPaddedFields) {
    EXPECT_EQ(FormatTimeStamp(2015, 6, 1, 9, 5, 0), "2015-06-01, 09:05:00");
    EXPECT_EQ(FormatTimeStamp(1999, 12, 31, 23, 59, 59), "1999-12-31, 23:59:59");
    EXPECT_EQ(FormatTimeStamp(99999, 1, 1, 0, 0, 0), "99999-01-01, 00:00:00");
}

TEST(CompilerFromComment, CompilerRecords) {
    EXPECT_EQ(CompilerFromComment("GCC: (Debian 12.2.0-14+deb12u1) 12.2.0"), "GCC 12.2.0");
    EXPECT_EQ(CompilerFromComment("GCC: (Debian 12.2.0-14+deb12u1) 12.2.0\0"s), "GCC 12.2.0");
    EXPECT_EQ(CompilerFromComment("GCC: (GNU) 4.8.5 20150623 (Red Hat 4.8.5-44)"), "GCC 4.8.5");
    EXPECT_EQ(CompilerFromComment("GCC: (Ubuntu (nested) 11.4.0-1ubuntu1) 11.4.0"), "GCC 11.4.0");
    EXPECT_EQ(CompilerFromComment("Debian clang version 14.0.6"), "clang 14.0.6");
    EXPECT_EQ(CompilerFromComment("Ubuntu clang version 14.0.0-1ubuntu1.1"), "clang 14.0.0");
    EXPECT_EQ(CompilerFromComment("clang version 17.0.6 (https://github.com/llvm/llvm-project "
                                  "6009708b4367171ccdbf4b5905cb6a803753fe18)"),
              "clang 17.0.6");
    // The first compiler record wins; the linker's own record is skipped.
    EXPECT_EQ(CompilerFromComment("Linker: LLD 14.0.6\0clang version 14.0.6\0GCC: (X) 12.2.0\0"s),
              "clang 14.0.6");
    EXPECT_EQ(CompilerFromComment("\0\0GCC: (A) 10.1.0\0GCC: (B) 12.2.0\0"s), "GCC 10.1.0");
}

TEST(CompilerFromComment, UnknownText) {
    EXPECT_EQ(CompilerFromComment(" \tIntel(R) C++ 2021.1 \r\n\0GCC:"s), "Intel(R) C++ 2021.1");
    EXPECT_EQ(CompilerFromComment("Linker: LLD 17.0.6\0Intel(R) oneAPI 2023.1\0"s),
              "Intel(R) oneAPI 2023.1");
    EXPECT_EQ(CompilerFromComment("Linker: LLD 14.0.6\0"s), "Linker: LLD 14.0.6");
    EXPECT_EQ(CompilerFromComment("GCC: (unbalanced 1.0"), "GCC: (unbalanced 1.0");
    EXPECT_EQ(CompilerFromComment("\0 \0"s), "");
    EXPECT_EQ(CompilerFromComment(""), "");
}

}  // namespace
