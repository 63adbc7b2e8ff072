// Key decoding shared by every platform's ReadKey.
#include "sys/terminal.h"
#include "sys/timer.h"

namespace sys {

namespace {
// Longer runs are not keys; stop consuming rather than swallow typed text.
constexpr std::size_t kMaxSequence = 16;

constexpr unsigned short kVirtualKeyEscape = 0x1B;
constexpr unsigned long kVirtualTerminalInput = 0x0200;

// Keys that only change others: pressed alone, they are no key to answer with.
bool IsModifierKey(unsigned short virtualKey) {
    switch (virtualKey) {
        case 0x10:  // Shift
        case 0x11:  // Ctrl
        case 0x12:  // Alt
        case 0x14:  // Caps Lock
        case 0x5B:  // left Windows key
        case 0x5C:  // right Windows key
        case 0x90:  // Num Lock
        case 0x91:  // Scroll Lock
            return true;
        default:
            return virtualKey >= 0xA0 && virtualKey <= 0xA5;  // left and right Shift, Ctrl, Alt
    }
}
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

int KeyFromConsoleEvents(const std::vector<ConsoleKeyEvent>& events, std::size_t& consumed) {
    for (std::size_t i = 0; i < events.size(); ++i) {
        const ConsoleKeyEvent& event = events[i];
        if (!event.keyDown || (event.character == 0 && IsModifierKey(event.virtualKey))) continue;
        consumed = i + 1;
        // Wine delivers a lone Esc without its character.
        if (event.character == 0) {
            return event.virtualKey == kVirtualKeyEscape ? kKeyEsc : kKeyOther;
        }
        // Checked by the character, never by a lead byte: à is 0xE0 in code page 1252.
        if (event.character != static_cast<unsigned>(kKeyEsc)) {
            return static_cast<int>(event.character);
        }
        // Virtual-terminal input writes a key's whole sequence at once: ESC, then [ or O with
        // the rest already waiting. An ESC that nothing of the kind follows is Esc.
        std::string tail;
        std::size_t next = i + 1;
        for (; next < events.size() && !EscapeSequenceComplete(tail); ++next) {
            const ConsoleKeyEvent& more = events[next];
            if (!more.keyDown) continue;
            if (tail.empty() && more.character != '[' && more.character != 'O') break;
            tail.push_back(static_cast<char>(more.character));
        }
        if (tail.empty()) return kKeyEsc;
        consumed = next;
        return kKeyOther;
    }
    consumed = events.size();
    return kNoKey;
}

unsigned long KeyReadingConsoleMode(unsigned long mode) {
    return mode & ~kVirtualTerminalInput;
}

bool PipeInputReady(bool peeked, bool brokenPipe, unsigned long available) {
    return peeked ? available > 0 : brokenPipe;
}

bool AskYesNo(unsigned pollMs) {
    KeyboardMode keyboard;
    const bool terminal = StdinIsTerminal();
    for (;;) {
        if (terminal) {
            SleepMs(pollMs);
            if (!KeyPressed()) continue;
        }
        const int key = ReadKey();
        if (key == 'y' || key == 'Y') return true;
        if (key == 'n' || key == 'N' || key == kKeyEndOfInput) return false;
    }
}

void WaitForAnyKey(unsigned pollMs) {
    KeyboardMode keyboard;
    if (!StdinIsTerminal()) {
        ReadKey();
        return;
    }
    while (!KeyPressed())
        SleepMs(pollMs);
}

}  // namespace sys
