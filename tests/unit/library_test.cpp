#include "sys/library.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "sys/utils.h"

namespace {

// True when the loader has the library mapped, without loading it.
bool Loaded(const char* name) {
    void* handle = dlopen(name, RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) dlclose(handle);
    return handle != nullptr;
}

TEST(Library, EveryWayOfLettingGoClosesExceptRelease) {
    // A library the test program does not link, so that only these objects hold it.
    const char* name = "libanl.so.1";
    if (Loaded(name)) GTEST_SKIP() << name << " is loaded already";
    {
        sys::Library library, other, moved;
        ASSERT_TRUE(library.Open(name)) << CUtils::GetLastErrorText();
        EXPECT_TRUE(Loaded(name));
        EXPECT_TRUE(library.Close() && !library.IsOpen() && !Loaded(name)) << "Close";
        ASSERT_TRUE(library.Open(name) && library.Open("libm.so.6"));
        EXPECT_FALSE(Loaded(name)) << "Open of another library";
        ASSERT_TRUE(library.Open(name) && other.Open("libm.so.6"));
        library = std::move(other);
        EXPECT_FALSE(Loaded(name)) << "move assignment";
        moved = sys::Library(std::move(library));
        EXPECT_FALSE(library.IsOpen() || other.IsOpen());  // NOLINT(bugprone-use-after-move)
        EXPECT_NE(moved.Symbol("cos"), nullptr);
        EXPECT_EQ(moved.Symbol("no_such_symbol_xyz"), nullptr);
        ASSERT_TRUE(library.Open(name));
    }
    EXPECT_FALSE(Loaded(name)) << "the destructor";
    {
        sys::Library library;
        ASSERT_TRUE(library.Open(name));
        library.Release();
        EXPECT_TRUE(!library.IsOpen() && library.Close());
    }
    EXPECT_TRUE(Loaded(name)) << "Release keeps it loaded";
}

}  // namespace
