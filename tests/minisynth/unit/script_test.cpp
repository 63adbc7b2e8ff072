// minisynth as the tool's end-to-end tests use it, driven through ms::Env.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <sstream>
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

// The script's value in short (1, 0.5f, "text", clip 5, void, true) or the text of its error.
std::string Result(const std::string& script) {
    try {
        const ms::Value v = Eval(script);
        std::ostringstream out;
        if (v.IsVoid()) out << "void";
        if (v.IsBool()) out << (v.AsBool() ? "true" : "false");
        if (v.IsInt()) out << v.AsInt();
        if (v.GetType() == ms::Value::Type::Float) out << v.AsFloat() << "f";
        if (v.IsString()) out << '"' << v.AsString() << '"';
        if (v.IsClip()) out << "clip " << v.AsClip()->GetVideoInfo().num_frames;
        return out.str();
    } catch (const ms::Error& e) {
        return e.what();
    }
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

std::string Located(const std::string& message, int line = 1) {
    return message + "\n(t.avs, line " + std::to_string(line) + ")";
}

TEST(Script, ValuesAndErrors) {
    const struct {
        std::string script;
        std::string expected;
    } cases[] = {
        {"1 + 2 * 3 - 4 / 2.0", "5f"},
        {"\"ab\" + \"\"\"q\n\"r\"\"\"", "\"abq\n\"r\""},
        {"# a comment\n/* a block\n */\n 1 + \\\n 2 \r\n", "3"},
        // The script's value, the implicit last, the method form, names in any case.
        {"BlankClip(length=5)\n7\nz = 1", "clip 5"},
        {"BlankClip(length=5)\nLoop(2)\nKillAudio\nTrim(1, 0)", "clip 9"},
        {"BLANKCLIP(LENGTH=5).loop(times=3).Trim(1, 0)", "clip 14"},
        // Errors, located at the line of the failing call, and syntax errors with a column.
        {"1 / 0", Located("Evaluate: division by zero")},
        {"a = 1\n\nFoo(1)", Located("Script error: There is no function named \"Foo\".", 3)},
        {"\n\nTrim(0, 1)", Located("Script error: Invalid arguments to function \"Trim\"", 3)},
        {"\nAssert(1 > 2, \"too small\")", Located("too small", 2)},
        {"BlankClip.Prefetch(-1)", Located("Prefetch: threads cannot be negative")},
        {"a = 1\nb = (2 +\n", "Script error: syntax error\n(t.avs, line 2, column 8)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Result(c.script), c.expected) << c.script;
}

// Size, pixel type, frames, rate, image type | audio rate x channels, sample type, samples.
std::string Describe(const std::string& script) {
    const ms::VideoInfo vi = ClipOf(script)->GetVideoInfo();
    std::ostringstream out;
    out << vi.width << "x" << vi.height << " " << std::hex << std::uppercase << vi.pixel_type
        << std::dec << " " << vi.num_frames << " " << vi.fps_numerator << "/" << vi.fps_denominator
        << " it" << vi.image_type << " | " << vi.audio_samples_per_second << "x" << vi.nchannels
        << " t" << vi.sample_type << " " << vi.num_audio_samples;
    return out.str();
}

TEST(Filters, DescribeTheirClips) {
    const std::string blank = "640x480 50000002 240 ";
    const struct {
        const char* script;
        std::string expected;
    } cases[] = {
        {"BlankClip", blank + "24/1 it0 | 44100x1 t2 441000"},
        {"BlankClip(length=2000, width=1920, height=1080, pixel_type=\"YV12\", fps=25)",
         "1920x1080 A0000008 2000 25/1 it0 | 44100x1 t2 3528000"},
        {"BlankClip(fps=29.97)", blank + "2997/100 it0 | 44100x1 t2 353153"},
        {"BlankClip(fps=24000.0 / 1001, audio_rate=0)", blank + "24000/1001 it0 | 0x1 t2 0"},
        {"ColorBars", "640x480 50000002 107892 30000/1001 it0 | 48000x2 t2 172799827"},
        {"num.Trim(10, 19)", "32x16 E0000000 10 25/1 it0 | 48000x2 t2 19200"},
        {"BlankClip.AssumeFieldBased.AssumeTFF", blank + "24/1 it6 | 44100x1 t2 441000"},
        {"BlankClip.AssumeFieldBased.AssumeTFF.AssumeBFF", blank + "24/1 it5 | 44100x1 t2 441000"},
        {"BlankClip(length=100).KillVideo", "0x0 0 0 24/1 it0 | 44100x1 t2 183750"},
        {"BlankClip(length=100).KillAudio", "640x480 50000002 100 24/1 it0 | 0x0 t2 0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Describe(c.script), c.expected) << c.script;
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

// The signal that ends a process requesting the frames; 0 when none does.
int Signal(const std::string& script, const std::vector<int>& frames) {
    const PClip clip = ClipOf(script);
    const pid_t pid = fork();
    if (pid == 0) {
        // Let the fault end the process as it would without a sanitizer watching; the alarm
        // ends a fault that repeats, so the wait below has a limit.
        alarm(10);
        signal(SIGSEGV, SIG_DFL);
        signal(SIGFPE, SIG_DFL);
        for (int n : frames)
            clip->GetFrame(n);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

TEST(TestHelpers, MSBusyAndMSFault) {
    const PClip busy = ClipOf("BlankClip.MSBusy(15)");  // a busy wait of 15 ms per frame
    const auto start = std::chrono::steady_clock::now();
    Frames(busy, 0, 1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    EXPECT_EQ(Frames(ClipOf("num.MSFault(3, \"error\")"), 2, 4),
              "2 [MSFault: injected error at frame 3] 4");
    // The request is clamped to the last frame before it meets the fault.
    EXPECT_EQ(Frames(ClipOf("num.MSFault(99, \"error\", \"disk on fire\")"), 200, 200),
              "[disk on fire]");
    // The crash kinds are real faults on the calling thread, at their frame only.
    EXPECT_EQ(Signal("num.MSFault(5, \"access\")", {0, 4, 6}), 0);
    EXPECT_EQ(Signal("num.MSFault(5, \"access\")", {4, 5}), SIGSEGV);
    EXPECT_EQ(Signal("num.MSFault(5, \"divide\")", {5}), SIGFPE);
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

TEST(Prefetch, DestructionWhileWorkIsInFlightStopsEveryWorker) {
    const auto src = std::make_shared<Source>(1000);
    ClipOf("src.MSBusy(5).Prefetch(4)", src)->GetFrame(0);
    // The prefetcher is gone: its workers were joined and start nothing more.
    const int renders = src->renders;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(src->renders, renders);
}

}  // namespace
