#include "sys/process.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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

// The lock as another process sees it, with this runtime directory (nullptr: none).
sys::InstanceLock LockInChild(const std::string& name, const char* runtimeDir) {
    return static_cast<sys::InstanceLock>(InChild([&] {
        runtimeDir ? setenv("XDG_RUNTIME_DIR", runtimeDir, 1) : unsetenv("XDG_RUNTIME_DIR");
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
    EXPECT_EQ(LockInChild("first", "/nonexistent/trevalo/runtime"), L::kUnavailable);
    // Without a runtime directory the lock lives in /tmp.
    const std::string name = "__trevalo_test_tmp_" + std::to_string(getpid()) + "__";
    for (const char* runtime : {"", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(LockInChild(name, runtime), L::kAcquired);
        EXPECT_EQ(unlink(("/tmp/" + name).c_str()), 0);
    }
}

}  // namespace
