// Paths: lexical absolute paths, directory parts, and the directory operations.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/process.h"
#include "sys/paths.h"

namespace {

using testsupport::TempDir;

TEST(MakeAbsolute, JoinsAndNormalisesLexically) {
    // ".." stops at the root; names that only look like dots are names; case and blanks stay.
    const std::pair<const char*, const char*> inXY[] = {{"c.avs", "/x/y/c.avs"},
                                                        {"/d/c.avs", "/d/c.avs"},
                                                        {"./a/./b", "/x/y/a/b"},
                                                        {"a/../../b", "/x/b"},
                                                        {"a//b///c", "/x/y/a/b/c"},
                                                        {"a/b/", "/x/y/a/b"},
                                                        {"..", "/x"},
                                                        {"../../..", "/"},
                                                        {".", "/x/y"},
                                                        {".../.h/..x", "/x/y/.../.h/..x"},
                                                        {" My C .AVS", "/x/y/ My C .AVS"},
                                                        {"", ""}};
    for (const auto& [path, expected] : inXY)
        EXPECT_EQ(sys::MakeAbsolute(path, "/x/y"), expected) << path;
    EXPECT_EQ(sys::MakeAbsolute("c.avs", "/"), "/c.avs");
    EXPECT_EQ(sys::MakeAbsolute("c.avs", "/A B/"), "/A B/c.avs");
    EXPECT_EQ(sys::MakeAbsolute("/d/c.avs", ""), "/d/c.avs");
    // A relative path needs an absolute directory.
    EXPECT_EQ(sys::MakeAbsolute("c.avs", ""), "");
    EXPECT_EQ(sys::MakeAbsolute("c.avs", "rel/dir"), "");
}

TEST(DirectoryOfAndJoinPath, OneSeparatorBetweenTheParts) {
    const std::pair<const char*, const char*> directories[] = {{"/usr/bin/trevalo", "/usr/bin"},
                                                               {"/trevalo", "/"},
                                                               {"/a//b", "/a"},
                                                               {"file", ""},
                                                               {"", ""}};
    for (const auto& [path, directory] : directories)
        EXPECT_EQ(sys::DirectoryOf(path), directory) << path;
    for (const auto& [path, name] :
         {std::pair{"/clips/a.avs", "a.avs"}, std::pair{"C:\\clips\\b.avs", "b.avs"},
          std::pair{"c.avs", "c.avs"}, std::pair{"/clips/", ""}})
        EXPECT_EQ(sys::FileNameOf(path), name) << path;
    const std::pair<const char*, const char*> joined[] = {
        {"/a", "/a/b.ini"}, {"/a/", "/a/b.ini"}, {"/", "/b.ini"}, {"", "b.ini"}};
    for (const auto& [directory, path] : joined)
        EXPECT_EQ(sys::JoinPath(directory, "b.ini"), path) << directory;
}

TEST(WithDriveLetter, MapsWholeDeviceNamesOnly) {
    const std::vector<sys::DriveDevice> drives = {{"C:", "\\Device\\HarddiskVolume1"},
                                                  {"D:", "\\Device\\HarddiskVolume10"}};
    const std::pair<const char*, const char*> cases[] = {
        {"\\Device\\HarddiskVolume1\\AviSynth\\avisynth.dll", "C:\\AviSynth\\avisynth.dll"},
        {"\\Device\\HarddiskVolume10\\x.dll", "D:\\x.dll"},
        {"\\Device\\HarddiskVolume2\\x.dll", ""},  // a drive without a letter
        {"\\??\\Z:\\tmp\\avisynth.dll", "Z:\\tmp\\avisynth.dll"},
        {"", ""},
    };
    for (const auto& [device, expected] : cases)
        EXPECT_EQ(sys::WithDriveLetter(device, drives), expected) << device;
}

TEST(Directories, CreatedWithTheirParentsAndCheckedForWriting) {
    TempDir dir;
    const std::string nested = dir.File("one/two/three"), file = dir.Write("plain", "x");
    EXPECT_FALSE(sys::IsDirectory(nested));
    EXPECT_TRUE(sys::MakeDirectories(nested) && sys::IsDirectory(nested));
    EXPECT_TRUE(sys::MakeDirectories(nested) && sys::IsDirectoryWritable(nested));  // again
    // A file in the way, below a file, a missing directory, no name at all.
    EXPECT_FALSE(sys::IsDirectory(file) || sys::IsDirectoryWritable(file));
    EXPECT_FALSE(sys::MakeDirectories(file) || sys::MakeDirectories(file + "/below"));
    EXPECT_FALSE(sys::IsDirectoryWritable(dir.File("missing")) || sys::MakeDirectories(""));
    if (geteuid() != 0) {  // root may write everywhere
        ASSERT_EQ(chmod(nested.c_str(), 0555), 0);
        EXPECT_FALSE(sys::IsDirectoryWritable(nested));
    }
}

}  // namespace
