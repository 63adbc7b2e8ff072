#include "sys/file_info.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>

#include "avs/image_facts.h"
#include "support/process.h"
#include "sys/utils.h"
#include "terminal_test_pty.h"

namespace {

namespace fs = std::filesystem;

using testpty::ScopedEnv;
using testsupport::TempDir;

TEST(FileIo, ReadsWritesAndCopiesRegularFilesOnly) {
    TempDir dir;
    const std::string contents("abc\0\xFF\r\n", 7);
    const std::string file = dir.Write("data.bin", contents);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(sys::ReadFileBytes(file, bytes, contents.size()));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), contents);
    EXPECT_FALSE(sys::ReadFileBytes(file, bytes, contents.size() - 1));
    EXPECT_TRUE(bytes.empty());
    std::string head;
    ASSERT_TRUE(sys::ReadFileHead(file, head, 2));
    EXPECT_EQ(head, "ab");
    fs::create_symlink(file, dir.File("link.bin"));
    EXPECT_TRUE(CUtils::FileExists(file));
    EXPECT_TRUE(CUtils::FileExists(dir.File("link.bin")));
    EXPECT_FALSE(CUtils::FileExists("/dev/null") || CUtils::FileExists(""));
    // Files that report size 0 but have contents.
    ASSERT_TRUE(sys::ReadFileBytes("/proc/self/status", bytes, 1 << 20));
    EXPECT_FALSE(bytes.empty());

    ASSERT_TRUE(sys::WriteFile(dir.File("out.txt"), "a longer first text"));
    ASSERT_TRUE(sys::WriteFile(dir.File("out.txt"), "short"));
    EXPECT_EQ(dir.Read("out.txt"), "short");
    ASSERT_TRUE(sys::CopyFile(file, dir.File("copy.bin")));
    EXPECT_EQ(dir.Read("copy.bin"), contents);

    // Nothing blocks on a FIFO or streams from a device: each fails at once. Writing replaces
    // only a file or a link, never a FIFO or a directory.
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", dir.File("zero"));
    for (const std::string& odd :
         {dir.File("fifo"), dir.File("zero"), dir.Path(), dir.File("missing")}) {
        EXPECT_FALSE(CUtils::FileExists(odd)) << odd;
        sys::ClearLastError();
        EXPECT_FALSE(sys::ReadFileBytes(odd, bytes, 100)) << odd;
        EXPECT_FALSE(sys::ReadFileHead(odd, head, 100)) << odd;
        EXPECT_NE(CUtils::GetLastErrorText(), "") << odd;
        if (odd == dir.File("fifo") || odd == dir.Path()) {
            EXPECT_FALSE(sys::WriteFile(odd, "x")) << odd;
            EXPECT_FALSE(sys::CopyFile(file, odd)) << odd;
        }
    }
    EXPECT_FALSE(sys::CopyFile(dir.File("missing"), dir.File("copy.bin")));
    EXPECT_EQ(dir.Read("copy.bin"), contents);
}

