#include "sys/process.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>

#include "support/process.h"

namespace {

constexpr std::chrono::seconds kPatience(30);  // reached only when something is wrong

// Runs f in a forked child and gives its exit code (-1 when it did not exit normally, or not
// in time).
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

// A child that takes the lock twice, tells what it got, and holds on until released (or
// until this process ends): the lock lasts as long as its holder, so this process holds none.
class LockHolder {
  public:
    LockHolder(const std::string& name, const std::string& runtimeDir) {
        int report[2], release[2];
        if (pipe(report) != 0) return;
        if (pipe(release) != 0) {
            close(report[0]);
            close(report[1]);
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            close(report[0]);
            close(release[1]);
            setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
            const char taken[] = {static_cast<char>(sys::AcquireSingleInstanceLock(name)),
                                  static_cast<char>(sys::AcquireSingleInstanceLock(name))};
            if (write(report[1], taken, sizeof taken) != sizeof taken) _exit(1);
            char byte;
            while (read(release[0], &byte, 1) < 0 && errno == EINTR) {
            }
            _exit(0);
        }
        close(report[1]);
        close(release[0]);
        release_ = release[1];
        struct pollfd pfd = {report[0], POLLIN, 0};
        char taken[2] = {-1, -1};
        if (pid_ > 0 && poll(&pfd, 1, 30000) == 1 && read(report[0], taken, 2) == 2) {
            first = static_cast<sys::InstanceLock>(taken[0]);
            second = static_cast<sys::InstanceLock>(taken[1]);
            reported = true;
        }
        close(report[0]);
    }
    ~LockHolder() {
        if (release_ >= 0) close(release_);
        int status = 0;
        if (pid_ > 0 && testsupport::WaitForChild(pid_, kPatience, status) ==
                            testsupport::ChildWait::kStillRunning) {
            testsupport::KillChild(pid_, status);
        }
    }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    bool reported = false;
    sys::InstanceLock first{}, second{};

  private:
    pid_t pid_ = -1;
    int release_ = -1;
};

TEST(InstanceLock, OneHolderPerNameUntilItsProcessEnds) {
    using L = sys::InstanceLock;
    testsupport::TempDir dir;
    // A child takes the lock and ends without releasing it: the system drops it.
    EXPECT_EQ(LockInChild("first", dir.Path().c_str()), L::kAcquired);
    {
        const LockHolder holder("first", dir.Path());
        ASSERT_TRUE(holder.reported);
        EXPECT_EQ(holder.first, L::kAcquired);
        EXPECT_EQ(holder.second, L::kAlreadyRunning);
        EXPECT_TRUE(dir.Exists("first"));
        EXPECT_EQ(LockInChild("first", dir.Path().c_str()), L::kAlreadyRunning);
        EXPECT_EQ(LockInChild("second", dir.Path().c_str()),
                  L::kAcquired);  // names are independent
    }
    EXPECT_EQ(LockInChild("first", dir.Path().c_str()), L::kAcquired) << "its holder has ended";
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
