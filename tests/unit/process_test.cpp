#include "sys/process.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "support/process.h"

namespace {

// Runs f in a forked child and gives its exit code (-1 when it did not exit normally).
int InChild(const std::function<int()>& f) {
    const pid_t pid = fork();
    if (pid == 0) _exit(f());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

int CurrentNice() {
    errno = 0;
    const int value = getpriority(PRIO_PROCESS, 0);
    return errno == 0 ? value : 1000;
}

TEST(SetProcessPriority, LevelsMapToNiceValues) {
    const int start = CurrentNice();
    ASSERT_NE(start, 1000);
    // Lowering the nice value needs the right to do so; without it the priority stays.
    const bool privileged = geteuid() == 0;
    const int normal = privileged || start == 0 ? 0 : start;
    const std::pair<int, int> cases[] = {
        {1, 19}, {3, privileged ? -10 : start}, {2, normal}, {0, normal}, {7, normal}};
    for (const auto& [level, nice] : cases) {
        // Offset by 20 so that negative nice values survive the exit code.
        EXPECT_EQ(InChild([level = level] {
                      sys::SetProcessPriority(level);
                      return CurrentNice() + 20;
                  }) - 20,
                  nice)
            << level;
    }
}

// The lock as another process sees it, with this runtime directory (nullptr: none); the child
// inherits this process's descriptors.
sys::InstanceLock LockInChild(const std::string& name, const char* runtimeDir) {
    return static_cast<sys::InstanceLock>(InChild([&] {
        runtimeDir ? setenv("XDG_RUNTIME_DIR", runtimeDir, 1) : unsetenv("XDG_RUNTIME_DIR");
        return static_cast<int>(sys::AcquireSingleInstanceLock(name));
    }));
}

TEST(InstanceLock, OneHolderPerNameUntilItsProcessEnds) {
    using L = sys::InstanceLock;
    testsupport::TempDir dir;
    // A child takes the lock and ends without releasing it: the system drops it.
    EXPECT_EQ(LockInChild("first", dir.Path().c_str()), L::kAcquired);
    const char* old = getenv("XDG_RUNTIME_DIR");
    const std::string saved = old != nullptr ? old : "";
    setenv("XDG_RUNTIME_DIR", dir.Path().c_str(), 1);
    const L mine = sys::AcquireSingleInstanceLock("first"),
            again = sys::AcquireSingleInstanceLock("first");
    old != nullptr ? setenv("XDG_RUNTIME_DIR", saved.c_str(), 1) : unsetenv("XDG_RUNTIME_DIR");
    ASSERT_EQ(mine, L::kAcquired);
    EXPECT_EQ(again, L::kAlreadyRunning);
    EXPECT_TRUE(dir.Exists("first"));
    EXPECT_EQ(LockInChild("first", dir.Path().c_str()), L::kAlreadyRunning);
    EXPECT_EQ(LockInChild("second", dir.Path().c_str()), L::kAcquired);  // names are independent
    EXPECT_EQ(LockInChild("no/such/subdir", dir.Path().c_str()), L::kUnavailable);
    EXPECT_EQ(LockInChild("first", "/nonexistent/trevalo/runtime"), L::kUnavailable);
    // Without a runtime directory the lock lives in /tmp.
    const std::string name = "__trevalo_test_tmp_" + std::to_string(getpid()) + "__";
    for (const char* runtimeDir : {"", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(LockInChild(name, runtimeDir), L::kAcquired);
        EXPECT_EQ(unlink(("/tmp/" + name).c_str()), 0);
    }
}

}  // namespace
