#include "sys/process.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "support/process.h"

namespace {

constexpr std::chrono::seconds kPatience(30);  // reached only when something is wrong

// Runs f in a forked child: its exit code, -1 when it did not exit normally in time.
int InChild(const std::function<int()>& f) {
    const pid_t pid = fork();
    if (pid == 0) _exit(f());
    if (pid < 0) return -1;
    int status = 0;
    const testsupport::ChildWait wait = testsupport::WaitForChild(pid, kPatience, status);
    if (wait == testsupport::ChildWait::kStillRunning) testsupport::KillChild(pid, status);
    if (wait != testsupport::ChildWait::kEnded || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// The lock as another process sees it, with this runtime directory (nullptr: none) and
// $TMPDIR for the fallback.
sys::InstanceLock LockInChild(const std::string& name, const char* runtimeDir,
                              const std::string& temporary = "/nonexistent") {
    return static_cast<sys::InstanceLock>(InChild([&] {
        runtimeDir ? setenv("XDG_RUNTIME_DIR", runtimeDir, 1) : unsetenv("XDG_RUNTIME_DIR");
        setenv("TMPDIR", temporary.c_str(), 1);
        return static_cast<int>(sys::AcquireSingleInstanceLock(name));
    }));
}

// The lock lasts as long as its holder, a child here, so that this process holds none.
TEST(InstanceLock, OneHolderPerNameUntilItsProcessEnds) {
    using L = sys::InstanceLock;
    testsupport::TempDir dir;
    const char* runtimeDir = dir.Path().c_str();
    // A child takes the lock and ends without releasing it: the system drops it.
    EXPECT_EQ(LockInChild("first", runtimeDir), L::kAcquired);
    // While a child holds "first": a second take in the holder, one in a child of it (which
    // inherits the holder's descriptor, not its lock) and one of another name, a digit each.
    const int whileHeld = InChild([&] {
        setenv("XDG_RUNTIME_DIR", runtimeDir, 1);
        if (sys::AcquireSingleInstanceLock("first") != L::kAcquired) return 255;
        return 100 * static_cast<int>(sys::AcquireSingleInstanceLock("first")) +
               10 * static_cast<int>(LockInChild("first", runtimeDir)) +
               static_cast<int>(LockInChild("second", runtimeDir));
    });
    EXPECT_EQ(whileHeld, 110) << "running, running, acquired";
    EXPECT_TRUE(dir.Exists("first"));
    EXPECT_EQ(LockInChild("first", runtimeDir), L::kAcquired) << "its holder has ended";
    EXPECT_EQ(LockInChild("no/such/subdir", runtimeDir), L::kUnavailable);
}

// Only a directory that nobody else can write holds the lock, and nothing at its name is
// followed: whoever else plants a file or link there can neither block the run nor make it
// create a file elsewhere.
TEST(InstanceLock, LivesOnlyWhereNobodyElseCanWriteAndFollowsNoLink) {
    using L = sys::InstanceLock;
    testsupport::TempDir dir;
    const std::string open = dir.File("open"), linked = dir.File("linked"), own = dir.File("own");
    const std::string fallback = own + "/trevalo-" + std::to_string(geteuid());
    ASSERT_TRUE(std::filesystem::create_directory(open) && chmod(open.c_str(), 0777) == 0);
    ASSERT_TRUE(std::filesystem::create_directory(own));
    std::filesystem::create_directory_symlink(own, linked);
    // The runtime directory when it is private; else a private one made under $TMPDIR.
    const struct {
        const char* runtime;
        const char* where;
    } cases[] = {{own.c_str(), "own"},       {nullptr, "fallback"},
                 {"", "fallback"},           {"/nonexistent", "fallback"},
                 {open.c_str(), "fallback"}, {linked.c_str(), "fallback"}};
    for (const auto& c : cases) {
        std::filesystem::remove_all(fallback);
        std::filesystem::remove(own + "/lock");
        EXPECT_EQ(LockInChild("lock", c.runtime, own), L::kAcquired) << c.runtime;
        const std::string expected = std::string(c.where) == "own" ? own : fallback;
        EXPECT_TRUE(std::filesystem::is_regular_file(expected + "/lock")) << c.runtime;
        EXPECT_FALSE(std::filesystem::exists(open + "/lock"));
    }
    struct stat status {};
    ASSERT_EQ(stat(fallback.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);

    // A fallback directory others can write is not used, nor made private.
    ASSERT_EQ(chmod(fallback.c_str(), 0777), 0);
    EXPECT_EQ(LockInChild("lock", nullptr, own), L::kUnavailable);
    ASSERT_EQ(stat(fallback.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0777u);
    // A link or a FIFO at the lock's name: not followed, not opened, nothing created.
    ASSERT_EQ(symlink(dir.File("victim").c_str(), (own + "/planted").c_str()), 0);
    ASSERT_EQ(mkfifo((own + "/fifo").c_str(), 0600), 0);
    EXPECT_EQ(LockInChild("planted", own.c_str()), L::kUnavailable);
    EXPECT_EQ(LockInChild("fifo", own.c_str()), L::kUnavailable);
    EXPECT_FALSE(dir.Exists("victim"));
}

}  // namespace
