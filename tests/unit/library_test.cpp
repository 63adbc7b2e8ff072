#include "sys/library.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "sys/utils.h"

namespace {

using CosFunction = double (*)(double);

TEST(Library, OpensAndResolves) {
    sys::Library library;
    EXPECT_FALSE(library.IsOpen());
    ASSERT_TRUE(library.Open("libm.so.6")) << CUtils::GetLastErrorText();
    EXPECT_TRUE(library.IsOpen());
    auto cosine = reinterpret_cast<CosFunction>(library.Symbol("cos"));
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
    EXPECT_TRUE(library.Close());
    EXPECT_FALSE(library.IsOpen());
    // Closing again has nothing to do.
    EXPECT_TRUE(library.Close());
}

TEST(Library, MissingFileFailsWithTheLoaderText) {
    sys::ClearLastError();
    sys::Library library;
    const std::string path = "/nonexistent/dir/libnothing-here.so";
    EXPECT_FALSE(library.Open(path));
    EXPECT_FALSE(library.IsOpen());
    const std::string text = CUtils::GetLastErrorText();
    EXPECT_NE(text.find("libnothing-here.so"), std::string::npos) << text;
}

TEST(Library, FileThatIsNotALibraryFails) {
    sys::ClearLastError();
    sys::Library library;
    // An existing file of another kind (a directory) is refused, not crashed on.
    EXPECT_FALSE(library.Open("/"));
    EXPECT_FALSE(CUtils::GetLastErrorText().empty());
}

TEST(Library, MissingSymbolIsNullWithText) {
    sys::Library library;
    ASSERT_TRUE(library.Open("libc.so.6"));
    sys::ClearLastError();
    EXPECT_EQ(library.Symbol("no_such_symbol_in_libc_xyz"), nullptr);
    const std::string text = CUtils::GetLastErrorText();
    EXPECT_NE(text.find("no_such_symbol_in_libc_xyz"), std::string::npos) << text;
    // The library stays usable.
    EXPECT_NE(library.Symbol("strlen"), nullptr);
}

TEST(Library, SymbolWithoutLibraryIsNull) {
    sys::ClearLastError();
    sys::Library library;
    EXPECT_EQ(library.Symbol("cos"), nullptr);
    EXPECT_FALSE(CUtils::GetLastErrorText().empty());
}

TEST(Library, MovesTransferTheHandle) {
    sys::Library first;
    ASSERT_TRUE(first.Open("libm.so.6"));
    sys::Library second(std::move(first));
    EXPECT_FALSE(first.IsOpen());  // NOLINT(bugprone-use-after-move): moved-from state
    EXPECT_TRUE(second.IsOpen());
    EXPECT_NE(second.Symbol("cos"), nullptr);

    sys::Library third;
    ASSERT_TRUE(third.Open("libc.so.6"));
    third = std::move(second);      // the libc handle is closed, the libm one taken over
    EXPECT_FALSE(second.IsOpen());  // NOLINT(bugprone-use-after-move)
    ASSERT_TRUE(third.IsOpen());
    EXPECT_NE(third.Symbol("cos"), nullptr);
}

TEST(Library, ReopenReplacesTheLibrary) {
    sys::Library library;
    ASSERT_TRUE(library.Open("libc.so.6"));
    ASSERT_TRUE(library.Open("libm.so.6"));
    EXPECT_NE(library.Symbol("cos"), nullptr);
    EXPECT_FALSE(library.Open("/nonexistent/libx.so"));
    EXPECT_FALSE(library.IsOpen());
}

// True when the loader has the library mapped, without loading it.
bool Loaded(const char* name) {
    void* handle = dlopen(name, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return false;
    dlclose(handle);
    return true;
}

TEST(Library, CloseUnloadsAndReleaseKeepsLoaded) {
    // A library the test program does not link, so that only this object holds it.
    const char* name = "libanl.so.1";
    if (Loaded(name)) GTEST_SKIP() << name << " is loaded already";
    {
        sys::Library library;
        ASSERT_TRUE(library.Open(name)) << CUtils::GetLastErrorText();
        EXPECT_TRUE(Loaded(name));
        EXPECT_TRUE(library.Close());
        EXPECT_FALSE(Loaded(name));
    }
    {
        sys::Library library;
        ASSERT_TRUE(library.Open(name));
    }
    EXPECT_FALSE(Loaded(name)) << "the destructor closes";
    {
        sys::Library library;
        ASSERT_TRUE(library.Open(name));
        sys::Library other;
        ASSERT_TRUE(other.Open("libm.so.6"));
        library = std::move(other);
        EXPECT_FALSE(Loaded(name)) << "move assignment closes the held library";
    }
    {
        sys::Library library;
        ASSERT_TRUE(library.Open(name));
        library.Release();
        EXPECT_FALSE(library.IsOpen());
        EXPECT_TRUE(library.Close());
    }
    EXPECT_TRUE(Loaded(name));
}

TEST(Library, DefaultAvisynthName) {
    EXPECT_EQ(sys::DefaultAvisynthLibraryName(), "libavisynth.so");
}

}  // namespace
