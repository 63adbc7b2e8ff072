#include "sys/utils.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "terminal_test_pty.h"

namespace {

using testpty::FdSwap;
using testpty::Pty;
using testpty::ReadUntilQuiet;
using testpty::TempFile;

// Formats through a variable so that the compiler cannot see the null format.
const char* NullFormat() {
    static const char* const format = nullptr;
    return format;
}

TEST(FormatFPS, EachRangeUsesItsPrecision) {
    EXPECT_EQ(CUtils::FormatFPS(0.0), "0.000");
    EXPECT_EQ(CUtils::FormatFPS(9.998), "9.998");
    EXPECT_EQ(CUtils::FormatFPS(9.999), "10.00");
    EXPECT_EQ(CUtils::FormatFPS(99.98), "99.98");
    EXPECT_EQ(CUtils::FormatFPS(99.99), "100.0");
    EXPECT_EQ(CUtils::FormatFPS(999.8), "999.8");
    EXPECT_EQ(CUtils::FormatFPS(999.9), "1000");
    EXPECT_EQ(CUtils::FormatFPS(1234.5), "1235");
    EXPECT_EQ(CUtils::FormatFPS(1234.4), "1234");
    EXPECT_EQ(CUtils::FormatFPS(-1.5), "-1.500");
}

TEST(FormatTPF, EachRangeUsesItsPrecision) {
    EXPECT_EQ(CUtils::FormatTPF(0.12345), "0.1235");
    EXPECT_EQ(CUtils::FormatTPF(0.99999), "1.0000");
    EXPECT_EQ(CUtils::FormatTPF(1.0), "1.000");
    EXPECT_EQ(CUtils::FormatTPF(9.9994), "9.999");
    EXPECT_EQ(CUtils::FormatTPF(10.0), "10.00");
    EXPECT_EQ(CUtils::FormatTPF(99.994), "99.99");
    EXPECT_EQ(CUtils::FormatTPF(100.0), "100.0");
    EXPECT_EQ(CUtils::FormatTPF(999.94), "999.9");
    EXPECT_EQ(CUtils::FormatTPF(1000.0), "1000");
    EXPECT_EQ(CUtils::FormatTPF(1234.5), "1235");
    EXPECT_EQ(CUtils::FormatTPF(-0.5), "-0.5000");
    EXPECT_EQ(CUtils::FormatTPF(-50.0), "-50.0000");
}

TEST(FormatNumbers, ValuesBeyondThirtyTwoBitsSaturate) {
    const std::string largest = std::to_string(0xFFFFFFFFu);
    EXPECT_EQ(CUtils::FormatFPS(1e12), largest);
    EXPECT_EQ(CUtils::FormatTPF(1e300), largest);
    EXPECT_EQ(CUtils::FormatFPS(4294967294.0), std::to_string(0xFFFFFFFEu));
    EXPECT_EQ(CUtils::FormatFPS(4294967295.0), largest);
}

TEST(PadToConsoleWidth, FillsToOneColumnShortOfTheWidth) {
    CUtils utils;
    utils.SetConsoleWidthForTest(80);
    const std::string ten(10, 'x');
    const std::string padded = utils.PadToConsoleWidth(ten);
    EXPECT_EQ(padded.size(), 79u);
    EXPECT_EQ(padded, ten + std::string(69, ' '));
    EXPECT_EQ(utils.PadToConsoleWidth(std::string(78, 'x')).size(), 79u);
    EXPECT_EQ(utils.PadToConsoleWidth(std::string(79, 'x')), std::string(79, 'x'));
    EXPECT_EQ(utils.PadToConsoleWidth(std::string(85, 'x')), std::string(85, 'x'));
    EXPECT_EQ(utils.PadToConsoleWidth(""), std::string(79, ' '));
}

TEST(PadToConsoleWidth, NoWidthOrAHugeWidthLeavesTheTextAlone) {
    CUtils utils;
    utils.SetConsoleWidthForTest(0);
    EXPECT_EQ(utils.PadToConsoleWidth("abc"), "abc");
    EXPECT_EQ(utils.PadToConsoleWidth(""), "");
    utils.SetConsoleWidthForTest(1000 + 10 + 1);  // would need 1000 blanks
    EXPECT_EQ(utils.PadToConsoleWidth(std::string(10, 'x')), std::string(10, 'x'));
    utils.SetConsoleWidthForTest(999 + 10 + 1);
    EXPECT_EQ(utils.PadToConsoleWidth(std::string(10, 'x')).size(), 1009u);
}

TEST(FormatString, FormatsUpTo4095Characters) {
    EXPECT_EQ(CUtils::FormatString("%d-%s-%.2f", 7, "x", 1.5), "7-x-1.50");
    for (const std::size_t length : {255u, 256u, 511u, 512u, 2048u, 4095u}) {
        const std::string text(length, 'a');
        EXPECT_EQ(CUtils::FormatString("%s", text.c_str()), text) << length;
    }
    EXPECT_EQ(CUtils::FormatString("%s", std::string(4096, 'a').c_str()), "");
    EXPECT_EQ(CUtils::FormatString("%s", std::string(10000, 'a').c_str()), "");
    EXPECT_EQ(CUtils::FormatString("%s", ""), "");
}

TEST(FormatString, NullFormatGivesEmptyText) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    EXPECT_EQ(CUtils::FormatString(NullFormat()), "");
#pragma GCC diagnostic pop
}

