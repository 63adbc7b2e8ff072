#include "sys/process.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

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
    struct Case {
        int level;
        int nice;
    };
    // Lowering the nice value needs the right to do so; without it the priority stays.
    const bool privileged = geteuid() == 0;
    const Case cases[] = {
        {1, 19},
        {3, privileged ? -10 : start},
        {2, privileged || start == 0 ? 0 : start},
        {0, privileged || start == 0 ? 0 : start},
        {7, privileged || start == 0 ? 0 : start},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level);
        // Offset by 20 so that negative nice values survive the exit code.
        const int nice = InChild([&] {
            sys::SetProcessPriority(c.level);
            return CurrentNice() + 20;
        });
        EXPECT_EQ(nice - 20, c.nice);
    }
}

class InstanceLockTest : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/trevalo-lock-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        const char* old = getenv("XDG_RUNTIME_DIR");
        hadOld_ = old != nullptr;
        if (hadOld_) old_ = old;
        setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    }
    void TearDown() override {
        if (hadOld_) {
            setenv("XDG_RUNTIME_DIR", old_.c_str(), 1);
        } else {
            unsetenv("XDG_RUNTIME_DIR");
        }
        for (const std::string& name : created_)
            unlink((dir_ + "/" + name).c_str());
        rmdir(dir_.c_str());
    }
    std::string Name(const std::string& base) {
        created_.push_back(base);
        return base;
    }

    std::string dir_;
    std::string old_;
    bool hadOld_ = false;
    std::vector<std::string> created_;
};

int LockInChild(const std::string& name) {
    return InChild([&] { return static_cast<int>(sys::AcquireSingleInstanceLock(name)); });
}

TEST_F(InstanceLockTest, SecondHolderIsTurnedAway) {
    const std::string name = Name("__trevalo_test_lock__");
    // Free before anyone holds it.
    EXPECT_EQ(LockInChild(name), static_cast<int>(sys::InstanceLock::kAcquired));

    ASSERT_EQ(sys::AcquireSingleInstanceLock(name), sys::InstanceLock::kAcquired);
    struct stat info {};
    EXPECT_EQ(stat((dir_ + "/" + name).c_str(), &info), 0);
    // Another process, even a child that inherited the descriptor, is turned away.
    EXPECT_EQ(LockInChild(name), static_cast<int>(sys::InstanceLock::kAlreadyRunning));
    EXPECT_EQ(sys::AcquireSingleInstanceLock(name), sys::InstanceLock::kAlreadyRunning);
    // Other names are independent.
    EXPECT_EQ(LockInChild(Name("__trevalo_test_other__")),
              static_cast<int>(sys::InstanceLock::kAcquired));
}

TEST_F(InstanceLockTest, HeldUntilTheProcessEnds) {
    const std::string name = Name("__trevalo_test_exit__");
    // The child takes the lock and ends without releasing it: the system drops it.
    EXPECT_EQ(LockInChild(name), static_cast<int>(sys::InstanceLock::kAcquired));
    EXPECT_EQ(sys::AcquireSingleInstanceLock(name), sys::InstanceLock::kAcquired);
}

TEST_F(InstanceLockTest, UncreatableFileIsUnavailable) {
    const int result = InChild([] {
        setenv("XDG_RUNTIME_DIR", "/nonexistent/trevalo/runtime", 1);
        return static_cast<int>(sys::AcquireSingleInstanceLock("__trevalo_test_lock__"));
    });
    EXPECT_EQ(result, static_cast<int>(sys::InstanceLock::kUnavailable));
    // A name that cannot be a file name.
    EXPECT_EQ(LockInChild(Name("no/such/subdir")),
              static_cast<int>(sys::InstanceLock::kUnavailable));
}

TEST_F(InstanceLockTest, WithoutRuntimeDirUsesTmp) {
    const std::string name = "__trevalo_test_tmp_" + std::to_string(getpid()) + "__";
    const std::string path = "/tmp/" + name;
    for (const char* value : {static_cast<const char*>(nullptr), ""}) {
        unlink(path.c_str());
        const int result = InChild([&] {
            if (value == nullptr) {
                unsetenv("XDG_RUNTIME_DIR");
            } else {
                setenv("XDG_RUNTIME_DIR", value, 1);
            }
            return static_cast<int>(sys::AcquireSingleInstanceLock(name));
        });
        EXPECT_EQ(result, static_cast<int>(sys::InstanceLock::kAcquired));
        struct stat info {};
        EXPECT_EQ(stat(path.c_str(), &info), 0);
    }
    unlink(path.c_str());
}

}  // namespace
