#include "avs/image_facts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "sys/file_info.h"

namespace {

using namespace std::string_literals;
using Bytes = std::vector<uint8_t>;
constexpr ImageFacts::Format kElf = ImageFacts::Format::Elf, kPe = ImageFacts::Format::Pe;

// A change of `width` bytes at `at`; for a damaging one, part of the message it must give.
struct Patch {
    size_t at;
    uint64_t value;
    unsigned width;
    const char* error = "";
};

void Put(Bytes& bytes, size_t at, uint64_t value, unsigned width, bool bigEndian = false) {
    if (bytes.size() < at + width) bytes.resize(at + width);
    for (unsigned i = 0; i < width; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> 8 * (bigEndian ? width - 1 - i : i));
}

Bytes Patched(Bytes bytes, const std::vector<Patch>& patches, bool bigEndian = false) {
    for (const Patch& p : patches)
        Put(bytes, p.at, p.value, p.width, bigEndian);
    return bytes;
}

void Align(Bytes& bytes, size_t alignment) {
    bytes.resize((bytes.size() + alignment - 1) / alignment * alignment, 0);
}

// A small ELF shared library: header, .dynstr, .dynsym, .comment, .shstrtab, section headers.
struct ElfBuilder {
    bool wide = true, bigEndian = false;
    uint16_t machine = 62;
    // Name, binding (0 local, 1 global, 2 weak) and section (0: undefined, an import).
    const std::vector<std::tuple<std::string, int, int>> symbols = {
        {"avs_create_script_environment", 1, 1},
        {"AVS_linkage", 1, 1},
        {"imported_function", 1, 0},
        {"local_helper", 0, 1},
        {"weak_export", 2, 1}};
    const std::vector<std::string> exports = {"avs_create_script_environment", "AVS_linkage",
                                              "weak_export"};
    size_t shoff = 0, dynsymOffset = 0, dynstrSize = 0;  // set by Build

    static constexpr unsigned kDynsym = 1, kDynstr = 2, kComment = 3, kShstrtab = 4;
    enum Field { kName, kType, kOffset, kSize, kLink, kEntsize };
    unsigned W() const { return wide ? 8 : 4; }
    size_t Shoff() const { return wide ? 0x28 : 0x20; }
    size_t Shnum() const { return wide ? 0x3C : 0x30; }  // e_shentsize before, e_shstrndx after
    // A field of a section header, in its width.
    Patch Sh(unsigned index, Field f, uint64_t value, const char* error = "") const {
        static const size_t base[] = {0, 4, 8, 8, 8, 16}, words[] = {0, 0, 2, 3, 4, 5};
        return {shoff + index * (wide ? 64 : 40) + base[f] + words[f] * W(), value,
                f <= kType || f == kLink ? 4 : W(), error};
    }

