// Requests frames of a script from the built minisynth through the C interface, for the tests
// of how a fault ends the process: writes "n " for each frame it gets, "n:<error> " for each
// refused, "end" at the end.
//   minisynth_render <script> <item>...
// Items, in order: a frame number; "pause", a minute's sleep while Prefetch's workers go on;
// "-catch", a SIGSEGV handler from then on that writes "caught", allocates, writes "allocated".
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "host/host.h"

namespace {

void Say(const char* text) {
    if (write(STDERR_FILENO, text, std::strlen(text)) < 0) {
        // nowhere to report it
    }
}

// A handler that reports a fault, as a program's own would: it needs the heap.
void CatchThenAllocate(int) {
    Say("caught\n");
    void* volatile block = std::malloc(16);
    std::free(block);
    Say("allocated\n");
    _exit(0);
}

// With no stack limit, ends the program should the main thread's stack pass 256 MB: a stack
// overflow that is not stopped in time would otherwise take the machine's memory. Allocates
// nothing, so that it also runs with the heap locked.
void WatchStack() {
    for (;;) {
        char status[8192];
        const int fd = open("/proc/self/status", O_RDONLY);
        const ssize_t got = fd >= 0 ? read(fd, status, sizeof status - 1) : -1;
        if (fd >= 0) close(fd);
        status[got > 0 ? got : 0] = '\0';
        const char* stack = std::strstr(status, "VmStk:");
        if (stack != nullptr && std::strtol(stack + 6, nullptr, 10) > 256 * 1024) {
            Say("stack beyond 256 MB\n");
            _exit(9);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        Say("usage: minisynth_render <script> <frame | pause | -catch>...\n");
        return 2;
    }
    // Faults end the process as they would without a sanitizer's handlers.
    for (const int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        signal(s, SIG_DFL);
    rlimit stack{};
    if (getrlimit(RLIMIT_STACK, &stack) == 0 && stack.rlim_cur == RLIM_INFINITY)
        std::thread(WatchStack).detach();

    host::Host h;
    if (h.env == nullptr) {
        Say("cannot load the library\n");
        return 2;
    }
    const AVS_Value script = h.Call("Import", host::Str(argv[1]));
    if (script.type != avs::kTypeClip) {
        std::printf("%s\n", h.Show(script).c_str());
        return 2;
    }
    AVS_Clip* clip = h.takeClip(script, h.env);
    for (int i = 2; i < argc; ++i) {
        const std::string item = argv[i];
        if (item == "-catch") {
            signal(SIGSEGV, CatchThenAllocate);
        } else if (item == "pause") {
            std::this_thread::sleep_for(std::chrono::minutes(1));
        } else {
            const int n = std::atoi(item.c_str());
            AVS_VideoFrame* frame = h.getFrame(clip, n);
            const char* error = h.clipGetError(clip);
            std::printf("%d%s%s ", n, frame ? "" : ":", frame ? "" : error ? error : "?");
            std::fflush(stdout);  // before the next frame, which may end the process
            if (frame) h.releaseFrame(frame);
        }
    }
    h.releaseClip(clip);
    std::printf("end\n");
    return 0;
}
