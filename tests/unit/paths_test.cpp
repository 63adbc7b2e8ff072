// Paths: lexical absolute paths, directory parts, and the directory operations.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/process.h"
#include "sys/paths.h"

namespace {

using testsupport::TempDir;

TEST(MakeAbsolute, JoinsRelativePathsWithTheDirectory) {
    EXPECT_EQ(sys::MakeAbsolute("clip.avs", "/home/user"), "/home/user/clip.avs");
    EXPECT_EQ(sys::MakeAbsolute("sub/clip.avs", "/home/user/"), "/home/user/sub/clip.avs");
    EXPECT_EQ(sys::MakeAbsolute("clip.avs", "/"), "/clip.avs");
}

TEST(MakeAbsolute, KeepsAbsolutePathsAndIgnoresTheDirectory) {
    EXPECT_EQ(sys::MakeAbsolute("/data/clip.avs", "/home/user"), "/data/clip.avs");
    EXPECT_EQ(sys::MakeAbsolute("/data/clip.avs", ""), "/data/clip.avs");
}

TEST(MakeAbsolute, NormalisesLexically) {
    EXPECT_EQ(sys::MakeAbsolute("./a/./b", "/x"), "/x/a/b");
    EXPECT_EQ(sys::MakeAbsolute("../clip.avs", "/x/y"), "/x/clip.avs");
    EXPECT_EQ(sys::MakeAbsolute("a/../../b", "/x/y"), "/x/b");
    EXPECT_EQ(sys::MakeAbsolute("a//b///c", "/x"), "/x/a/b/c");
    EXPECT_EQ(sys::MakeAbsolute("a/b/", "/x"), "/x/a/b");
    EXPECT_EQ(sys::MakeAbsolute("..", "/x"), "/");
    EXPECT_EQ(sys::MakeAbsolute("../../..", "/x"), "/");  // ".." stops at the root
    EXPECT_EQ(sys::MakeAbsolute(".", "/x/y"), "/x/y");
    // Names that only look like dots are ordinary names.
    EXPECT_EQ(sys::MakeAbsolute("...", "/x"), "/x/...");
    EXPECT_EQ(sys::MakeAbsolute(".hidden/..x", "/x"), "/x/.hidden/..x");
}

TEST(MakeAbsolute, KeepsLetterCaseAndBlanks) {
    EXPECT_EQ(sys::MakeAbsolute(" My Clip .AVS", "/Home/Some User"),
              "/Home/Some User/ My Clip .AVS");
}

TEST(MakeAbsolute, RefusesWhatCannotBeMadeAbsolute) {
    EXPECT_EQ(sys::MakeAbsolute("", "/x"), "");
    EXPECT_EQ(sys::MakeAbsolute("clip.avs", ""), "");
    EXPECT_EQ(sys::MakeAbsolute("clip.avs", "relative/dir"), "");
}

TEST(MakeAbsolute, UsesTheCurrentDirectory) {
    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    const std::string saved = sys::CurrentDirectory();
    ASSERT_FALSE(saved.empty());
    ASSERT_EQ(chdir(dir.Path().c_str()), 0);
    const std::string cwd = sys::CurrentDirectory();
    const std::string absolute = sys::MakeAbsolute("sub/../clip.avs");
    const std::string other = sys::MakeAbsolute("/elsewhere/clip.avs");
    ASSERT_EQ(chdir(saved.c_str()), 0);

    EXPECT_EQ(std::filesystem::canonical(cwd), std::filesystem::canonical(dir.Path()));
    EXPECT_EQ(absolute, cwd + "/clip.avs");
    EXPECT_EQ(other, "/elsewhere/clip.avs");
}

TEST(DirectoryOf, CutsBeforeTheLastSeparator) {
    EXPECT_EQ(sys::DirectoryOf("/usr/local/bin/trevalo"), "/usr/local/bin");
    EXPECT_EQ(sys::DirectoryOf("/trevalo"), "/");
    EXPECT_EQ(sys::DirectoryOf("/a//b"), "/a");
    EXPECT_EQ(sys::DirectoryOf("dir/file"), "dir");
    EXPECT_EQ(sys::DirectoryOf("file"), "");
    EXPECT_EQ(sys::DirectoryOf(""), "");
    EXPECT_EQ(sys::DirectoryOf("/My Dir/X.ini"), "/My Dir");
}

TEST(JoinPath, PutsExactlyOneSeparatorBetween) {
    EXPECT_EQ(sys::JoinPath("/a", "b.ini"), "/a/b.ini");
    EXPECT_EQ(sys::JoinPath("/", "b.ini"), "/b.ini");
    EXPECT_EQ(sys::JoinPath("/a/", "b.ini"), "/a/b.ini");
    EXPECT_EQ(sys::JoinPath("", "b.ini"), "b.ini");
}

TEST(Directories, MakeDirectoriesCreatesMissingParents) {
    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    const std::string nested = dir.Path() + "/one/two/three";
    EXPECT_FALSE(sys::IsDirectory(nested));
    EXPECT_TRUE(sys::MakeDirectories(nested));
    EXPECT_TRUE(sys::IsDirectory(nested));
    EXPECT_TRUE(sys::MakeDirectories(nested));  // already there
    EXPECT_TRUE(sys::IsDirectoryWritable(nested));
}

TEST(Directories, AFileInTheWayIsNoDirectory) {
    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    const std::string file = dir.Path() + "/plain";
    std::ofstream(file) << "x";
    EXPECT_FALSE(sys::IsDirectory(file));
    EXPECT_FALSE(sys::IsDirectoryWritable(file));
    EXPECT_FALSE(sys::MakeDirectories(file));
    EXPECT_FALSE(sys::MakeDirectories(file + "/below"));
    EXPECT_FALSE(sys::IsDirectory(dir.Path() + "/missing"));
    EXPECT_FALSE(sys::IsDirectoryWritable(dir.Path() + "/missing"));
    EXPECT_FALSE(sys::MakeDirectories(""));
}

TEST(Directories, ReadOnlyDirectoryIsNotWritable) {
    if (geteuid() == 0) GTEST_SKIP() << "root may write everywhere";
    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    ASSERT_EQ(chmod(dir.Path().c_str(), 0555), 0);
    EXPECT_FALSE(sys::IsDirectoryWritable(dir.Path()));
    chmod(dir.Path().c_str(), 0755);
}

TEST(ExecutablePath, NamesTheRunningProgram) {
    const std::string path = sys::ExecutablePath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path[0], '/');
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(std::filesystem::canonical(path), std::filesystem::canonical("/proc/self/exe"));
    EXPECT_TRUE(sys::IsDirectory(sys::DirectoryOf(path)));
}

}  // namespace