    Bytes Build() {
        Bytes b(wide ? 64 : 52, 0);
        b[0] = 0x7F, b[1] = 'E', b[2] = 'L', b[3] = 'F';
        b[4] = wide ? 2 : 1, b[5] = bigEndian ? 2 : 1, b[6] = 1;
        std::vector<Patch> header = {{16, 3, 2}, {18, machine, 2}, {20, 1, 4}};  // ET_DYN
        const size_t dynstr = b.size();
        b.push_back(0);
        std::vector<size_t> nameAt;
        for (const auto& symbol : symbols) {
            nameAt.push_back(b.size() - dynstr);
            const std::string& name = std::get<0>(symbol);
            b.insert(b.end(), name.c_str(), name.c_str() + name.size() + 1);
        }
        dynstrSize = b.size() - dynstr;
        Align(b, 8);
        dynsymOffset = b.size();
        const size_t entry = wide ? 24 : 16;
        b.resize(b.size() + entry * (symbols.size() + 1), 0);  // the null symbol first
        for (size_t i = 0; i < symbols.size(); ++i) {
            const size_t at = dynsymOffset + entry * (i + 1);
            header.push_back({at, nameAt[i], 4});
            b[at + (wide ? 4 : 12)] = static_cast<uint8_t>(std::get<1>(symbols[i]) << 4 | 1);
            header.push_back({at + (wide ? 6 : 14), uint64_t(std::get<2>(symbols[i])), 2});
        }
        const std::string comment = "GCC: (Debian 12.2.0-14+deb12u1) 12.2.0\0"s;
        const std::string names = "\0.dynsym\0.dynstr\0.comment\0.shstrtab\0"s;
        const size_t commentAt = b.size(), namesAt = commentAt + comment.size();
        b.insert(b.end(), comment.begin(), comment.end());
        b.insert(b.end(), names.begin(), names.end());
        Align(b, 8);
        shoff = b.size();
        b.resize(shoff + (kShstrtab + 1) * (wide ? 64 : 40), 0);
        header.insert(header.end(), {{Shoff(), shoff, W()},
                                     {Shnum() - 2, wide ? 64u : 40u, 2},
                                     {Shnum(), kShstrtab + 1, 2},
                                     {Shnum() + 2, kShstrtab, 2}});
        auto section = [&](unsigned i, const char* name, uint32_t type, size_t offset, size_t size,
                           uint32_t link, size_t entsize) {
            header.insert(header.end(), {Sh(i, kName, names.find(name)), Sh(i, kType, type),
                                         Sh(i, kOffset, offset), Sh(i, kSize, size),
                                         Sh(i, kLink, link), Sh(i, kEntsize, entsize)});
        };
        section(kDynsym, ".dynsym", 11, dynsymOffset, commentAt - dynsymOffset, kDynstr, entry);
        section(kDynstr, ".dynstr", 3, dynstr, dynstrSize, 0, 0);
        section(kComment, ".comment", 1, commentAt, comment.size(), 0, 1);
        section(kShstrtab, ".shstrtab", 3, namesAt, names.size(), 0, 0);
        return Patched(b, header, bigEndian);
    }
};

// A small PE DLL: DOS header, PE header, one section holding the export directory.
struct PeBuilder {
    uint16_t machine = 0x014C;
    bool plus = false;  // PE32+
    const std::vector<std::string> names = {"_avs_create_script_environment@4", "avs_get_frame",
                                            "AVS_linkage", "CreateScriptEnvironment"};
    size_t nameTable = 0, lastNul = 0;  // set by Build

    static constexpr size_t kCoff = 0x44, kOptional = 0x58, kExports = 0x200;
    size_t SectionTable() const { return kOptional + (plus ? 240 : 224); }
    size_t Directory() const { return kOptional + (plus ? 112 : 96); }

