// Pseudo-terminals and descriptor swaps for the console and keyboard tests.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace testpty {

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
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

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
    void Type(const std::string& text) const {
        const ssize_t written = write(master_, text.data(), text.size());
        static_cast<void>(written);
    }
    struct termios Mode() const {
        struct termios mode = {};
        tcgetattr(slave_, &mode);
        return mode;
    }
    bool Canonical() const { return (Mode().c_lflag & ICANON) != 0; }
    bool Echo() const { return (Mode().c_lflag & ECHO) != 0; }

  private:
    int master_ = -1;
    int slave_ = -1;
};

// Everything readable from fd until it stays quiet for quietMs.
inline std::string ReadUntilQuiet(int fd, int quietMs = 100) {
    std::string text;
    for (;;) {
        struct pollfd pfd = {fd, POLLIN, 0};
        if (poll(&pfd, 1, quietMs) <= 0 || (pfd.revents & POLLIN) == 0) break;
        char buffer[256];
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

// Puts replacement in place of a standard descriptor until destroyed.
class FdSwap {
  public:
    FdSwap(int target, int replacement) : target_(target) {
        std::fflush(nullptr);
        saved_ = dup(target);
        dup2(replacement, target);
    }
    ~FdSwap() {
        std::fflush(nullptr);
        dup2(saved_, target_);
        close(saved_);
    }
    FdSwap(const FdSwap&) = delete;
    FdSwap& operator=(const FdSwap&) = delete;

  private:
    int target_;
    int saved_ = -1;
};

// A temporary file whose content can be read back.
class TempFile {
  public:
    TempFile() {
        char name[] = "/tmp/trevalo_utils_XXXXXX";
        fd_ = mkstemp(name);
        path_ = name;
    }
    ~TempFile() {
        if (fd_ >= 0) close(fd_);
        unlink(path_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    std::string Content() const {
        std::string text;
        char buffer[256];
        ssize_t got;
        off_t offset = 0;
        while ((got = pread(fd_, buffer, sizeof buffer, offset)) > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
            offset += got;
        }
        return text;
    }

  private:
    int fd_ = -1;
    std::string path_;
};

}  // namespace testpty
