// The run's console conventions: its colours, status lines and error messages.
#pragma once

#include <string>

#include "sys/utils.h"

namespace app {

constexpr unsigned short kNoColor = 0;
constexpr unsigned short kWhite = 0x0F;  // reports and figures
constexpr unsigned short kCyan = 0x0B;   // errors and warnings
constexpr unsigned short kRed = 0x0C;    // the banner
constexpr unsigned short kGreen = 0x0A;  // AviSynth's version in the banner
constexpr int kExitError = -1;

// A line that the next output overwrites.
inline void StatusLine(const char* text) {
    g_utils.PrintPadded(kNoColor, text, "\r");
}

// Blanks the current line: "\r", the padded empty text, then tail ("\r", "" or "\n").
inline void ClearLine(const char* tail) {
    g_utils.PrintPadded(kNoColor, "", tail);
}

// Prints the message in the error colour on the console stream; the run then ends with -1.
inline int Stop(const std::string& message) {
    g_utils.Print(g_utils.ConsoleIsStdout(), kCyan, "%s", message.c_str());
    return kExitError;
}

}  // namespace app
