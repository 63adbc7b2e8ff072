// Start-up: the installation check, the INI file, the command line, and the manual.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include <sys/stat.h>
#include <unistd.h>

#include "app/config.h"
#include "app/version.h"
#include "e2e/e2e.h"

namespace e2e {
namespace {

using testsupport::ProgramResult;

std::string ReportLine(const std::string& out, const std::string& label) {
    size_t at = out.find(label);
    if (at == std::string::npos) return "";
    size_t end = out.find('\n', at);
    return out.substr(at + label.size(), end - at - label.size());
}

TEST_F(Trevalo, AvsinfoReportsEachInstallationOnStandardOutput) {
    ProgramResult r = Run({"-avsinfo"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReportLine(r.out, "Avisynth Interface Version:  "), "7");
    EXPECT_EQ(ReportLine(r.out, "Muli-threading support:      "), "Yes");
    EXPECT_FALSE(ReportLine(r.out, "Avisynth version string:     ").empty());
    EXPECT_EQ(ReportLine(r.out, "Avisynth DLL location:       "),
              OnWine() ? Shown(LibraryDir() + "/avisynth.dll")
                       : std::filesystem::canonical(MINISYNTH_LIB).string());
    std::string stamp = ReportLine(r.out, "Avisynth DLL time stamp:     ");
    EXPECT_TRUE(std::regex_match(stamp, std::regex(R"(\d{4}-\d\d-\d\d, \d\d:\d\d:\d\d)"))) << stamp;
    EXPECT_EQ(ReportLine(r.out, "File version:                "),
              std::string(TREVALO_VERSION) + ".0")
        << "minisynth is installed as libavisynth.so." << TREVALO_VERSION;
    EXPECT_TRUE(Contains(r.err, "Trevalo " + ProgramVersion())) << "banner on stderr";
    EXPECT_FALSE(Contains(r.out, "Trevalo "));
    EXPECT_FALSE(Contains(r.err, "Avisynth version string"));

    // Each variant of the library in its line; those that cannot serve are exit_codes_test's.
    const struct {
        const char* variant;
        const char* label;
        const char* value;
    } cases[] = {
        {"if5", "Avisynth Interface Version:  ", "5"},
        {"if6", "Avisynth Interface Version:  ", "6"},
        {"mt-classic", "Muli-threading support:      ", "Yes"},
        {"no-versionstring", "Avisynth version string:     ", "Unknown Avisynth Version"},
    };
    for (const auto& c : cases) {
        WriteIni({{"AVSDLL", VariantLibrary(c.variant)}});
        r = Run({"-avsinfo"});
        EXPECT_EQ(r.exitCode, 0) << c.variant << "\n" << r.err;
        EXPECT_EQ(ReportLine(r.out, c.label), c.value) << c.variant << "\n" << r.out;
    }
}

// On Windows: the PE header's linker version, and the registry's plugin directories.
TEST_F(Trevalo, TheWindowsReportReadsTheLinkerVersionAndTheRegistry) {
    if (!OnWine()) GTEST_SKIP() << "the registry is Windows'";
    const std::string key = "HKCU\\Software\\Avisynth";
    auto reg = [&](std::vector<std::string> args) {
        args.insert(args.begin(), "reg");
        return testsupport::RunProgram(WineLoader(), args, Options()).exitCode;
    };
    ASSERT_EQ(reg({"add", key, "/v", "PluginDir+", "/d", " C:\\Plugins ", "/f"}), 0);
    ASSERT_EQ(reg({"add", key, "/v", "PluginDir2_5", "/d", "   ", "/f"}), 0);
    ProgramResult r = Run({"-avsinfo"});
    reg({"delete", key, "/f"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(
        Contains(r.out, "\nPluginDir+    (HKCU, " + ArchitectureName() + "):   C:\\Plugins\n"));
    EXPECT_FALSE(Contains(r.out, "PluginDir2_5")) << "blanks only: no line";
    EXPECT_TRUE(std::regex_search(r.out, std::regex("\nLinker/compiler version: +\\d+\\.\\d+\n")))
        << r.out;
}

// -avsinfo wins over a script (the pause table runs one), but an invalid switch is still
// reported.
TEST_F(Trevalo, AvsinfoWinsOverEverythingButAnInvalidSwitch) {
    const ProgramResult r = Run({"-avsinfo", "-priority=9"});
    EXPECT_EQ(r.exitCode, kErrorStatus);
    EXPECT_TRUE(
        Contains(r.err, "Invalid parameter value: \"-priority=9\"\nValue must be between 1 and 3"));
    EXPECT_FALSE(Contains(r.out, "Avisynth Interface Version:"));
}

TEST_F(Trevalo, LibrariesThatCannotServeAreRefusedInOrder) {
    if (sizeof(void*) != 8) GTEST_SKIP() << "the foreign library below is a 32-bit one";
    // The header bytes the loaders check: a PE32 i386 DLL, or an ELF32 i386 shared object.
    const std::vector<std::pair<int, int>> pe32 = {{0, 'M'},   {1, 'Z'},   {0x3c, 64}, {64, 'P'},
                                                   {65, 'E'},  {68, 0x4c}, {69, 0x01}, {84, 224},
                                                   {86, 0x02}, {87, 0x21}, {88, 0x0b}, {89, 0x01}};
    const std::vector<std::pair<int, int>> elf32 = {
        {0, 0x7f}, {1, 'E'}, {2, 'L'}, {3, 'F'}, {4, 1}, {5, 1}, {6, 1}, {16, 3}, {18, 3}, {20, 1}};
    std::string header(OnWine() ? 64 + 24 + 224 : 52, '\0');
    for (const auto& [at, byte] : OnWine() ? pe32 : elf32)
        header[static_cast<size_t>(at)] = static_cast<char>(byte);
    std::filesystem::create_directories(dir.File("x86"));
    dir.Write("x86/libavisynth.so", header);

    WriteIni({{"AVSDLL", dir.File("x86/libavisynth.so")}});
    ProgramResult r = Run({"-avsinfo"});
    EXPECT_EQ(r.exitCode, kErrorStatus);
    EXPECT_TRUE(Contains(
        r.err, "\nTrevalo (" + ArchitectureName() + ") cannot load a 32 Bit " + LibraryFileName()));

    WriteIni({{"AVSDLL", dir.File("missing/libavisynth.so")}});
    r = Run({});
    EXPECT_EQ(r.exitCode, kErrorStatus);
    EXPECT_FALSE(Contains(r.out, "Usage:")) << "the broken installation stops first";
}

// Help and the version work before anything can fail: no library on the loader's path, an INI
// file that cannot be made, and no lock taken; they end with 0 on standard output.
TEST_F(Trevalo, HelpAndVersionNeedNeitherAviSynthNorTheIniFile) {
    testsupport::ProgramOptions options = Options();
    options.setEnv["LD_LIBRARY_PATH"] = runtimeDir;
    options.setEnv["WINEPATH"] = Shown(runtimeDir);
    std::filesystem::create_directory(dir.File("Trevalo.ini"));
    const std::string version = "Trevalo " + ProgramVersion() + " (" + ArchitectureName() + ")\n";
    const struct {
        std::vector<std::string> args;
        bool help;
    } cases[] = {{{"-h"}, true},
                 {{"-help"}, true},
                 {{"--help"}, true},
                 {{"-?"}, true},
                 {{"/?"}, true},
                 {{"missing.avs", " -H "}, true},
                 {{"-version"}, false},
                 {{"--Version", "-log"}, false},
                 {{"-version", "-?"}, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testsupport::Joined(c.args));
        const ProgramResult r = testsupport::RunProgram(exe, c.args, options);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(Lines(r.err), "");
        if (c.help) {
            EXPECT_TRUE(Contains(Lines(r.out), "\nUsage:  Trevalo script.avs [switches]\n"));
        } else {
            EXPECT_EQ(Lines(r.out), version);
        }
    }
    EXPECT_FALSE(dir.Exists("run/__trevalo__single__instance__lock__"));
    // Without arguments the usage text still comes after the installation check, and fails.
    const ProgramResult none = testsupport::RunProgram(exe, {}, options);
    EXPECT_EQ(none.exitCode, kErrorStatus);
    EXPECT_FALSE(Contains(none.out, "Usage:"));
}

// A second script name replaces the first, and the console says which one runs.
TEST_F(Trevalo, ASecondScriptNameIsTheOneRunAndTheConsoleSaysSo) {
    Script("a.avs", "BlankClip(length=10, width=64)\n");
    Script("b.avs", "BlankClip(length=20, width=32)\n");
    const ProgramResult r = Run({"-info", "a.avs", "b.avs"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.err,
                         "\nTwo scripts named: only \"b.avs\" is run (to compare scripts: "
                         "Trevalo -compare a.avs b.avs)\n"));
    EXPECT_TRUE(Contains(r.err, "Frame width:                        32"));
    EXPECT_FALSE(Contains(Run({"-info", "a.avs", "a.avs"}).err, "Two scripts"));
}

// With a standard stream closed, nothing is written into the files the tool opens: the lock.
TEST_F(Trevalo, ClosedStandardStreamsTakeNoFileTheToolOpens) {
    // A Windows program's standard handles are never closed Unix descriptors; Wine gives such
    // descriptors to its own channels, and at times every Wine process stalled after this.
    SKIP_ON_WINE("closed Unix descriptors of a Wine process are Wine's, not the program's");
    const std::string script = Script("clip.avs", "BlankClip(length=10)\n");
    for (const std::vector<int>& closed : {std::vector<int>{2}, {1}, {0, 1, 2}}) {
        testsupport::ProgramOptions options = Options();
        options.closedFds = closed;
        ProgramResult r = testsupport::RunProgram(exe, {"-info", script}, options);
        EXPECT_EQ(r.exitCode, 0) << closed.size();
        EXPECT_EQ(dir.Read("run/__trevalo__single__instance__lock__"), "");
    }
}

// Devices and FIFOs are refused at once like missing files; nothing hangs or reads forever.
TEST_F(Trevalo, DevicesAndFifosAreRefusedLikeMissingFiles) {
    SKIP_ON_WINE("FIFOs and /dev/zero have no Windows counterpart");
    ASSERT_EQ(mkfifo(dir.File("fifo.avs").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/zero", dir.File("zero.avs").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.File("fifo.so").c_str(), 0600), 0);
    for (const char* script : {"fifo.avs", "zero.avs"}) {
        ProgramResult r = Run({script});
        EXPECT_EQ(r.exitCode, kErrorStatus);
        EXPECT_TRUE(Contains(r.err, "File not found: \"" + std::string(script) + "\""));
    }
    // A FIFO that the loader's search meets is passed over as no library file.
    std::filesystem::create_directory(dir.File("fifos"));
    ASSERT_EQ(mkfifo(dir.File("fifos/libavisynth.so").c_str(), 0600), 0);
    testsupport::ProgramOptions options = Options();
    options.timeout = std::chrono::seconds(20);
    for (const std::string& path : {dir.File("fifos"), dir.File("fifos") + ":" + LibraryDir()}) {
        options.setEnv["LD_LIBRARY_PATH"] = path;
        ProgramResult r = testsupport::RunProgram(exe, {"-avsinfo"}, options);
        EXPECT_FALSE(r.timedOut) << path;
        EXPECT_EQ(r.exitCode, path == dir.File("fifos") ? kErrorStatus : 0) << path << r.err;
    }
    WriteIni({{"AVSDLL", dir.File("fifo.so")}});
    ProgramResult r = Run({"-avsinfo"});
    EXPECT_EQ(r.exitCode, kErrorStatus);
    EXPECT_TRUE(
        Contains(r.err, "Specified libavisynth.so does not exist:\n" + dir.File("fifo.so")));

    std::filesystem::remove(dir.File("Trevalo.ini"));
    ASSERT_EQ(mkfifo(dir.File("Trevalo.ini").c_str(), 0600), 0);
    r = Run({"-avsinfo"});
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, kErrorStatus);
    EXPECT_TRUE(Contains(r.out, "Cannot create \"" + dir.File("Trevalo.ini") + "\""));
    EXPECT_FALSE(Contains(r.err, "Trevalo ")) << "a configuration error comes first";
}

// Paths far longer than any buffer reach the user whole.
TEST_F(Trevalo, MessagesCarryPathsOfAnyLength) {
    SKIP_ON_WINE("Windows' ANSI file calls stop at 260 characters");
    std::string deep = dir.Path();
    while (deep.size() < 4000)
        deep += "/" + std::string(200, 'd');
    std::filesystem::create_directories(deep);
    const std::string script = deep + "/" + std::string(4089 - deep.size() - 5, 's') + ".avs";
    ASSERT_EQ(script.size(), 4089u);
    std::ofstream(script) << "BlankClip(length=10)\n";
    const std::string log = script.substr(0, script.size() - 4) + ".log";
    std::filesystem::create_directory(log);  // the log cannot be written
    ProgramResult r = Run({"-info", "-log", script});
    EXPECT_TRUE(Contains(r.err, "Cannot create \"" + log + "\"")) << r.err.size();

    const std::string library = deep + "/" + std::string(1000, 'l') + "/libavisynth.so";
    WriteIni({{"AVSDLL", library}});
    r = Run({"-avsinfo"});
    EXPECT_EQ(r.exitCode, kErrorStatus);
    EXPECT_TRUE(Contains(r.err, "Specified libavisynth.so does not exist:\n" + library + "\n"))
        << r.err.size();
}

// A script reached from a current directory deeper than the system's path limit exists, but
// its full path cannot be used: the message says so rather than that it is missing.
TEST_F(Trevalo, AScriptBeyondThePathLimitIsNamedTooLong) {
    SKIP_ON_WINE("a POSIX path limit");
    const std::string part(200, 'd');
    // Perl (always on Debian) steps down relative to the current directory, as a shell's cd
    // with its full logical path cannot.
    const ProgramResult r = testsupport::RunProgram(
        "perl",
        {"-e",
         "for (1..22) { mkdir $ARGV[0] or die; chdir $ARGV[0] or die }"
         " open(F, '>s.avs') or die; print F \"BlankClip()\\n\"; close F; exec $ARGV[1], 's.avs'",
         part, exe},
        Options());
    EXPECT_EQ(r.exitCode, kErrorStatus);
    EXPECT_TRUE(Contains(r.err, "\nPath too long: \"s.avs\"\n"));
    // Removed by a tool that walks deep trees one level at a time.
    testsupport::RunProgram("rm", {"-rf", dir.File(part)});
}

// A bare library name: the current directory's file by full path, else the loader's search.
TEST_F(Trevalo, AvsdllWithoutASlash) {
    SKIP_ON_WINE("the Windows loader's search is the report test's, through WINEPATH");
    std::filesystem::copy_file(MINISYNTH_LIB, dir.File("Lib Here.so"));  // case and blanks kept
    const std::pair<const char*, std::string> cases[] = {
        {"Lib Here.so", dir.File("Lib Here.so")},
        {"libavisynth.so", std::filesystem::canonical(MINISYNTH_LIB).string()},  // on the path
        {"libnowhere.so", ""}};
    for (const auto& [name, location] : cases) {
        WriteIni({{"AVSDLL", name}});
        ProgramResult r = Run({"-avsinfo"});
        EXPECT_EQ(r.exitCode, location.empty() ? kErrorStatus : 0) << r.err;
        EXPECT_EQ(ReportLine(r.out, "Avisynth DLL location:       "), location) << name;
        EXPECT_TRUE(Contains(r.out + r.err, name));
    }
}

// The HTML manual and man page document every switch of the usage text; the HTML every INI key.
TEST_F(Trevalo, TheManualDocumentsEverySwitchAndIniKey) {
    const std::string usage = Run({}).out;
    const std::regex token(R"((?:^|[\s\[])(-[a-z]+))");
    std::set<std::string> switches;
    for (std::sregex_iterator it(usage.begin(), usage.end(), token), end; it != end; ++it)
        switches.insert((*it)[1]);
    ASSERT_FALSE(switches.empty()) << usage;
    const std::pair<const char*, std::string> pages[] = {
        {"Trevalo.html", ReadFile(TREVALO_HTML)},
        // The man page writes a switch's dash as "\-".
        {"trevalo.1", std::regex_replace(ReadFile(TREVALO_MAN), std::regex(R"(\\-)"), "-")}};
    for (const auto& [name, page] : pages) {
        for (const std::string& s : switches) {
            EXPECT_TRUE(std::regex_search(page, std::regex("(^|[^a-z])" + s + "(?![a-z])")))
                << s << " is missing from " << name;
        }
    }
    // A key needs an entry of its own, beyond the listing of the defaults.
    for (const std::string& line : DefaultIniLines(ProgramVersion())) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = "<code>" + line.substr(0, equals) + "</code>";
        EXPECT_TRUE(Contains(pages[0].second, key)) << key << " in Trevalo.html";
    }
    // The page's contents link to every heading, and it shows a chart of its own inline.
    const std::string& html = pages[0].second;
    const std::regex heading("<h[234]( id=\"([^\"]*)\")?>");
    size_t headings = 0;
    for (std::sregex_iterator it(html.begin(), html.end(), heading), end; it != end; ++it) {
        ++headings;
        EXPECT_TRUE(Contains(html, "<a href=\"#" + (*it)[2].str() + "\">")) << (*it)[0];
    }
    EXPECT_GT(headings, 30u);
    EXPECT_TRUE(Contains(html, "<figure>\n<svg xmlns=\"http://www.w3.org/2000/svg\""));
    // The man page has the sections that readers of man pages look for.
    for (const char* section : {"EXIT STATUS", "FILES", "EXAMPLES", "SEE ALSO"})
        EXPECT_TRUE(Contains(pages[1].second, std::string(".SH\n") + section + "\n"));
}

}  // namespace
}  // namespace e2e