// What lies in the directory besides the names the test made: a temporary file left over.
std::vector<std::string> Names(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(FileIo, WritesReplaceLinksAndLeaveEarlierFilesWholeOnFailure) {
    TempDir dir;
    const std::string victim = dir.Write("victim", "not yours"), log = dir.File("c.log");
    for (const bool copy : {false, true}) {
        SCOPED_TRACE(copy ? "CopyFile" : "WriteFile");
        const auto write = [&](const std::string& text) {
            return copy ? sys::CopyFile(dir.Write("source", text), log) : sys::WriteFile(log, text);
        };
        // A link planted at the name, to a file or to nowhere, is replaced, never followed.
        for (const std::string& target : {victim, dir.File("planted")}) {
            fs::remove(log);
            fs::create_symlink(target, log);
            ASSERT_TRUE(write("the log")) << target;
            EXPECT_FALSE(fs::is_symlink(log));
            EXPECT_EQ(dir.Read("c.log"), "the log");
            EXPECT_EQ(dir.Read("victim"), "not yours");
            EXPECT_FALSE(dir.Exists("planted"));
        }
        // The user's own file keeps its permissions.
        ASSERT_EQ(chmod(log.c_str(), 0600), 0);
        ASSERT_TRUE(write("the earlier log, whole"));
        struct stat status {};
        ASSERT_EQ(stat(log.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0600u);

        // A write that fails half-way (here a file-size limit, as a full disk would) leaves
        // the earlier file whole, no temporary file behind, and says why.
        const std::vector<std::string> before = Names(dir.Path());
        const std::string big(1 << 16, 'x');
        if (copy) dir.Write("source", big);
        rlimit saved{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const rlimit small{4096, saved.rlim_max};
        const testsupport::SignalStateKept signals;
        signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool written =
            copy ? sys::CopyFile(dir.File("source"), log) : sys::WriteFile(log, big);
        setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_FALSE(written);
        EXPECT_EQ(CUtils::GetLastErrorText(), "File too large");
        EXPECT_EQ(dir.Read("c.log"), "the earlier log, whole");
        EXPECT_EQ(Names(dir.Path()), before);
    }
}

// A file larger than the limit is refused by its size: none of it is read or held first.
TEST(FileIo, AFileTooLargeIsRefusedBeforeItIsRead) {
    TempDir dir;
    const std::string file = dir.Write("big.json", "");
    fs::resize_file(file, uintmax_t{1} << 30);  // sparse
    std::vector<uint8_t> bytes;
    sys::ClearLastError();
    EXPECT_FALSE(sys::ReadFileBytes(file, bytes, size_t{16} << 20));
    EXPECT_EQ(CUtils::GetLastErrorText(), std::strerror(EFBIG));
    EXPECT_LT(bytes.capacity(), size_t{65536}) << "read before it was refused";
    std::string head;
    ASSERT_TRUE(sys::ReadFileHead(file, head, 4));
    EXPECT_EQ(head, std::string(4, '\0'));
}

TEST(ModificationTimeUtc, KnownInstantInAnyTimeZone) {
    TempDir dir;
    const std::string file = dir.Write("avisynth.so", "x");
    const struct timeval times[2] = {{1433149500, 0}, {1433149500, 0}};  // 2015-06-01 09:05 UTC
    ASSERT_EQ(utimes(file.c_str(), times), 0);

    // A local zone far from UTC would show in the result if anything converted to it.
    ScopedEnv zone("TZ", "XST-5:30");
    tzset();
    unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 99;
    ASSERT_TRUE(sys::ModificationTimeUtc(file, y, mo, d, h, mi, s));
    EXPECT_EQ(FormatTimeStamp(y, mo, d, h, mi, s), "2015-06-01, 09:05:00");
    EXPECT_FALSE(sys::ModificationTimeUtc(dir.Path() + "/missing", y, mo, d, h, mi, s));
}

TEST(FindLibraryFile, SearchesLikeTheLoader) {
    TempDir dir;
    const std::string first = dir.Path() + "/first";
    const std::string second = dir.Path() + "/second";
    fs::create_directories(first + "/libtrevalo_probe.so");  // a directory is no library
    const std::string probe = dir.Write("second/libtrevalo_probe.so", "x");
    {
        ScopedEnv path("LD_LIBRARY_PATH", (first + ":" + second).c_str());
        EXPECT_EQ(sys::FindLibraryFile("libtrevalo_probe.so"), probe);
    }
    const ScopedEnv noPath("LD_LIBRARY_PATH", nullptr);
    EXPECT_EQ(sys::FindLibraryFile("libtrevalo_probe.so"), "");
    // A name with a slash is taken as it is.
    EXPECT_EQ(sys::FindLibraryFile(second + "/../second/libtrevalo_probe.so"),
              second + "/../second/libtrevalo_probe.so");
    EXPECT_EQ(sys::FindLibraryFile(first + "/libtrevalo_probe.so"), "");
    EXPECT_EQ(sys::FindLibraryFile(dir.Path() + "/missing.so"), "");
    EXPECT_EQ(sys::FindLibraryFile(""), "");
}

TEST(ParseLdSoConf, DirectoriesAndIncludesInFileOrder) {
    using Kind = sys::LdSoConfLine::Kind;
    const std::string text =
        "# libc default configuration\n/usr/local/lib\n\n"
        "   /opt/avs/lib//   # trailing slashes and a comment\r\n"
        "include ld.so.conf.d/*.conf /etc/extra.conf\ninclude\t\tlocal/*.conf\n"
        "hwcap 0 "
        "nosegneg\n/usr/lib/libc5=libc5\nrelative/dir\nincludes/are/not/keywords\n\t\n/last";
    std::vector<std::string> lines;
    for (const sys::LdSoConfLine& line : sys::ParseLdSoConf(text, "/etc")) {
        lines.push_back((line.kind == Kind::Include ? "include " : "") + line.value);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "/usr/local/lib", "/opt/avs/lib", "include /etc/ld.so.conf.d/*.conf",
                         "include /etc/extra.conf", "include /etc/local/*.conf", "/usr/lib/libc5",
                         "/last"}));
    EXPECT_TRUE(sys::ParseLdSoConf("", "/etc").empty());
    EXPECT_TRUE(sys::ParseLdSoConf("include\n#/usr/lib\n/\n", "/etc").size() == 1);
}

TEST(SplitLibraryPath, ColonsSemicolonsAndEmptyEntries) {
    using V = std::vector<std::string>;
    EXPECT_EQ(sys::SplitLibraryPath(""), V{});
    EXPECT_EQ(sys::SplitLibraryPath("/a"), V{"/a"});
    EXPECT_EQ(sys::SplitLibraryPath("/a:/b;/c"), (V{"/a", "/b", "/c"}));
    EXPECT_EQ(sys::SplitLibraryPath("/a::/b:"), (V{"/a", ".", "/b", "."}));
}

// Each directory with its kind, so that one comparison checks kinds, paths and order.
std::vector<std::string> Described(const std::vector<sys::PluginDirectory>& directories) {
    std::vector<std::string> result;
    for (const sys::PluginDirectory& d : directories) {
        result.push_back((d.kind == sys::PluginDirectoryKind::System ? "system " : "user ") +
                         d.path);
    }
    return result;
}

// Both directories present are the end-to-end tests' case.
TEST(PluginDirectories, OnlyDirectoriesAndNoUserOneWithoutAHome) {
    using V = std::vector<std::string>;
    TempDir dir;
    const std::string library = dir.Write("prefix/lib/libavisynth.so.3.7.5", "x");
    const std::string system = dir.Path() + "/prefix/lib/avisynth",
                      user = "home/.local/lib/avisynth";
    fs::create_directories(system);
    ScopedEnv homeVariable("HOME", dir.File("home").c_str());
    dir.Write(user, "a file, not a directory");
    EXPECT_EQ(Described(sys::PluginDirectories(library)), V{"system " + system});
    fs::remove(dir.File(user));
    fs::create_directories(dir.File(user));
    ScopedEnv noHome("HOME", nullptr);
    EXPECT_EQ(Described(sys::PluginDirectories(library)), V{"system " + system});

    // Odd homes and bare names, before the existence check.
    EXPECT_EQ(Described(sys::PluginDirectoryCandidates("/usr/lib/libavisynth.so", "/home/u/")),
              (V{"system /usr/lib/avisynth", "user /home/u/.local/lib/avisynth"}));
    EXPECT_EQ(Described(sys::PluginDirectoryCandidates("/libavisynth.so", "/")),
              (V{"system /avisynth", "user /.local/lib/avisynth"}));
    EXPECT_EQ(Described(sys::PluginDirectoryCandidates("libavisynth.so", "")),
              V{"system ./avisynth"});
}

}  // namespace
