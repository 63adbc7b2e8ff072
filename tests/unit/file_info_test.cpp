#include "sys/file_info.h"
#include "support/process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "avs/image_facts.h"
#include "sys/utils.h"

namespace {

namespace fs = std::filesystem;

using testsupport::TempDir;

// Sets an environment variable for the length of a scope and restores the old value.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        hadValue_ = old != nullptr;
        if (hadValue_) old_ = old;
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (hadValue_) {
            setenv(name_.c_str(), old_.c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }

  private:
    std::string name_;
    std::string old_;
    bool hadValue_ = false;
};

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
    // Files that report size 0 but have contents.
    ASSERT_TRUE(sys::ReadFileBytes("/proc/self/status", bytes, 1 << 20));
    EXPECT_FALSE(bytes.empty());

    ASSERT_TRUE(sys::WriteFile(dir.File("out.txt"), "a longer first text"));
    ASSERT_TRUE(sys::WriteFile(dir.File("out.txt"), "short"));
    EXPECT_EQ(dir.Read("out.txt"), "short");
    ASSERT_TRUE(sys::CopyFile(file, dir.File("copy.bin")));
    EXPECT_EQ(dir.Read("copy.bin"), contents);

    // Nothing blocks on a FIFO or streams from a device: each fails at once.
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", dir.File("zero"));
    for (const std::string& odd :
         {dir.File("fifo"), dir.File("zero"), dir.Path(), dir.File("missing")}) {
        sys::ClearLastError();
        EXPECT_FALSE(sys::ReadFileBytes(odd, bytes, 100)) << odd;
        EXPECT_FALSE(sys::ReadFileHead(odd, head, 100)) << odd;
        EXPECT_NE(CUtils::GetLastErrorText(), "") << odd;
        if (odd != dir.File("missing")) {
            EXPECT_FALSE(sys::WriteFile(odd, "x")) << odd;
        }
        EXPECT_FALSE(sys::CopyFile(file, odd == dir.File("missing") ? dir.Path() : odd)) << odd;
    }
}

TEST(RealPath, ResolvesLinks) {
    TempDir dir;
    const std::string real = dir.Write("lib/libavisynth.so.3.7.5", "x");
    ASSERT_EQ(symlink("libavisynth.so.3.7.5", (dir.Path() + "/lib/libavisynth.so.12").c_str()), 0);
    ASSERT_EQ(symlink("lib/libavisynth.so.12", (dir.Path() + "/libavisynth.so").c_str()), 0);
    EXPECT_EQ(sys::RealPath(dir.Path() + "/libavisynth.so"), real);
    EXPECT_EQ(FileVersionFromFileName(sys::RealPath(dir.Path() + "/libavisynth.so")), "3.7.5.0");
    EXPECT_EQ(sys::RealPath(dir.Path() + "/lib/../lib/./libavisynth.so.12"), real);
    sys::ClearLastError();
    EXPECT_EQ(sys::RealPath(dir.Path() + "/missing.so"), "");
    EXPECT_NE(CUtils::GetLastErrorText(), "");
}

TEST(ModificationTimeUtc, KnownInstantInAnyTimeZone) {
    TempDir dir;
    const std::string file = dir.Write("avisynth.so", "x");
    struct tm when {};
    when.tm_year = 2015 - 1900;
    when.tm_mon = 6 - 1;
    when.tm_mday = 1;
    when.tm_hour = 9;
    when.tm_min = 5;
    const time_t instant = timegm(&when);
    const struct timeval times[2] = {{instant, 0}, {instant, 0}};
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
    // The C library is always where the loader looks.
    const std::string libc = sys::FindLibraryFile("libc.so.6");
    ASSERT_NE(libc, "");
    EXPECT_TRUE(fs::is_regular_file(libc));

    TempDir dir;
    const std::string first = dir.Path() + "/first";
    const std::string second = dir.Path() + "/second";
    fs::create_directories(first + "/libtrevalo_probe.so");  // a directory is no library
    const std::string probe = dir.Write("second/libtrevalo_probe.so", "x");
    {
        ScopedEnv path("LD_LIBRARY_PATH", (first + ":" + second).c_str());
        EXPECT_EQ(sys::FindLibraryFile("libtrevalo_probe.so"), probe);
    }
    {
        ScopedEnv path("LD_LIBRARY_PATH", nullptr);
        EXPECT_EQ(sys::FindLibraryFile("libtrevalo_probe.so"), "");
    }
    // A name with a slash is taken as it is.
    EXPECT_EQ(sys::FindLibraryFile(probe), probe);
    EXPECT_EQ(sys::FindLibraryFile(second + "/../second/libtrevalo_probe.so"),
              second + "/../second/libtrevalo_probe.so");
    EXPECT_EQ(sys::FindLibraryFile(first + "/libtrevalo_probe.so"), "");
    EXPECT_EQ(sys::FindLibraryFile(dir.Path() + "/missing.so"), "");
    EXPECT_EQ(sys::FindLibraryFile(""), "");
}