TEST(IsNumber, DigitsAndMinusSignsAnywhere) {
    for (const char* text : {"0", "123", "-12", "12-", "---", "1-2-3"}) {
        EXPECT_TRUE(CUtils::IsNumber(text)) << text;
    }
    for (const char* text : {"", "+1", "1.5", "12a", " 1", "1 ", "0x10"}) {
        EXPECT_FALSE(CUtils::IsNumber(text)) << text;
    }
}

TEST(Trim, RemovesBlanksTabsAndLineEndsAtBothEnds) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"  \t a b \r\n", "a b"}, {"abc", "abc"},     {" \t\r\n", ""}, {"", ""},
        {"a\t b", "a\t b"},       {"\vx\v", "\vx\v"},
    };
    for (const auto& c : cases) {
        std::string text = c.in;
        CUtils::Trim(text);
        EXPECT_EQ(text, c.out) << '"' << c.in << '"';
    }
}

TEST(ToLower, LowersAsciiAndKeepsOtherBytes) {
    std::string text = "MiXeD 123 -AVSINFO";
    CUtils::ToLower(text);
    EXPECT_EQ(text, "mixed 123 -avsinfo");
    std::string utf8 = "\xC3\x9C\xFF";
    CUtils::ToLower(utf8);
    EXPECT_EQ(utf8, "\xC3\x9C\xFF");
}

TEST(FileExists, TrueOnlyForAnExistingNonDirectory) {
    TempFile file;
    ASSERT_GE(file.fd(), 0);
    EXPECT_TRUE(CUtils::FileExists(file.path()));
    EXPECT_FALSE(CUtils::FileExists("/tmp"));
    EXPECT_FALSE(CUtils::FileExists(""));

    sys::ClearLastError();
    EXPECT_FALSE(CUtils::FileExists(file.path() + ".missing"));
    EXPECT_EQ(CUtils::GetLastErrorText(), std::strerror(ENOENT));
}

TEST(LastError, ReturnsTheStoredTextExactly) {
    sys::SetLastErrorText("libavisynth.so: cannot open shared object file\n");
    EXPECT_EQ(CUtils::GetLastErrorText(), "libavisynth.so: cannot open shared object file\n");
    sys::ClearLastError();
    EXPECT_EQ(CUtils::GetLastErrorText(), "");
    sys::SetLastErrorFromErrno(EACCES);
    EXPECT_EQ(CUtils::GetLastErrorText(), std::strerror(EACCES));
    sys::ClearLastError();
}

TEST(ColorEnabled, NeedsSettingTerminalAndNoNoColor) {
    EXPECT_TRUE(ColorEnabled(true, true, nullptr));
    EXPECT_TRUE(ColorEnabled(true, true, ""));  // an empty NO_COLOR does not count
    EXPECT_FALSE(ColorEnabled(false, true, nullptr));
    EXPECT_FALSE(ColorEnabled(true, false, nullptr));
    EXPECT_FALSE(ColorEnabled(true, true, "1"));
    EXPECT_FALSE(ColorEnabled(true, true, "0"));
}