    Bytes Build() {
        Bytes b(kExports, 0);
        b[0] = 'M', b[1] = 'Z', b[0x3C] = 0x40, b[0x40] = 'P', b[0x41] = 'E';
        b[kOptional + 2] = 14, b[kOptional + 3] = 29;  // linker version
        // Machine, one section, optional header size, a DLL; magic; NumberOfRvaAndSizes.
        std::vector<Patch> fields = {{kCoff, machine, 2},
                                     {kCoff + 2, 1, 2},
                                     {kCoff + 16, plus ? 240u : 224u, 2},
                                     {kCoff + 18, 0x2102, 2},
                                     {kOptional, plus ? 0x20Bu : 0x10Bu, 2},
                                     {Directory() - 4, 16, 4}};
        // The export directory, function table, name pointers, ordinals, then the strings.
        auto rva = [](size_t offset) { return offset - kExports + 0x1000; };
        const size_t n = names.size(), functions = kExports + 40;
        nameTable = functions + 4 * n;
        const size_t ordinals = nameTable + 4 * n, strings = ordinals + 2 * n;
        const size_t directory[] = {
            0, 0, 0, rva(strings), 1, n, n, rva(functions), rva(nameTable), rva(ordinals)};
        for (size_t i = 0; i < 10; ++i)
            fields.push_back({kExports + 4 * i, directory[i], 4});
        b.resize(strings, 0);
        for (char c : "avisynth.dll"s + '\0')
            b.push_back(static_cast<uint8_t>(c));
        for (size_t i = 0; i < n; ++i) {
            fields.insert(fields.end(), {{functions + 4 * i, 0x2000 + 16 * i, 4},
                                         {ordinals + 2 * i, i, 2},
                                         {nameTable + 4 * i, rva(b.size()), 4}});
            b.insert(b.end(), names[i].c_str(), names[i].c_str() + names[i].size() + 1);
            lastNul = b.size() - 1;
        }
        const size_t used = b.size() - kExports, s = SectionTable();
        Align(b, 0x200);
        // The section ".edata": sizes and places in memory and in the file; the directory.
        const size_t section[] = {used, 0x1000, b.size() - kExports, kExports};
        for (size_t i = 0; i < 6; ++i)
            b[s + i] = static_cast<uint8_t>(".edata"[i]);
        for (size_t i = 0; i < 4; ++i)
            fields.push_back({s + 8 + 4 * i, section[i], 4});
        fields.insert(fields.end(), {{Directory(), 0x1000, 4}, {Directory() + 4, used, 4}});
        return Patched(b, fields);
    }
};

std::string Describe(const ImageFacts& f) {
    std::string text = f.format == kElf ? "ELF" : "PE";
    text += (f.is64Bit ? " 64" : " 32") + std::string(f.bigEndian ? " BE " : " LE ");
    text += std::to_string(f.machine) + " [" + f.linkerVersion + "]";
    for (const std::string& name : f.exportNames)
        text += " " + name;
    return text;
}

constexpr const char* kInconsistent = "an answer with an error, or a refusal without one";

// The facts and, after " ! ", the reason for a refusal.
std::string Inspect(const Bytes& bytes) {
    ImageFacts facts;
    std::string error;
    const bool ok = InspectImage(bytes, facts, error);
    if (ok != error.empty()) return kInconsistent;
    return Describe(facts) + (ok ? "" : " ! " + error);
}

// Each patch on its own copy of the image must be refused with a message that names it.
void ExpectRefused(const Bytes& good, bool bigEndian, const std::vector<Patch>& damages) {
    for (const Patch& d : damages) {
        const std::string text = Inspect(Patched(good, {d}, bigEndian));
        EXPECT_NE(text.find(" ! "), std::string::npos) << d.error;
        EXPECT_NE(text.find(d.error), std::string::npos) << d.error << " / " << text;
    }
}

// Every prefix (or `samples` of them) and, with `damage`, every byte overwritten in turn with
// values that break offsets and counts: an orderly answer each time, and a prefix that passes
// must give the whole file's facts. Each input is its own exactly-sized buffer, so that
// AddressSanitizer sees any read past its end.
void CheckTruncationAndDamage(const Bytes& bytes, bool everyPrefixFails, size_t samples = 0,
                              bool damage = true) {
    const std::string whole = Inspect(bytes);
    ASSERT_EQ(whole.find(" ! "), std::string::npos) << whole;
    const size_t step = samples == 0 || bytes.size() <= samples ? 1 : bytes.size() / samples;
    for (size_t length = 0; length < bytes.size(); length += step) {
        const std::string text = Inspect(Bytes(bytes.begin(), bytes.begin() + length));
        ASSERT_TRUE(text.find(" ! ") != std::string::npos || (!everyPrefixFails && text == whole))
            << "cut at " << length << ": " << text;
    }
    for (size_t i = 0; damage && i < bytes.size(); ++i) {
        for (uint8_t value : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
            Bytes damaged(bytes);
            damaged[i] = value;
            ASSERT_NE(Inspect(damaged), kInconsistent) << "byte " << i << " = " << int(value);
        }
    }
}

// The patches check what lies inside the file yet does not fit.
TEST(InspectElf, EveryClassAndByteOrderWholeTruncatedDamagedAndInconsistent) {
    using E = ElfBuilder;
    for (bool wide : {true, false}) {
        for (bool bigEndian : {false, true}) {
            ElfBuilder elf;
            elf.wide = wide, elf.bigEndian = bigEndian, elf.machine = wide ? 183 : 40;
            const Bytes bytes = elf.Build();
            EXPECT_EQ(Inspect(bytes),
                      Describe({kElf, wide, bigEndian, elf.machine, elf.exports, "GCC 12.2.0"}));
            // The section headers come last, so no prefix is a whole image.
            CheckTruncationAndDamage(bytes, true);
            ExpectRefused(bytes, bigEndian,
                          {{elf.Shoff(), 0, elf.W(), "no section headers"},
                           {elf.Shnum() - 2, 8, 2, "section header size 8"},
                           {elf.Shnum() + 2, E::kDynsym, 2, "name table is not a string table"},
                           elf.Sh(E::kDynsym, E::kType, 1, "no dynamic symbol table"),
                           elf.Sh(E::kDynsym, E::kLink, E::kDynsym, "not a string table"),
                           elf.Sh(E::kDynsym, E::kEntsize, 4, "entry size 4"),
                           elf.Sh(E::kDynstr, E::kSize, elf.dynstrSize - 1, "unterminated"),
                           {elf.dynsymOffset + (wide ? 24 : 16), elf.dynstrSize + 5, 4,
                            "symbol name outside"}});
        }
    }
}

TEST(InspectElf, OptionalPartsAndExtendedNumbering) {
    using E = ElfBuilder;
    ElfBuilder elf;
    const Bytes good = elf.Build();
    const std::vector<Patch> extended = {{elf.Shnum(), 0, 2},
                                         {elf.Shnum() + 2, 0xFFFF, 2},
                                         elf.Sh(0, E::kSize, E::kShstrtab + 1),
                                         elf.Sh(0, E::kLink, E::kShstrtab)};
    const std::pair<std::vector<Patch>, const char*> cases[] = {
        {{elf.Sh(E::kComment, E::kName, 0)}, "n/a"},  // no section is named .comment
        // SHT_NOBITS: no contents, whatever the offset says.
        {{elf.Sh(E::kComment, E::kType, 8), elf.Sh(E::kComment, E::kOffset, 1u << 20)}, "n/a"},
        {{{elf.Shnum() + 2, 0, 2}}, "n/a"},  // no name table: the symbols are found by type
        // e_shnum 0 and e_shstrndx 0xFFFF: both values are in section header 0.
        {extended, "GCC 12.2.0"}};
    for (const auto& [patches, compiler] : cases)
        EXPECT_EQ(Inspect(Patched(good, patches)),
                  Describe({kElf, true, false, 62, elf.exports, compiler}));
    ExpectRefused(Patched(good, extended), false,
                  {elf.Sh(0, E::kSize, 0xFFFFFFFFFFFF, "section header table")});
}

TEST(InspectPe, ThirtyTwoAndSixtyFourBitDllsWholeTruncatedDamagedAndInconsistent) {
    // Machine, PE32+, 64-bit.
    const std::tuple<uint16_t, bool, bool> cases[] = {
        {0x014C, false, false}, {0x8664, false, true}, {0x0200, false, true}, {0xAA64, true, true}};
    for (const auto& [machine, plus, is64] : cases) {
        PeBuilder pe;
        pe.machine = machine, pe.plus = plus;
        const Bytes bytes = pe.Build();
        EXPECT_EQ(Inspect(bytes), Describe({kPe, is64, false, machine, pe.names, "14.29"}));
        // The section's raw data is padded, so late cuts may still hold every name.
        CheckTruncationAndDamage(bytes, false);
        const size_t s = pe.SectionTable(), cut = pe.lastNul - PeBuilder::kExports;
        ExpectRefused(bytes, false,
                      {{PeBuilder::kCoff + 16, 8, 2, "no export directory"},
                       {PeBuilder::kOptional, 0x107, 2, "magic"},
                       {pe.Directory(), 0x9000, 4, "export directory lies outside"},
                       // The section's data ends before the last name's NUL.
                       {s + 8, cut, 4, "export name 3"},
                       {s + 16, cut, 4, "export name 3"}});
    }
    EXPECT_EQ(Inspect(Patched(PeBuilder().Build(), {{PeBuilder::kExports + 24, 0, 4}})),
              "PE 32 LE 332 [14.29]");  // no names
}

// The header's facts are kept when a later step fails, to name a foreign library.
TEST(InspectImage, RefusalsNameTheReasonAndKeepTheHeadersFacts) {
    ElfBuilder elf;
    elf.wide = false, elf.machine = 3;
    PeBuilder pe;
    pe.machine = 0x8664, pe.plus = true;
    const Bytes elf32 = elf.Build(), pe64 = pe.Build();
    const std::string text = "# not a library\nVersion()\n";
    const std::pair<Bytes, std::string> cases[] = {
        {Patched(elf32, {{16, 2, 2}}), "ELF 32 LE 3 [] ! Not a shared library (ELF file type 2)"},
        {Patched(elf32, {{elf.Shoff(), elf32.size(), 4}}),
         "ELF 32 LE 3 [] ! Malformed ELF file: the section header table lies outside the file"},
        {Patched(elf32, {{4, 3, 1}}), "ELF 32 LE 0 [] ! Malformed ELF file: unknown class 3"},
        {Patched(pe64, {{PeBuilder::kCoff + 18, 0x0102, 2}}),
         "PE 64 LE 34404 [] ! Not a shared library (the PE file is not a DLL)"},
        {Patched(pe64, {{pe.Directory(), 0, 4}}),
         "PE 64 LE 34404 [14.29] ! The DLL has no export directory"},
        {Bytes(text.begin(), text.end()),
         "ELF 32 LE 0 [] ! Not a shared library (neither an ELF nor a PE file)"}};
    for (const auto& [bytes, expected] : cases)
        EXPECT_EQ(Inspect(bytes), expected);
}

// The stand-in's own facts are the end-to-end installation report's.
TEST(InspectImage, TheCLibraryOfThisMachine) {
    const std::string libc = sys::RealPath(sys::FindLibraryFile("libc.so.6"));
    Bytes bytes;
    ASSERT_TRUE(sys::ReadFileBytes(libc, bytes, size_t(1) << 30)) << libc;
    ImageFacts facts;
    std::string error;
    ASSERT_TRUE(InspectImage(bytes, facts, error)) << error;
    EXPECT_FALSE(IsForeignArchitecture(facts));
    EXPECT_EQ(facts.is64Bit, sizeof(void*) == 8);
    const auto& names = facts.exportNames;
    EXPECT_EQ(std::count(names.begin(), names.end(), "malloc"), 1);
    EXPECT_FALSE(ExportsLinkage(names));
    CheckTruncationAndDamage(bytes, false, 64, false);
}

TEST(ExportsLinkage, AnyCaseAnyPositionAsciiOnly) {
    EXPECT_TRUE(ExportsLinkage({"AVS_linkage"}) && ExportsLinkage({"foo", "_AVS_LINKAGE"}));
    EXPECT_TRUE(ExportsLinkage({"xAvS_LiNkAgEx"}));
    EXPECT_FALSE(ExportsLinkage({}));
    EXPECT_FALSE(ExportsLinkage({"", "avs_linkag", "vs_linkage", "avs linkage", "avs_link_age"}));
    EXPECT_FALSE(ExportsLinkage({"\xC4\xB0\xFF\x80vs_linkage"}));
}

TEST(ForeignArchitecture, FormatWordSizeByteOrderAndMachineMustMatch) {
    const HostArchitecture h = ThisHostArchitecture();
    const HostArchitecture x64{kPe, true, false, 0x8664}, unknown32{kPe, false, false, 0};
    const ImageFacts dll32{kPe, false, false, 0x014C, {}, ""},
        dll64{kPe, true, false, 0x8664, {}, ""};
    const ImageFacts elf{kElf, h.is64Bit, h.bigEndian, h.machine, {}, ""};
    const std::tuple<ImageFacts, HostArchitecture, bool> cases[] = {
        {elf, h, false},
        {{kElf, !h.is64Bit, h.bigEndian, h.machine, {}, ""}, h, true},
        {{kElf, h.is64Bit, !h.bigEndian, h.machine, {}, ""}, h, true},
        {{kElf, h.is64Bit, h.bigEndian, h.machine + 1, {}, ""}, h, h.machine != 0},
        {dll64, x64, false},
        {dll32, x64, true},
        {dll64, unknown32, true},  // a machine this build cannot name: the word size decides
        {elf, x64, true},
        {dll64, {kElf, true, false, 0x8664}, true}};
    for (const auto& [facts, host, foreign] : cases)
        EXPECT_EQ(IsForeignArchitecture(facts, host), foreign) << Describe(facts) << host.machine;
    EXPECT_FALSE(IsForeignArchitecture(elf));
}

TEST(FileVersionFromFileName, NumericSuffixOfTheRealName) {
    const std::pair<const char*, const char*> cases[] = {
        {"libavisynth.so.3.7.5", "3.7.5.0"}, {"/usr/lib/libavisynth.so.3.7.5", "3.7.5.0"},
        {"libavisynth.so.12", "12.0.0.0"},   {"libavisynth.so.1.2.3.4", "1.2.3.4"},
        {"libavisynth.so.007.1", "7.1.0.0"}, {"libavisynth.3.7.5.dylib", "3.7.5.0"}};
    for (const auto& [name, version] : cases)
        EXPECT_EQ(FileVersionFromFileName(name), version) << name;
    for (const char* none :
         {"libavisynth.so", "libavisynth.so.", "libavisynth.so.3..5", "libavisynth.so.1.2.3.4.5",
          "libavisynth.so.3.x", "libavisynth.so.65536", "libavisynth.so.99999999999999999999",
          "/lib.so.2/libavisynth.so", ""})
        EXPECT_EQ(FileVersionFromFileName(none), "0.0.0.0") << none;
}

TEST(CompilerFromComment, FirstCompilerRecordElseFirstRecordTrimmed) {
    const std::pair<std::string, const char*> cases[] = {
        {"GCC: (Debian 12.2.0-14+deb12u1) 12.2.0\0"s, "GCC 12.2.0"},
        {"GCC: (Ubuntu (nested) 11.4.0-1ubuntu1) 11.4.0", "GCC 11.4.0"},
        {"clang version 17.0.6 (https://github.com/llvm/llvm-project 6009708)", "clang 17.0.6"},
        {"Linker: LLD 14.0.6\0Ubuntu clang version 14.0.0-1ubuntu1\0GCC: (X) 12.2.0\0"s,
         "clang 14.0.0"},
        {"\0\0GCC: (A) 10.1.0\0GCC: (B) 12.2.0\0"s, "GCC 10.1.0"},
        {"Linker: LLD 17.0.6\0 \tIntel(R) oneAPI 2023.1 \r\n\0"s, "Intel(R) oneAPI 2023.1"},
        {"Linker: LLD 14.0.6\0"s, "Linker: LLD 14.0.6"},
        {"GCC: (unbalanced 1.0", "GCC: (unbalanced 1.0"},
        {"\0 \0"s, ""}};
    for (const auto& [comment, compiler] : cases)
        EXPECT_EQ(CompilerFromComment(comment), compiler) << comment;
}

}  // namespace
