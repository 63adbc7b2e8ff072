// The least a host can do: import a script and request and release every frame of a range
// through the frame server's C interface, timed as a whole. The self-benchmark compares the
// tool's own loop against this one.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "avs/host.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s library script frames\n", argv[0]);
        return 2;
    }
    avs::AvsLibrary library;
    std::string error;
    if (!library.Load(argv[1]) || !library.Resolve(error)) {
        std::fprintf(stderr, "cannot load %s %s\n", argv[1], error.c_str());
        return 1;
    }
    avs::ScriptEnvironment env;
    if (!env.Create(library, 6)) {
        std::fprintf(stderr, "no environment\n");
        return 1;
    }
    try {
        const avs::Value value = env.Invoke("Import", std::string(argv[2]));
        const avs::Clip clip = env.TakeClip(value);
        const int frames = std::atoi(argv[3]);
        const auto start = std::chrono::steady_clock::now();
        for (int n = 0; n < frames; ++n)
            clip.GetFrame(n);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%.1f\n", frames / seconds);
    } catch (const avs::AvisynthError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