TEST(AnsiColorSequence, MapsTheConsoleAttributes) {
    EXPECT_EQ(AnsiColorSequence(0x0F), "\x1b[97m");  // bright white
    EXPECT_EQ(AnsiColorSequence(0x0B), "\x1b[96m");  // bright cyan
    EXPECT_EQ(AnsiColorSequence(0x0C), "\x1b[91m");  // bright red
    EXPECT_EQ(AnsiColorSequence(0x0A), "\x1b[92m");  // bright green
    EXPECT_EQ(AnsiColorSequence(0x01), "\x1b[34m");  // blue bit
    EXPECT_EQ(AnsiColorSequence(0x04), "\x1b[31m");  // red bit
    EXPECT_EQ(AnsiColorSequence(0x06), "\x1b[33m");  // red + green
    EXPECT_EQ(AnsiColorSequence(0x07), "\x1b[37m");
    EXPECT_EQ(AnsiColorSequence(0x08), "\x1b[90m");
    EXPECT_EQ(AnsiColorSequence(0x1F), "\x1b[97;44m");
    EXPECT_EQ(AnsiColorSequence(0xC0), "\x1b[30;101m");
    EXPECT_EQ(AnsiColorSequence(0), "");
}

// Keeps NO_COLOR as the test wants it and puts the old value back.
class NoColorEnv {
  public:
    explicit NoColorEnv(const char* value) {
        const char* old = std::getenv("NO_COLOR");
        hadOld_ = old != nullptr;
        if (hadOld_) old_ = old;
        if (value != nullptr) {
            setenv("NO_COLOR", value, 1);
        } else {
            unsetenv("NO_COLOR");
        }
    }
    ~NoColorEnv() {
        if (hadOld_) {
            setenv("NO_COLOR", old_.c_str(), 1);
        } else {
            unsetenv("NO_COLOR");
        }
    }

  private:
    bool hadOld_ = false;
    std::string old_;
};

TEST(Print, IntoAFileWritesPlainTextEvenWithColour) {
    const NoColorEnv noColor(nullptr);
    CUtils utils;
    utils.SetUseColor(true);
    TempFile err, out;
    {
        const FdSwap swapErr(STDERR_FILENO, err.fd());
        const FdSwap swapOut(STDOUT_FILENO, out.fd());
        utils.Print(false, 0x0B, "\n%s %d\n", "error", 42);
        utils.Print(true, 0x0F, "report");
        utils.Print(false, 0, "plain");
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        utils.Print(false, 0x0C, NullFormat());
#pragma GCC diagnostic pop
    }
    EXPECT_EQ(err.Content(), "\nerror 42\nplain");
    EXPECT_EQ(out.Content(), "report");
}

TEST(Print, ColoursATerminalUnlessSwitchedOff) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    CUtils utils;
    {
        const FdSwap swapErr(STDERR_FILENO, pty.slave());
        {
            const NoColorEnv noColor(nullptr);
            utils.Print(false, 0x0B, "cyan");
            EXPECT_EQ(ReadUntilQuiet(pty.master()), "\x1b[96mcyan\x1b[0m");
            utils.Print(false, 0, "plain");
            EXPECT_EQ(ReadUntilQuiet(pty.master()), "plain");
            utils.SetUseColor(false);
            utils.Print(false, 0x0B, "setting off");
            EXPECT_EQ(ReadUntilQuiet(pty.master()), "setting off");
            utils.SetUseColor(true);
        }
        {
            const NoColorEnv noColor("1");
            utils.Print(false, 0x0C, "no colour");
            EXPECT_EQ(ReadUntilQuiet(pty.master()), "no colour");
        }
    }
}

TEST(CursorUp, MovesOnATerminalOnly) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    TempFile file;
    CUtils utils;
    {
        const FdSwap swapErr(STDERR_FILENO, pty.slave());
        const FdSwap swapOut(STDOUT_FILENO, file.fd());
        utils.SetConsoleStream(false);
        utils.CursorUp(3);
        EXPECT_EQ(ReadUntilQuiet(pty.master()), "\x1b[3A\r");
        utils.SetConsoleStream(true);
        utils.CursorUp(2);
    }
    EXPECT_EQ(file.Content(), "");
    EXPECT_EQ(ReadUntilQuiet(pty.master(), 20), "");
}

TEST(ConsoleWidth, FollowsTheConsoleStream) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    pty.SetColumns(77);
    TempFile file;
    CUtils utils;
    const FdSwap swapErr(STDERR_FILENO, pty.slave());
    const FdSwap swapOut(STDOUT_FILENO, file.fd());
    utils.SetConsoleStream(false);
    EXPECT_EQ(utils.ConsoleWidth(), 77);
    EXPECT_EQ(utils.PadToConsoleWidth("abc").size(), 76u);
    utils.SetConsoleStream(true);
    EXPECT_EQ(utils.ConsoleWidth(), 0);
    EXPECT_EQ(utils.PadToConsoleWidth("abc"), "abc");
}

}  // namespace