TEST(ParseLdSoConf, DirectoriesAndIncludesInFileOrder) {
    using Kind = sys::LdSoConfLine::Kind;
    const std::string text =
        "# libc default configuration\n"
        "/usr/local/lib\n"
        "\n"
        "   /opt/avs/lib//   # trailing slashes and a comment\r\n"
        "include ld.so.conf.d/*.conf /etc/extra.conf\n"
        "include\t\tlocal/*.conf\n"
        "hwcap 0 nosegneg\n"
        "/usr/lib/libc5=libc5\n"
        "relative/dir\n"
        "includes/are/not/keywords\n"
        "\t\n"
        "/last";
    const std::vector<sys::LdSoConfLine> lines = sys::ParseLdSoConf(text, "/etc");
    const std::vector<std::pair<Kind, std::string>> expected = {
        {Kind::Directory, "/usr/local/lib"},
        {Kind::Directory, "/opt/avs/lib"},
        {Kind::Include, "/etc/ld.so.conf.d/*.conf"},
        {Kind::Include, "/etc/extra.conf"},
        {Kind::Include, "/etc/local/*.conf"},
        {Kind::Directory, "/usr/lib/libc5"},
        {Kind::Directory, "/last"},
    };
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].kind, expected[i].first) << i;
        EXPECT_EQ(lines[i].value, expected[i].second) << i;
    }
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

TEST(PluginDirectories, ExistingSystemAndUserDirectories) {
    TempDir dir;
    const std::string library = dir.Write("prefix/lib/libavisynth.so.3.7.5", "x");
    const std::string home = dir.Path() + "/home";
    const std::string system = dir.Path() + "/prefix/lib/avisynth";
    const std::string user = home + "/.local/lib/avisynth";
    ScopedEnv homeVariable("HOME", home.c_str());
    EXPECT_TRUE(sys::PluginDirectories(library).empty());

    dir.Write("home/.local/lib/avisynth", "a file, not a directory");
    EXPECT_TRUE(sys::PluginDirectories(library).empty());
    fs::remove(user);

    fs::create_directories(system);
    fs::create_directories(user);
    const std::vector<sys::PluginDirectory> both = sys::PluginDirectories(library);
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[0].kind, sys::PluginDirectoryKind::System);
    EXPECT_EQ(both[0].path, system);
    EXPECT_EQ(both[1].kind, sys::PluginDirectoryKind::User);
    EXPECT_EQ(both[1].path, user);

    ScopedEnv noHome("HOME", nullptr);
    const std::vector<sys::PluginDirectory> systemOnly = sys::PluginDirectories(library);
    ASSERT_EQ(systemOnly.size(), 1u);
    EXPECT_EQ(systemOnly[0].path, system);
}

TEST(PluginDirectoryCandidates, OddHomesAndBareNames) {
    auto paths = [](const std::string& library, const std::string& home) {
        std::vector<std::string> result;
        for (const sys::PluginDirectory& d : sys::PluginDirectoryCandidates(library, home)) {
            result.push_back(d.path);
        }
        return result;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(paths("/usr/lib/libavisynth.so", "/home/u/"),
              (V{"/usr/lib/avisynth", "/home/u/.local/lib/avisynth"}));
    EXPECT_EQ(paths("/libavisynth.so", "/"), (V{"/avisynth", "/.local/lib/avisynth"}));
    EXPECT_EQ(paths("libavisynth.so", ""), (V{"./avisynth"}));
}

}  // namespace
