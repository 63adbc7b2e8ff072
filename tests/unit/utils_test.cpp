#include "sys/utils.h"

#include <gtest/gtest.h>

#include "terminal_test_pty.h"

namespace {

using testpty::FdSwap;
using testpty::Pty;
using testpty::ScopedEnv;
using testpty::TempFile;

TEST(NumberFormats, EachRangeUsesItsPrecisionAndLargeValuesSaturate) {
    const std::string largest = std::to_string(0xFFFFFFFFu);
    const struct {
        double value;
        const char* fps;
        const char* tpf;
    } cases[] = {
        {0.0, "0.000", "0.0000"},    {0.99999, "1.000", "1.0000"},
        {1.0, "1.000", "1.000"},     {9.998, "9.998", "9.998"},
        {9.999, "10.00", "9.999"},   {10.0, "10.00", "10.00"},
        {99.99, "100.0", "99.99"},   {100.0, "100.0", "100.0"},
        {999.8, "999.8", "999.8"},   {999.9, "1000", "999.9"},
        {1000.0, "1000", "1000"},    {1234.5, "1235", "1235"},
        {-1.5, "-1.500", "-1.5000"}, {1e12, largest.c_str(), largest.c_str()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CUtils::FormatFPS(c.value), c.fps) << c.value;
        EXPECT_EQ(CUtils::FormatTPF(c.value), c.tpf) << c.value;
    }
}

// Padding fills to one column short of the width, up to 999 blanks; fitting cuts to it.
TEST(PadToConsoleWidth, FillsOrCutsToOneColumnShortOfTheWidth) {
    CUtils utils;
    const struct {
        int width;
        size_t length;
        size_t padded;
        size_t fitted;
    } cases[] = {{80, 10, 79, 10},   {80, 0, 79, 0},       {80, 78, 79, 78},
                 {80, 79, 79, 79},   {80, 85, 85, 79},     {0, 3, 3, 3},
                 {1011, 10, 10, 10}, {1010, 10, 1009, 10}, {40, 66, 66, 39}};
    for (const auto& c : cases) {
        utils.SetConsoleWidthForTest(c.width);
        const std::string text(c.length, 'x');
        const std::string padded = utils.PadToConsoleWidth(text);
        EXPECT_EQ(padded, text + std::string(c.padded - c.length, ' ')) << c.width << c.length;
        EXPECT_EQ(utils.FitToConsoleWidth(text), text.substr(0, c.fitted)) << c.width << c.length;
    }
}

// Colours, cursor moves and the width on a terminal; plain text into files, UseColor=0,
// NO_COLOR and a dumb terminal are the end-to-end tests'.
TEST(Console, ControlsOnATerminalNoneIntoAFile) {
    const ScopedEnv noColor("NO_COLOR", nullptr);
    const ScopedEnv term("TERM", "xterm");
    Pty pty;
    ASSERT_TRUE(pty.ok());
    pty.SetColumns(77);
    CUtils utils;
    TempFile out;
    const FdSwap swapErr(STDERR_FILENO, pty.slave());
    const FdSwap swapOut(STDOUT_FILENO, out.fd());
    // The console's attributes: intensity, the swapped red and blue bits, a background.
    const struct {
        unsigned short attribute;
        const char* sgr;
    } colours[] = {{0x0F, "97"}, {0x0B, "96"},    {0x0C, "91"},
                   {0x0A, "92"}, {0x1F, "97;44"}, {4, "31"}};
    std::string expected;
    for (const auto& c : colours) {
        utils.Print(false, c.attribute, "x");
        expected += std::string("\x1b[") + c.sgr + "mx\x1b[0m";
    }
    utils.Print(false, 0, "plain");
    EXPECT_EQ(pty.Shown(), expected + "plain");

    utils.SetConsoleStream(false);
    EXPECT_EQ(utils.ConsoleWidth(), 77);
    utils.CursorUp(3);
    EXPECT_EQ(pty.Shown(), "\x1b[3A\r");
    utils.SetConsoleStream(true);
    EXPECT_EQ(utils.ConsoleWidth(), 0);
    utils.CursorUp(2);
    EXPECT_EQ(out.Content(), "") << "standard output is a file";
}

}  // namespace
