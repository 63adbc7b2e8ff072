// Pseudo-terminals, descriptor swaps, captured output and environment variables.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace testpty {

inline void WriteAll(int fd, const std::string& text) {
    const ssize_t written = write(fd, text.data(), text.size());
    static_cast<void>(written);
}

// How long a test waits for what must come; reached only when something is wrong.
constexpr int kPatienceMs = 30000;

// Reads fd until what was read contains text or kPatienceMs pass; returns what was read.
inline std::string ReadUntil(int fd, const std::string& text) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatienceMs);
    while (got.find(text) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        struct pollfd pfd = {fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[256];
        const ssize_t count = read(fd, buffer, sizeof buffer);
        if (count <= 0) break;
        got.append(buffer, static_cast<std::size_t>(count));
    }
    return got;
}

// A pseudo-terminal pair; the slave is not made our controlling terminal.
class Pty {
  public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        const char* name = ptsname(master_);
        if (name != nullptr) slave_ = open(name, O_RDWR | O_NOCTTY);
    }
    ~Pty() {
        if (slave_ >= 0) close(slave_);
        if (master_ >= 0) close(master_);
    }

    bool ok() const { return master_ >= 0 && slave_ >= 0; }
    int master() const { return master_; }
    int slave() const { return slave_; }

    void SetColumns(unsigned short columns) const {
        struct winsize size = {};
        size.ws_row = 24;
        size.ws_col = columns;
        ioctl(slave_, TIOCSWINSZ, &size);
    }
    // Types text as if from the keyboard.
    void Type(const std::string& text) const { WriteAll(master_, text); }
    // What the terminal has shown since the last look. A mark written behind it arrives
    // last, so everything written or echoed before is in, however slow the machine.
    std::string Shown() const {
        static const char kMark[] = "<end of shown>";
        WriteAll(slave_, kMark);
        const std::string shown = ReadUntil(master_, kMark);
        const std::size_t mark = shown.find(kMark);
        return mark == std::string::npos ? shown + "<no end mark>" : shown.substr(0, mark);
    }
    // Waits until a key typed is there to read; false after kPatienceMs.
    bool InputReady() const {
        struct pollfd pfd = {slave_, POLLIN, 0};
        return poll(&pfd, 1, kPatienceMs) == 1;
    }
    struct termios Mode() const {
        struct termios mode = {};
        tcgetattr(slave_, &mode);
        return mode;
    }
    // Cooked: line mode and echo, as a shell wants them; raw: neither, for single keys.
    bool Cooked() const { return (Mode().c_lflag & (ICANON | ECHO)) == (ICANON | ECHO); }
    bool Raw() const { return (Mode().c_lflag & (ICANON | ECHO)) == 0; }

  private:
    int master_ = -1;
    int slave_ = -1;
};

// Puts replacement in place of a standard descriptor until destroyed.
class FdSwap {
  public:
    FdSwap(int target, int replacement) : target_(target) {
        std::fflush(nullptr);
        saved_ = fcntl(target, F_DUPFD_CLOEXEC, 0);
        dup2(replacement, target);
    }
    ~FdSwap() {
        std::fflush(nullptr);
        if (saved_ < 0) {
            close(target_);  // it was closed before
            return;
        }
        dup2(saved_, target_);
        close(saved_);
    }

  private:
    int target_;
    int saved_ = -1;
};

// An anonymous temporary file whose content can be read back.
class TempFile {
  public:
    ~TempFile() { std::fclose(file_); }
    int fd() const { return fileno(file_); }
    std::string Content() const {
        std::ifstream in("/proc/self/fd/" + std::to_string(fd()), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

  private:
    std::FILE* file_ = std::tmpfile();
};

// Sets an environment variable (nullptr: removes it) and puts the old state back.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = getenv(name)) old_ = old;
        Set(value);
    }
    ~ScopedEnv() { Set(old_ ? old_->c_str() : nullptr); }

  private:
    void Set(const char* value) const {
        static_cast<void>(value ? setenv(name_.c_str(), value, 1) : unsetenv(name_.c_str()));
    }
    std::string name_;
    std::optional<std::string> old_;
};

}  // namespace testpty
