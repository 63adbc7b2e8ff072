// Portable half of CUtils: printing, text formats and the last-error store.
#include "sys/utils.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "sys/terminal.h"

CUtils g_utils;

namespace {

// Never destroyed, so that code running late in the exit still finds it.
std::string& LastErrorStorage() {
    static std::string* text = new std::string;
    return *text;
}

// value + 0.5 cut to unsigned 32 bits; saturates instead of overflowing the conversion.
unsigned RoundedUnsigned(double value) {
    const double rounded = value + 0.5;
    if (!(rounded >= 0.0)) return 0;
    if (rounded >= static_cast<double>(std::numeric_limits<unsigned>::max())) {
        return std::numeric_limits<unsigned>::max();
    }
    return static_cast<unsigned>(rounded);
}

bool IsTrimmed(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

namespace sys {

void SetLastErrorText(std::string text) {
    LastErrorStorage() = std::move(text);
}

void SetLastErrorFromErrno(int errorNumber) {
    SetLastErrorText(std::strerror(errorNumber));
}

void ClearLastError() {
    LastErrorStorage().clear();
}

}  // namespace sys

CUtils::CUtils() {
    consoleWidth_ = sys::TerminalColumns(toStdout_);
}

CUtils::~CUtils() {
    sys::ResetPendingColour();
}

void CUtils::SetConsoleStream(bool toStdout) {
    toStdout_ = toStdout;
    consoleWidth_ = sys::TerminalColumns(toStdout_);
}

void CUtils::Print(bool toStdout, unsigned short colour, const char* format, ...) {
    if (format == nullptr) return;
    std::FILE* stream = toStdout ? stdout : stderr;
    const bool terminal = sys::IsTerminal(toStdout);
    const bool coloured = colour != 0 && ColorEnabled(useColor_, terminal, std::getenv("NO_COLOR"));
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    bool& lineOpen = lineOpen_[toStdout ? 0 : 1];
    if (!terminal) {
        // A carriage return only serves to overwrite a line on a terminal; in a file or a
        // pipe it would start lines with garbage. What would overwrite an open line (a
        // prompt's) starts a line of its own instead.
        const bool overwrites = !text.empty() && text[0] == '\r';
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        if (overwrites && lineOpen && !text.empty() && text[0] != '\n') text.insert(0, "\n");
    }
    if (text.empty()) return;
    lineOpen = text.back() != '\n';
    if (coloured) sys::BeginColour(toStdout, stream, colour);
    std::fwrite(text.data(), 1, text.size(), stream);
    if (coloured) {
        sys::EndColour(toStdout, stream);
    } else {
        std::fflush(stream);
    }
    NoteOutputState(toStdout);
}

void CUtils::NoteOutputState(bool toStdout) {
    int& error = outputError_[toStdout ? 0 : 1];
    if (error == 0 && std::ferror(toStdout ? stdout : stderr)) error = errno != 0 ? errno : EIO;
}

std::string CUtils::OutputFailure(bool toStdout) {
    for (const bool out : {true, false}) {
        std::fflush(out ? stdout : stderr);
        NoteOutputState(out);
    }
    const int error = outputError_[toStdout ? 0 : 1];
    // No stream at all (a Windows program started without one) is no failure either.
    return error == 0 || error == EPIPE || error == EBADF ? "" : std::strerror(error);
}

void CUtils::PrintPadded(unsigned short colour, const std::string& text, const char* tail) {
    if (!sys::IsTerminal(toStdout_)) {
        // Nothing can be overwritten here: a whole line is written plainly, a status line or
        // a blanking not at all, except that a blank whole line ends one left open (a prompt).
        if (std::strcmp(tail, "\n") != 0) return;
        if (!text.empty()) {
            Print(toStdout_, colour, "\r%s\n", text.c_str());
        } else if (lineOpen_[toStdout_ ? 0 : 1]) {
            Print(toStdout_, 0, "\n");
        }
        return;
    }
    Print(toStdout_, colour, "\r%s%s", PadToConsoleWidth(text).c_str(), tail);
}

std::string CUtils::GetLastErrorText() {
    return LastErrorStorage();
}

void CUtils::SetUseColor(bool useColor) {
    useColor_ = useColor;
}

void CUtils::SetConsoleWidthForTest(int width) {
    consoleWidth_ = width;
}

int CUtils::ConsoleWidth() const {
    return consoleWidth_;
}

std::string CUtils::PadToConsoleWidth(const std::string& text) const {
    const long long count =
        static_cast<long long>(consoleWidth_) - static_cast<long long>(text.size()) - 1;
    if (count < 0 || count > 999) return text;
    return text + std::string(static_cast<std::size_t>(count), ' ');
}

std::string CUtils::FitToConsoleWidth(const std::string& text) const {
    if (consoleWidth_ <= 1 || text.size() < static_cast<std::size_t>(consoleWidth_)) return text;
    return text.substr(0, static_cast<std::size_t>(consoleWidth_ - 1));
}

std::string CUtils::FormatString(const char* format, ...) {
    if (format == nullptr) return std::string();
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    return text;
}

std::string CUtils::FormatV(const char* format, va_list args) {
    // Messages carry paths and the frame server's texts whole, however long they are.
    char buffer[512];
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    std::string text;
    if (length >= 0 && static_cast<std::size_t>(length) < sizeof buffer) {
        text.assign(buffer, static_cast<std::size_t>(length));
    } else if (length > 0) {
        text.resize(static_cast<std::size_t>(length));
        std::vsnprintf(&text[0], text.size() + 1, format, again);
    }
    va_end(again);
    return text;
}

std::string CUtils::FormatFPS(double value) {
    if (value < 9.999) return FormatString("%.3f", value);
    if (value < 99.99) return FormatString("%.2f", value);
    if (value < 999.9) return FormatString("%.1f", value);
    return FormatString("%u", RoundedUnsigned(value));
}

std::string CUtils::FormatTPF(double value) {
    if (value < 1.0) return FormatString("%.4f", value);
    if (value < 10.0) return FormatString("%.3f", value);
    if (value < 100.0) return FormatString("%.2f", value);
    if (value < 1000.0) return FormatString("%.1f", value);
    return FormatString("%u", RoundedUnsigned(value));
}

void CUtils::Trim(std::string& text) {
    std::size_t end = text.size();
    while (end > 0 && IsTrimmed(text[end - 1]))
        --end;
    std::size_t begin = 0;
    while (begin < end && IsTrimmed(text[begin]))
        ++begin;
    text = text.substr(begin, end - begin);
}

void CUtils::ToLower(std::string& text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool CUtils::IsNumber(const std::string& text) {
    if (text.empty()) return false;
    for (const char c : text) {
        if (c != '-' && (c < '0' || c > '9')) return false;
    }
    return true;
}

bool ColorEnabled(bool useColor, bool streamIsTerminal, const char* noColorValue) {
    const bool noColor = noColorValue != nullptr && noColorValue[0] != '\0';
    return useColor && streamIsTerminal && !noColor;
}

std::string AnsiColorSequence(unsigned short attribute) {
    if (attribute == 0) return std::string();
    // Windows orders the bits blue, green, red; ANSI red, green, blue.
    const auto ansiColour = [](unsigned bits) {
        return ((bits & 4u) ? 1u : 0u) | (bits & 2u) | ((bits & 1u) ? 4u : 0u);
    };
    const unsigned foreground = attribute & 0x0Fu;
    const unsigned background = (attribute >> 4) & 0x0Fu;
    std::string sequence =
        CUtils::FormatString("\x1b[%u", ansiColour(foreground) + ((foreground & 8u) ? 90u : 30u));
    // A black background is left to the terminal's own background.
    if (background != 0) {
        sequence +=
            CUtils::FormatString(";%u", ansiColour(background) + ((background & 8u) ? 100u : 40u));
    }
    return sequence + "m";
}
