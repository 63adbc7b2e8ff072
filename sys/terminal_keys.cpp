// Key decoding shared by every platform's ReadKey.
#include "sys/terminal.h"
#include "sys/timer.h"

namespace sys {

namespace {
// Longer runs are not keys; stop consuming rather than swallow typed text.
constexpr std::size_t kMaxSequence = 16;
}  // namespace

bool EscapeSequenceComplete(const std::string& tail) {
    if (tail.empty()) return false;
    if (tail.size() >= kMaxSequence) return true;
    const char introducer = tail[0];
    if (introducer == 'O') return tail.size() >= 2;  // SS3: F1-F4, keypad
    if (introducer != '[') return true;              // Alt+key: ESC and one byte
    if (tail == "[[") return false;                  // Linux console F1-F5: ESC [ [ A
    for (std::size_t i = 1; i < tail.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(tail[i]);
        if (byte >= 0x40 && byte <= 0x7E) return true;  // CSI final byte
        if (byte < 0x20 || byte > 0x3F) return true;    // not part of a CSI: give up here
    }
    return false;
}

bool TerminalTypeAllowsControl(const char* termValue) {
    return termValue == nullptr || std::string(termValue) != "dumb";
}

int KeyFromBytes(const std::string& bytes) {
    if (bytes.empty()) return kKeyEndOfInput;
    const int first = static_cast<unsigned char>(bytes[0]);
    if (first != kKeyEsc) return first;
    return bytes.size() == 1 ? kKeyEsc : kKeyOther;
}

int ReadKeyFrom(bool (*readByte)(unsigned char* byte, int timeoutMs)) {
    constexpr int kEscapeWaitMs = 50;
    unsigned char byte = 0;
    if (!readByte(&byte, -1)) return kKeyEndOfInput;
    std::string bytes(1, static_cast<char>(byte));
    if (byte == kKeyEsc) {
        std::string tail;
        while (!EscapeSequenceComplete(tail) && readByte(&byte, kEscapeWaitMs)) {
            tail.push_back(static_cast<char>(byte));
        }
        bytes += tail;
    }
    return KeyFromBytes(bytes);
}

bool AskYesNo(unsigned pollMs) {
    KeyboardMode keyboard;
    for (;;) {
        SleepMs(pollMs);
        if (!KeyPressed()) continue;
        const int key = ReadKey();
        if (key == 'y' || key == 'Y') return true;
        if (key == 'n' || key == 'N' || key == kKeyEndOfInput) return false;
    }
}

}  // namespace sys
