// minisynth as the tool's end-to-end tests use it, driven through ms::Env.
#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "env.h"

namespace {

using ms::PClip;
using ms::PFrame;

// A 32x16 Y8 source whose frame n holds n; audio ends five frames early. Counts its renders.
class Source : public ms::Clip {
  public:
    explicit Source(int frames)
        : Clip({32, 16, 25, 1, frames, static_cast<int>(avs::kCsY8), 48000, avs::kSampleInt16,
                int64_t{frames - 5} * 1920, 2, 0}) {}

    PFrame GetFrame(int n) override {
        n = std::clamp(n, 0, vi_.num_frames - 1);  // as every source does
        ++renders;
        auto f = std::make_shared<ms::Frame>(vi_);
        std::memset(f->Data(0), n & 255, static_cast<size_t>(f->Pitch(0) * f->Height(0)));
        return f;
    }

    std::atomic<int> renders{0};
};

// Evaluates a script that may read src and num, a 100-frame source whose first sample is n.
ms::Value Eval(const std::string& script, const PClip& src = nullptr) {
    static const PClip num = std::make_shared<Source>(100);
    ms::Env env;
    env.SetVar("num", ms::Value::FromClip(num));
    if (src) env.SetVar("src", ms::Value::FromClip(src));
    return env.Evaluate(script, "t.avs");
}

PClip ClipOf(const std::string& script, const PClip& src = nullptr) {
    const ms::Value v = Eval(script, src);
    EXPECT_TRUE(v.IsClip()) << script;
    return v.AsClip();
}

// The source frame each of frames first to last shows, or [the error] of one that fails.
std::string Frames(const PClip& clip, int first, int last) {
    std::string sources;
    for (int n = first; n <= last; ++n) {
        sources += n > first ? " " : "";
        try {
            sources += std::to_string(clip->GetFrame(n)->Data(0)[0]);
        } catch (const ms::Error& e) {
            sources += std::string("[") + e.what() + "]";
        }
    }
    return sources;
}

TEST(Filters, EveryPixelTypeHasItsCode) {
    const std::pair<std::string, uint32_t> types[] = {
        {"RGB24", 0x50000001u},    {"RGB32", 0x50000002u}, {"YUY2", 0x60000004u},
        {"YV12", 0xA0000008u},     {"I420", 0xA0000010u},  {"YV16", 0xA0000308u},
        {"yv24", 0xA000030Bu},     {"YV411", 0xA0000309u}, {"Y8", 0xE0000000u},
        {"YUV420P10", 0xA0050008u}};
    for (const auto& [name, code] : types) {
        const PClip clip = ClipOf("BlankClip(width=64, height=32, pixel_type=\"" + name + "\")");
        EXPECT_EQ(static_cast<uint32_t>(clip->GetVideoInfo().pixel_type), code) << name;
    }
}

TEST(TestHelpers, MSBusyAndMSFault) {
    const PClip busy = ClipOf("BlankClip.MSBusy(15)");  // a busy wait of 15 ms per frame
    const auto start = std::chrono::steady_clock::now();
    Frames(busy, 0, 1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
#ifndef _WIN32
    // By the thread's own time: two frames cost it at least 30 ms of CPU, whatever the load.
    const auto threadMs = [] {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
    };
    const double before = threadMs();
    Frames(ClipOf("BlankClip.MSBusy(15, cpu=true)"), 0, 1);
    EXPECT_GE(threadMs() - before, 30.0);
#endif
    EXPECT_EQ(Frames(ClipOf("num.MSFault(3, \"error\")"), 2, 4),
              "2 [MSFault: injected error at frame 3] 4");
    // The request is clamped to the last frame before it meets the fault.
    EXPECT_EQ(Frames(ClipOf("num.MSFault(99, \"error\", \"disk on fire\")"), 200, 200),
              "[disk on fire]");
    // The kinds that end the process are tried in processes of their own (faults_test.cpp).
    try {
        Eval("num.MSFault(5, \"crash\")");
        ADD_FAILURE() << "an unknown kind was taken";
    } catch (const ms::Error& e) {
        EXPECT_STREQ(e.what(),
                     "MSFault: kind must be \"error\", \"access\", \"divide\", \"overflow\", "
                     "\"abort\", \"exit\", \"_exit\" or \"malloc\"\n(t.avs, line 1)");
    }
}

bool WaitFor(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
}

TEST(Prefetch, RendersAheadOnWorkerThreadsAndEachFrameOnce) {
    const auto src = std::make_shared<Source>(40);
    const PClip ahead = ClipOf("src.Prefetch(2)", src);
    ahead->GetFrame(0);
    // This thread asks for nothing more, yet frames 1 to 4 get rendered.
    ASSERT_TRUE(WaitFor([&] { return src->renders >= 5; }));
    for (int n = 0; n < 40; ++n)
        ahead->GetFrame(n);
    EXPECT_EQ(src->renders, 40);
}

}  // namespace
